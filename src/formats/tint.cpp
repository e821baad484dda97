// The tint blend, evaluated bit for bit in 80-bit extended precision.
//
// The blend is computed in a fixed order of single rounded operations. GCC
// keeps long double arithmetic on the x87 unit, where every operation rounds
// to the precision set in the control word (64-bit significand, set at
// start-up), and it neither reorders nor fuses these operations unless told
// to with fast-math flags, which this project never uses. Each step is still
// its own statement, so the order on the page is the order of evaluation.
#include "formats/tint.h"

#include <cmath>
#include <cstring>


uint8_t TintByte(int32_t x, int32_t A, int32_t B, int32_t dispA, int32_t dispB, int32_t distr)
{
    const long double a = static_cast<long double>(dispA) / 100.0L;
    const long double b = static_cast<long double>(dispB) / 100.0L;
    const long double d = static_cast<long double>(distr) / 100.0L;
    const long double oneMinusA = 1.0L - a;
    const long double oneMinusB = 1.0L - b;
    const long double oneMinusD = 1.0L - d;
    const long double X = static_cast<long double>(x);

    const long double p1 = oneMinusA * X;
    const long double p2 = a * static_cast<long double>(A);
    const long double P = p1 + p2;
    const long double Q = P * oneMinusD;
    const long double r1 = oneMinusB * X;
    const long double r2 = b * static_cast<long double>(B);
    const long double R = r1 + r2;
    const long double S = R * d;
    const long double value = Q + S;

    // rintl rounds by the control word's mode: to nearest, ties to even.
    // Clamping the extended value itself handles any magnitude.
    const long double rounded = rintl(value);
    if (rounded < 0.0L)
        return 0;
    if (rounded > 255.0L)
        return 255;
    return static_cast<uint8_t>(static_cast<int32_t>(rounded));
}

void BuildTintTables(const TintParameters& p, TintTables& tables)
{
    // Pixel byte 0 is blue, 1 green, 2 red; the components are stored red first.
    static const int kComponentOfByte[3] = {kBlue, kGreen, kRed};
    for (int channel = 0; channel < 3; ++channel) {
        int32_t A = p.tintA[kComponentOfByte[channel]];
        int32_t B = p.tintB[kComponentOfByte[channel]];
        for (int32_t x = 0; x < 256; ++x)
            tables.channel[channel][x] = TintByte(x, A, B, p.dispA, p.dispB, p.distr);
    }
}

void TintPixels(const uint8_t* source, uint8_t* destination, uint32_t pixelCount, const TintTables& tables)
{
    const uint8_t* blue = tables.channel[0];
    const uint8_t* green = tables.channel[1];
    const uint8_t* red = tables.channel[2];
    // Byte loads, lookups and byte stores keep the load and store ports busy
    // and leave the ALUs free, where assembling words with shifts would
    // spend them.
    // Four pixels a round, all loads before the stores, so that the compiler
    // need not fear that a store changes a later source byte.
    uint32_t i = 0;
    for (; i + 4 <= pixelCount; i += 4) {
        uint8_t o0 = blue[source[0]], o1 = green[source[1]], o2 = red[source[2]];
        uint8_t o3 = blue[source[3]], o4 = green[source[4]], o5 = red[source[5]];
        uint8_t o6 = blue[source[6]], o7 = green[source[7]], o8 = red[source[8]];
        uint8_t o9 = blue[source[9]], o10 = green[source[10]], o11 = red[source[11]];
        destination[0] = o0;
        destination[1] = o1;
        destination[2] = o2;
        destination[3] = o3;
        destination[4] = o4;
        destination[5] = o5;
        destination[6] = o6;
        destination[7] = o7;
        destination[8] = o8;
        destination[9] = o9;
        destination[10] = o10;
        destination[11] = o11;
        source += 12;
        destination += 12;
    }
    for (; i < pixelCount; ++i) {
        uint8_t b = blue[source[0]];
        uint8_t g = green[source[1]];
        uint8_t r = red[source[2]];
        destination[0] = b;
        destination[1] = g;
        destination[2] = r;
        source += 3;
        destination += 3;
    }
}

void TintRows(const uint8_t* source, uint8_t* destination, int32_t width, int32_t height, int32_t stride,
              const TintTables& tables)
{
    size_t pixelBytes = 3 * static_cast<size_t>(width);
    for (int32_t row = 0; row < height; ++row) {
        size_t offset = static_cast<size_t>(row) * static_cast<size_t>(stride);
        TintPixels(source + offset, destination + offset, static_cast<uint32_t>(width), tables);
        memset(destination + offset + pixelBytes, 0, static_cast<size_t>(stride) - pixelBytes);
    }
}
