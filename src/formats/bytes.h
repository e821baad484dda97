// Fields of the formats duotint reads, as the files hold them: little-endian
// (BMP, GIF, a TIFF of order II) and big-endian (PNG, JPEG, a TIFF of order MM).
#pragma once

#include <cstdint>

inline uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Read32(const uint8_t* p) { return static_cast<uint32_t>(Read16(p)) | static_cast<uint32_t>(Read16(p + 2)) << 16; }

inline uint16_t ReadBig16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t ReadBig32(const uint8_t* p) { return static_cast<uint32_t>(ReadBig16(p)) << 16 | ReadBig16(p + 2); }
