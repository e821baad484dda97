// Row filters and chunk framing of a PNG file. The CRC is zlib's, the one
// the format names.
#include "picture/png_format.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

namespace {

inline int Paeth(int a, int b, int c)
{
    const int pa = abs(b - c), pb = abs(a - c), pc = abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

inline uint32_t SignedSize(int residual) { return static_cast<uint32_t>(abs(static_cast<int8_t>(residual))); }

}  // namespace

void AddFilterCosts(const uint8_t* up, const uint8_t* cur, size_t count, uint64_t costs[kFilterCount])
{
    // Sums of a few thousand bytes fit 32 bits; they go to the 64-bit totals
    // a block at a time so that the loop keeps them in registers.
    for (size_t start = 0; start < count; start += 1 << 20) {
        const size_t end = count - start < (1 << 20) ? count : start + (1 << 20);
        uint32_t none = 0, sub = 0, upper = 0, average = 0, paeth = 0;
        for (size_t i = start; i < end; ++i) {
            const int x = cur[i], a = cur[i - 3], b = up[i], c = up[i - 3];
            none += SignedSize(x);
            sub += SignedSize(x - a);
            upper += SignedSize(x - b);
            average += SignedSize(x - ((a + b) >> 1));
            paeth += SignedSize(x - Paeth(a, b, c));
        }
        costs[kFilterNone] += none;
        costs[kFilterSub] += sub;
        costs[kFilterUp] += upper;
        costs[kFilterAverage] += average;
        costs[kFilterPaeth] += paeth;
    }
}

PngFilter CheapestFilter(const uint64_t costs[kFilterCount])
{
    int best = kFilterNone;
    for (int f = kFilterSub; f < kFilterCount; ++f)
        if (costs[f] < costs[best])
            best = f;
    return static_cast<PngFilter>(best);
}

void ApplyFilter(PngFilter filter, const uint8_t* up, const uint8_t* cur, size_t count, uint8_t* out)
{
    switch (filter) {
    case kFilterNone:
        memcpy(out, cur, count);
        break;
    case kFilterSub:
        for (size_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - cur[i - 3]);
        break;
    case kFilterUp:
        for (size_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - up[i]);
        break;
    case kFilterAverage:
        for (size_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - ((cur[i - 3] + up[i]) >> 1));
        break;
    default:
        for (size_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - Paeth(cur[i - 3], up[i], up[i - 3]));
        break;
    }
}

void PutBigEndian(uint32_t value, uint8_t out[4])
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

void AppendPngChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size)
{
    uint8_t word[4];
    PutBigEndian(static_cast<uint32_t>(size), word);
    out.insert(out.end(), word, word + 4);
    out.insert(out.end(), type, type + 4);
    if (size != 0)
        out.insert(out.end(), data, data + size);
    // The CRC covers the type and the body, not the length.
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (size != 0)
        crc = crc32_z(crc, data, size);  // a null body would restart the CRC
    PutBigEndian(static_cast<uint32_t>(crc), word);
    out.insert(out.end(), word, word + 4);
}

std::vector<uint8_t> PngHeadBytes(uint32_t width, uint32_t height, const std::vector<PngChunk>& chunks)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> bytes(kSignature, kSignature + 8);
    uint8_t header[13];
    PutBigEndian(width, header);
    PutBigEndian(height, header + 4);
    header[8] = 8;   // bits a channel
    header[9] = 2;   // colour type: RGB
    header[10] = 0;  // deflate
    header[11] = 0;  // the five filters, chosen per row
    header[12] = 0;  // no interlacing
    AppendPngChunk(bytes, "IHDR", header, sizeof header);
    for (const PngChunk& chunk : chunks)
        AppendPngChunk(bytes, chunk.type.c_str(), chunk.data.data(), chunk.data.size());
    return bytes;
}

std::vector<uint8_t> PngEndBytes()
{
    std::vector<uint8_t> bytes;
    AppendPngChunk(bytes, "IEND", nullptr, 0);
    return bytes;
}

void ZlibHeader(int level, uint8_t header[2])
{
    // Deflate with a 32 KB window; the level's class (fastest, fast, default,
    // best) is only a hint to the reader; the check bits make the pair a
    // multiple of 31.
    const int levelClass = level <= 1 ? 0 : level <= 5 ? 1 : level == 6 ? 2 : 3;
    header[0] = 0x78;
    const int flags = levelClass << 6;
    header[1] = static_cast<uint8_t>(flags + (31 - (0x78 * 256 + flags) % 31) % 31);
}
