// Decoding HEIC and AVIF with libheif.
//
// libheif reads the file's bytes where they lie, without a copy, and
// touches only the boxes and the items it needs. It decodes the
// primary picture whole, applies the file's transforms (irot, imir, clap)
// and converts it to RGB; the rows are then copied, turned bottom-up and
// reduced to 8 bits, into the destination.
#include "decoder/heif_decode.h"


#include <cmath>
#include <cstdio>
#include <cstring>

#include <libheif/heif.h>

#include "decoder/picture_decode.h"

namespace {

// A failure of libheif's, by what it means for the picture: before its
// pixels (opening) a file the library cannot take is unreadable; while
// decoding, wrong data is damage.
ReaderFailure FailureOf(const heif_error& error, bool decoding)
{
    if (error.code == heif_error_Memory_allocation_error)
        return ReaderFailure::tooHungry;
    if (error.subcode == heif_suberror_End_of_data)
        return ReaderFailure::cutShort;
    if (error.subcode == heif_suberror_Security_limit_exceeded)
        return ReaderFailure::tooHungry;
    if (decoding && (error.code == heif_error_Invalid_input || error.code == heif_error_Decoder_plugin_error))
        return ReaderFailure::damaged;
    return ReaderFailure::unreadable;
}

}  // namespace

bool HeifPicture::Open(const uint8_t* file, uint64_t size, const ReadLimits& limits)
{
    Forget();
    const int64_t mostSide = limits.longestSide;
    const uint64_t memoryBytes = limits.memoryBytes;
    memoryBytes_ = memoryBytes;

    context_ = heif_context_alloc();
    if (context_ == nullptr)
        return Fail(ReaderFailure::tooHungry, "libheif could not get the memory it needs");
    // Every picture the file holds (the coded one a crop is cut from, a
    // grid's tiles) is checked against this side as libheif reads its size:
    // that of a square whose 8-bit RGB pixels fill the budget, and at least
    // the declared picture's, within libheif's own 32768. Checks differ on
    // whether a side equal to it passes, so one more.
    int64_t limit = static_cast<int64_t>(sqrt(static_cast<double>(memoryBytes) / 3));
    limit = limit > mostSide ? limit : mostSide;
    limit = limit < 32767 ? limit + 1 : 32768;
    heif_context_set_maximum_image_size_limit(context_, static_cast<int>(limit));
    heif_error error = heif_context_read_from_memory_without_copy(context_, file, static_cast<size_t>(size), nullptr);
    if (error.code != heif_error_Ok)
        return Fail(FailureOf(error, false), "%s", error.message);
    error = heif_context_get_primary_image_handle(context_, &handle_);
    if (error.code != heif_error_Ok)
        return Fail(FailureOf(error, false), "%s", error.message);
    // The handle's size is the shown one: its transforms are counted.
    width_ = heif_image_handle_get_width(handle_);
    height_ = heif_image_handle_get_height(handle_);
    bits_ = heif_image_handle_get_luma_bits_per_pixel(handle_);
    hasAlpha_ = heif_image_handle_has_alpha_channel(handle_) != 0;
    if (width_ < 1 || height_ < 1)
        return Fail(ReaderFailure::unreadable, "its primary picture has no size");
    if (bits_ < 8 || bits_ > 16)
        return Fail(ReaderFailure::unreadable, "its samples have a number of bits libheif does not give");
    // The decoded planes (3 samples a pixel at most, and alpha), then the
    // interleaved rows they are converted to, each 2 bytes a sample past 8 bits.
    const uint64_t channels = hasAlpha_ ? 4 : 3;
    const uint64_t needs = static_cast<uint64_t>(width_) * static_cast<uint64_t>(height_) * 2 * channels *
                           (bits_ > 8 ? 2 : 1);
    if (needs > memoryBytes_)
        return Fail(ReaderFailure::tooHungry, "libheif would need more memory than the picture may take");
    return true;
}

namespace {

// Where a decoded picture's samples lie: red, green, blue and alpha (null
// when there is none), each with its rows' step, and the pixels' step, in
// bytes; samples of more than 8 bits are 2 bytes, big-endian in
// interleaved rows and in the machine's order in planes.
struct Samples {
    const uint8_t* at[4] = {};
    int rowBytes[4] = {};
    int pixelBytes = 1;
    int bits = 8;
    bool bigEndian = false;

    uint8_t Top(const uint8_t* sample) const
    {
        if (bits == 8)
            return sample[0];
        const unsigned value = bigEndian ? sample[0] << 8 | sample[1] : sample[1] << 8 | sample[0];
        return static_cast<uint8_t>(value >> (bits - 8));
    }
};

// A colour picture as libheif decodes it, before any conversion: planes
// of red, green and blue (and alpha) of one depth and size. False for any
// other picture (grey, or planes of differing depths), which libheif is
// then asked to convert.
bool PlanesOf(const heif_image* image, int width, int height, Samples& samples)
{
    if (heif_image_get_colorspace(image) != heif_colorspace_RGB || heif_image_get_chroma_format(image) != heif_chroma_444)
        return false;
    const heif_channel channels[4] = {heif_channel_R, heif_channel_G, heif_channel_B, heif_channel_Alpha};
    samples.bits = heif_image_get_bits_per_pixel_range(image, heif_channel_R);
    if (samples.bits < 8 || samples.bits > 16)
        return false;
    for (int c = 0; c < 4; ++c) {
        if (!heif_image_has_channel(image, channels[c])) {
            if (c < 3)
                return false;
            continue;
        }
        if (heif_image_get_bits_per_pixel_range(image, channels[c]) != samples.bits ||
            heif_image_get_width(image, channels[c]) != width || heif_image_get_height(image, channels[c]) != height)
            return false;
        samples.at[c] = heif_image_get_plane_readonly(image, channels[c], &samples.rowBytes[c]);
        if (samples.at[c] == nullptr)
            return false;
    }
    samples.pixelBytes = samples.bits > 8 ? 2 : 1;
    return true;
}

}  // namespace

bool HeifPicture::CopyInto(RowTarget& rows)
{
    translucent_ = false;
    if (handle_ == nullptr)
        return false;
    // A colour picture is taken in the planes libheif decodes it to: asked
    // for interleaved rows, libheif would make them as a second whole
    // picture of the same samples. Any other picture is asked for
    // interleaved RGB or RGBA, 8 bits a sample or 16 for deeper ones, as
    // heif-convert asks.
    heif_image* image = nullptr;
    heif_error error = heif_decode_image(handle_, &image, heif_colorspace_undefined, heif_chroma_undefined, nullptr);
    if (error.code != heif_error_Ok)
        return Fail(FailureOf(error, true), "%s", error.message);
    Samples samples;
    if (!PlanesOf(image, width_, height_, samples)) {
        heif_image_release(image);
        image = nullptr;
        const bool deep = bits_ > 8;
        const heif_chroma chroma = hasAlpha_ ? (deep ? heif_chroma_interleaved_RRGGBBAA_BE : heif_chroma_interleaved_RGBA)
                                             : (deep ? heif_chroma_interleaved_RRGGBB_BE : heif_chroma_interleaved_RGB);
        error = heif_decode_image(handle_, &image, heif_colorspace_RGB, chroma, nullptr);
        if (error.code != heif_error_Ok)
            return Fail(FailureOf(error, true), "%s", error.message);
        int rowBytes = 0;
        const uint8_t* first = heif_image_get_plane_readonly(image, heif_channel_interleaved, &rowBytes);
        samples.bits = heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved);
        if (first == nullptr || heif_image_get_width(image, heif_channel_interleaved) != width_ ||
            heif_image_get_height(image, heif_channel_interleaved) != height_ || samples.bits < 8 || samples.bits > 16 ||
            (samples.bits > 8) != deep) {
            heif_image_release(image);
            return Fail(ReaderFailure::damaged, "libheif gave a picture of another size or depth than it declared");
        }
        const int sampleBytes = deep ? 2 : 1;
        const int channels = hasAlpha_ ? 4 : 3;
        samples.pixelBytes = channels * sampleBytes;
        samples.bigEndian = true;
        for (int c = 0; c < channels; ++c) {
            samples.at[c] = first + c * sampleBytes;
            samples.rowBytes[c] = rowBytes;
        }
    }

    const bool keepAlpha = rows.KeepsAlpha() && samples.at[3] != nullptr;
    uint8_t leastAlpha = 255;
    for (int64_t y = 0; y < height_; ++y) {
        const uint8_t* in[4];
        for (int c = 0; c < 4; ++c)
            in[c] = samples.at[c] != nullptr ? samples.at[c] + y * samples.rowBytes[c] : nullptr;
        uint8_t* out = rows.Row(y);
        uint8_t* outAlpha = keepAlpha ? rows.AlphaRow(y) : nullptr;
        if (samples.pixelBytes == 1 && in[3] == nullptr) {
            for (int64_t x = 0; x < width_; ++x, out += 3) {
                out[0] = in[2][x];
                out[1] = in[1][x];
                out[2] = in[0][x];
            }
        } else {
            const int64_t step = samples.pixelBytes;
            for (int64_t x = 0; x < width_; ++x, out += 3) {
                const uint8_t a = in[3] != nullptr ? samples.Top(in[3] + x * step) : 255;
                const uint8_t r = samples.Top(in[0] + x * step), g = samples.Top(in[1] + x * step),
                              b = samples.Top(in[2] + x * step);
                leastAlpha = a < leastAlpha ? a : leastAlpha;
                if (keepAlpha || a == 255) {
                    out[0] = b;
                    out[1] = g;
                    out[2] = r;
                } else {
                    out[0] = FlattenOnWhite(b, a);
                    out[1] = FlattenOnWhite(g, a);
                    out[2] = FlattenOnWhite(r, a);
                }
                if (keepAlpha)
                    outAlpha[x] = a;
            }
        }
        memset(out, 0, static_cast<size_t>(rows.Stride() - 3 * width_));
        if (keepAlpha)
            memset(outAlpha + width_, 0, static_cast<size_t>(rows.AlphaStride() - width_));
        rows.Done(y + 1);
    }
    heif_image_release(image);
    translucent_ = keepAlpha && leastAlpha < 255;
    Close();
    return true;
}

void HeifPicture::Close()
{
    if (handle_ != nullptr)
        heif_image_handle_release(handle_);
    handle_ = nullptr;
    if (context_ != nullptr)
        heif_context_free(context_);
    context_ = nullptr;
    width_ = height_ = 0;
    bits_ = 8;
    hasAlpha_ = false;
}
