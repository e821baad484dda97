// What an export is written as, and how much of the picture's metadata it keeps.
#pragma once

#include <cstdint>

// Zero is the editor's own 24-bit BMP.
enum class OutputFormat : uint8_t { bmp, png, jpeg };

// What a JPEG's quality and a PNG's compression level are when nobody says.
enum : int32_t { kDefaultJpegQuality = 92, kDefaultPngLevel = 6 };

// How much of a picture's metadata an export leaves out: none, where it was
// taken (--strip gps), or all of it (--strip).
enum class MetadataStrip : uint8_t { none, gps, all };
