// The BMP header as bytes: its fields where they stand, checking a 24-bit
// picture's, packing the export's, the row layout both follow and the 2 GB
// limit on pixels.
//
// Plain C++ over a 54-byte array and nothing of the platform, so that it is
// fuzzed natively; bmp.h adds the pixel buffers, which need Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// The 14-byte file header and the 40-byte info header of a 24-bit BMP.
enum : uint32_t { kBmpHeaderSize = 54 };

// The fields of a BMP's file header and of the start of its info header,
// laid out as the info header's size says: OS/2 1.x's 12 bytes hold 16-bit
// width and height, every other size the 32-bit fields of Windows' header.
struct BmpHeaderFields {
    bool magic;            // the file begins "BM"
    uint32_t dataOffset;   // file offset of the first pixel row
    uint32_t infoSize;     // the info header's own size, its first field
    int32_t width;
    int32_t height;        // < 0: rows are stored top-down
    uint16_t planes;
    uint16_t bitsPerPixel;
    uint32_t compression;  // 0 in an info header too short to hold it
};

// The fields of the first `size` bytes of a file; a field that lies past
// them, or past the info header's end, is 0.
BmpHeaderFields ReadBmpHeaderFields(const uint8_t* bytes, size_t size);

// Bytes a row of `width` 24-bit pixels takes: rows are padded to 4 bytes.
int64_t RowBytes(int64_t width);

struct RowLayout {
    int32_t stride;  // bytes per row, a multiple of 4
    uint8_t pad;     // zero bytes at the end of each row, 0 to 3
};

// Row layout of a 24-bit picture `width` pixels wide.
RowLayout RowStride(int32_t width);

// What the program takes from a picture's 54-byte header.
struct ImageHeaderFacts {
    int32_t width;
    int32_t height;      // always positive
    uint8_t topDown;     // the file stores its rows top row first
    uint32_t dataOffset; // file offset of the first pixel row
};

// Checks a header in order and either fills `facts` or writes into
// `sentence` the one plain sentence that says why `fileName` is refused.
bool ParseImageHeader(const uint8_t header[kBmpHeaderSize], const char* fileName, ImageHeaderFacts& facts,
                      char* sentence, size_t sentenceSize);

// Whether a 24-bit buffer of width x rows pixels stays within 2 GB, and the
// sentence that refuses one that does not.
bool PixelsFitInMemory(int64_t width, int64_t rows);
void TooLargeSentence(const char* fileName, int64_t width, int64_t rows, char* sentence, size_t sentenceSize);

// The 54-byte header of an exported picture.
void PackExportHeader(uint8_t header[kBmpHeaderSize], int32_t width, int32_t height, int32_t stride);
