// Fuzzes the PNG encoder's runs coder: any bytes, cut into pieces and added
// in parts as the input's first bytes say, must come back whole through
// zlib's inflate, in no more room than the coder's bound.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/png_deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t pieces = 1 + data[0] % 4, part = 1 + data[1] * 97;
    data += 2;
    size -= 2;
    std::vector<uint8_t> stream = {0x78, 0x01};
    RunsDeflater coder;
    size_t at = 0;
    for (size_t k = 0; k < pieces; ++k) {
        const size_t end = k + 1 == pieces ? size : at + (size - at) / (pieces - k);
        std::vector<uint8_t> room(RunsDeflateBound(end - at));
        coder.Begin(room.data());
        for (size_t from = at; from < end; from += part)
            coder.Add(data + from, end - from < part ? end - from : part);
        const size_t written = coder.End(k + 1 == pieces);
        if (written > room.size())
            abort();
        stream.insert(stream.end(), room.begin(), room.begin() + written);
        at = end;
    }
    const uLong adler = adler32(adler32(0, nullptr, 0), data, static_cast<uInt>(size));
    for (int shift = 24; shift >= 0; shift -= 8)
        stream.push_back(static_cast<uint8_t>(adler >> shift));
    std::vector<uint8_t> back(size + 1);
    uLongf backSize = back.size();
    if (uncompress(back.data(), &backSize, stream.data(), stream.size()) != Z_OK || backSize != size ||
        (size != 0 && memcmp(back.data(), data, size) != 0))
        abort();
    return 0;
}
