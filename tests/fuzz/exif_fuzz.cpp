// Fuzzes the JPEG segment walk that finds the EXIF orientation. An input that
// begins 0xFF is taken as a whole file; any other has its first byte dropped
// and the rest wrapped as the body of an APP1 "Exif" segment, so that the
// fuzzer spends its time in the TIFF directory rather than finding the
// segment around it.
#include <cstdlib>
#include <vector>

#include "formats/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> file(data, data + size);
    if (data[0] != 0xFF) {
        const size_t body = size - 1 < 65000 ? size - 1 : 65000;
        const size_t length = 2 + 6 + body;
        static const uint8_t kFrame[] = {0xFF, 0xC0, 0, 11, 8, 0, 1, 0, 1, 1, 1, 0x11, 0, 0xFF, 0xDA, 0, 2};
        file.assign({0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
        file.insert(file.end(), {'E', 'x', 'i', 'f', 0, 0});
        file.insert(file.end(), data + 1, data + 1 + body);
        file.insert(file.end(), kFrame, kFrame + sizeof kFrame);
    }
    const int orientation = JpegExifOrientation(file.data(), file.size());
    if (orientation < 1 || orientation > 8)
        abort();
    return 0;
}
