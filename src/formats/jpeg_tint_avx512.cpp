// A row's tint with 512-bit vectors (jpeg_format.h), built for AVX-512 with
// byte permutes (VBMI) whatever the rest of the program is built for: it is
// called only where the processor has them (JpegHasAvx512Vbmi). The tint
// is a table of 256 bytes for each channel, which four registers hold, so
// that 64 pixels' lookups are two permutes and a blend instead of 64 loads
// and stores. This file defines nothing that another is built from too,
// so no function built here for AVX-512 can stand in for one built for
// every processor.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vbmi"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#endif

#include <immintrin.h>

#include "formats/jpeg_format.h"

namespace {

// Where each of 64 pixels' channel c stands in 192 bytes of BGR pixels:
// lane i takes byte 3i + c, which stands in the first two registers below
// byte 128 and in the third from it. Made once, when the program is built.
struct Deinterleave {
    uint8_t fromFirstTwo[3][64], fromThird[3][64];
    uint64_t inThird[3];
};

constexpr Deinterleave DeinterleaveOf()
{
    Deinterleave d{};
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 64; ++i) {
            const int at = 3 * i + c;
            d.fromFirstTwo[c][i] = static_cast<uint8_t>(at & 127);
            d.fromThird[c][i] = static_cast<uint8_t>(at & 63);
            if (at >= 128)
                d.inThird[c] |= uint64_t{1} << i;
        }
    }
    return d;
}
constexpr Deinterleave kDeinterleave = DeinterleaveOf();

// Lanes below n set, none for n at most 0.
inline __mmask64 Below(int n) { return n >= 64 ? ~__mmask64{0} : n <= 0 ? 0 : (__mmask64{1} << n) - 1; }

}  // namespace

void JpegTintRowAvx512(const uint8_t* bgr, int32_t width, const JpegColour& colour, int16_t* const out[3])
{
    __m512i fromFirstTwo[3], fromThird[3], table[3][4];
    for (int c = 0; c < 3; ++c) {
        fromFirstTwo[c] = _mm512_loadu_si512(kDeinterleave.fromFirstTwo[c]);
        fromThird[c] = _mm512_loadu_si512(kDeinterleave.fromThird[c]);
        for (int q = 0; q < 4; ++q)
            table[c][q] = _mm512_loadu_si512(colour.tinted[c] + 64 * q);
    }
    for (int32_t x = 0; x < width; x += 64, bgr += 192) {
        // The last pixels' bytes and lanes only: masked lanes neither read nor write.
        const int n = width - x < 64 ? width - x : 64;
        const __m512i a = _mm512_maskz_loadu_epi8(Below(3 * n), bgr);
        const __m512i b = _mm512_maskz_loadu_epi8(Below(3 * n - 64), bgr + 64);
        const __m512i d = _mm512_maskz_loadu_epi8(Below(3 * n - 128), bgr + 128);
        for (int c = 0; c < 3; ++c) {
            const __m512i v = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(a, fromFirstTwo[c], b),
                                                           kDeinterleave.inThird[c], fromThird[c], d);
            // Bytes below 128 from the table's first half, the others from its second.
            const __m512i low = _mm512_permutex2var_epi8(table[c][0], v, table[c][1]);
            const __m512i high = _mm512_permutex2var_epi8(table[c][2], v, table[c][3]);
            const __m512i tinted = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
            _mm512_mask_storeu_epi16(out[c] + x, static_cast<__mmask32>(Below(n)),
                                     _mm512_cvtepu8_epi16(_mm512_castsi512_si256(tinted)));
            if (n > 32)
                _mm512_mask_storeu_epi16(out[c] + x + 32, static_cast<__mmask32>(Below(n - 32)),
                                         _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(tinted, 1)));
        }
    }
}

#if defined(__clang__)
#pragma clang attribute pop
#endif
