// What an export is written as.
#pragma once

#include <cstdint>

// Zero is the editor's own 24-bit BMP.
enum class OutputFormat : uint8_t { bmp, png, jpeg };
