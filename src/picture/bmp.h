// The 24-bit BMP files duotint reads and writes, and its pixel buffers; the
// header itself, which needs nothing of the platform, is in bmp_header.h.
//
// A pixel buffer is a picture's bytes without a header: rows bottom-up,
// three bytes per pixel (blue, green, red), each row padded with zero bytes
// to a multiple of 4. Buffers come from GlobalAlloc and stay locked for the
// life of the process.
#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "picture/bmp_header.h"

// One locked block of `size` bytes; ends the program with exit code 8 and a
// sentence naming the size when the memory cannot be had.
void AllocatePixelBuffer(uint32_t size, HGLOBAL& handle, uint8_t*& pixels);

// Hands a block back for the next AllocatePixelBuffer of at most its size,
// for a process that reads picture after picture (the console worker): the
// next picture then goes into pages already mapped, where a first touch of
// fresh memory costs more than the read itself on some machines. Blocks
// over kLargestSpareBlock are freed, so no large block waits unused.
enum : SIZE_T { kLargestSpareBlock = 256u << 20 };
void RecyclePixelBuffer(HGLOBAL handle);

// Fills a BITMAPINFOHEADER for a bottom-up 24-bit buffer, and its BITMAPINFO
// copy with one all-zero colour entry.
void FillBitmapRecords(BITMAPINFOHEADER& header, BITMAPINFO& info, int32_t width, int32_t height);

