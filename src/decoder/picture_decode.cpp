// Decoding through the Windows Imaging Component.
//
// Everything is converted to 32 bits a pixel, blue, green, red and a fourth
// byte, because that is the conversion every decoder under Wine supports;
// many direct conversions to 24 bits fail there. Formats that can carry
// transparency go to straight (not premultiplied) BGRA and are flattened
// onto white, or keep their colour and give their alpha to a plane of its
// own; the others go to BGR and the fourth byte is ignored.
#include "decoder/picture_decode.h"

#include <windows.h>
#include <wincodec.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "support/com.h"
#include "support/library_function.h"

uint8_t FlattenOnWhite(uint8_t c, uint8_t a)
{
    // The sum over 255 never ends in exactly one half, so adding 127 rounds.
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

namespace {

// One ink over another as a product, rounded to nearest: round(a * b / 255),
// which is djpeg's conversion of Adobe's inverted CMYK. The product over 255
// never ends in exactly one half, so adding 127 rounds.
uint8_t Ink(unsigned a, unsigned b) { return static_cast<uint8_t>((a * b + 127) / 255); }

}  // namespace

void CmykToBgr(const uint8_t* cmyk, int64_t width, bool inverted, uint8_t* bgr)
{
    const unsigned flip = inverted ? 0 : 255;
    for (int64_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const unsigned k = cmyk[3] ^ flip;
        bgr[0] = Ink(cmyk[2] ^ flip, k);
        bgr[1] = Ink(cmyk[1] ^ flip, k);
        bgr[2] = Ink(cmyk[0] ^ flip, k);
    }
}

namespace {

// Pixels a band holds at most: 4 MB of 32-bit pixels.
enum : int64_t { kBandPixels = 1 << 20 };

IWICImagingFactory* Factory()
{
    // One apartment and one factory for the life of the process.
    static IWICImagingFactory* factory;
    static bool tried;
    if (!tried) {
        tried = true;
        // The free-threaded apartment, which needs no window: under Wine the
        // single-threaded one starts a desktop process for its window, which
        // costs more than the rest of the child's start.
        const auto initialize = LibraryFunction<HRESULT(WINAPI*)(void*, DWORD)>(L"ole32.dll", "CoInitializeEx");
        if (initialize != nullptr)
            initialize(nullptr, COINIT_MULTITHREADED);
        factory = CreateImagingFactory();
    }
    return factory;
}

bool CanBeTransparent(IWICImagingFactory* factory, const WICPixelFormatGUID& format)
{
    IWICComponentInfo* info = nullptr;
    IWICPixelFormatInfo2* formatInfo = nullptr;
    BOOL transparent = FALSE;
    if (SUCCEEDED(factory->CreateComponentInfo(format, &info)) &&
        SUCCEEDED(info->QueryInterface(IID_IWICPixelFormatInfo2, reinterpret_cast<void**>(&formatInfo))))
        formatInfo->SupportsTransparency(&transparent);
    Release(formatInfo);
    Release(info);
    return transparent != FALSE;
}

// The frame to show: the first (a GIF's first frame, a TIFF's first page),
// but an icon's largest image, which its smaller ones only stand in for.
UINT FrameToShow(IWICBitmapDecoder* decoder)
{
    GUID container;
    UINT count = 0;
    if (FAILED(decoder->GetContainerFormat(&container)) || container != GUID_ContainerFormatIco ||
        FAILED(decoder->GetFrameCount(&count)))
        return 0;
    UINT largest = 0;
    uint64_t largestArea = 0;
    for (UINT i = 0; i < count; ++i) {
        IWICBitmapFrameDecode* frame = nullptr;
        UINT w = 0, h = 0;
        if (SUCCEEDED(decoder->GetFrame(i, &frame)) && SUCCEEDED(frame->GetSize(&w, &h)) &&
            static_cast<uint64_t>(w) * h > largestArea) {
            largest = i;
            largestArea = static_cast<uint64_t>(w) * h;
        }
        Release(frame);
    }
    return largest;
}

}  // namespace

bool PrepareDecoders() { return Factory() != nullptr; }

bool OrientationSwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

void OrientedPosition(int orientation, int64_t width, int64_t height, int64_t x, int64_t y, int64_t& ox,
                      int64_t& oy)
{
    switch (orientation) {
    case 2: ox = width - 1 - x; oy = y; break;                // mirrored left to right
    case 3: ox = width - 1 - x; oy = height - 1 - y; break;   // turned half round
    case 4: ox = x; oy = height - 1 - y; break;               // mirrored top to bottom
    case 5: ox = y; oy = x; break;                            // transposed
    case 6: ox = height - 1 - y; oy = x; break;               // turned a quarter clockwise
    case 7: ox = height - 1 - y; oy = width - 1 - x; break;   // transposed the other way
    case 8: ox = y; oy = width - 1 - x; break;                // turned a quarter anticlockwise
    default: ox = x; oy = y; break;
    }
}

bool DecodedPicture::Open(const uint8_t* file, uint64_t size, int orientation)
{
    Close();
    IWICImagingFactory* factory = Factory();
    if (factory == nullptr)
        return false;
    UINT w = 0, h = 0;
    WICPixelFormatGUID format;
    // A stream over memory takes 32-bit sizes.
    const bool decoderMade =
        size <= 0xFFFFFFFF && SUCCEEDED(factory->CreateStream(&stream_)) &&
        SUCCEEDED(stream_->InitializeFromMemory(const_cast<uint8_t*>(file), static_cast<DWORD>(size))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream_, nullptr, WICDecodeMetadataCacheOnDemand, &decoder_));
    if (!decoderMade || FAILED(decoder_->GetFrame(FrameToShow(decoder_), &frame_)) || FAILED(frame_->GetSize(&w, &h)) ||
        w == 0 || h == 0 || FAILED(frame_->GetPixelFormat(&format)) || FAILED(factory->CreateFormatConverter(&converter_))) {
        Close();
        return false;
    }
    hasAlpha_ = CanBeTransparent(factory, format);
    const GUID& target = hasAlpha_ ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat32bppBGR;
    if (FAILED(converter_->Initialize(frame_, target, WICBitmapDitherTypeNone, nullptr, 0.0,
                                      WICBitmapPaletteTypeCustom))) {
        Close();
        return false;
    }
    width_ = w;
    height_ = h;
    orientation_ = orientation;
    // Rows already blue, green, red and upright go straight into place.
    straight_ = format == GUID_WICPixelFormat24bppBGR && !OrientationSwapsAxes(orientation) && orientation <= 1;
    return true;
}

bool DecodedPicture::CopyInto(uint8_t* pixels, int64_t stride, volatile int64_t* rowsDone, uint8_t* alpha,
                              int64_t alphaStride)
{
    RowTarget rows(pixels, stride, Height(), alpha, alphaStride, rowsDone);
    return CopyInto(rows);
}

bool DecodedPicture::CopyInto(RowTarget& rows)
{
    translucent_ = false;
    if (converter_ == nullptr)
        return false;
    const bool keepAlpha = rows.KeepsAlpha() && hasAlpha_;
    const int64_t outWidth = Width(), outHeight = Height();
    const int64_t stride = rows.Stride();
    if (straight_) {
        for (int64_t y = 0; y < height_; ++y) {
            uint8_t* row = rows.Row(y);
            WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(width_), 1};
            if (FAILED(frame_->CopyPixels(&rect, static_cast<UINT>(stride), static_cast<UINT>(3 * width_), row)))
                return false;
            memset(row + 3 * width_, 0, static_cast<size_t>(stride - 3 * width_));
            rows.Done(y + 1);
        }
        return true;
    }
    // Where stored pixel (x, y) goes.
    auto PlaceOf = [&](int64_t x, int64_t y) {
        int64_t ox, oy;
        OrientedPosition(orientation_, width_, height_, x, y, ox, oy);
        return rows.Row(oy) + 3 * ox;
    };
    for (int64_t y = 0; y < outHeight; ++y) {
        memset(rows.Row(y) + 3 * outWidth, 0, static_cast<size_t>(stride - 3 * outWidth));
        if (keepAlpha)
            memset(rows.AlphaRow(y) + outWidth, 0, static_cast<size_t>(rows.AlphaStride() - outWidth));
    }
    // The alpha plane's rows stand as the pixels' do, a byte a pixel.
    auto AlphaPlaceOf = [&](int64_t x, int64_t y) {
        int64_t ox, oy;
        OrientedPosition(orientation_, width_, height_, x, y, ox, oy);
        return rows.AlphaRow(oy) + ox;
    };
    uint8_t leastAlpha = 255;

    // Bands of whole rows; a row wider than a band goes in several pieces.
    const int64_t pieceWidth = width_ < kBandPixels ? width_ : kBandPixels;
    const int64_t bandRows = kBandPixels / pieceWidth;
    std::vector<uint8_t> band(static_cast<size_t>(4 * pieceWidth * bandRows));
    for (int64_t top = 0; top < height_; top += bandRows) {
        const int64_t count = height_ - top < bandRows ? height_ - top : bandRows;
        for (int64_t left = 0; left < width_; left += pieceWidth) {
            const int64_t cols = width_ - left < pieceWidth ? width_ - left : pieceWidth;
            WICRect rect = {static_cast<INT>(left), static_cast<INT>(top), static_cast<INT>(cols),
                            static_cast<INT>(count)};
            const UINT bandStride = static_cast<UINT>(4 * cols);
            if (FAILED(converter_->CopyPixels(&rect, bandStride, static_cast<UINT>(bandStride * count), band.data())))
                return false;
            for (int64_t y = 0; y < count; ++y) {
                const uint8_t* in = band.data() + y * bandStride;
                // A stored row lands on a straight line of the buffer: one
                // step apart, whatever the orientation.
                uint8_t* at = PlaceOf(left, top + y);
                const ptrdiff_t step = cols > 1 ? PlaceOf(left + 1, top + y) - at : 3;
                if (keepAlpha) {
                    uint8_t* alphaAt = AlphaPlaceOf(left, top + y);
                    const ptrdiff_t alphaStep = cols > 1 ? AlphaPlaceOf(left + 1, top + y) - alphaAt : 1;
                    for (int64_t x = 0; x < cols; ++x, in += 4, at += step, alphaAt += alphaStep) {
                        memcpy(at, in, 3);
                        *alphaAt = in[3];
                        leastAlpha = in[3] < leastAlpha ? in[3] : leastAlpha;
                    }
                    continue;
                }
                for (int64_t x = 0; x < cols; ++x, in += 4, at += step) {
                    uint8_t* out = at;
                    if (hasAlpha_) {
                        out[0] = FlattenOnWhite(in[0], in[3]);
                        out[1] = FlattenOnWhite(in[1], in[3]);
                        out[2] = FlattenOnWhite(in[2], in[3]);
                    } else {
                        out[0] = in[0];
                        out[1] = in[1];
                        out[2] = in[2];
                    }
                }
            }
        }
        rows.Done(top + count);
    }
    translucent_ = keepAlpha && leastAlpha < 255;
    return true;
}

void DecodedPicture::Close()
{
    Release(converter_);
    Release(frame_);
    Release(decoder_);
    Release(stream_);
    hasAlpha_ = false;
    translucent_ = false;
    straight_ = false;
    orientation_ = 1;
    width_ = height_ = 0;
}
