// The forward DCT and the quantizer of our JPEG encoder (jpeg_format.h),
// written once over a vector's operations (Ops): a 128-bit vector holds a
// row of one 8 x 8 block, a 256-bit one the same row of two blocks side by
// side, one in each half. Every operation works within a 128-bit half, so
// two blocks at once give each the bytes one at a time gives it.
#pragma once

#include <cstddef>
#include <cstdint>

// The forward DCT in integers, separable: columns, then rows, with the
// even part in three multiplications and the odd part in twelve (Loeffler,
// Ligtenberg and Moschytz), constants in 13 bits, eight lines at once in
// 16-bit lanes, each product pair summed by one multiply-add. The first
// pass's results keep 2 bits more than its inputs; 8-bit samples keep
// every sum within 16 bits. The output is 8 times the true DCT, which the
// quantizer's divisors take out, and lies transposed: coefficient (v, u)
// at 8u + v.
namespace jpeg_dct {

enum : int { kConstBits = 13, kPassBits = 2 };
enum : int16_t {
    kFix0298 = 2446,   // 0.298631336
    kFix0390 = 3196,   // 0.390180644
    kFix0541 = 4433,   // 0.541196100
    kFix0765 = 6270,   // 0.765366865
    kFix0899 = 7373,   // 0.899976223
    kFix1175 = 9633,   // 1.175875602
    kFix1501 = 12299,  // 1.501321110
    kFix1847 = 15137,  // 1.847759065
    kFix1961 = 16069,  // 1.961570560
    kFix2053 = 16819,  // 2.053119869
    kFix2562 = 20995,  // 2.562915447
    kFix3072 = 25172,  // 3.072711026
};

// a * ca + b * cb for each lane of a and b, as 32-bit sums: the low four
// lanes' and the high four's (of each half).
template <class O>
struct Sums {
    typename O::V low, high;
};
template <class O>
inline Sums<O> MultiplyAdd(typename O::V a, typename O::V b, typename O::V constants)
{
    return {O::Madd16(O::UnpackLo16(a, b), constants), O::Madd16(O::UnpackHi16(a, b), constants)};
}
template <class O>
inline Sums<O> Plus(Sums<O> x, Sums<O> y)
{
    return {O::Add32(x.low, y.low), O::Add32(x.high, y.high)};
}
template <class O, int kShift>
inline typename O::V Descale(Sums<O> x)
{
    const typename O::V round = O::Set32(1 << (kShift - 1));
    return O::Packs32(O::template Srai32<kShift>(O::Add32(x.low, round)),
                      O::template Srai32<kShift>(O::Add32(x.high, round)));
}

template <class O, bool kSecond>
inline void DctPass(typename O::V d[8])
{
    using V = typename O::V;
    constexpr int odd = kSecond ? kConstBits + kPassBits : kConstBits - kPassBits;
    const V tmp0 = O::Add16(d[0], d[7]), tmp7 = O::Sub16(d[0], d[7]);
    const V tmp1 = O::Add16(d[1], d[6]), tmp6 = O::Sub16(d[1], d[6]);
    const V tmp2 = O::Add16(d[2], d[5]), tmp5 = O::Sub16(d[2], d[5]);
    const V tmp3 = O::Add16(d[3], d[4]), tmp4 = O::Sub16(d[3], d[4]);

    const V tmp10 = O::Add16(tmp0, tmp3), tmp13 = O::Sub16(tmp0, tmp3);
    const V tmp11 = O::Add16(tmp1, tmp2), tmp12 = O::Sub16(tmp1, tmp2);
    if (kSecond) {
        const V round = O::Set16(1 << (kPassBits - 1));
        d[0] = O::template Srai16<kPassBits>(O::Add16(O::Add16(tmp10, tmp11), round));
        d[4] = O::template Srai16<kPassBits>(O::Add16(O::Sub16(tmp10, tmp11), round));
    } else {
        d[0] = O::template Slli16<kPassBits>(O::Add16(tmp10, tmp11));
        d[4] = O::template Slli16<kPassBits>(O::Sub16(tmp10, tmp11));
    }
    // z1 = (tmp12 + tmp13) * c6 shared by both outputs, folded into each pair.
    d[2] = Descale<O, odd>(MultiplyAdd<O>(tmp13, tmp12, O::Pair(kFix0541 + kFix0765, kFix0541)));
    d[6] = Descale<O, odd>(MultiplyAdd<O>(tmp13, tmp12, O::Pair(kFix0541, kFix0541 - kFix1847)));

    // z5 = (z3 + z4) * c3 shared likewise.
    const V z3 = O::Add16(tmp4, tmp6), z4 = O::Add16(tmp5, tmp7);
    const Sums<O> z3s = MultiplyAdd<O>(z3, z4, O::Pair(kFix1175 - kFix1961, kFix1175));
    const Sums<O> z4s = MultiplyAdd<O>(z3, z4, O::Pair(kFix1175, kFix1175 - kFix0390));
    d[7] = Descale<O, odd>(Plus<O>(MultiplyAdd<O>(tmp4, tmp7, O::Pair(kFix0298 - kFix0899, -kFix0899)), z3s));
    d[1] = Descale<O, odd>(Plus<O>(MultiplyAdd<O>(tmp4, tmp7, O::Pair(-kFix0899, kFix1501 - kFix0899)), z4s));
    d[5] = Descale<O, odd>(Plus<O>(MultiplyAdd<O>(tmp5, tmp6, O::Pair(kFix2053 - kFix2562, -kFix2562)), z4s));
    d[3] = Descale<O, odd>(Plus<O>(MultiplyAdd<O>(tmp5, tmp6, O::Pair(-kFix2562, kFix3072 - kFix2562)), z3s));
}

template <class O>
inline void Transpose(typename O::V d[8])
{
    using V = typename O::V;
    const V a0 = O::UnpackLo16(d[0], d[1]), a1 = O::UnpackHi16(d[0], d[1]);
    const V a2 = O::UnpackLo16(d[2], d[3]), a3 = O::UnpackHi16(d[2], d[3]);
    const V a4 = O::UnpackLo16(d[4], d[5]), a5 = O::UnpackHi16(d[4], d[5]);
    const V a6 = O::UnpackLo16(d[6], d[7]), a7 = O::UnpackHi16(d[6], d[7]);
    const V b0 = O::UnpackLo32(a0, a2), b1 = O::UnpackHi32(a0, a2);
    const V b2 = O::UnpackLo32(a1, a3), b3 = O::UnpackHi32(a1, a3);
    const V b4 = O::UnpackLo32(a4, a6), b5 = O::UnpackHi32(a4, a6);
    const V b6 = O::UnpackLo32(a5, a7), b7 = O::UnpackHi32(a5, a7);
    d[0] = O::UnpackLo64(b0, b4);
    d[1] = O::UnpackHi64(b0, b4);
    d[2] = O::UnpackLo64(b1, b5);
    d[3] = O::UnpackHi64(b1, b5);
    d[4] = O::UnpackLo64(b2, b6);
    d[5] = O::UnpackHi64(b2, b6);
    d[6] = O::UnpackLo64(b3, b7);
    d[7] = O::UnpackHi64(b3, b7);
}

// The blocks whose rows start at `samples` (level-shifted, `stride` apart;
// one per half of a vector) transformed and quantized into `out`, in the
// DCT's transposed order, each with its mask of zero coefficients in that
// order in `zeros`. q = (|x| + d / 2) / d, d being 8 times the table's
// entry, carried out as a product with the divisor's inverse rounded up
// (`half` holds d / 2 and `inverse` the inverse, in the transposed order),
// which gives the exact quotient for every dividend the DCT can give
// (below 2^16); the sign is put back after.
template <class O>
inline void QuantizedBlocks(const int16_t* const samples[], size_t stride, const int32_t half[64],
                            const float inverse[64], int16_t* const out[], uint64_t zeros[])
{
    using V = typename O::V;
    V d[8];
    for (int r = 0; r < 8; ++r)
        d[r] = O::LoadRow(samples, static_cast<size_t>(r) * stride);
    DctPass<O, false>(d);
    Transpose<O>(d);
    DctPass<O, true>(d);
    const V zero = O::Zero();
    for (int i = 0; i < O::kBlocks; ++i)
        zeros[i] = 0;
    for (int u = 0; u < 8; ++u) {
        const V sign = O::template Srai16<15>(d[u]);
        const V magnitude = O::Sub16(O::Xor(d[u], sign), sign);
        const V low = O::Quotients(O::UnpackLo16(magnitude, zero), half + 8 * u, inverse + 8 * u);
        const V high = O::Quotients(O::UnpackHi16(magnitude, zero), half + 8 * u + 4, inverse + 8 * u + 4);
        const V q = O::Packs32(low, high);
        O::StoreRow(O::Sub16(O::Xor(q, sign), sign), out, 8 * u);
        O::AddZeros(O::Cmpeq16(q, zero), zeros, 8 * u);
    }
}

}  // namespace jpeg_dct

// Two blocks of one component at once with 256-bit vectors, where the
// processor has AVX2 (JpegHasAvx2): QuantizedBlocks on two blocks, their
// bytes the same as one at a time.
bool JpegHasAvx2();
void JpegTwoBlocksAvx2(const int16_t* const samples[2], size_t stride, const int32_t half[64], const float inverse[64],
                       int16_t* const out[2], uint64_t zeros[2]);
