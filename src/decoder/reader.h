// What every library reader in the decoding process answers to: an open
// that reads a picture's headers, and a copy that writes its rows into the
// program's section as they come. Each kind a library reads (JPEG, WebP,
// HEIF, ...) is one class of this shape; the child holds one of each and
// picks by the kind the probe found.
//
// The rows are 24-bit bottom-up (blue, green, red, zeroed padding), each
// written where its RowTarget says. A reader of a kind that can be
// transparent either keeps each pixel's straight colour and gives its alpha
// to a plane of its own, or, given no plane, flattens it onto white.
#pragma once

#include <cstdint>

#include "decoder/row_target.h"

// The top 8 bits of a big-endian sample of `bits` bits (9 to 16): the one
// rule by which every reader brings deeper samples to 8 bits.
inline uint8_t TopEightBits(const uint8_t* bigEndian, int bits)
{
    return static_cast<uint8_t>((bigEndian[0] << 8 | bigEndian[1]) >> (bits - 8));
}

enum class ReaderFailure {
    none,
    unreadable,  // not a file the library reads: a bad header, an unsupported kind
    damaged,     // the picture's data is wrong part of the way
    cutShort,    // the file ends before the picture does
    tooHungry,   // the picture needs more memory than it may take
};

// What the probe already knows, and what the reader may spend.
struct ReadLimits {
    int orientation = 1;          // EXIF's 1 to 8, for kinds that take it from the probe
    int64_t longestSide = 0;      // the most pixels a side the picture may have
    uint64_t memoryBytes = 0;     // the most the library may take for its own buffers
};

class PictureReader {
public:
    PictureReader() = default;
    virtual ~PictureReader() = default;
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    // Reads the headers from the file's bytes; false with Failure() and
    // Message() set when it cannot. Width(), Height() and HasAlpha() hold
    // after a true answer. The bytes stay the caller's, and stay put until
    // Close.
    virtual bool Open(const uint8_t* file, uint64_t size, const ReadLimits& limits) = 0;
    // Fills the target's rows, counting the rows done as it goes, with the
    // alpha plane as the header says when the target keeps alpha. False
    // with Failure() and Message() set when the picture fails part of the
    // way.
    virtual bool CopyInto(RowTarget& rows) = 0;
    // Lets go of the library's state; the reader can open again.
    virtual void Close() = 0;
    // Whether the rows done count whole rows in place from the top, so that
    // a reader of the section may take them before the copy ends: such a
    // reader asks the target for Room before each row, and may be given a
    // ring.
    virtual bool RowsInOrder() const { return false; }

    // The size as shown, after any turn the reader applies.
    int64_t Width() const { return width_; }
    int64_t Height() const { return height_; }
    // Whether some pixel can be transparent.
    bool HasAlpha() const { return hasAlpha_; }
    // After a CopyInto with `alpha`: some pixel is not wholly opaque.
    bool Translucent() const { return translucent_; }
    ReaderFailure Failure() const { return failure_; }
    // The library's own words on the failure; empty when none.
    const char* Message() const { return message_; }

protected:
    // Sets the failure and its words (printf's format) and closes; always
    // false, for `return Fail(...)`.
    bool Fail(ReaderFailure failure, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Lets go of the last picture and forgets its answers, as an open begins.
    void Forget();

    int64_t width_ = 0, height_ = 0;
    bool hasAlpha_ = false;
    bool translucent_ = false;

private:
    ReaderFailure failure_ = ReaderFailure::none;
    char message_[200] = {};
};
