// The platform's decoders asked for their file extensions, through the
// imaging component's list of its decoders, with the kinds the decoding
// process reads with its own libraries added. Asking loads the component
// library, so it happens only once a folder is listed: a run over named
// files never needs it.
#include "cli/picture_kinds.h"

#include <windows.h>

#include <wincodec.h>

#include "support/com.h"
#include "support/picture_names.h"

namespace {

// ".jpg;.jpeg;.jfif" or ".bmp,.dib,.rle", each added in lower case.
void AddExtensions(const std::wstring& text, std::vector<std::wstring>& list)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(L",; ", start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring extension = text.substr(start, end - start);
        for (wchar_t& c : extension)
            c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
        if (extension.size() > 1 && extension[0] == L'.' && !IsExtensionIn(extension, list))
            list.push_back(extension);
        start = end + 1;
    }
}

std::vector<std::wstring> AskDecoders()
{
    std::vector<std::wstring> list;
    IWICImagingFactory* factory = CreateImagingFactory();
    IEnumUnknown* decoders = nullptr;
    if (factory != nullptr &&
        SUCCEEDED(factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, &decoders))) {
        IUnknown* component = nullptr;
        ULONG got = 0;
        while (decoders->Next(1, &component, &got) == S_OK && got == 1) {
            IWICBitmapCodecInfo* info = nullptr;
            UINT length = 0;
            if (SUCCEEDED(component->QueryInterface(__uuidof(IWICBitmapCodecInfo), reinterpret_cast<void**>(&info))) &&
                SUCCEEDED(info->GetFileExtensions(0, nullptr, &length)) && length > 0) {
                std::wstring text(length, L'\0');
                if (SUCCEEDED(info->GetFileExtensions(length, &text[0], &length))) {
                    text.resize(wcsnlen(text.c_str(), text.size()));
                    AddExtensions(text, list);
                }
            }
            Release(info);
            Release(component);
        }
    }
    Release(decoders);
    Release(factory);
    if (list.empty()) {
        for (const char* known : kPictureExtensions)
            list.emplace_back(known, known + strlen(known));
    }
    // libwebp reads WebP, and libheif HEIC and AVIF, whatever codecs the machine has.
    AddExtensions(L".webp;.heic;.heif;.avif", list);
    return list;
}

}  // namespace

const std::vector<std::wstring>& DecodedExtensions()
{
    static const std::vector<std::wstring> list = AskDecoders();
    return list;
}

std::wstring_view ExtensionOf(std::wstring_view name)
{
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
}

bool IsExtensionIn(std::wstring_view extension, const std::vector<std::wstring>& list)
{
    for (const std::wstring& known : list) {
        if (!extension.empty() && CompareStringOrdinal(extension.data(), static_cast<int>(extension.size()),
                                                       known.c_str(), -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

const std::vector<std::wstring>& PictureLikeExtensions()
{
    static const std::vector<std::wstring> list = {L".jxl", L".psd", L".raw", L".cr2", L".cr3", L".nef",
                                                   L".arw", L".dng", L".orf", L".raf", L".rw2"};
    return list;
}
