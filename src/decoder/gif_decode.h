// GIF pictures decoded by giflib in the decoding process: the first frame
// only, laid on the logical screen (widened to hold a frame that stands
// past it), interlaced or not, with the see-through colour of the Graphic
// Control Extension that comes before it. The rest of the screen is
// transparent. No record after the first frame's data is read, so a long
// animation costs no more than its first frame.
//
// Each row of colour indices, as giflib gives it, goes straight into the
// destination (24-bit bottom-up rows, blue, green, red, zeroed padding):
// its straight colour with the alpha in a plane of its own when given one,
// else flattened onto white. GIF has no orientation: rows are shown as
// stored.
#pragma once

#include <cstdint>

#include "decoder/reader.h"

struct GifFileType;

class GifPicture : public PictureReader {
public:
    ~GifPicture() override { Close(); }

    // Reads the screen and every record up to the first frame's header.
    // GIF has no orientation, and its few buffers are a row long: the
    // limits are not needed.
    bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) override;
    bool CopyInto(RowTarget& rows) override;
    void Close() override;
    // A frame stored row by row fills the picture from the top (the rows
    // around it are written first); an interlaced one does not.
    bool RowsInOrder() const override { return gif_ != nullptr && !interlaced_; }

    // giflib's read function: the file's next bytes.
    int Read(uint8_t* out, int count);

private:
    // Fails with giflib's error code in words; a read that found the end
    // of the file is a picture cut short.
    bool FailGif(int error, ReaderFailure otherwise);

    const uint8_t* file_ = nullptr;
    uint64_t size_ = 0, at_ = 0;
    bool ended_ = false;       // a read found the end of the file
    GifFileType* gif_ = nullptr;
    int transparent_ = -1;     // the see-through colour index; -1: none
    int64_t frameLeft_ = 0, frameTop_ = 0, frameWidth_ = 0, frameHeight_ = 0;
    bool interlaced_ = false;
    uint8_t palette_[256 * 3] = {};  // blue, green, red
};
