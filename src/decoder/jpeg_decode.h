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

enum class JpegFailure {
    none,
    unreadable,  // not a JPEG the library reads: a bad header, an unsupported kind
    damaged,     // corrupt data part of the way
    cutShort,    // the file ends before the picture does
    tooHungry,   // the picture needs more memory than it may take
};

class JpegPicture {
public:
    JpegPicture() = default;
    ~JpegPicture() { Close(); }
    JpegPicture(const JpegPicture&) = delete;
    JpegPicture& operator=(const JpegPicture&) = delete;

    // Reads the headers of the file, to be shown turned by an EXIF
    // orientation (1 to 8); the library may take at most `memoryBytes` for
    // its whole-picture buffers (a progressive file holds every
    // coefficient). False with Failure() and Message() set when it cannot.
    bool Open(const wchar_t* path, int orientation, uint64_t memoryBytes);
    // The size as shown, after the orientation turn.
    int64_t Width() const;
    int64_t Height() const;
    // Fills pixels, rows `stride` bytes apart, counting the stored rows done
    // in rowsDone as it goes; false with Failure() and Message() set when
    // the file fails part of the way.
    bool CopyInto(uint8_t* pixels, int64_t stride, volatile int64_t* rowsDone = nullptr);
    // Whether the stored rows are the shown rows, top first: rowsDone then
    // counts the top rows in place.
    bool RowsInOrder() const;
    JpegFailure Failure() const { return failure_; }
    // libjpeg's own words on the failure; empty when none.
    const char* Message() const { return message_; }
    void Close();

    struct Decoder;  // the library's state, kept out of this header

private:
    Decoder* decoder_ = nullptr;
    JpegFailure failure_ = JpegFailure::none;
    char message_[200] = {};  // JMSG_LENGTH_MAX
};
