// Our runs coder through zlib's inflate, on the inputs that once came back
// wrong: each row's bytes in one raw deflate stream must inflate to
// themselves.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "formats/png_deflate.h"

namespace {

std::vector<uint8_t> Inflated(const std::vector<uint8_t>& stream, size_t most)
{
    std::vector<uint8_t> out(most + 1);
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        return {};
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int e = inflate(&z, Z_FINISH);
    out.resize(e == Z_STREAM_END ? z.total_out : 0);
    inflateEnd(&z);
    return out;
}

// Byte b occurs about 2^(b / 12) times, so that the rarest take 15-bit
// codes; they come first, straight after the block's code tables, then the
// rest take turns, so that no byte repeats into a run.
std::vector<uint8_t> Skewed()
{
    std::vector<uint32_t> left(64);
    for (size_t b = 0; b < left.size(); ++b)
        left[b] = 1u << (b / 5);
    std::vector<uint8_t> data;
    for (size_t b = 0; b < 8; ++b) {
        data.push_back(static_cast<uint8_t>(b));
        --left[b];
    }
    for (bool more = true; more;) {
        more = false;
        for (size_t b = left.size(); b-- > 0;) {
            if (left[b] != 0 && (data.empty() || data.back() != b)) {
                data.push_back(static_cast<uint8_t>(b));
                more = --left[b] != 0 || more;
            }
        }
    }
    return data;
}

// A block (65535 bytes) ending in "... Y X", the next beginning "Y Y Y":
// the run must follow the Y, not the X.
std::vector<uint8_t> RunAfterABlock()
{
    std::vector<uint8_t> data(65535 + 100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 % 251);
    data[65533] = 'Y';
    data[65534] = 'X';
    std::fill(data.begin() + 65535, data.begin() + 65535 + 40, 'Y');
    return data;
}

TEST(RunsDeflater, InflatesToItsInput)
{
    static const struct { const char* label; std::vector<uint8_t> (*make)(); } kCases[] = {
        {"skewed counts, the rarest bytes first: 15-bit codes after the tables", Skewed},
        {"a run that begins a block, after another byte", RunAfterABlock},
    };
    for (const auto& c : kCases) {
        const std::vector<uint8_t> data = c.make();
        std::vector<uint8_t> stream(RunsDeflateBound(data.size()));
        RunsDeflater coder;
        coder.Begin(stream.data());
        coder.Add(data.data(), data.size());
        stream.resize(coder.End(true));
        EXPECT_TRUE(Inflated(stream, data.size()) == data) << c.label;
    }
}

}  // namespace
