// A picture decoded by the platform's decoders in the test's own process,
// named by its file: how a test reads back a file the program wrote, or
// checks the decoding process against the same decoder at home.
#pragma once

#include <string>
#include <vector>

#include "decoder/picture_decode.h"
#include "test_files.h"

namespace support {

class PlatformPicture : public DecodedPicture {
public:
    bool Open(const std::string& path, int orientation = 1)
    {
        bytes_ = ReadWholeFile(path);
        return !bytes_.empty() && DecodedPicture::Open(bytes_.data(), bytes_.size(), orientation);
    }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace support
