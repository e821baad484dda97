// Decoding JPEG with libjpeg-turbo.
//
// libjpeg reports an error by calling error_exit, which would end the
// process, and a warning through emit_message, after which it goes on with
// made-up data (grey rows for a file cut short). Both are caught here: the
// message is kept and a longjmp returns to the request that was running,
// which then lets go of the library's state. Nothing between a setjmp and
// its longjmp owns anything but the Decoder on the heap, so no destructor
// is skipped.
#include "decoder/jpeg_decode.h"


#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h takes size_t and FILE as given
#include <cstddef>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "decoder/picture_decode.h"

namespace {

// Rows read straight into the destination in one call.
const int64_t kRowsAtOnce = 16;

}  // namespace

struct JpegPicture::Decoder {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jmp_buf escape;
    bool copying;        // past the headers: an error is damage to the data
    bool adobeInverted;  // CMYK as Adobe writes it, each ink inverted
    int orientation;
    ReaderFailure failure;
    char message[JMSG_LENGTH_MAX];
};

namespace {

using Decoder = JpegPicture::Decoder;

Decoder& DecoderOf(j_common_ptr info) { return *static_cast<Decoder*>(info->client_data); }

[[noreturn]] void Escape(j_common_ptr info, ReaderFailure failure)
{
    Decoder& decoder = DecoderOf(info);
    decoder.failure = failure;
    info->err->format_message(info, decoder.message);
    longjmp(decoder.escape, 1);
}

void ExitOnError(j_common_ptr info)
{
    const int code = info->err->msg_code;
    if (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE)
        Escape(info, ReaderFailure::tooHungry);  // the memory limit: no backing store stands behind it
    Escape(info, DecoderOf(info).copying ? ReaderFailure::damaged : ReaderFailure::unreadable);
}

// Level -1 is a warning; the others are trace messages, which nobody reads.
void StopOnWarning(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    switch (info->err->msg_code) {
    case JWRN_JFIF_MAJOR:   // a later JFIF revision: its pixels read the same
    case JWRN_ADOBE_XFORM:  // an unknown Adobe transform: the colour space is guessed, as every reader does
    case JWRN_BOGUS_ICC:    // the ICC profile, which is not read
        return;
    case JWRN_JPEG_EOF:
        Escape(info, ReaderFailure::cutShort);
    default:
        Escape(info, ReaderFailure::damaged);
    }
}

}  // namespace

bool JpegPicture::Open(const uint8_t* file, uint64_t size, const ReadLimits& limits)
{
    Forget();
    const int orientation = limits.orientation;
    const uint64_t memoryBytes = limits.memoryBytes;
    // Zeroed: the library's structs are safe to destroy from here on.
    Decoder* decoder = decoder_ = new (std::nothrow) Decoder();
    if (decoder == nullptr)
        return Fail(ReaderFailure::tooHungry, "%s", "");  // no words: the budget is not what ran out
    decoder->orientation = orientation;
    jpeg_decompress_struct& info = decoder->info;
    info.err = jpeg_std_error(&decoder->errors);
    decoder->errors.error_exit = ExitOnError;
    decoder->errors.emit_message = StopOnWarning;
    info.client_data = decoder;
    if (setjmp(decoder->escape)) {
        return Fail(decoder->failure, "%s", decoder->message);
    }
    jpeg_create_decompress(&info);
    // Large enough for every whole-picture buffer the budget allows; past
    // it, the library fails rather than grow (it has no backing store).
    // Its count is a long, 32 bits here.
    info.mem->max_memory_to_use = static_cast<long>(memoryBytes < LONG_MAX ? memoryBytes : LONG_MAX);
    // The library's own source over memory: past the end it warns that the
    // file ends, which is a failure here, where it would go on.
    if (size > ULONG_MAX)
        return Fail(ReaderFailure::unreadable, "The file is larger than libjpeg reads");
    jpeg_mem_src(&info, file, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        // The library writes blue, green, red itself, grey included.
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        info.out_color_space = JCS_CMYK;
        break;
    default:
        return Fail(ReaderFailure::unreadable, "Its %d colour components are of no colour space JPEG names",
                    info.num_components);
    }
    decoder->adobeInverted = info.saw_Adobe_marker != 0;
    const bool swapped = OrientationSwapsAxes(orientation);
    width_ = swapped ? info.image_height : info.image_width;
    height_ = swapped ? info.image_width : info.image_height;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = TRUE;
    return true;
}

bool JpegPicture::RowsInOrder() const
{
    return decoder_ != nullptr && (decoder_->orientation <= 1 || decoder_->orientation > 8);
}

bool JpegPicture::CopyInto(RowTarget& rows)
{
    Decoder* decoder = decoder_;
    if (decoder == nullptr)
        return false;
    jpeg_decompress_struct& info = decoder->info;
    if (setjmp(decoder->escape)) {
        return Fail(decoder->failure, "%s", decoder->message);
    }
    decoder->copying = true;
    jpeg_start_decompress(&info);
    const int64_t width = info.output_width, height = info.output_height;
    const int64_t outWidth = Width(), outHeight = Height();
    const int orientation = decoder->orientation;
    const bool cmyk = info.out_color_space == JCS_CMYK;
    const bool upright = RowsInOrder();
    const size_t padding = static_cast<size_t>(rows.Stride() - 3 * outWidth);
    if (!cmyk && upright) {
        // Upright blue, green, red: the library writes each row in its place.
        while (info.output_scanline < info.output_height) {
            const int64_t top = info.output_scanline;
            const int64_t count = rows.Room(top, height - top < kRowsAtOnce ? height - top : kRowsAtOnce);
            JSAMPROW at[kRowsAtOnce];
            for (int64_t i = 0; i < count; ++i)
                at[i] = rows.Row(top + i);
            const JDIMENSION got = jpeg_read_scanlines(&info, at, static_cast<JDIMENSION>(count));
            for (JDIMENSION i = 0; i < got; ++i)
                memset(at[i] + 3 * width, 0, padding);
            rows.Done(info.output_scanline);
        }
        jpeg_finish_decompress(&info);
        Close();
        return true;
    }
    // A turned picture's rows are filled a pixel at a time from anywhere:
    // their padding is zeroed first.
    for (int64_t y = 0; !upright && y < outHeight; ++y)
        memset(rows.Row(y) + 3 * outWidth, 0, padding);
    // Where stored pixel (x, y) goes.
    auto PlaceOf = [&](int64_t x, int64_t y) {
        int64_t ox, oy;
        OrientedPosition(orientation, width, height, x, y, ox, oy);
        return rows.Row(oy) + 3 * ox;
    };
    const int components = info.output_components;
    JSAMPARRAY decoded = info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                static_cast<JDIMENSION>(components * width), 1);
    JSAMPARRAY bgr = cmyk ? info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                   static_cast<JDIMENSION>(3 * width), 1)
                          : decoded;
    while (info.output_scanline < info.output_height) {
        const int64_t y = info.output_scanline;
        if (upright)
            rows.Room(y, 1);
        jpeg_read_scanlines(&info, decoded, 1);
        if (cmyk)
            CmykToBgr(decoded[0], width, decoder->adobeInverted, bgr[0]);
        // A stored row lands on a straight line of the destination: one
        // step apart, whatever the orientation.
        uint8_t* at = PlaceOf(0, y);
        const ptrdiff_t step = width > 1 ? PlaceOf(1, y) - at : 3;
        const uint8_t* in = bgr[0];
        for (int64_t x = 0; x < width; ++x, in += 3, at += step)
            memcpy(at, in, 3);
        if (upright)
            memset(rows.Row(y) + 3 * width, 0, padding);
        rows.Done(info.output_scanline);
    }
    jpeg_finish_decompress(&info);
    Close();
    return true;
}

void JpegPicture::Close()
{
    if (decoder_ == nullptr)
        return;
    jpeg_destroy_decompress(&decoder_->info);
    delete decoder_;
    decoder_ = nullptr;
}
