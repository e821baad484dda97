// Decoding PNG with libspng.
//
// libspng reads the file's bytes where they lie, and decodes them
// progressively: each spng_decode_row gives one row, or, in an interlaced
// picture, one pass's pixels of a row, each in its place. The library's
// conversions bring every colour type to 8-bit RGB, or RGBA where there is
// alpha, with tRNS applied; a 16-bit sample becomes its high byte there,
// which is the rule every reader here keeps.
#include "decoder/png_decode.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <spng.h>

#include "decoder/picture_decode.h"

namespace {

// Adam7's seven passes: the first column and row of each, and the steps
// between its columns and rows.
const struct {
    int64_t x, y, dx, dy;
} kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// A failure of libspng's, by what it means for the picture: before its
// rows a file the library cannot take is unreadable; while decoding, wrong
// data is damage. A checksum that fails is damage wherever it stands.
ReaderFailure FailureOf(int error, bool decoding)
{
    switch (error) {
    case SPNG_IO_EOF:
    case SPNG_EOF: return ReaderFailure::cutShort;
    case SPNG_EMEM:
    case SPNG_ECHUNK_LIMITS:
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT: return ReaderFailure::tooHungry;
    case SPNG_ECHUNK_CRC: return ReaderFailure::damaged;
    case SPNG_IO_ERROR: return ReaderFailure::unreadable;
    default: return decoding ? ReaderFailure::damaged : ReaderFailure::unreadable;
    }
}

}  // namespace

bool PngPicture::FailWith(int error, bool decoding)
{
    return Fail(FailureOf(error, decoding), "%s", spng_strerror(error));
}

bool PngPicture::Open(const uint8_t* file, uint64_t size, const ReadLimits& limits)
{
    Forget();
    context_ = spng_ctx_new(0);
    if (context_ == nullptr)
        return Fail(ReaderFailure::tooHungry, "%s", spng_strerror(SPNG_EMEM));
    // As libpng has it by default: a bad checksum in a critical chunk
    // (IHDR, PLTE, IDAT, IEND) is damage, and an ancillary chunk with one is
    // dropped, the picture read without it.
    spng_set_crc_action(context_, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    // The library holds the file to the size the probe read. The chunks it
    // keeps (text, profiles, EXIF: duotint reads its metadata itself) may
    // take half the memory, the rows the rest.
    const int64_t side = limits.longestSide < 1 ? 1 : limits.longestSide < INT32_MAX ? limits.longestSide : INT32_MAX;
    spng_set_image_limits(context_, static_cast<uint32_t>(side), static_cast<uint32_t>(side));
    const uint64_t cache = limits.memoryBytes / 2 < SIZE_MAX ? limits.memoryBytes / 2 : SIZE_MAX;
    spng_set_chunk_limits(context_, static_cast<size_t>(cache < INT32_MAX ? cache : INT32_MAX),
                          static_cast<size_t>(cache));
    spng_set_png_buffer(context_, file, static_cast<size_t>(size));

    spng_ihdr ihdr;
    int error = spng_get_ihdr(context_, &ihdr);
    if (error != 0)
        return FailWith(error, false);
    width_ = ihdr.width;
    height_ = ihdr.height;
    interlaced_ = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    // Reads every chunk before the first IDAT.
    spng_trns trns;
    error = spng_get_trns(context_, &trns);
    if (error != 0 && error != SPNG_ECHUNKAVAIL)
        return FailWith(error, false);
    hasAlpha_ = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || error == 0;
    // The library's two scanlines and its row, and ours: 8 bytes a pixel at most.
    if (static_cast<uint64_t>(width_) * 8 * 4 > limits.memoryBytes / 2)
        return Fail(ReaderFailure::tooHungry, "libspng would need more memory than the picture may take");
    return true;
}

bool PngPicture::CopyInto(RowTarget& rows)
{
    translucent_ = false;
    if (context_ == nullptr)
        return false;
    const bool keepAlpha = rows.KeepsAlpha() && hasAlpha_;
    // No gamma, no profile: the stored samples, tRNS made alpha.
    int error = spng_decode_image(context_, nullptr, 0, hasAlpha_ ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8,
                                  SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (error != 0)
        return FailWith(error, true);
    // A picture with alpha: one row of straight red, green, blue, alpha.
    std::vector<uint8_t> rgba;
    try {
        rgba.resize(hasAlpha_ ? static_cast<size_t>(4 * width_) : 0);
    } catch (const std::bad_alloc&) {
        return Fail(ReaderFailure::tooHungry, "%s", spng_strerror(SPNG_EMEM));
    }
    // The padding: an interlaced row fills in over passes, and has it zeroed
    // first; a row in order as it comes.
    auto Pad = [&](int64_t y) {
        memset(rows.Row(y) + 3 * width_, 0, static_cast<size_t>(rows.Stride() - 3 * width_));
        if (keepAlpha)
            memset(rows.AlphaRow(y) + width_, 0, static_cast<size_t>(rows.AlphaStride() - width_));
    };
    for (int64_t y = 0; interlaced_ && y < height_; ++y)
        Pad(y);
    // How many rows the passes decode together, which the progress counts
    // against: an interlaced picture's rows come whole only in its last pass.
    int64_t passRows = height_;
    if (interlaced_) {
        passRows = 0;
        for (const auto& pass : kAdam7)
            if (width_ > pass.x && height_ > pass.y)
                passRows += (height_ - pass.y + pass.dy - 1) / pass.dy;
    }

    uint8_t leastAlpha = 255;
    for (int64_t decoded = 1;; ++decoded) {
        spng_row_info info;
        error = spng_get_row_info(context_, &info);
        if (error == SPNG_EOI)
            break;
        if (error != 0)
            return FailWith(error, true);
        if (!interlaced_) {
            rows.Room(info.row_num, 1);
            Pad(info.row_num);
        }
        uint8_t* out = rows.Row(info.row_num);
        // An opaque picture's rows go straight into the destination in the
        // library's order, red first, and are turned there to blue first.
        error = hasAlpha_ ? spng_decode_row(context_, rgba.data(), rgba.size())
                          : spng_decode_row(context_, out, static_cast<size_t>(3 * width_));
        if (error != 0 && error != SPNG_EOI)
            return FailWith(error, true);
        // The pixels this row's pass gave: all of a plain row's.
        const int64_t first = interlaced_ ? kAdam7[info.pass].x : 0, step = interlaced_ ? kAdam7[info.pass].dx : 1;
        if (!hasAlpha_) {
            for (int64_t x = first; x < width_; x += step) {
                const uint8_t red = out[3 * x];
                out[3 * x] = out[3 * x + 2];
                out[3 * x + 2] = red;
            }
        } else {
            uint8_t* outAlpha = keepAlpha ? rows.AlphaRow(info.row_num) : nullptr;
            for (int64_t x = first; x < width_; x += step) {
                const uint8_t* in = &rgba[static_cast<size_t>(4 * x)];
                uint8_t* to = out + 3 * x;
                const uint8_t a = in[3];
                leastAlpha = a < leastAlpha ? a : leastAlpha;
                if (keepAlpha) {
                    to[0] = in[2];
                    to[1] = in[1];
                    to[2] = in[0];
                    outAlpha[x] = a;
                } else {
                    to[0] = FlattenOnWhite(in[2], a);
                    to[1] = FlattenOnWhite(in[1], a);
                    to[2] = FlattenOnWhite(in[0], a);
                }
            }
        }
        rows.Done(interlaced_ ? decoded * height_ / passRows : decoded);
        if (error == SPNG_EOI)
            break;
    }
    // The last IDAT's checksum is read with the chunks after it, up to IEND.
    // Only a critical chunk's bad checksum counts there (that IDAT's, or
    // IEND's): the rest (ancillary chunks, an animation's other frames, an
    // IEND missing) holds nothing of the picture, now whole.
    error = spng_decode_chunks(context_);
    if (error == SPNG_ECHUNK_CRC)
        return FailWith(error, true);
    rows.Done(height_);
    translucent_ = keepAlpha && leastAlpha < 255;
    Close();
    return true;
}

void PngPicture::Close()
{
    spng_ctx_free(context_);
    context_ = nullptr;
    width_ = height_ = 0;
    hasAlpha_ = false;
    interlaced_ = false;
}
