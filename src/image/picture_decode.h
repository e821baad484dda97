// Pictures decoded by the Windows Imaging Component: every format the
// platform reads, turned upright and flattened onto white, copied a band of
// rows at a time into a 24-bit pixel buffer (bottom-up rows, blue, green,
// red, zeroed padding). Only the platform's decoder and one band are held
// besides the destination, never a second copy of the whole picture.
#pragma once

#include <cstddef>
#include <cstdint>

struct IWICBitmapDecoder;
struct IWICBitmapFrameDecode;
struct IWICFormatConverter;

// One straight-alpha component laid over white, rounded to nearest:
// round((c * a + 255 * (255 - a)) / 255).
inline uint8_t FlattenOnWhite(uint8_t c, uint8_t a)
{
    // The sum over 255 never ends in exactly one half, so adding 127 rounds.
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// Where the stored pixel (x, y) of a width x height picture, y from the top,
// stands once an EXIF orientation (1 to 8) is applied. Orientations 5 to 8
// swap the axes; anything outside 1 to 8 counts as 1.
void OrientedPosition(int orientation, int64_t width, int64_t height, int64_t x, int64_t y, int64_t& ox,
                      int64_t& oy);
bool OrientationSwapsAxes(int orientation);

// The EXIF orientation (1 to 8) in the APP1 segment of a JPEG's first
// `size` bytes; 1 when there is none or it cannot be read.
int JpegExifOrientation(const uint8_t* bytes, size_t size);

class DecodedPicture {
public:
    DecodedPicture() = default;
    ~DecodedPicture() { Close(); }
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    // First frame (GIF) or page (TIFF) of the file; false when the platform
    // cannot decode it.
    bool Open(const wchar_t* path);
    // The size as shown, after the orientation turn.
    int64_t Width() const { return OrientationSwapsAxes(orientation_) ? height_ : width_; }
    int64_t Height() const { return OrientationSwapsAxes(orientation_) ? width_ : height_; }
    int Orientation() const { return orientation_; }
    // Fills pixels, rows `stride` bytes apart; false when decoding fails
    // part of the way (a damaged file).
    bool CopyInto(uint8_t* pixels, int64_t stride);
    void Close();

private:
    IWICBitmapDecoder* decoder_ = nullptr;
    IWICBitmapFrameDecode* frame_ = nullptr;
    IWICFormatConverter* converter_ = nullptr;
    bool hasAlpha_ = false;
    int orientation_ = 1;
    int64_t width_ = 0;   // as stored
    int64_t height_ = 0;
};
