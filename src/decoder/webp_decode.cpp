// Decoding WebP with libwebp.
//
// The file's bytes are at hand whole: the demuxer finds the first frame's coded bytes in
// it (a still's ALPH and VP8 or VP8L chunks, or an animation's first ANMF),
// and the incremental decoder is handed them a piece at a time through
// WebPIUpdate, which reads them where they lie, so that the rows decoded so
// far can be counted, and turned or copied, as they come. A frame whose
// bytes all went in without its last row coming out was cut short.
#include "decoder/webp_decode.h"

#include <cstdio>
#include <cstring>
#include <new>

#include <webp/decode.h>
#include <webp/demux.h>

#include "decoder/picture_decode.h"

namespace {

// The coded bytes are handed to the decoder in about this many pieces, each
// at least kLeastPiece: the rows done are counted after each. A lossless
// picture's decoder goes back to its last saved row on a piece that ends
// mid-row, so pieces much smaller than this cost time without saying more.
const size_t kPieces = 32;
const size_t kLeastPiece = 64 * 1024;

ReaderFailure FailureOf(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return ReaderFailure::tooHungry;
    case VP8_STATUS_BITSTREAM_ERROR: return ReaderFailure::damaged;
    case VP8_STATUS_NOT_ENOUGH_DATA:
    case VP8_STATUS_SUSPENDED: return ReaderFailure::cutShort;
    default: return ReaderFailure::unreadable;
    }
}

const char* WordsOf(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "libwebp could not get the memory it needs";
    case VP8_STATUS_BITSTREAM_ERROR: return "its coded data breaks WebP's rules";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a feature libwebp does not read";
    case VP8_STATUS_NOT_ENOUGH_DATA:
    case VP8_STATUS_SUSPENDED: return "the file ends before its first frame does";
    default: return "libwebp cannot read it";
    }
}

}  // namespace

bool WebpPicture::Open(const uint8_t* file, uint64_t size, const ReadLimits&)
{
    Forget();

    // Partial: a file cut short still gives its header and the frame's
    // bytes it holds, and the decoder then says where it ends.
    const WebPData data = {file, static_cast<size_t>(size)};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    demux_ = WebPDemuxPartial(&data, &state);
    if (demux_ == nullptr && state == WEBP_DEMUX_PARSING_HEADER)
        return Fail(ReaderFailure::cutShort, "%s", WordsOf(VP8_STATUS_NOT_ENOUGH_DATA));
    if (demux_ == nullptr)
        return Fail(ReaderFailure::unreadable, "its chunks are not laid out as WebP lays them");
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux_, 1, &frame)) {
        if (state != WEBP_DEMUX_DONE)
            return Fail(ReaderFailure::cutShort, "%s", WordsOf(VP8_STATUS_NOT_ENOUGH_DATA));
        return Fail(ReaderFailure::unreadable, "it holds no frame");
    }
    width_ = WebPDemuxGetI(demux_, WEBP_FF_CANVAS_WIDTH);
    height_ = WebPDemuxGetI(demux_, WEBP_FF_CANVAS_HEIGHT);
    frameBytes_ = frame.fragment.bytes;
    frameSize_ = frame.fragment.size;
    frameLeft_ = frame.x_offset;
    frameTop_ = frame.y_offset;
    frameWidth_ = frame.width;
    frameHeight_ = frame.height;
    // The canvas around a smaller first frame is transparent.
    hasAlpha_ = frame.has_alpha != 0 || frameWidth_ != width_ || frameHeight_ != height_;
    WebPDemuxReleaseIterator(&frame);
    if (width_ < 1 || height_ < 1 || frameLeft_ + frameWidth_ > width_ || frameTop_ + frameHeight_ > height_)
        return Fail(ReaderFailure::unreadable, "its first frame does not lie on its canvas");
    return true;
}

bool WebpPicture::CopyInto(RowTarget& rows)
{
    translucent_ = false;
    if (demux_ == nullptr)
        return false;
    const bool keepAlpha = rows.KeepsAlpha() && hasAlpha_;
    const int64_t stride = rows.Stride();
    for (int64_t y = 0; y < height_; ++y) {
        uint8_t* colour = rows.Row(y);
        memset(colour + 3 * width_, 0, static_cast<size_t>(stride - 3 * width_));
        if (keepAlpha)
            memset(rows.AlphaRow(y) + width_, 0, static_cast<size_t>(rows.AlphaStride() - width_));
        if (frameWidth_ == width_ && frameHeight_ == height_)
            continue;
        // Outside the first frame: transparent, white beneath.
        memset(colour, 255, static_cast<size_t>(3 * width_));
        if (keepAlpha)
            memset(rows.AlphaRow(y), 0, static_cast<size_t>(width_));
    }
    uint8_t leastAlpha = frameWidth_ == width_ && frameHeight_ == height_ ? 255 : 0;

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Fail(ReaderFailure::unreadable, "libwebp is not the version duotint was built with");
    if (!hasAlpha_) {
        // Opaque and the whole canvas: the library writes blue, green, red
        // into the whole picture itself, flipped to bottom-up.
        config.output.colorspace = MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = rows.Whole();
        config.output.u.RGBA.stride = static_cast<int>(stride);
        config.output.u.RGBA.size = static_cast<size_t>(stride * height_);
        config.options.flip = 1;
    } else {
        // Straight (not premultiplied) alpha, in the library's own buffer.
        config.output.colorspace = MODE_BGRA;
    }
    WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
    if (decoder == nullptr)
        return Fail(ReaderFailure::tooHungry, "%s", WordsOf(VP8_STATUS_OUT_OF_MEMORY));
    int64_t copied = 0;  // rows of the frame already in the destination
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    const size_t piece = frameSize_ / kPieces > kLeastPiece ? frameSize_ / kPieces : kLeastPiece;
    for (size_t fed = 0; status == VP8_STATUS_SUSPENDED && fed < frameSize_;) {
        fed = frameSize_ - fed < piece ? frameSize_ : fed + piece;
        status = WebPIUpdate(decoder, frameBytes_, fed);
        if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED)
            break;
        int lastY = 0, width = 0, height = 0, bgraStride = 0;
        const uint8_t* bgra = WebPIDecGetRGB(decoder, &lastY, &width, &height, &bgraStride);
        if (bgra == nullptr)
            continue;
        for (; hasAlpha_ && copied < lastY; ++copied) {
            const uint8_t* in = bgra + copied * bgraStride;
            uint8_t* out = rows.Row(frameTop_ + copied) + 3 * frameLeft_;
            uint8_t* outAlpha = keepAlpha ? rows.AlphaRow(frameTop_ + copied) + frameLeft_ : nullptr;
            for (int64_t x = 0; x < frameWidth_; ++x, in += 4, out += 3) {
                const uint8_t a = in[3];
                leastAlpha = a < leastAlpha ? a : leastAlpha;
                if (keepAlpha) {
                    memcpy(out, in, 3);
                    outAlpha[x] = a;
                } else {
                    out[0] = FlattenOnWhite(in[0], a);
                    out[1] = FlattenOnWhite(in[1], a);
                    out[2] = FlattenOnWhite(in[2], a);
                }
            }
        }
        rows.Done(frameTop_ + lastY);
    }
    WebPIDelete(decoder);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return Fail(FailureOf(status), "%s", WordsOf(status));
    rows.Done(height_);
    translucent_ = keepAlpha && leastAlpha < 255;
    Close();
    return true;
}

void WebpPicture::Close()
{
    WebPDemuxDelete(demux_);
    demux_ = nullptr;
    frameBytes_ = nullptr;
    frameSize_ = 0;
    frameLeft_ = frameTop_ = frameWidth_ = frameHeight_ = 0;
    width_ = height_ = 0;
    hasAlpha_ = false;
}
