// PNG pictures decoded by libspng in the decoding process: every colour
// type and bit depth, interlaced or not, with tRNS's transparency (a
// palette's alphas, or a key colour); an animated PNG gives its default
// picture, the one in its IDAT chunks. The rows are decoded one at a time
// straight into the destination as 24-bit bottom-up rows (blue, green, red,
// zeroed padding), counted as they come; a picture with alpha goes through
// one row of the library's straight red, green, blue, alpha, and each pixel
// either keeps its straight colour with its alpha in a plane of its own, or
// is flattened onto white.
//
// The pixels are the stored samples, as the platform's decoder gave them:
// no gamma, no colour profile. Samples of 16 bits keep their top 8, as
// every reader here brings deeper samples to 8; fewer than 8 are widened by
// repeating their bits (a 2-bit 1 is 0x55).
#pragma once

#include <cstdint>

#include "decoder/reader.h"

struct spng_ctx;

class PngPicture : public PictureReader {
public:
    ~PngPicture() override { Close(); }

    // Reads the chunks up to the picture's data. No side may pass the
    // limits' longest side (IHDR's, as the probe read it), and the chunks
    // libspng keeps and its rows may take at most their memory. Whether it
    // has alpha: an alpha channel, or tRNS.
    bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) override;
    bool CopyInto(RowTarget& rows) override;
    void Close() override;
    // Not for an interlaced picture, whose rows fill in over seven passes.
    bool RowsInOrder() const override { return context_ != nullptr && !interlaced_; }

private:
    bool FailWith(int error, bool decoding);

    spng_ctx* context_ = nullptr;
    bool interlaced_ = false;
};
