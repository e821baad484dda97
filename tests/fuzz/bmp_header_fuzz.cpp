// Fuzzes the 24-bit BMP header check on a file's first 54 bytes: whatever
// it accepts must describe a picture the program can hold.
#include <cstdlib>
#include <cstring>

#include "formats/bmp_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t header[54] = {};
    if (size > 0)
        memcpy(header, data, size < sizeof header ? size : sizeof header);
    ImageHeaderFacts facts{};
    char sentence[512];
    if (!ParseImageHeader(header, "fuzz.bmp", facts, sentence, sizeof sentence)) {
        if (strlen(sentence) == 0)
            abort();
        return 0;
    }
    if (facts.width < 1 || facts.height < 1 || facts.dataOffset < 54)
        abort();
    if (!PixelsFitInMemory(facts.width, facts.height))
        abort();
    const RowLayout layout = RowStride(facts.width);
    if (layout.stride % 4 != 0 || static_cast<int64_t>(layout.stride) * facts.height > 0x7FFFFFFF)
        abort();
    return 0;
}
