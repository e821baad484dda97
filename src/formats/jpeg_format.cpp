// Our own baseline JPEG encoder's parts (see jpeg_format.h).
#include "formats/jpeg_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "formats/jpeg_dct.h"

namespace {

// Pixel rows a strip holds at most: small enough that the strips of one
// picture keep every core busy to the end, large enough that a restart
// marker and the padding before it cost nothing to speak of.
enum : int32_t { kStripRows = 64 };

// The order coefficients are coded in: the natural index of each zigzag place.
const uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The standard's example tables (annex K.1), in natural order.
const uint8_t kBaseQuant[2][64] = {
    {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99},
    {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
     99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}};

// The standard's Huffman tables (annex K.3): the count of codes of each
// length from 1 to 16, then the symbols in order of their codes.
struct StandardHuffman {
    uint8_t counts[16];
    uint8_t symbols[162];
    int symbolCount;
};

const StandardHuffman kDcLuminance = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                  {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                                  12};
const StandardHuffman kDcChrominance = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                                    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                                    12};
const StandardHuffman kAcLuminance = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
     0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
     0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
     0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
     0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
     0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
     0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
     0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    162};
const StandardHuffman kAcChrominance = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
     0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
     0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
     0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
     0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
     0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
     0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
     0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    162};

JpegHuffmanTable TableOf(const StandardHuffman& standard)
{
    JpegHuffmanTable table;
    memcpy(table.counts, standard.counts, 16);
    memcpy(table.symbols, standard.symbols, static_cast<size_t>(standard.symbolCount));
    table.symbolCount = standard.symbolCount;
    return table;
}

void Put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void PutMarker(std::vector<uint8_t>& out, uint8_t marker, uint32_t length)
{
    out.push_back(0xFF);
    out.push_back(marker);
    Put16(out, length);
}

// Each symbol's code in `table` and its length, 0 for a symbol it gives
// none: codes are given out in order of length, each one more than the
// last, doubled at each step to a longer length (annex C).
void CodesOf(const JpegHuffmanTable& table, uint16_t code[256], uint8_t length[256])
{
    memset(code, 0, 256 * sizeof code[0]);
    memset(length, 0, 256);
    uint32_t next = 0;
    for (int n = 1, at = 0; n <= 16; ++n, next <<= 1) {
        for (int i = 0; i < table.counts[n - 1]; ++i, ++next, ++at) {
            code[table.symbols[at]] = static_cast<uint16_t>(next);
            length[table.symbols[at]] = static_cast<uint8_t>(n);
        }
    }
}

void PutHuffmanTable(std::vector<uint8_t>& out, uint8_t classAndId, const JpegHuffmanTable& table)
{
    out.push_back(classAndId);
    out.insert(out.end(), table.counts, table.counts + 16);
    out.insert(out.end(), table.symbols, table.symbols + table.symbolCount);
}

inline __m128i Pair(int16_t a, int16_t b) { return _mm_setr_epi16(a, b, a, b, a, b, a, b); }

// A row of one block (jpeg_dct.h).
struct SseOps {
    using V = __m128i;
    enum : int { kBlocks = 1 };
    static V Zero() { return _mm_setzero_si128(); }
    static V Set16(int16_t a) { return _mm_set1_epi16(a); }
    static V Set32(int32_t a) { return _mm_set1_epi32(a); }
    static V Pair(int16_t a, int16_t b) { return ::Pair(a, b); }
    static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    static V Madd16(V a, V b) { return _mm_madd_epi16(a, b); }
    static V Packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V Cmpeq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    template <int kShift>
    static V Srai16(V a) { return _mm_srai_epi16(a, kShift); }
    template <int kShift>
    static V Slli16(V a) { return _mm_slli_epi16(a, kShift); }
    template <int kShift>
    static V Srai32(V a) { return _mm_srai_epi32(a, kShift); }
    static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V UnpackLo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V UnpackHi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V UnpackLo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    static V LoadRow(const int16_t* const samples[], size_t at)
    {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples[0] + at));
    }
    static V Quotients(V x, const int32_t* half, const float* inverse)
    {
        return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_add_epi32(x, _mm_load_si128(reinterpret_cast<const __m128i*>(half)))),
                                           _mm_load_ps(inverse)));
    }
    static void StoreRow(V q, int16_t* const out[], int at) { _mm_store_si128(reinterpret_cast<__m128i*>(out[0] + at), q); }
    static void AddZeros(V isZero, uint64_t zeros[], int at)
    {
        zeros[0] |= static_cast<uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(isZero, isZero)) & 0xFF) << at;
    }
};

// Where each zigzag place's coefficient lies in the DCT's transposed output.
struct TransposedZigzag {
    uint8_t at[64];
    TransposedZigzag()
    {
        for (int k = 0; k < 64; ++k)
            at[k] = static_cast<uint8_t>(kZigzag[k] % 8 * 8 + kZigzag[k] / 8);
    }
};
const TransposedZigzag kTransposedZigzag;

// A block's nonzero coefficients as a mask in zigzag order, from the mask
// in the DCT's transposed order a byte at a time: for byte j's value b, the
// zigzag places of the bits b holds. Eight lookups and no loop over the 64.
struct ZigzagBits {
    uint64_t of[8][256];
    ZigzagBits()
    {
        uint8_t place[64];
        for (int k = 0; k < 64; ++k)
            place[kTransposedZigzag.at[k]] = static_cast<uint8_t>(k);
        for (int j = 0; j < 8; ++j)
            for (int b = 0; b < 256; ++b) {
                of[j][b] = 0;
                for (int i = 0; i < 8; ++i)
                    if (b >> i & 1)
                        of[j][b] |= uint64_t{1} << place[8 * j + i];
            }
    }
    uint64_t operator()(uint64_t transposed) const
    {
        uint64_t zigzag = 0;
        for (int j = 0; j < 8; ++j)
            zigzag |= of[j][transposed >> 8 * j & 0xFF];
        return zigzag;
    }
};
const ZigzagBits kZigzagBits;

}  // namespace

JpegHuffmanTables StandardJpegTables()
{
    JpegHuffmanTables tables;
    tables.table[0] = TableOf(kDcLuminance);
    tables.table[1] = TableOf(kAcLuminance);
    tables.table[2] = TableOf(kDcChrominance);
    tables.table[3] = TableOf(kAcChrominance);
    return tables;
}

namespace {

// Code lengths from frequencies as the standard's annex K.2 builds them:
// the two least frequent trees joined until one is left, a reserved symbol
// 256 of frequency 1 keeping any code from being all one bits; then codes
// over 16 bits long made 16 by moving pairs of them up a level. Only the
// first `symbols` of `counted` can occur; those counted 0 get no code.
JpegHuffmanTable FittedTable(const uint64_t counted[256], int symbols)
{
    uint64_t frequency[257] = {};
    int size[257] = {}, others[257];
    for (int i = 0; i < 257; ++i)
        others[i] = -1;
    for (int i = 0; i < symbols; ++i)
        frequency[i] = counted[i];
    frequency[256] = 1;
    for (;;) {
        // The least, the later on a tie: the reserved symbol, the last, then
        // goes deepest, and its code is the one left unused.
        int c1 = -1, c2 = -1;
        for (int i = 0; i < 257; ++i)
            if (frequency[i] != 0 && (c1 < 0 || frequency[i] <= frequency[c1]))
                c1 = i;
        for (int i = 0; i < 257; ++i)
            if (frequency[i] != 0 && i != c1 && (c2 < 0 || frequency[i] <= frequency[c2]))
                c2 = i;
        if (c2 < 0)
            break;
        frequency[c1] += frequency[c2];
        frequency[c2] = 0;
        for (++size[c1]; others[c1] >= 0; ++size[c1])
            c1 = others[c1];
        others[c1] = c2;
        for (++size[c2]; others[c2] >= 0; ++size[c2])
            c2 = others[c2];
    }
    // A tree of 257 leaves is at most 256 deep.
    int bits[257] = {};
    for (int i = 0; i < 257; ++i)
        if (size[i] != 0)
            ++bits[size[i]];
    for (int i = 256; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    }
    int longest = 16;
    while (longest > 0 && bits[longest] == 0)
        --longest;
    if (longest > 0)
        --bits[longest];  // the reserved symbol's code goes
    JpegHuffmanTable table;
    for (int i = 1; i <= 16; ++i)
        table.counts[i - 1] = static_cast<uint8_t>(bits[i]);
    for (int length = 1; length <= 256; ++length)
        for (int i = 0; i < symbols; ++i)
            if (size[i] == length)
                table.symbols[table.symbolCount++] = static_cast<uint8_t>(i);
    return table;
}

}  // namespace

JpegHuffmanTables FittedJpegTables(const JpegSymbolCounts& counts)
{
    JpegHuffmanTables tables;
    // A DC symbol is a difference's size, 0 to 11.
    for (int t = 0; t < 4; ++t)
        tables.table[t] = FittedTable(counts.count[t], t % 2 == 1 ? 256 : 12);
    return tables;
}

bool JpegStripCounted(const JpegLayout& layout, int32_t k)
{
    const int64_t n = kJpegCountedStrips, strips = layout.strips;
    if (strips <= n)
        return true;
    // Strip k is counted when it holds the middle of one of n equal spans.
    for (int64_t i = 0; i < n; ++i)
        if ((2 * i + 1) * strips / (2 * n) == k)
            return true;
    return false;
}

JpegHuffmanTables JpegTablesFor(const JpegLayout& layout, const JpegSymbolCounts& counted)
{
    if (layout.strips <= kJpegCountedStrips)
        return FittedJpegTables(counted);
    JpegSymbolCounts every = counted;
    for (int t = 0; t < 4; ++t) {
        uint64_t* count = every.count[t];
        if (t % 2 == 0) {
            // A DC difference's size: 0 to 11.
            for (int s = 0; s < 12; ++s)
                count[s] = std::max<uint64_t>(count[s], 1);
            continue;
        }
        // An AC value's run (0 to 15) and size (1 to 10), the end of a block
        // and the run of 16 zeros.
        count[0x00] = std::max<uint64_t>(count[0x00], 1);
        count[0xF0] = std::max<uint64_t>(count[0xF0], 1);
        for (int run = 0; run < 16; ++run)
            for (int size = 1; size <= 10; ++size)
                count[run << 4 | size] = std::max<uint64_t>(count[run << 4 | size], 1);
    }
    return FittedJpegTables(every);
}

bool JpegTablesMisfit(const JpegHuffmanTables& tables, const JpegSymbolCounts& every, JpegHuffmanTables& fitted)
{
    // The bits of the scan's codes in some tables, and the bytes of their
    // symbols in DHT; a value's extra bits are the same in any tables.
    fitted = FittedJpegTables(every);
    uint64_t bits[2] = {}, extra = 0;
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 256; ++i)
            extra += every.count[t][i] * static_cast<uint64_t>(t % 2 == 0 ? i : i & 15);
        for (int which = 0; which < 2; ++which) {
            const JpegHuffmanTable& table = (which == 0 ? tables : fitted).table[t];
            uint16_t code[256];
            uint8_t length[256];
            CodesOf(table, code, length);
            for (int i = 0; i < 256; ++i) {
                if (every.count[t][i] != 0 && length[i] == 0)
                    return true;  // coded in `tables` with no code
                bits[which] += every.count[t][i] * length[i];
            }
            bits[which] += 8 * static_cast<uint64_t>(table.symbolCount);
        }
    }
    return bits[0] > bits[1] && (bits[0] - bits[1]) * kJpegMisfitParts > bits[1] + extra;
}

bool PlanJpeg(int32_t width, int32_t height, int quality, JpegChroma chroma, JpegLayout& layout)
{
    if (width < 1 || height < 1 || width > kMostJpegSide || height > kMostJpegSide || quality < 1 || quality > 100)
        return false;
    layout = JpegLayout();
    layout.width = width;
    layout.height = height;
    layout.quality = quality;
    layout.subsampled = JpegSubsampled(quality, chroma);
    layout.mcuSide = layout.subsampled ? 16 : 8;
    layout.mcusPerRow = (width + layout.mcuSide - 1) / layout.mcuSide;
    layout.mcuRows = (height + layout.mcuSide - 1) / layout.mcuSide;
    // A restart interval counts at most 65535 MCUs.
    layout.mcuRowsPerStrip = std::max(1, std::min(kStripRows / layout.mcuSide, 0xFFFF / layout.mcusPerRow));
    layout.strips = (layout.mcuRows + layout.mcuRowsPerStrip - 1) / layout.mcuRowsPerStrip;
    layout.restartInterval = static_cast<uint16_t>(layout.mcusPerRow * layout.mcuRowsPerStrip);
    return true;
}

JpegStripSpan JpegStripRows(const JpegLayout& layout, int32_t k)
{
    const int32_t rows = layout.mcuRowsPerStrip * layout.mcuSide;
    return {k * rows, std::min((k + 1) * rows, layout.height)};
}

void JpegQuantTable(int quality, int table, uint16_t out[64])
{
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int i = 0; i < 64; ++i)
        out[i] = static_cast<uint16_t>(std::min(255, std::max(1, (kBaseQuant[table][i] * scale + 50) / 100)));
}

std::vector<uint8_t> JpegHeadBytes(const JpegLayout& layout, const JpegHuffmanTables& tables,
                                   const std::vector<uint8_t>& segments)
{
    std::vector<uint8_t> out = {0xFF, 0xD8};
    // JFIF 1.1, no units, an aspect of 1:1, no thumbnail; JFIF's APP0 comes first.
    PutMarker(out, 0xE0, 16);
    out.insert(out.end(), {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    out.insert(out.end(), segments.begin(), segments.end());

    PutMarker(out, 0xDB, 2 + 2 * 65);
    for (int t = 0; t < 2; ++t) {
        uint16_t table[64];
        JpegQuantTable(layout.quality, t, table);
        out.push_back(static_cast<uint8_t>(t));  // 8-bit entries, table t
        for (int k = 0; k < 64; ++k)
            out.push_back(static_cast<uint8_t>(table[kZigzag[k]]));
    }

    PutMarker(out, 0xC0, 8 + 3 * 3);
    out.push_back(8);
    Put16(out, static_cast<uint32_t>(layout.height));
    Put16(out, static_cast<uint32_t>(layout.width));
    out.push_back(3);
    // Y, Cb, Cr: their ids, sampling (horizontal, vertical) and tables.
    out.insert(out.end(), {1, static_cast<uint8_t>(layout.subsampled ? 0x22 : 0x11), 0, 2, 0x11, 1, 3, 0x11, 1});

    uint32_t dhtLength = 2;
    for (const JpegHuffmanTable& table : tables.table)
        dhtLength += 17 + static_cast<uint32_t>(table.symbolCount);
    PutMarker(out, 0xC4, dhtLength);
    static const uint8_t kClassAndId[4] = {0x00, 0x10, 0x01, 0x11};
    for (int t = 0; t < 4; ++t)
        PutHuffmanTable(out, kClassAndId[t], tables.table[t]);

    PutMarker(out, 0xDD, 4);
    Put16(out, layout.restartInterval);

    PutMarker(out, 0xDA, 6 + 2 * 3);
    out.push_back(3);
    out.insert(out.end(), {1, 0x00, 2, 0x11, 3, 0x11});
    out.insert(out.end(), {0, 63, 0});  // the whole spectrum, no approximation
    return out;
}

void BuildJpegColour(const TintTables& tables, JpegColour& colour)
{
    for (int c = 0; c < 3; ++c)
        for (int x = 0; x < 256; ++x)
            colour.tinted[c][x] = tables.channel[c][x];
}

namespace {

// The most one block can take: 65 symbols (its DC, 63 AC values, an
// end-of-block), and 11 + 63 x 10 extra bits, in at most 11 words; coded,
// 16 + 10 bits for each of its 64 coefficients, every byte stuffed.
enum : size_t { kMostBlockSymbols = 65, kMostBlockExtraWords = 11, kMostBlockBytes = 2 * (64 * 26 / 8 + 1) };

// The blocks of an MCU: its luminance ones, then one of each chroma.
inline int BlocksPerMcu(const JpegLayout& layout) { return layout.subsampled ? 6 : 3; }

// The MCU rows of strip k: from `first` to before `end`.
struct StripRows {
    int32_t first, end;
};
inline StripRows RowsOf(const JpegLayout& layout, int32_t k)
{
    const int32_t first = k * layout.mcuRowsPerStrip;
    return {first, std::min(first + layout.mcuRowsPerStrip, layout.mcuRows)};
}

}  // namespace

bool JpegHasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

bool JpegHasAvx512Vbmi()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
               __builtin_cpu_supports("avx512vbmi") != 0;
    }();
    return has;
}

JpegStripTransform::JpegStripTransform(const JpegLayout& layout) : JpegStripTransform(layout, true) {}

JpegStripTransform::JpegStripTransform(const JpegLayout& layout, bool wide)
    : layout_(layout),
      twoAtOnce_(wide && JpegHasAvx2()),
      wideTint_(wide && JpegHasAvx512Vbmi()),
      paddedWidth_(layout.mcusPerRow * layout.mcuSide),
      chromaWidth_(layout.mcusPerRow * 8)
{
    y_.resize(static_cast<size_t>(paddedWidth_) * layout.mcuSide);
    cb_.resize(static_cast<size_t>(chromaWidth_) * 8);
    cr_.resize(cb_.size());
    for (int t = 0; t < 2; ++t) {
        uint16_t table[64];
        JpegQuantTable(layout.quality, t, table);
        for (int i = 0; i < 64; ++i) {
            // In the DCT's transposed order.
            const int32_t d = 8 * table[i % 8 * 8 + i / 8];
            half_[t][i] = d / 2;
            // The next float above 1 / d: with it, the truncated product of
            // any dividend below 2^16 is the exact integer quotient.
            inverse_[t][i] = std::nextafter(1.0f / static_cast<float>(d), 1.0f);
        }
    }
    if (layout.subsampled) {
        cbFull_.resize(y_.size());
        crFull_.resize(y_.size());
    }
    for (std::vector<int16_t>& channel : row_)
        channel.resize(static_cast<size_t>(paddedWidth_));
}

void JpegStripTransform::ConvertRows(const JpegSource& source, int32_t top)
{
    // Each of Y, Cb and Cr (kJpegYcc) as two products of pairs of channels,
    // (b, g), (r, g) and (b, r): the weights past a signed 16-bit factor
    // (green's of Y, blue's of Cb, red's of Cr) go half into each.
    const int32_t (&w)[3][3] = kJpegYcc;
    static_assert(kJpegYcc[0][1] % 2 == 0 && kJpegYcc[1][0] % 2 == 0 && kJpegYcc[2][2] % 2 == 0, "halved exactly");
    const __m128i yBg = Pair(w[0][0], w[0][1] / 2), yRg = Pair(w[0][2], w[0][1] / 2);
    const __m128i cbBg = Pair(w[1][0] / 2, w[1][1]), cbBr = Pair(w[1][0] / 2, w[1][2]);
    const __m128i crRg = Pair(w[2][2] / 2, w[2][1]), crBr = Pair(w[2][0], w[2][2] / 2);
    const __m128i half = _mm_set1_epi32(32768), belowHalf = _mm_set1_epi32(32767), shift = _mm_set1_epi16(128);
    const JpegColour& c = *source.colour;
    const int32_t width = layout_.width, side = layout_.mcuSide;
    int16_t* blue = row_[0].data();
    int16_t* green = row_[1].data();
    int16_t* red = row_[2].data();
    for (int32_t r = 0; r < side; ++r) {
        // Rows past the picture's end repeat its last row.
        const int32_t y = std::min(top + r, layout_.height - 1);
        const uint8_t* p =
            source.pixels + static_cast<size_t>(layout_.height - 1 - source.rowsBelow - y) * source.stride;
        if (wideTint_) {
            int16_t* const out[3] = {blue, green, red};
            JpegTintRowAvx512(p, width, c, out);
        } else {
            for (int32_t x = 0; x < width; ++x, p += 3) {
                blue[x] = c.tinted[0][p[0]];
                green[x] = c.tinted[1][p[1]];
                red[x] = c.tinted[2][p[2]];
            }
        }
        // Columns past the picture's end repeat its last column.
        for (int32_t x = width; x < paddedWidth_; ++x) {
            blue[x] = blue[width - 1];
            green[x] = green[width - 1];
            red[x] = red[width - 1];
        }
        int16_t* yRow = &y_[static_cast<size_t>(r) * paddedWidth_];
        for (int32_t x = 0; x < paddedWidth_; x += 8) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x));
            const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + x));
            const __m128i rr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x));
            const __m128i bgLow = _mm_unpacklo_epi16(b, g), bgHigh = _mm_unpackhi_epi16(b, g);
            const __m128i rgLow = _mm_unpacklo_epi16(rr, g), rgHigh = _mm_unpackhi_epi16(rr, g);
            const __m128i brLow = _mm_unpacklo_epi16(b, rr), brHigh = _mm_unpackhi_epi16(b, rr);
            auto sum = [](__m128i x1, __m128i f1, __m128i x2, __m128i f2) {
                return _mm_add_epi32(_mm_madd_epi16(x1, f1), _mm_madd_epi16(x2, f2));
            };
            const __m128i yLow = _mm_srai_epi32(_mm_add_epi32(sum(bgLow, yBg, rgLow, yRg), half), 16);
            const __m128i yHigh = _mm_srai_epi32(_mm_add_epi32(sum(bgHigh, yBg, rgHigh, yRg), half), 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(yRow + x), _mm_sub_epi16(_mm_packs_epi32(yLow, yHigh), shift));
            const __m128i cbLow = sum(bgLow, cbBg, brLow, cbBr), cbHigh = sum(bgHigh, cbBg, brHigh, cbBr);
            const __m128i crLow = sum(rgLow, crRg, brLow, crBr), crHigh = sum(rgHigh, crRg, brHigh, crBr);
            if (layout_.subsampled) {
                int32_t* cbRow = &cbFull_[static_cast<size_t>(r) * paddedWidth_ + x];
                int32_t* crRow = &crFull_[static_cast<size_t>(r) * paddedWidth_ + x];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(cbRow), cbLow);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(cbRow + 4), cbHigh);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(crRow), crLow);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(crRow + 4), crHigh);
            } else {
                // Half rounds down, so that the greatest (127.5) stays 127.
                auto scaled = [&](__m128i low, __m128i high) {
                    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(low, belowHalf), 16),
                                           _mm_srai_epi32(_mm_add_epi32(high, belowHalf), 16));
                };
                const size_t at = static_cast<size_t>(r) * chromaWidth_ + x;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&cb_[at]), scaled(cbLow, cbHigh));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&cr_[at]), scaled(crLow, crHigh));
            }
        }
    }
    if (!layout_.subsampled)
        return;
    // Each chroma sample is the mean of the 2 x 2 it stands for, rounded once.
    for (int32_t r = 0; r < 8; ++r) {
        const int32_t* cb0 = &cbFull_[static_cast<size_t>(2 * r) * paddedWidth_];
        const int32_t* cr0 = &crFull_[static_cast<size_t>(2 * r) * paddedWidth_];
        const int32_t* cb1 = cb0 + paddedWidth_;
        const int32_t* cr1 = cr0 + paddedWidth_;
        int16_t* cbRow = &cb_[static_cast<size_t>(r) * chromaWidth_];
        int16_t* crRow = &cr_[static_cast<size_t>(r) * chromaWidth_];
        for (int32_t x = 0; x < chromaWidth_; ++x) {
            cbRow[x] = static_cast<int16_t>((cb0[2 * x] + cb0[2 * x + 1] + cb1[2 * x] + cb1[2 * x + 1] + 131071) >> 18);
            crRow[x] = static_cast<int16_t>((cr0[2 * x] + cr0[2 * x + 1] + cr1[2 * x] + cr1[2 * x + 1] + 131071) >> 18);
        }
    }
}

namespace {

// Moves whole bytes of the bit buffer out, an 0xFF followed by 0x00 as
// the coded data requires, keeping fewer than 8 bits.
inline void FlushBytes(uint64_t bits, int& count, uint8_t*& at)
{
    while (count >= 8) {
        count -= 8;
        const uint8_t byte = static_cast<uint8_t>(bits >> count);
        *at++ = byte;
        if (byte == 0xFF)
            *at++ = 0;
    }
}

// Moves a full 64-bit word out: most hold no 0xFF byte and go out whole.
inline void FlushWord(uint64_t word, uint8_t*& at)
{
    const uint64_t inverse = ~word;
    if (((inverse - 0x0101010101010101u) & ~inverse & 0x8080808080808080u) == 0) {
        const uint64_t big = __builtin_bswap64(word);
        memcpy(at, &big, 8);
        at += 8;
        return;
    }
    int n = 64;
    FlushBytes(word, n, at);
}

// A value's size class: the bits its magnitude takes.
inline int SizeOf(int32_t v)
{
    const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// Bits go in at the right; a code and its extra bits (at most 27) that do
// not fit the word's room fill it, and the word goes out.
inline void PutBits(uint32_t value, int n, uint64_t& bits, int& room, uint8_t*& at)
{
    if (n < room) {
        bits = bits << n | value;
        room -= n;
        return;
    }
    const int spill = n - room;
    FlushWord(bits << (room - 1) << 1 | static_cast<uint64_t>(value) >> spill, at);
    bits = value;
    room = 64 - spill;
}

// The room a strip's coded bytes may take at most.
size_t MostStripBytes(const JpegLayout& layout, int32_t k)
{
    const StripRows rows = RowsOf(layout, k);
    return static_cast<size_t>(rows.end - rows.first) * layout.mcusPerRow * BlocksPerMcu(layout) * kMostBlockBytes + 16;
}

// A strip's end: its last byte filled with one bits, then the restart
// marker RSTn (n = k mod 8) unless k is the last strip.
void EndStrip(const JpegLayout& layout, int32_t k, uint64_t bits, int room, uint8_t*& at)
{
    int count = 64 - room;
    if (count % 8 != 0) {
        const int pad = 8 - count % 8;
        bits = bits << pad | ((1u << pad) - 1);
        count += pad;
    }
    FlushBytes(bits, count, at);
    if (k + 1 < layout.strips) {
        *at++ = 0xFF;
        *at++ = static_cast<uint8_t>(0xD0 + k % 8);
    }
}

}  // namespace

template <bool kCoded>
void JpegStripTransform::Block(const int16_t* samples, size_t stride, int component)
{
    const int t = component == 0 ? 0 : 1;
    // The quantized coefficients in the DCT's transposed order, and which
    // of them are not 0, in zigzag order.
    alignas(16) int16_t quantized[64];
    uint64_t nonzero = 0;
    if (samples == nullptr) {
        quantized[0] = static_cast<int16_t>(lastDc_[component]);
    } else {
        int16_t* const out[1] = {quantized};
        uint64_t zeros = 0;
        jpeg_dct::QuantizedBlocks<SseOps>(&samples, stride, half_[t], inverse_[t], out, &zeros);
        nonzero = kZigzagBits(~zeros);
    }
    Walk<kCoded>(quantized, nonzero, component);
}

template <bool kCoded>
void JpegStripTransform::SixBlocks(const int16_t* const samples[6], const size_t stride[6], const int component[6],
                                   const int pair[3][2])
{
    alignas(16) int16_t quantized[6][64];
    uint64_t zeros[6];
    for (int p = 0; p < 3; ++p) {
        const int first = pair[p][0], second = pair[p][1], t = component[first] == 0 ? 0 : 1;
        const int16_t* const two[2] = {samples[first], samples[second]};
        int16_t* const out[2] = {quantized[first], quantized[second]};
        uint64_t zero[2];
        JpegTwoBlocksAvx2(two, stride[first], half_[t], inverse_[t], out, zero);
        zeros[first] = zero[0];
        zeros[second] = zero[1];
    }
    for (int i = 0; i < 6; ++i)
        Walk<kCoded>(quantized[i], kZigzagBits(~zeros[i]), component[i]);
}

template <bool kCoded>
void JpegStripTransform::Walk(const int16_t* quantized, uint64_t nonzero, int component)
{
    const int dc = component == 0 ? 0 : 2, ac = dc + 1;
    // The block's symbols in coding order, each with its value's extra bits
    // (a negative value as its one's complement): the DC difference, each
    // nonzero AC value after its run of zeros (a run of 16 as its own
    // symbol), and the end of the block where it ends early.
    auto walk = [&](auto put) __attribute__((always_inline)) {
        auto put_value = [&](int table, int run, int32_t v) __attribute__((always_inline)) {
            const int size = SizeOf(v);
            put(table, run << 4 | size, static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << size) - 1), size);
        };
        put_value(dc, 0, quantized[0] - lastDc_[component]);
        lastDc_[component] = quantized[0];
        int last = 0;
        for (uint64_t rest = nonzero & ~uint64_t{1}; rest != 0; rest &= rest - 1) {
            const int k = __builtin_ctzll(rest);
            int run = k - last - 1;
            for (; run >= 16; run -= 16)
                put(ac, 0xF0, 0, 0);
            put_value(ac, run, quantized[kTransposedZigzag.at[k]]);
            last = k;
        }
        if (last != 63)
            put(ac, 0x00, 0, 0);
    };

    if (kCoded) {
        // Each symbol's code at once, its extra bits after it.
        const uint16_t (*code)[256] = coder_->code_;
        const uint8_t (*length)[256] = coder_->length_;
        uint64_t bits = codedBits_;
        int room = codedRoom_;
        uint8_t* at = codedAt_;
        uint64_t (*counts)[256] = counts_->count;
        walk([&](int table, int s, uint32_t extra, int size) {
            ++counts[table][s];
            PutBits(static_cast<uint32_t>(code[table][s]) << size | extra, length[table][s] + size, bits, room, at);
        });
        codedBits_ = bits;
        codedRoom_ = room;
        codedAt_ = at;
        return;
    }

    // Each symbol a byte, counted; its extra bits into the word, a full
    // word going out.
    uint64_t (*counts)[256] = counts_->count;
    uint8_t* symbol = symbolAt_;
    uint64_t bits = extraBits_;
    int room = extraRoom_;
    walk([&](int table, int s, uint32_t extra, int size) {
        *symbol++ = static_cast<uint8_t>(s);
        ++counts[table][s];
        if (size < room) {
            bits = bits << size | extra;
            room -= size;
            return;
        }
        const int spill = size - room;
        const uint64_t word = (bits << (room - 1) << 1) | static_cast<uint64_t>(extra) >> spill;
        memcpy(extraAt_, &word, 8);
        extraAt_ += 8;
        bits = extra;
        room = 64 - spill;
    });
    symbolAt_ = symbol;
    extraBits_ = bits;
    extraRoom_ = room;
}

template <bool kCoded>
void JpegStripTransform::McuRow(int32_t top)
{
    const size_t yStride = static_cast<size_t>(paddedWidth_), cStride = static_cast<size_t>(chromaWidth_);
    int32_t m = 0;
    if (twoAtOnce_ && !layout_.subsampled) {
        // Two MCUs at a time, each component's two blocks transformed together.
        static const int kPairs[3][2] = {{0, 3}, {1, 4}, {2, 5}};
        static const int kComponents[6] = {0, 1, 2, 0, 1, 2};
        const size_t strides[6] = {yStride, cStride, cStride, yStride, cStride, cStride};
        for (; m + 1 < layout_.mcusPerRow; m += 2) {
            const size_t x = static_cast<size_t>(m) * 8;
            const int16_t* const samples[6] = {&y_[x], &cb_[x], &cr_[x], &y_[x + 8], &cb_[x + 8], &cr_[x + 8]};
            SixBlocks<kCoded>(samples, strides, kComponents, kPairs);
        }
    }
    for (; m < layout_.mcusPerRow; ++m) {
        if (layout_.subsampled) {
            // A block wholly past the picture's right or bottom edge is
            // coded as a flat one of the block before it: the decoder
            // crops it away, and it then costs a few bits.
            const int16_t* y = &y_[static_cast<size_t>(m) * 16];
            const bool right = m * 16 + 8 < layout_.width, below = top + 8 < layout_.height;
            if (twoAtOnce_ && right && below) {
                // The luminance's blocks two by two, then the chroma's.
                static const int kPairs[3][2] = {{0, 1}, {2, 3}, {4, 5}};
                static const int kComponents[6] = {0, 0, 0, 0, 1, 2};
                const size_t strides[6] = {yStride, yStride, yStride, yStride, cStride, cStride};
                const size_t x = static_cast<size_t>(m) * 8;
                const int16_t* const samples[6] = {y, y + 8, y + 8 * yStride, y + 8 * yStride + 8, &cb_[x], &cr_[x]};
                SixBlocks<kCoded>(samples, strides, kComponents, kPairs);
                continue;
            }
            Block<kCoded>(y, yStride, 0);
            Block<kCoded>(right ? y + 8 : nullptr, yStride, 0);
            Block<kCoded>(below ? y + 8 * yStride : nullptr, yStride, 0);
            Block<kCoded>(right && below ? y + 8 * yStride + 8 : nullptr, yStride, 0);
        } else {
            Block<kCoded>(&y_[static_cast<size_t>(m) * 8], yStride, 0);
        }
        Block<kCoded>(&cb_[static_cast<size_t>(m) * 8], cStride, 1);
        Block<kCoded>(&cr_[static_cast<size_t>(m) * 8], cStride, 2);
    }
}

void JpegStripTransform::Run(const JpegSource& source, int32_t k, JpegStripSymbols& out, JpegSymbolCounts& counts)
{
    out.symbolCount = 0;
    out.extraWords = 0;
    extraBits_ = 0;
    extraRoom_ = 64;
    counts_ = &counts;
    // A restart begins the DC predictions afresh.
    lastDc_[0] = lastDc_[1] = lastDc_[2] = 0;
    const StripRows rows = RowsOf(layout_, k);
    // Room for the most the strip can take, made once: the pages it never
    // reaches are never touched, and growing would copy what it holds.
    const size_t blocks = static_cast<size_t>(rows.end - rows.first) * layout_.mcusPerRow * BlocksPerMcu(layout_);
    out.symbols.resize(blocks * kMostBlockSymbols, 0);
    out.extra.resize(8 * (blocks * kMostBlockExtraWords + 1), 0);
    symbolAt_ = out.symbols.data();
    extraAt_ = out.extra.data();
    for (int32_t row = rows.first; row < rows.end; ++row) {
        ConvertRows(source, row * layout_.mcuSide);
        McuRow<false>(row * layout_.mcuSide);
    }
    out.symbolCount = static_cast<size_t>(symbolAt_ - out.symbols.data());
    out.extraWords = static_cast<size_t>(extraAt_ - out.extra.data()) / 8;
    // The last word's bits go to its top; there is room for it.
    if (extraRoom_ < 64) {
        const uint64_t word = extraBits_ << extraRoom_;
        memcpy(out.extra.data() + 8 * out.extraWords++, &word, 8);
    }
    counts_ = nullptr;
}

void JpegStripTransform::RunCoded(const JpegSource& source, int32_t k, const JpegStripCoder& coder, JpegBytes& out,
                                  JpegSymbolCounts& counts)
{
    counts_ = &counts;
    const size_t most = MostStripBytes(layout_, k);
    if (most > out.room.size())
        out.room.resize(most, 0);
    coder_ = &coder;
    codedBits_ = 0;
    codedRoom_ = 64;
    codedAt_ = out.room.data();
    lastDc_[0] = lastDc_[1] = lastDc_[2] = 0;
    const StripRows rows = RowsOf(layout_, k);
    for (int32_t row = rows.first; row < rows.end; ++row) {
        ConvertRows(source, row * layout_.mcuSide);
        McuRow<true>(row * layout_.mcuSide);
    }
    EndStrip(layout_, k, codedBits_, codedRoom_, codedAt_);
    out.size = static_cast<size_t>(codedAt_ - out.room.data());
    coder_ = nullptr;
    counts_ = nullptr;
}

JpegStripCoder::JpegStripCoder(const JpegLayout& layout, const JpegHuffmanTables& tables) : layout_(layout)
{
    for (int t = 0; t < 4; ++t)
        CodesOf(tables.table[t], code_[t], length_[t]);
}

void JpegStripCoder::Code(const JpegStripSymbols& symbols, int32_t k, JpegBytes& out)
{
    const StripRows rows = RowsOf(layout_, k);
    const int perMcu = BlocksPerMcu(layout_), lumaBlocks = perMcu - 2;
    const size_t blocks = static_cast<size_t>(rows.end - rows.first) * layout_.mcusPerRow * perMcu;
    const size_t most = MostStripBytes(layout_, k);
    out.size = 0;
    if (most > out.room.size())
        out.room.resize(most, 0);
    uint8_t* at = out.room.data();

    const uint8_t* symbol = symbols.symbols.data();
    // The extra bits are read from `word`, whose lowest `left` bits are unread.
    const uint8_t* nextWord = symbols.extra.data();
    uint64_t word = 0;
    int left = 0;
    auto extra = [&](int n) -> uint32_t {
        if (n <= left) {
            left -= n;
            return static_cast<uint32_t>(word >> left) & ((1u << n) - 1);
        }
        const uint32_t high = static_cast<uint32_t>(word) & ((1u << left) - 1);
        n -= left;
        memcpy(&word, nextWord, 8);
        nextWord += 8;
        left = 64 - n;
        return high << n | static_cast<uint32_t>(word >> left);
    };
    uint64_t bits = 0;
    int room = 64;
    auto put = [&](uint32_t value, int n) { PutBits(value, n, bits, room, at); };
    for (size_t b = 0; b < blocks; ++b) {
        const int dc = static_cast<int>(b % perMcu) < lumaBlocks ? 0 : 2, ac = dc + 1;
        int s = *symbol++;
        put(static_cast<uint32_t>(code_[dc][s]) << s | extra(s), length_[dc][s] + s);
        // Each symbol moves on by its run and the value it codes; the end of
        // the block ends it early.
        for (int place = 1; place < 64; place += (s >> 4) + 1) {
            s = *symbol++;
            const int size = s & 15;
            put(static_cast<uint32_t>(code_[ac][s]) << size | extra(size), length_[ac][s] + size);
            if (s == 0x00)
                break;
        }
    }

    EndStrip(layout_, k, bits, room, at);
    out.size = static_cast<size_t>(at - out.room.data());
}
