// JPEG pictures decoded by libjpeg-turbo (its libjpeg API), in the decoding
// process: baseline, progressive and arithmetic-coded files, greyscale,
// YCbCr at any sampling, and CMYK or YCCK turned into RGB. The rows go
// straight into the destination, turned upright by the EXIF orientation
// read beforehand, as 24-bit bottom-up rows (blue, green, red, zeroed
// padding); only the library's own buffers are held besides.
//
// The pixels are the library's defaults (the accurate integer DCT, fancy
// upsampling), the same as djpeg writes. libjpeg never ends the process
// here: its errors come back as a failure with its message, and a file it
// only warns about (corrupt data, cut short) is a failure too, never a
// picture with grey rows.
#pragma once

#include <cstdint>

#include "decoder/reader.h"

class JpegPicture : public PictureReader {
public:
    ~JpegPicture() override { Close(); }

    // Reads the headers of the file, to be shown turned by the orientation
    // (1 to 8); the library may take at most the memory for its
    // whole-picture buffers (a progressive file holds every coefficient).
    bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) override;
    // A JPEG has no alpha: the plane is left as it is.
    bool CopyInto(RowTarget& rows) override;
    // True when upright: the stored rows are the shown rows, top first.
    bool RowsInOrder() const override;
    void Close() override;

    struct Decoder;  // the library's state, kept out of this header

private:
    Decoder* decoder_ = nullptr;
};
