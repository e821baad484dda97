// What an export is written as.
#pragma once

#include <cstdint>

// Zero is the editor's own 24-bit BMP.
enum class OutputFormat : uint8_t { bmp, png, jpeg };

// What a JPEG's quality and a PNG's compression level are when nobody says.
enum : int32_t { kDefaultJpegQuality = 92, kDefaultPngLevel = 6 };
