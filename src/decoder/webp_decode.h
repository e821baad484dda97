// WebP pictures decoded by libwebp in the decoding process: lossy, lossless,
// with or without alpha, and an animation's first frame laid on its canvas.
// An opaque picture's rows go straight into the destination as 24-bit
// bottom-up rows (blue, green, red, zeroed padding); a picture with alpha
// is decoded into the library's own straight blue, green, red, alpha buffer
// and each row, as it comes, either keeps its straight colour with its
// alpha going to a plane of its own, or is flattened onto white.
//
// WebP has no orientation of its own: its rows are shown as stored. The
// pixels are the library's defaults (fancy upsampling, no dithering), the
// same as dwebp writes.
#pragma once

#include <cstdint>

#include "decoder/reader.h"

struct WebPDemuxer;

class WebpPicture : public PictureReader {
public:
    ~WebpPicture() override { Close(); }

    // Reads the file and finds its first frame. The size is the canvas: the
    // whole picture, or an animation's. WebP has no orientation: the limits
    // are not needed.
    bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) override;
    bool CopyInto(RowTarget& rows) override;
    void Close() override;

private:
    WebPDemuxer* demux_ = nullptr;
    // The first frame: where its coded bytes lie in the file, and where it
    // stands on the canvas.
    const uint8_t* frameBytes_ = nullptr;
    size_t frameSize_ = 0;
    int64_t frameLeft_ = 0, frameTop_ = 0, frameWidth_ = 0, frameHeight_ = 0;
};
