// Encoding through the Windows Imaging Component, on threads of our own in
// the process's free-threaded apartment, whatever the caller's. Rows go to
// the encoder top row first in bands of about 4 MB, each tinted just
// before: besides the source only a band a thread and the encoded bytes are
// held.
#include "picture/encode.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "picture/com.h"
#include "picture/jpeg_strips.h"
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

bool SetJpegQuality(IPropertyBag2* options, int quality)
{
    PROPBAG2 name = {};
    name.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value = {};  // VT_EMPTY, as VariantInit leaves it
    value.vt = VT_R4;
    value.fltVal = static_cast<float>(quality) / 100.0f;
    return SUCCEEDED(options->Write(1, &name, &value));
}

namespace {

// One run of the platform's encoder over rows [top, top + count) of the
// picture, as a picture of its own.
bool EncodeRows(IWICImagingFactory* factory, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                int32_t top, int32_t count, const TintTables& tables, EncodedKind kind, int quality,
                std::vector<uint8_t>& band, std::vector<uint8_t>& bytes)
{
    BytesStream stream(bytes);
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    const GUID& container = kind == EncodedKind::png ? GUID_ContainerFormatPng : GUID_ContainerFormatJpeg;
    bool ok = factory != nullptr && SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(&stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) &&
              (kind != EncodedKind::jpeg || SetJpegQuality(options, quality)) && SUCCEEDED(frame->Initialize(options)) &&
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

// Strips of a picture, claimed in turn by the encoding threads.
struct StripWork {
    const uint8_t* source;
    int32_t width;
    int32_t height;
    int32_t stride;
    const TintTables* tables;
    EncodedKind kind;
    int quality;
    int32_t stripRows;
    std::vector<std::vector<uint8_t>> strips;
    volatile LONG next;
    volatile LONG failed;
};

DWORD WINAPI EncodeStrips(void* argument)
{
    StripWork& w = *static_cast<StripWork*>(argument);
    // The thread joins the process's free-threaded apartment: unlike a
    // single-threaded one, it needs no window, so under Wine no desktop
    // process is started for it.
    const auto initialize = LibraryFunction<HRESULT(WINAPI*)(void*, DWORD)>(L"ole32.dll", "CoInitializeEx");
    const auto uninitialize = LibraryFunction<void(WINAPI*)()>(L"ole32.dll", "CoUninitialize");
    const bool joined = initialize != nullptr && uninitialize != nullptr &&
                        SUCCEEDED(initialize(nullptr, COINIT_MULTITHREADED));
    IWICImagingFactory* factory = CreateImagingFactory();
    std::vector<uint8_t> band;
    for (;;) {
        const LONG k = InterlockedIncrement(&w.next) - 1;
        if (k >= static_cast<LONG>(w.strips.size()))
            break;
        const int32_t top = k * w.stripRows;
        const int32_t count = w.height - top < w.stripRows ? w.height - top : w.stripRows;
        bool ok = false;
        // No exception may leave the thread: memory that cannot be had fails the strip.
        try {
            w.strips[k].reserve(static_cast<size_t>(w.stride) * count / 4);
            ok = EncodeRows(factory, w.source, w.width, w.height, w.stride, top, count, *w.tables, w.kind, w.quality,
                            band, w.strips[k]);
        } catch (const std::exception&) {
        }
        if (!ok)
            InterlockedExchange(&w.failed, 1);
    }
    Release(factory);
    if (joined)
        uninitialize();
    return 0;
}

// Rows a strip holds: whole MCU rows of any sampling (16 rows), few enough
// MCUs for a restart interval's count even at 8 x 8 pixels each, and about
// as many strips as cores. A PNG, or a picture too small to share, is one strip.
int32_t StripRows(int32_t width, int32_t height, EncodedKind kind, uint32_t cores)
{
    if (kind != EncodedKind::jpeg || cores < 2 || height < 32)
        return height;
    const int32_t most = 0xFFFF / ((width + 7) / 8) * 8 / 16 * 16;
    int32_t rows = (height + static_cast<int32_t>(cores) - 1) / static_cast<int32_t>(cores);
    rows = (rows + 15) / 16 * 16;
    return most < 16 ? height : rows < most ? rows : most;
}

// Encodes the strips on up to `threads` threads of our own.
void RunStrips(StripWork& w, uint32_t threads)
{
    ThreadGroup group;
    for (uint32_t i = 0; i < threads && i < w.strips.size(); ++i)
        if (!group.Start(EncodeStrips, &w))
            break;
    // With no thread to be had, the encoding runs on the caller's thread.
    if (group.Count() == 0)
        EncodeStrips(&w);
}

}  // namespace

bool EncodeTinted(const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                  const TintParameters& parameters, EncodedKind kind, int quality, std::vector<uint8_t>& bytes,
                  uint32_t cores)
{
    if (width < 1 || height < 1)
        return false;  // as the platform's encoders refuse such a size
    TintTables tables;
    BuildTintTables(parameters, tables);
    cores = CoresToUse(cores);
    StripWork w = {source, width, height, stride, &tables, kind, quality, StripRows(width, height, kind, cores),
                   {}, 0, 0};
    w.strips.resize(static_cast<size_t>((height + w.stripRows - 1) / w.stripRows));
    RunStrips(w, cores);
    if (w.failed != 0)
        return false;
    if (w.strips.size() == 1) {
        bytes.swap(w.strips[0]);
        return true;
    }
    if (JoinJpegStrips(w.strips, bytes))
        return true;
    // An encoder whose strips cannot be joined encodes the picture whole.
    w.stripRows = height;
    w.strips.assign(1, {});
    w.next = 0;
    RunStrips(w, 1);
    bytes.swap(w.strips[0]);
    return w.failed == 0;
}
