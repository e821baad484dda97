// The tint blend, evaluated bit for bit in 80-bit extended precision, and the
// preview re-render.
//
// The blend is computed in a fixed order of single rounded operations. GCC
// keeps long double arithmetic on the x87 unit, where every operation rounds
// to the precision set in the control word (64-bit significand, set at
// start-up), and it neither reorders nor fuses these operations unless told
// to with fast-math flags, which this project never uses. Each step is still
// its own statement, so the order on the page is the order of evaluation.
#include "image/tint.h"

#include <cmath>
#include <cstring>

#include "app/program_state.h"
#include "ui/window_procs.h"

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

uint8_t TintChannel(int32_t x, int32_t A, int32_t B)
{
    return TintByte(x, A, B, state.dispA, state.dispB, state.distr);
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

TintParameters CurrentTintParameters()
{
    TintParameters p;
    memcpy(p.tintA, state.tintA, sizeof p.tintA);
    memcpy(p.tintB, state.tintB, sizeof p.tintB);
    p.dispA = state.dispA;
    p.dispB = state.dispB;
    p.distr = state.distr;
    return p;
}

void TintPixels(const uint8_t* source, uint8_t* destination, uint32_t pixelCount, const TintTables& tables)
{
    const uint8_t* blue = tables.channel[0];
    const uint8_t* green = tables.channel[1];
    const uint8_t* red = tables.channel[2];
    // Four pixels are twelve bytes, three whole 32-bit words: loads and
    // stores go a word at a time, lookups stay one per byte.
    uint32_t i = 0;
    for (; i + 4 <= pixelCount; i += 4) {
        uint32_t w[3];
        memcpy(w, source, 12);
        uint32_t o0 = static_cast<uint32_t>(blue[w[0] & 0xFF]) | static_cast<uint32_t>(green[(w[0] >> 8) & 0xFF]) << 8 |
                      static_cast<uint32_t>(red[(w[0] >> 16) & 0xFF]) << 16 |
                      static_cast<uint32_t>(blue[w[0] >> 24]) << 24;
        uint32_t o1 = static_cast<uint32_t>(green[w[1] & 0xFF]) | static_cast<uint32_t>(red[(w[1] >> 8) & 0xFF]) << 8 |
                      static_cast<uint32_t>(blue[(w[1] >> 16) & 0xFF]) << 16 |
                      static_cast<uint32_t>(green[w[1] >> 24]) << 24;
        uint32_t o2 = static_cast<uint32_t>(red[w[2] & 0xFF]) | static_cast<uint32_t>(blue[(w[2] >> 8) & 0xFF]) << 8 |
                      static_cast<uint32_t>(green[(w[2] >> 16) & 0xFF]) << 16 |
                      static_cast<uint32_t>(red[w[2] >> 24]) << 24;
        uint32_t o[3] = {o0, o1, o2};
        memcpy(destination, o, 12);
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

void TintPreview()
{
    TintTables tables;
    BuildTintTables(CurrentTintParameters(), tables);
    TintRows(state.previewSourcePixels, state.previewPixels, state.previewWidth, state.previewHeight, state.outStride,
             tables);
}

void RenderPreview()
{
    TintPreview();
    BlitBuffer(state.paintDC, state.previewHeader, state.previewInfo, state.previewPixels, 6, 6, state.previewWidth,
               state.previewHeight);
}
