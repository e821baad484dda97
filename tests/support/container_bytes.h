// Picture containers built byte by byte, for the probe's unit test and the
// end-to-end runs on hostile files: a PNG with its chunks, JPEG segments, a
// GIF's blocks. Nothing here is checked (a chunk's CRC is zero): each file
// is only what its bytes say.
#pragma once

#include <cstdint>
#include <vector>

namespace support::bytes {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Text(const char* s, size_t n) { return Bytes(s, s + n); }

inline Bytes Cut(Bytes b, size_t n)
{
    b.resize(n);
    return b;
}

// `n` bytes of v, most significant first when `big`.
inline Bytes Int(uint64_t v, int n, bool big)
{
    Bytes b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        b[static_cast<size_t>(big ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
    return b;
}

// A chunk declaring `declared` bytes and holding `held`, with a zero CRC.
inline Bytes Chunk(const char* type, uint32_t declared, const Bytes& held)
{
    return Int(declared, 4, true) + Text(type, 4) + held + Bytes(4);
}

inline Bytes Png(uint32_t width, uint32_t height, const Bytes& chunks)
{
    Bytes fields = Int(width, 4, true) + Int(height, 4, true) + Bytes{8, 2, 0, 0, 0};
    return Text("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", 13, fields) + chunks;
}

inline Bytes Segment(uint8_t marker, const Bytes& body) { return Bytes{0xFF, marker} + Int(body.size() + 2, 2, true) + body; }

// A frame header of one 8 x 8 sampled component.
inline Bytes Sof(uint8_t marker, uint8_t precision, uint16_t width = 16, uint16_t height = 8)
{
    return Segment(marker, Bytes{precision} + Int(height, 2, true) + Int(width, 2, true) + Bytes{1, 1, 0x11, 0});
}

inline Bytes Exif(uint16_t orientation)
{
    Bytes tiff = Text("MM\0*", 4) + Int(8, 4, true) + Int(1, 2, true);
    return Segment(0xE1, Text("Exif\0\0", 6) + tiff + Int(274, 2, true) + Int(3, 2, true) + Int(1, 4, true) +
                             Int(orientation, 2, true) + Bytes(6));
}

inline const Bytes kSoi = {0xFF, 0xD8}, kSos = Segment(0xDA, {1, 1, 0, 0, 63, 0});

inline Bytes Gif(const Bytes& blocks) { return Text("GIF89a\3\0\3\0\0\0\0", 13) + blocks; }

}  // namespace support::bytes
