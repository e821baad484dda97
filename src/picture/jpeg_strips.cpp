// Joining strips' JPEGs (see jpeg_strips.h). Plain C++ over bytes: each
// strip is walked as stb walks a header, one check a line, and anything
// unexpected refuses the join.
#include "picture/jpeg_strips.h"

#include <cstddef>
#include <cstring>

namespace {

// Where a strip's parts stand, and what its frame says.
struct StripLayout {
    size_t sofAt = 0;     // the frame's marker
    size_t sosAt = 0;     // the scan's marker
    size_t dataAt = 0;    // the scan's first coded byte
    size_t dataEnd = 0;   // the end-of-image marker after the coded data
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t mcuWidth = 0;
    uint32_t mcuHeight = 0;
};

uint32_t Word(const std::vector<uint8_t>& b, size_t at) { return b[at] << 8 | b[at + 1]; }

bool ReadFrame(const std::vector<uint8_t>& b, size_t at, uint32_t length, StripLayout& s)
{
    if (length < 8 || b[at + 4] != 8)
        return false;
    const uint32_t components = b[at + 9];
    if (components == 0 || length != 8 + 3 * components)
        return false;
    uint32_t hMax = 1, vMax = 1;
    for (uint32_t i = 0; i < components; ++i) {
        const uint32_t h = b[at + 11 + 3 * i] >> 4, v = b[at + 11 + 3 * i] & 15;
        if (h < 1 || h > 4 || v < 1 || v > 4)
            return false;
        hMax = h > hMax ? h : hMax;
        vMax = v > vMax ? v : vMax;
    }
    s.sofAt = at;
    s.height = Word(b, at + 5);
    s.width = Word(b, at + 7);
    // A scan of one component codes it a block at a time, whatever its sampling.
    s.mcuWidth = components == 1 ? 8 : 8 * hMax;
    s.mcuHeight = components == 1 ? 8 : 8 * vMax;
    return s.height > 0 && s.width > 0;
}

bool ReadStrip(const std::vector<uint8_t>& b, StripLayout& s)
{
    if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8)
        return false;
    size_t at = 2;
    for (;;) {
        if (b.size() - at < 4 || b[at] != 0xFF)
            return false;
        const uint8_t marker = b[at + 1];
        const uint32_t length = Word(b, at + 2);
        if (length < 2 || b.size() - at - 2 < length)
            return false;
        // Restarts already, or a frame other than baseline: not ours to join.
        if (marker == 0xDD || (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC) ||
            (marker >= 0xD0 && marker <= 0xD9) || marker == 0x01 || marker == 0xFF)
            return false;
        if (marker == 0xC0 && (s.sofAt != 0 || !ReadFrame(b, at, length, s)))
            return false;
        if (marker == 0xDA) {
            // One scan of every component of the frame.
            if (s.sofAt == 0 || length < 3 || b[at + 4] != b[s.sofAt + 9] || length != 6 + 2u * b[at + 4])
                return false;
            s.sosAt = at;
            s.dataAt = at + 2 + length;
            break;
        }
        at += 2 + length;
    }
    // The coded data holds no marker: 0xFF is always followed by a stuffed
    // zero, until the end of the image, which ends the strip.
    for (size_t i = s.dataAt; i + 1 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] != 0) {
            s.dataEnd = i;
            return b[i + 1] == 0xD9 && i + 2 == b.size();
        }
    }
    return false;
}

}  // namespace

bool JoinJpegStrips(const std::vector<std::vector<uint8_t>>& strips, std::vector<uint8_t>& joined)
{
    joined.clear();
    std::vector<StripLayout> layouts(strips.size());
    for (size_t k = 0; k < strips.size(); ++k)
        if (!ReadStrip(strips[k], layouts[k]))
            return false;
    if (strips.empty())
        return false;
    const StripLayout& first = layouts[0];
    const std::vector<uint8_t>& head = strips[0];
    uint64_t height = 0;
    for (size_t k = 0; k < strips.size(); ++k) {
        const StripLayout& s = layouts[k];
        const bool last = k + 1 == strips.size();
        // The same headers but for the height; a last strip no taller.
        if (s.dataAt != first.dataAt || s.sofAt != first.sofAt ||
            memcmp(strips[k].data(), head.data(), first.sofAt + 5) != 0 ||
            memcmp(strips[k].data() + first.sofAt + 7, head.data() + first.sofAt + 7, first.dataAt - first.sofAt - 7) != 0)
            return false;
        if (last ? s.height > first.height : s.height != first.height)
            return false;
        height += s.height;
    }
    // A restart's interval counts MCUs in 16 bits, and the height has 16 bits too.
    const uint64_t mcus = uint64_t{(first.width + first.mcuWidth - 1) / first.mcuWidth} * (first.height / first.mcuHeight);
    if (strips.size() > 1 && (first.height % first.mcuHeight != 0 || mcus > 0xFFFF))
        return false;
    if (height > 0xFFFF)
        return false;

    size_t total = first.dataAt + 6 + 2;
    for (size_t k = 0; k < strips.size(); ++k)
        total += layouts[k].dataEnd - layouts[k].dataAt + 2;
    joined.reserve(total);
    joined.assign(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(first.sosAt));
    joined[first.sofAt + 5] = static_cast<uint8_t>(height >> 8);
    joined[first.sofAt + 6] = static_cast<uint8_t>(height);
    if (strips.size() > 1) {
        const uint8_t restart[6] = {0xFF, 0xDD, 0, 4, static_cast<uint8_t>(mcus >> 8), static_cast<uint8_t>(mcus)};
        joined.insert(joined.end(), restart, restart + 6);
    }
    joined.insert(joined.end(), head.begin() + static_cast<std::ptrdiff_t>(first.sosAt),
                  head.begin() + static_cast<std::ptrdiff_t>(first.dataAt));
    for (size_t k = 0; k < strips.size(); ++k) {
        joined.insert(joined.end(), strips[k].begin() + static_cast<std::ptrdiff_t>(layouts[k].dataAt),
                      strips[k].begin() + static_cast<std::ptrdiff_t>(layouts[k].dataEnd));
        const bool last = k + 1 == strips.size();
        joined.push_back(0xFF);
        joined.push_back(last ? 0xD9 : static_cast<uint8_t>(0xD0 + k % 8));
    }
    return true;
}
