// Encoding through the Windows Imaging Component, on a thread of our own in
// the process's free-threaded apartment, whatever the caller's. Rows go to
// the encoder top row first in bands of about 4 MB, each tinted just
// before: besides the source only a band and the encoded bytes are held.
#include "platform_png.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "support/com.h"
#include "support/library_function.h"
#include "support/system.h"
#include "support/threads.h"

namespace {

enum : size_t { kBandBytes = 1 << 22 };

// The encoded bytes, held in `bytes` by a stream of our own. The platform's
// stream on a memory block grows the block by each write's size, copying all
// that was written so far each time, which grows with the square of the
// file's size. A vector's room doubles instead. It lives on the encoding's stack, so its
// count of references only follows the encoder's use of it.
class BytesStream : public IStream {
public:
    explicit BytesStream(std::vector<uint8_t>& bytes) : bytes_(bytes) { bytes_.clear(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override
    {
        if (id != IID_IUnknown && id != IID_ISequentialStream && id != IID_IStream) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    HRESULT STDMETHODCALLTYPE Read(void* out, ULONG count, ULONG* done) override
    {
        const size_t n = at_ < bytes_.size() ? std::min<size_t>(count, bytes_.size() - at_) : 0;
        memcpy(out, bytes_.data() + at_, n);
        at_ += n;
        if (done != nullptr)
            *done = static_cast<ULONG>(n);
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* in, ULONG count, ULONG* done) override
    {
        if (done != nullptr)
            *done = 0;
        if (at_ + count > bytes_.size() && !Resize(at_ + count))
            return STG_E_MEDIUMFULL;
        memcpy(bytes_.data() + at_, in, count);
        at_ += count;
        if (done != nullptr)
            *done = count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* place) override
    {
        const int64_t from = origin == STREAM_SEEK_SET ? 0
                             : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(at_)
                                                         : static_cast<int64_t>(bytes_.size());
        if (origin > STREAM_SEEK_END || from + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        at_ = static_cast<size_t>(from + move.QuadPart);
        if (place != nullptr)
            place->QuadPart = at_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        return Resize(static_cast<size_t>(size.QuadPart)) ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override
    {
        memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    // No exception may leave for the encoder's code: memory that cannot be
    // had is a failed write.
    bool Resize(size_t size)
    {
        try {
            bytes_.resize(size);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
    ULONG references_ = 1;
};

}  // namespace

namespace {

// One run of the platform's encoder over the picture.
bool EncodeRows(IWICImagingFactory* factory, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                const TintTables& tables, std::vector<uint8_t>& band, std::vector<uint8_t>& bytes)
{
    BytesStream stream(bytes);
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    const int32_t top = 0, count = height;
    bool ok = factory != nullptr && SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(&stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) && SUCCEEDED(frame->Initialize(options)) &&
              SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(count))) &&
              SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat24bppBGR;

    const size_t rowBytes = static_cast<size_t>(stride);
    const int32_t bandRows = rowBytes >= kBandBytes ? 1 : static_cast<int32_t>(kBandBytes / rowBytes);
    // The band is the thread's, kept from strip to strip: the first touch of
    // a fresh page costs more under Wine than tinting its bytes.
    const size_t bandBytes = rowBytes * static_cast<size_t>(bandRows < count ? bandRows : count);
    if (ok && band.size() < bandBytes)
        band.resize(bandBytes);
    for (int32_t done = 0; ok && done < count; done += bandRows) {
        const int32_t rows = count - done < bandRows ? count - done : bandRows;
        // The source is bottom-up; the encoder takes the top row first.
        for (int32_t y = 0; y < rows; ++y)
            TintPixels(source + static_cast<size_t>(height - 1 - top - done - y) * rowBytes,
                       band.data() + y * rowBytes, static_cast<uint32_t>(width), tables);
        ok = SUCCEEDED(frame->WritePixels(static_cast<UINT>(rows), static_cast<UINT>(stride),
                                          static_cast<UINT>(rowBytes * rows), band.data()));
    }
    ok = ok && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    Release(options);
    Release(frame);
    Release(encoder);
    return ok;
}

struct Encoding {
    const uint8_t* source;
    int32_t width;
    int32_t height;
    int32_t stride;
    const TintTables* tables;
    std::vector<uint8_t>* bytes;
    bool ok;
};

DWORD WINAPI EncodeOnThread(void* argument)
{
    Encoding& e = *static_cast<Encoding*>(argument);
    // The thread joins the process's free-threaded apartment: unlike a
    // single-threaded one, it needs no window, so under Wine no desktop
    // process is started for it.
    const auto initialize = LibraryFunction<HRESULT(WINAPI*)(void*, DWORD)>(L"ole32.dll", "CoInitializeEx");
    const auto uninitialize = LibraryFunction<void(WINAPI*)()>(L"ole32.dll", "CoUninitialize");
    const bool joined = initialize != nullptr && uninitialize != nullptr &&
                        SUCCEEDED(initialize(nullptr, COINIT_MULTITHREADED));
    IWICImagingFactory* factory = CreateImagingFactory();
    std::vector<uint8_t> band;
    // No exception may leave the thread: memory that cannot be had fails the encoding.
    try {
        e.ok = EncodeRows(factory, e.source, e.width, e.height, e.stride, *e.tables, band, *e.bytes);
    } catch (const std::exception&) {
        e.ok = false;
    }
    Release(factory);
    if (joined)
        uninitialize();
    return 0;
}

}  // namespace

bool EncodeTintedWithPlatform(const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                              const TintParameters& parameters, std::vector<uint8_t>& bytes)
{
    if (width < 1 || height < 1)
        return false;
    TintTables tables;
    BuildTintTables(parameters, tables);
    Encoding e = {source, width, height, stride, &tables, &bytes, false};
    ThreadGroup group;
    if (!group.Start(EncodeOnThread, &e))
        EncodeOnThread(&e);
    group.Join();
    return e.ok;
}
