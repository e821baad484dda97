// The parts of a PNG file that need no platform and no compressor: the row
// filters and the rule that picks one, and the framing of chunks. Plain C++
// over bytes, so the encoder's choices can be checked without a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/png_chunk.h"

// The five filter types, as the filter byte before each row names them.
enum PngFilter : uint8_t { kFilterNone, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth, kFilterCount };

// Rows are pixels of `bpp` bytes, 3 (RGB) or 4 (RGBA); `cur` and `up` (the
// row above) are read from index -bpp: the pixel left of the first, zeros
// at a row's start, and `up` all zeros above the top row, as the format
// defines.
//
// Adds to costs[f] the sum over `count` bytes of filter f's output taken as
// a signed byte, |(int8_t)r|: the usual heuristic for choosing a row's filter.
void AddFilterCosts(const uint8_t* up, const uint8_t* cur, size_t count, size_t bpp, uint64_t costs[kFilterCount]);
// The filter with the lowest cost; the lower type on a tie.
PngFilter CheapestFilter(const uint64_t costs[kFilterCount]);
// Writes `count` filtered bytes to `out`.
void ApplyFilter(PngFilter filter, const uint8_t* up, const uint8_t* cur, size_t count, size_t bpp, uint8_t* out);

// The bytes before the pixel data: the signature, the header chunk of an
// 8-bit RGB picture (RGBA with `alpha`) without interlacing, then `chunks`
// in order.
std::vector<uint8_t> PngHeadBytes(uint32_t width, uint32_t height, bool alpha, const std::vector<PngChunk>& chunks);
// The chunk that ends every PNG file.
std::vector<uint8_t> PngEndBytes();
// One chunk framed: its length and type, the body, and the CRC of type and body.
void AppendPngChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size);

// The two bytes that open a zlib stream of a 32 KB window at `level` (1 to 9).
void ZlibHeader(int level, uint8_t header[2]);
// A 32-bit value as the format stores it, most significant byte first.
void PutBigEndian(uint32_t value, uint8_t out[4]);
