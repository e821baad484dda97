// The tinted picture as a JPEG or a PNG (8-bit RGB), by the platform's
// encoders, in memory: the caller writes the bytes out as a replacement, as
// every export is written. The export's PNG has an encoder of its own
// (png_encode.h); the platform's stays as the measure of it.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/tint.h"

enum class EncodedKind { png, jpeg };

// Tints `height` rows of `width` pixels from `source` (bottom-up, rows
// `stride` bytes apart) a band at a time and encodes them; `quality` (1 to
// 100) is the JPEG's. A JPEG is encoded in strips side by side on `cores`
// threads (0: every core) and joined. False when the platform has no such
// encoder or it fails; `bytes` then holds nothing of use.
bool EncodeTinted(const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                  const TintParameters& parameters, EncodedKind kind, int quality, std::vector<uint8_t>& bytes,
                  uint32_t cores = 1);

struct IPropertyBag2;
// Writes a JPEG's `quality` (1 to 100) into the encoder's options, where the
// platform takes it as a fraction from 0 to 1. Wine 8's encoder ignores it.
bool SetJpegQuality(IPropertyBag2* options, int quality);
