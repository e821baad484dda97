// The DCT and quantizer on two blocks at once (jpeg_dct.h), built for AVX2
// whatever the rest of the program is built for: it is called only where
// the processor has AVX2 (JpegHasAvx2). This file defines nothing that
// another is built from too, so no function built here for AVX2 can stand
// in for one built for every processor.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#include <immintrin.h>

#include "formats/jpeg_dct.h"

namespace {

// A row of two blocks: the first's in the low half, the second's in the high.
struct Avx2Ops {
    using V = __m256i;
    enum : int { kBlocks = 2 };
    static V Zero() { return _mm256_setzero_si256(); }
    static V Set16(int16_t a) { return _mm256_set1_epi16(a); }
    static V Set32(int32_t a) { return _mm256_set1_epi32(a); }
    static V Pair(int16_t a, int16_t b)
    {
        return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a) | static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16));
    }
    static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V Madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V Cmpeq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
    template <int kShift>
    static V Srai16(V a) { return _mm256_srai_epi16(a, kShift); }
    template <int kShift>
    static V Slli16(V a) { return _mm256_slli_epi16(a, kShift); }
    template <int kShift>
    static V Srai32(V a) { return _mm256_srai_epi32(a, kShift); }
    static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V UnpackLo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V UnpackHi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    static V LoadRow(const int16_t* const samples[], size_t at)
    {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples[0] + at));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples[1] + at));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
    }
    // (x + half) * inverse in floats, truncated: four lanes of each half,
    // against the same four divisors.
    static V Quotients(V x, const int32_t* half, const float* inverse)
    {
        const V halves = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(half)));
        const __m256 inverses = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(inverse));
        return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(x, halves)), inverses));
    }
    static void StoreRow(V q, int16_t* const out[], int at)
    {
        _mm_store_si128(reinterpret_cast<__m128i*>(out[0] + at), _mm256_castsi256_si128(q));
        _mm_store_si128(reinterpret_cast<__m128i*>(out[1] + at), _mm256_extracti128_si256(q, 1));
    }
    // A half's eight lanes' bits, from the bytes packing leaves them in.
    static void AddZeros(V isZero, uint64_t zeros[], int at)
    {
        const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(isZero, isZero)));
        zeros[0] |= static_cast<uint64_t>(bits & 0xFF) << at;
        zeros[1] |= static_cast<uint64_t>(bits >> 16 & 0xFF) << at;
    }
};

}  // namespace

void JpegTwoBlocksAvx2(const int16_t* const samples[2], size_t stride, const int32_t half[64], const float inverse[64],
                       int16_t* const out[2], uint64_t zeros[2])
{
    jpeg_dct::QuantizedBlocks<Avx2Ops>(samples, stride, half, inverse, out, zeros);
}

#if defined(__clang__)
#pragma clang attribute pop
#endif
