// The tinted picture as a PNG (8-bit RGB) by the platform's encoder, in
// memory: the measure the bench holds our own PNG encoder's size against.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/tint.h"

// Tints `height` rows of `width` pixels from `source` (bottom-up, rows
// `stride` bytes apart) a band at a time and encodes them. False when the
// platform has no such encoder or it fails; `bytes` then holds nothing of use.
bool EncodeTintedWithPlatform(const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                              const TintParameters& parameters, std::vector<uint8_t>& bytes);
