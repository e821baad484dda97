// The two-colour tint of 8-bit channels: one byte, and whole pixel runs
// through tables built once per set of parameters.
#pragma once

#include <cstdint>

// x: the channel's byte; A, B: the matching components of tintA and tintB;
// the three percentages as the editor holds them.
uint8_t TintByte(int32_t x, int32_t A, int32_t B, int32_t dispA, int32_t dispB, int32_t distr);

// For fixed parameters the tint depends only on the byte, so every pass over
// pixels maps bytes through three 256-entry tables, indexed like a pixel's
// bytes: 0 blue, 1 green, 2 red.
struct TintTables {
    uint8_t channel[3][256];
};

// Index of each colour component in tintA and tintB.
enum { kRed = 0, kGreen = 1, kBlue = 2 };

struct TintParameters {
    int32_t tintA[3];  // red, green, blue
    int32_t tintB[3];  // red, green, blue
    int32_t dispA;
    int32_t dispB;
    int32_t distr;
};

void BuildTintTables(const TintParameters& parameters, TintTables& tables);

// Maps `pixelCount` pixels (3 bytes each) from `source` to `destination`.
// The two may be the same buffer.
void TintPixels(const uint8_t* source, uint8_t* destination, uint32_t pixelCount, const TintTables& tables);

// Tints `height` rows of `width` pixels, `stride` bytes apart, and zeroes
// each row's padding in the destination.
void TintRows(const uint8_t* source, uint8_t* destination, int32_t width, int32_t height, int32_t stride,
              const TintTables& tables);
