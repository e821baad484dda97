// The imaging factory, through the component library loaded when first needed.
#include "support/com.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include "support/library_function.h"

IWICImagingFactory* CreateImagingFactory()
{
    const auto initialize = LibraryFunction<HRESULT(WINAPI*)(void*, DWORD)>(L"ole32.dll", "CoInitializeEx");
    const auto create = LibraryFunction<HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**)>(
        L"ole32.dll", "CoCreateInstance");
    if (initialize == nullptr || create == nullptr)
        return nullptr;
    IWICImagingFactory* factory = nullptr;
    initialize(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(create(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                      reinterpret_cast<void**>(&factory))))
        return nullptr;
    return factory;
}
