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
// whose planes heif-convert's interleaved rows are copied from.
#pragma once

#include <cstdint>

#include "decoder/reader.h"

struct heif_context;
struct heif_image_handle;

class HeifPicture : public PictureReader {
public:
    ~HeifPicture() override { Close(); }

    // Reads the file's boxes and finds its primary picture, whose declared
    // size's longer side is the limits' longest side; decoding it may take
    // at most their memory, and no picture the file holds may have a side
    // longer than that budget allows. The size is as shown, after the
    // file's own transforms; its EXIF orientation, which says the same turn
    // again, is not applied.
    bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) override;
    // Decodes the whole picture, then writes its rows.
    bool CopyInto(RowTarget& rows) override;
    void Close() override;

private:
    heif_context* context_ = nullptr;
    heif_image_handle* handle_ = nullptr;
    int bits_ = 8;
    uint64_t memoryBytes_ = 0;
};
