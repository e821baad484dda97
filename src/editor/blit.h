// Putting a pixel buffer on a device context, one to one.
#pragma once

#include <windows.h>

#include <cstdint>

// Draws a bottom-up 24-bit buffer of width x height pixels, rows `stride`
// bytes apart, into dc with its top-left corner at (x, y). `info` describes
// the whole buffer.
void BlitRows(HDC dc, int32_t x, int32_t y, const BITMAPINFO& info, const uint8_t* pixels, int32_t width,
              int32_t height, int32_t stride);
