// The tinted picture as a PNG (8-bit RGB) or a JPEG, by the platform's
// encoders, in memory: the caller writes the bytes out as a replacement, as
// every export is written.
#pragma once

#include <cstdint>
#include <vector>

#include "image/tint.h"

enum class EncodedKind { png, jpeg };

// Tints `height` rows of `width` pixels from `source` (bottom-up, rows
// `stride` bytes apart) a band at a time and encodes them; `quality` (1 to
// 100) is the JPEG's. False when the platform has no such encoder or it
// fails; `bytes` then holds nothing of use.
bool EncodeTinted(const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                  const TintParameters& parameters, EncodedKind kind, int quality, std::vector<uint8_t>& bytes);
