// HEIC and AVIF pictures decoded by libheif (with libde265 and dav1d) in
// the decoding process: the file's primary picture, turned and mirrored as
// its own transform properties say, with its alpha where it has one. Its
// rows go into the destination as 24-bit bottom-up rows (blue, green, red,
// zeroed padding) once the library has decoded the picture, which it does
// whole; each row, as it goes, either keeps its straight colour with its
// alpha in a plane of its own, or is flattened onto white.
//
// The EXIF orientation a HEIF may carry is not applied: the file's own
// transforms already stand the picture upright, and a phone writes both.
// Samples of more than 8 bits keep their top 8, as a 16-bit PNG's do. The
// pixels are those libheif gives heif-convert: the same colour conversion,
// and 8 or 16-bit interleaved rows asked for alike.
#pragma once

#include <cstdint>

enum class HeifFailure {
    none,
    unreadable,  // not a HEIF the library reads, or a coding it lacks
    damaged,     // the picture's data is wrong part of the way
    cutShort,    // the file ends before the picture's data does
    tooHungry,   // the picture needs more memory than it may take
};

struct heif_context;
struct heif_image_handle;

class HeifPicture {
public:
    HeifPicture() = default;
    ~HeifPicture() { Close(); }
    HeifPicture(const HeifPicture&) = delete;
    HeifPicture& operator=(const HeifPicture&) = delete;

    // Reads the file's boxes and finds its primary picture, whose declared
    // size's longer side is `mostSide`; decoding it may take at most
    // `memoryBytes`, and no picture the file holds may have a side longer
    // than that budget allows. False with Failure() and Message() set when
    // it cannot.
    bool Open(const wchar_t* path, int64_t mostSide, uint64_t memoryBytes);
    // The size as shown, after the file's own transforms.
    int64_t Width() const { return width_; }
    int64_t Height() const { return height_; }
    bool HasAlpha() const { return hasAlpha_; }
    // Decodes the picture and fills pixels, rows `stride` bytes apart,
    // counting the rows done in rowsDone as it goes. With `alpha`, a
    // picture that has it keeps its straight colour and gives each pixel's
    // alpha to `alpha`, rows like the pixels' but `alphaStride` apart.
    bool CopyInto(uint8_t* pixels, int64_t stride, volatile int64_t* rowsDone = nullptr, uint8_t* alpha = nullptr,
                  int64_t alphaStride = 0);
    // After a CopyInto with `alpha`: some pixel is not wholly opaque.
    bool Translucent() const { return translucent_; }
    HeifFailure Failure() const { return failure_; }
    const char* Message() const { return message_; }
    void Close();

    struct Source;  // the file as libheif reads it, kept out of this header

private:
    bool Fail(HeifFailure failure, const char* message);

    Source* source_ = nullptr;
    heif_context* context_ = nullptr;
    heif_image_handle* handle_ = nullptr;
    int64_t width_ = 0, height_ = 0;
    int bits_ = 8;
    bool hasAlpha_ = false;
    bool translucent_ = false;
    uint64_t memoryBytes_ = 0;
    HeifFailure failure_ = HeifFailure::none;
    char message_[200] = {};
};
