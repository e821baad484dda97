// Pixel buffers, and the platform's records that describe one to GDI; the
// BMP file header itself is in formats/bmp_header.h.
//
// A pixel buffer is a picture's bytes without a header: rows bottom-up,
// three bytes per pixel (blue, green, red), each row padded with zero bytes
// to a multiple of 4. Buffers come from GlobalAlloc and stay locked for the
// life of the process.
#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "formats/bmp_header.h"
#include "support/failure.h"

// One locked block of `size` bytes; when the memory cannot be had, nothing
// is held and the failure (exit code 8) names the size.
Failure AllocatePixelBuffer(uint32_t size, HGLOBAL& handle, uint8_t*& pixels);

// Fills a BITMAPINFOHEADER for a bottom-up 24-bit buffer, and its BITMAPINFO
// copy with one all-zero colour entry.
void FillBitmapRecords(BITMAPINFOHEADER& header, BITMAPINFO& info, int32_t width, int32_t height);

