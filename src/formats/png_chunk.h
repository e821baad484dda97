// One chunk of a PNG file besides its header and pixel data: a four-letter
// type and its body. The encoder writes each with its length and CRC, in
// the order given, between the header chunk and the pixel data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The eight bytes every PNG file starts with.
inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct PngChunk {
    std::string type;           // four ASCII letters, e.g. "iCCP", "eXIf"
    std::vector<uint8_t> data;  // the body, without length or CRC
};
