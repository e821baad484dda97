// Encoding through the Windows Imaging Component. Rows go to the encoder top
// row first in bands of about 4 MB, each tinted just before: besides the
// source only one band and the encoded bytes are held.
#include "image/encode.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstring>

#include "image/com.h"

namespace {

enum : size_t { kBandBytes = 1 << 22 };

// The encoder's options: a JPEG's quality from 0 to 1.
bool SetQuality(IPropertyBag2* options, int quality)
{
    PROPBAG2 name = {};
    name.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = static_cast<float>(quality) / 100.0f;
    return SUCCEEDED(options->Write(1, &name, &value));
}

}  // namespace

bool EncodeTinted(const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                  const TintParameters& parameters, EncodedKind kind, int quality, std::vector<uint8_t>& bytes)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    const GUID& container = kind == EncodedKind::png ? GUID_ContainerFormatPng : GUID_ContainerFormatJpeg;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
              SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
              SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) &&
              (kind != EncodedKind::jpeg || SetQuality(options, quality)) && SUCCEEDED(frame->Initialize(options)) &&
              SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
              SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat24bppBGR;

    TintTables tables;
    BuildTintTables(parameters, tables);
    const size_t rowBytes = static_cast<size_t>(stride);
    const int32_t bandRows = rowBytes >= kBandBytes ? 1 : static_cast<int32_t>(kBandBytes / rowBytes);
    std::vector<uint8_t> band(ok ? rowBytes * static_cast<size_t>(bandRows < height ? bandRows : height) : 0);
    for (int32_t top = 0; ok && top < height; top += bandRows) {
        const int32_t rows = height - top < bandRows ? height - top : bandRows;
        // The source is bottom-up; the encoder takes the top row first.
        for (int32_t y = 0; y < rows; ++y)
            TintPixels(source + static_cast<size_t>(height - 1 - top - y) * rowBytes, band.data() + y * rowBytes,
                       static_cast<uint32_t>(width), tables);
        ok = SUCCEEDED(frame->WritePixels(static_cast<UINT>(rows), static_cast<UINT>(stride),
                                          static_cast<UINT>(rowBytes * rows), band.data()));
    }
    ok = ok && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());

    HGLOBAL memory = nullptr;
    STATSTG stat = {};
    ok = ok && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && SUCCEEDED(GetHGlobalFromStream(stream, &memory));
    const void* encoded = ok ? GlobalLock(memory) : nullptr;
    if (encoded != nullptr) {
        const auto* first = static_cast<const uint8_t*>(encoded);
        bytes.assign(first, first + stat.cbSize.QuadPart);
        GlobalUnlock(memory);
    }
    Release(options);
    Release(frame);
    Release(encoder);
    Release(stream);
    Release(factory);
    return encoded != nullptr;
}
