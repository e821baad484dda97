// The BMP header: reading its fields, checking a 24-bit picture's in the
// order its fields stand, one refusal sentence per check; packing the
// export's.
#include "formats/bmp_header.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/bytes.h"

namespace {

void Write16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Write32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

const char kWhatWeTint[] = "duotint tints uncompressed 24-bit BMP pictures.";

}  // namespace

BmpHeaderFields ReadBmpHeaderFields(const uint8_t* bytes, size_t size)
{
    BmpHeaderFields f{};
    f.magic = size >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
    if (size >= 14)
        f.dataOffset = Read32(bytes + 10);
    if (size >= 18)
        f.infoSize = Read32(bytes + 14);
    const uint64_t end = std::min<uint64_t>(size, 14 + static_cast<uint64_t>(f.infoSize));
    auto u16 = [&](size_t at) -> uint16_t { return at + 2 <= end ? Read16(bytes + at) : 0; };
    auto u32 = [&](size_t at) -> uint32_t { return at + 4 <= end ? Read32(bytes + at) : 0; };
    if (f.infoSize == 12) {
        f.width = u16(18);
        f.height = u16(20);
        f.planes = u16(22);
        f.bitsPerPixel = u16(24);
    } else {
        f.width = static_cast<int32_t>(u32(18));
        f.height = static_cast<int32_t>(u32(22));
        f.planes = u16(26);
        f.bitsPerPixel = u16(28);
        f.compression = u32(30);
    }
    return f;
}

int64_t RowBytes(int64_t width) { return (3 * width + 3) / 4 * 4; }

RowLayout RowStride(int32_t width)
{
    const int64_t bytes = RowBytes(width);
    return {static_cast<int32_t>(bytes), static_cast<uint8_t>(bytes - 3 * static_cast<int64_t>(width))};
}

bool PixelsFitInMemory(int64_t width, int64_t rows)
{
    const int64_t stride = RowBytes(width);
    // Divided, not multiplied: sizes near 2^31 each take the product past 2^63.
    return rows <= 0 || stride <= 0x7FFFFFFF / rows;
}

void TooLargeSentence(const char* fileName, int64_t width, int64_t rows, char* sentence, size_t sentenceSize)
{
    snprintf(sentence, sentenceSize, "%s is %lld x %lld pixels, too large to hold in memory; %s", fileName,
             static_cast<long long>(width), static_cast<long long>(rows),
             "duotint tints pictures of at most 2 GB of pixels.");
}

bool ParseImageHeader(const uint8_t header[kBmpHeaderSize], const char* fileName, ImageHeaderFacts& facts,
                      char* sentence, size_t sentenceSize)
{
    const BmpHeaderFields fields = ReadBmpHeaderFields(header, kBmpHeaderSize);
    const uint32_t dataOffset = fields.dataOffset, infoSize = fields.infoSize;
    const int32_t width = fields.width, height = fields.height;
    const uint16_t planes = fields.planes, bitsPerPixel = fields.bitsPerPixel;
    const uint32_t compression = fields.compression;

    if (!fields.magic) {
        snprintf(sentence, sentenceSize, "%s does not begin as a BMP file does; %s", fileName, kWhatWeTint);
        return false;
    }
    if (infoSize < 40) {
        snprintf(sentence, sentenceSize, "%s has an old %u-byte picture header; %s", fileName, infoSize, kWhatWeTint);
        return false;
    }
    if (planes != 1) {
        snprintf(sentence, sentenceSize, "%s has %u colour planes instead of 1; %s", fileName, planes, kWhatWeTint);
        return false;
    }
    if (bitsPerPixel != 24) {
        snprintf(sentence, sentenceSize, "%s has %u bit%s per pixel; %s", fileName, bitsPerPixel,
                 bitsPerPixel == 1 ? "" : "s", kWhatWeTint);
        return false;
    }
    if (compression != 0) {
        snprintf(sentence, sentenceSize, "%s is compressed; %s", fileName, kWhatWeTint);
        return false;
    }
    if (width < 1) {
        snprintf(sentence, sentenceSize, "%s has a width of %d pixels; a picture must be at least 1 pixel wide.",
                 fileName, width);
        return false;
    }
    if (height == 0) {
        snprintf(sentence, sentenceSize, "%s has a height of 0 pixels; a picture must be at least 1 pixel high.",
                 fileName);
        return false;
    }
    if (dataOffset < kBmpHeaderSize) {
        snprintf(sentence, sentenceSize, "%s says its pixels start at byte %u, inside its header; the file is damaged.",
                 fileName, dataOffset);
        return false;
    }
    // height < 0: rows are stored top-down; INT_MIN has no row count.
    if (height == INT32_MIN) {
        snprintf(sentence, sentenceSize, "%s has a height of -2147483648 pixels, which no picture has; the file is "
                 "damaged.", fileName);
        return false;
    }
    int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (!PixelsFitInMemory(width, rows)) {
        TooLargeSentence(fileName, width, rows, sentence, sentenceSize);
        return false;
    }
    facts.width = width;
    facts.height = static_cast<int32_t>(rows);
    facts.topDown = height < 0;
    facts.dataOffset = dataOffset;
    return true;
}

void PackExportHeader(uint8_t header[kBmpHeaderSize], int32_t width, int32_t height, int32_t stride)
{
    auto imageSize = static_cast<uint32_t>(height * stride);
    memset(header, 0, kBmpHeaderSize);
    header[0] = 'B';
    header[1] = 'M';
    Write32(header + 2, kBmpHeaderSize + imageSize);  // file size
    Write32(header + 10, kBmpHeaderSize); // pixel data offset
    Write32(header + 14, 40);             // info header size
    Write32(header + 18, static_cast<uint32_t>(width));
    Write32(header + 22, static_cast<uint32_t>(height));
    Write16(header + 26, 1);              // planes
    Write16(header + 28, 24);             // bits per pixel
    Write32(header + 34, imageSize);      // compression 0 before it; resolutions, colours 0 after
}
