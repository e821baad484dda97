// One chunk of a PNG file besides its header and pixel data: a four-letter
// type and its body. The encoder writes each with its length and CRC, in
// the order given, between the header chunk and the pixel data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PngChunk {
    std::string type;           // four ASCII letters, e.g. "iCCP", "eXIf"
    std::vector<uint8_t> data;  // the body, without length or CRC
};
