// Pictures decoded by the Windows Imaging Component: every format the
// platform reads, turned upright and flattened onto white, copied a band of
// rows at a time into a 24-bit pixel buffer (bottom-up rows, blue, green,
// red, zeroed padding). Only the platform's decoder and one band are held
// besides the destination, never a second copy of the whole picture. A
// picture that can be transparent may instead keep its straight colour, with
// its alpha in a plane of its own, one byte a pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/row_target.h"

struct IWICStream;
struct IWICBitmapDecoder;
struct IWICBitmapFrameDecode;
struct IWICFormatConverter;

// Readies the platform's decoders, which the first picture for them would
// otherwise do; false when there are none.
bool PrepareDecoders();

// One straight-alpha component laid over white, rounded to nearest:
// round((c * a + 255 * (255 - a)) / 255). Every reader flattens by it.
uint8_t FlattenOnWhite(uint8_t c, uint8_t a);

// A row of `width` CMYK pixels as blue, green, red, each ink's product with
// black (JPEG's and TIFF's readers alike). Adobe's JPEGs store each ink
// inverted (255 is none); other files store them plainly.
void CmykToBgr(const uint8_t* cmyk, int64_t width, bool inverted, uint8_t* bgr);

// Whether an EXIF orientation (1 to 8) swaps the axes: 5 to 8 do.
bool OrientationSwapsAxes(int orientation);
// Where the stored pixel (x, y) of a width x height picture, y from the top,
// stands once an EXIF orientation is applied; anything outside 1 to 8 counts
// as 1.
void OrientedPosition(int orientation, int64_t width, int64_t height, int64_t x, int64_t y, int64_t& ox,
                      int64_t& oy);

class DecodedPicture {
public:
    DecodedPicture() = default;
    ~DecodedPicture() { Close(); }
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    // The first frame or page of the file's bytes, or an icon's largest
    // image, shown turned by an EXIF orientation (1 to 8) read from the
    // file beforehand; false when the platform cannot decode it. The bytes
    // stay the caller's, and stay put until Close.
    bool Open(const uint8_t* file, uint64_t size, int orientation);
    // The size as shown, after the orientation turn.
    int64_t Width() const { return OrientationSwapsAxes(orientation_) ? height_ : width_; }
    int64_t Height() const { return OrientationSwapsAxes(orientation_) ? width_ : height_; }
    // Whether the picture's pixel format can be transparent.
    bool HasAlpha() const { return hasAlpha_; }
    // Fills pixels, rows `stride` bytes apart, counting the stored rows done
    // in rowsDone as it goes; false when decoding fails part of the way (a
    // damaged file). With `alpha` and a picture that has it, the colour stays
    // straight (not flattened) and each pixel's alpha goes to `alpha`, rows
    // like the pixels' (bottom-up, zeroed padding) but `alphaStride` apart.
    bool CopyInto(uint8_t* pixels, int64_t stride, volatile int64_t* rowsDone = nullptr, uint8_t* alpha = nullptr,
                  int64_t alphaStride = 0);
    // The same into a target's rows, which hold the whole picture.
    bool CopyInto(RowTarget& rows);
    // After a CopyInto with `alpha`: some pixel is not wholly opaque.
    bool Translucent() const { return translucent_; }
    void Close();

private:
    IWICStream* stream_ = nullptr;
    IWICBitmapDecoder* decoder_ = nullptr;
    IWICBitmapFrameDecode* frame_ = nullptr;
    IWICFormatConverter* converter_ = nullptr;
    bool hasAlpha_ = false;
    bool translucent_ = false;
    bool straight_ = false;
    int orientation_ = 1;
    int64_t width_ = 0;   // as stored
    int64_t height_ = 0;
};
