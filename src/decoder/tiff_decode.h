// TIFF pictures decoded by libtiff in the decoding process: the first page,
// in strips or tiles, chunky or planar, with every compression the library
// is built with (none, LZW, deflate, JPEG, PackBits, the fax codings, ...).
// Grey, RGB, palette and CMYK pictures of 1 to 8 or 16 bits a sample are
// read directly, a band of strips or tiles at a time; 16-bit samples keep
// their top 8 bits (TopEightBits' rule), and CMYK becomes RGB as a JPEG's
// does. An alpha sample is kept straight in its plane or flattened onto
// white; associated (premultiplied) alpha is divided out first, rounded to
// nearest. Any other kind libtiff can show (YCbCr not coded as JPEG, CIE
// L*a*b*, LogLuv, other depths) goes through its RGBA reader a strip or
// tile at a time.
//
// The picture is turned by the orientation the probe hands over (the
// TIFF's own Orientation tag), as a JPEG's EXIF orientation is. libtiff
// reads the file's bytes through client procedures of ours; its warnings go
// nowhere and its last error becomes the failure's words; no single buffer
// of the library's may pass the picture's memory budget.
#pragma once

#include <cstdint>
#include <vector>

#include "decoder/reader.h"

struct tiff;

class TiffPicture : public PictureReader {
public:
    ~TiffPicture() override { Close(); }

    bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) override;
    bool CopyInto(RowTarget& rows) override;
    void Close() override;
    // Bands come from the top, each row in place, unless the picture is turned.
    bool RowsInOrder() const override { return tiff_ != nullptr && (orientation_ <= 1 || orientation_ > 8); }

    // What libtiff's client procedures and error handler reach.
    const uint8_t* file_ = nullptr;
    uint64_t size_ = 0, at_ = 0;
    bool ended_ = false;    // a read asked for bytes past the end of the file
    char words_[200] = {};  // libtiff's last error

private:
    // Fails with libtiff's last error; a read that found the end of the
    // file is a picture cut short, and a buffer past the budget is hunger.
    bool FailTiff(ReaderFailure otherwise);
    // Decodes stored rows [top, top + count) into band_, each plane's rows
    // rowBytes_ apart.
    bool ReadBand(uint32_t top, uint32_t count);

    struct tiff* tiff_ = nullptr;
    int orientation_ = 1;
    uint64_t memoryBytes_ = 0;
    uint32_t storedWidth_ = 0, storedHeight_ = 0;
    uint16_t bits_ = 0, samples_ = 0, photometric_ = 0;
    int colours_ = 0;             // samples that make the colour: 1, 3 or 4
    int alphaSample_ = -1;        // the alpha sample's index; -1: none
    bool associated_ = false;     // the colour is premultiplied by the alpha
    bool planar_ = false;         // one plane a sample
    bool tiled_ = false;
    bool rgba_ = false;           // read through libtiff's RGBA reader
    uint32_t bandRows_ = 0;       // a strip's or tile row's rows
    uint32_t tileWidth_ = 0;
    int64_t rowBytes_ = 0;        // a stored row of one plane
    std::vector<uint8_t> band_, piece_;
    std::vector<uint8_t> palette_;  // blue, green, red for each index
};
