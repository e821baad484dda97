// The two-colour tint of one 8-bit channel, and the preview re-render.
#pragma once

#include <cstdint>

// x: the channel's byte; A, B: the matching components of tintA and tintB.
// The percentages are read from the program state.
uint8_t TintChannel(int32_t x, int32_t A, int32_t B);

void RenderPreview();
