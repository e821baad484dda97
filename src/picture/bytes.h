// Little-endian fields of the formats duotint reads, as the files hold them.
#pragma once

#include <cstdint>

inline uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Read32(const uint8_t* p) { return static_cast<uint32_t>(Read16(p)) | static_cast<uint32_t>(Read16(p + 2)) << 16; }
