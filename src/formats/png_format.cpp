// Row filters and chunk framing of a PNG file. The CRC is zlib's, the one
// the format names.
#include "formats/png_format.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline int Paeth(int a, int b, int c)
{
    const int pa = abs(b - c), pb = abs(a - c), pc = abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

inline uint32_t SignedSize(int residual) { return static_cast<uint32_t>(abs(static_cast<int8_t>(residual))); }

#if defined(__SSE2__)
// Sixteen bytes at once. A residual's size as a signed byte is the smaller
// of it and its negation taken unsigned; Average's floor is the rounded-up
// mean less the low bit both sums lose.
inline __m128i Load(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

inline __m128i Average(__m128i a, __m128i b)
{
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

inline __m128i Distance(__m128i x, __m128i y) { return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x)); }

inline __m128i AtMost(__m128i x, __m128i y) { return _mm_cmpeq_epi8(_mm_min_epu8(x, y), x); }

inline __m128i Choose(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Paeth in bytes: pa = |b - c| and pb = |a - c| fit, and pc = |(b - c) +
// (a - c)| is pa + pb when the two differences share a sign, else |pa - pb|.
// A sum past 255 saturates there, which keeps it at least pa and pb, as
// the comparisons need.
inline __m128i PaethOf(__m128i a, __m128i b, __m128i c)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i pa = Distance(b, c), pb = Distance(a, c);
    const __m128i bAtLeastC = _mm_cmpeq_epi8(_mm_subs_epu8(c, b), zero);
    const __m128i aAtLeastC = _mm_cmpeq_epi8(_mm_subs_epu8(c, a), zero);
    const __m128i apart = _mm_xor_si128(bAtLeastC, aAtLeastC);
    const __m128i pc = Choose(apart, Distance(pa, pb), _mm_adds_epu8(pa, pb));
    const __m128i takeA = _mm_and_si128(AtMost(pa, pb), AtMost(pa, pc));
    return Choose(takeA, a, Choose(AtMost(pb, pc), b, c));
}

// The sixteen residuals' sizes, summed in the two 64-bit halves.
inline __m128i SignedSizes(__m128i x, __m128i prediction)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i r = _mm_sub_epi8(x, prediction);
    return _mm_sad_epu8(_mm_min_epu8(r, _mm_sub_epi8(zero, r)), zero);
}

inline uint64_t Halves(__m128i v)
{
    uint64_t h[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), v);
    return h[0] + h[1];
}

inline void Store(uint8_t* out, __m128i x, __m128i prediction)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_sub_epi8(x, prediction));
}
#endif

}  // namespace

void AddFilterCosts(const uint8_t* up, const uint8_t* cur, size_t count, size_t bpp, uint64_t costs[kFilterCount])
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i none = zero, sub = zero, upper = zero, average = zero, paeth = zero;
    for (; i + 16 <= count; i += 16) {
        const __m128i x = Load(cur + i), a = Load(cur + i - bpp), b = Load(up + i), c = Load(up + i - bpp);
        none = _mm_add_epi64(none, SignedSizes(x, zero));
        sub = _mm_add_epi64(sub, SignedSizes(x, a));
        upper = _mm_add_epi64(upper, SignedSizes(x, b));
        average = _mm_add_epi64(average, SignedSizes(x, Average(a, b)));
        paeth = _mm_add_epi64(paeth, SignedSizes(x, PaethOf(a, b, c)));
    }
    costs[kFilterNone] += Halves(none);
    costs[kFilterSub] += Halves(sub);
    costs[kFilterUp] += Halves(upper);
    costs[kFilterAverage] += Halves(average);
    costs[kFilterPaeth] += Halves(paeth);
#endif
    for (; i < count; ++i) {
        const int x = cur[i], a = cur[i - bpp], b = up[i], c = up[i - bpp];
        costs[kFilterNone] += SignedSize(x);
        costs[kFilterSub] += SignedSize(x - a);
        costs[kFilterUp] += SignedSize(x - b);
        costs[kFilterAverage] += SignedSize(x - ((a + b) >> 1));
        costs[kFilterPaeth] += SignedSize(x - Paeth(a, b, c));
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

void ApplyFilter(PngFilter filter, const uint8_t* up, const uint8_t* cur, size_t count, size_t bpp, uint8_t* out)
{
    size_t i = 0;
    switch (filter) {
    case kFilterNone:
        memcpy(out, cur, count);
        return;
    case kFilterSub:
        for (; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - cur[i - bpp]);
        return;
    case kFilterUp:
        for (; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - up[i]);
        return;
    case kFilterAverage:
#if defined(__SSE2__)
        for (; i + 16 <= count; i += 16) {
            const __m128i a = Load(cur + i - bpp), b = Load(up + i);
            Store(out + i, Load(cur + i), Average(a, b));
        }
#endif
        for (; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - ((cur[i - bpp] + up[i]) >> 1));
        return;
    default:
#if defined(__SSE2__)
        for (; i + 16 <= count; i += 16)
            Store(out + i, Load(cur + i), PaethOf(Load(cur + i - bpp), Load(up + i), Load(up + i - bpp)));
#endif
        for (; i < count; ++i)
            out[i] = static_cast<uint8_t>(cur[i] - Paeth(cur[i - bpp], up[i], up[i - bpp]));
        return;
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

std::vector<uint8_t> PngHeadBytes(uint32_t width, uint32_t height, bool alpha, const std::vector<PngChunk>& chunks)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> bytes(kSignature, kSignature + 8);
    uint8_t header[13];
    PutBigEndian(width, header);
    PutBigEndian(height, header + 4);
    header[8] = 8;   // bits a channel
    header[9] = alpha ? 6 : 2;  // colour type: RGBA or RGB
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
