// A file for the byte walks that counts what is asked of it, for the unit
// tests of the probe and the metadata walk: `start`, then zeros to `size`
// bytes; reads that reach past `failFrom` fail, as on a file cut short.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "formats/byte_source.h"

namespace support {

struct CountingSource final : ByteSource {
    std::vector<uint8_t> start;
    uint64_t size, failFrom, reads = 0, read = 0;  // reads asked for, bytes read
    explicit CountingSource(std::vector<uint8_t> b, uint64_t n = UINT64_MAX, uint64_t fail = UINT64_MAX)
        : start(std::move(b)), size(n == UINT64_MAX ? start.size() : n), failFrom(fail)
    {
    }
    uint64_t Size() const override { return size; }
    bool Read(uint64_t at, void* to, size_t count) override
    {
        ++reads;
        read += count;
        memset(to, 0, count);
        if (at < start.size())
            memcpy(to, start.data() + at, std::min<uint64_t>(count, start.size() - at));
        return at + count <= std::min(failFrom, size);
    }
};

}  // namespace support
