// Fuzzes the join of strips' JPEGs: the input's first byte says into how
// many strips (1 to 4) the rest is cut, evenly. A join must be a JPEG from
// its start to its end.
#include <cstdlib>
#include <vector>

#include "picture/jpeg_strips.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t count = data[0] % 4 + 1, each = (size - 1) / count;
    std::vector<std::vector<uint8_t>> strips;
    for (size_t k = 0; k < count; ++k)
        strips.emplace_back(data + 1 + k * each, k + 1 == count ? data + size : data + 1 + (k + 1) * each);
    std::vector<uint8_t> joined;
    if (JoinJpegStrips(strips, joined) &&
        (joined.size() < 4 || joined[0] != 0xFF || joined[1] != 0xD8 || joined.back() != 0xD9))
        abort();
    return 0;
}
