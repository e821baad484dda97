// Row strides, header parsing and the export header.
#include <gtest/gtest.h>

#include <cstring>

#include "image/bmp.h"

TEST(RowStride, PadsEveryRowToFourBytes)
{
    static const struct { int32_t width, stride, pad; } kCases[] = {
        {1, 4, 1}, {2, 8, 2}, {3, 12, 3}, {4, 12, 0}, {5, 16, 1},
    };
    for (const auto& c : kCases) {
        RowLayout got = RowStride(c.width);
        EXPECT_EQ(got.stride, c.stride) << "width " << c.width;
        EXPECT_EQ(got.pad, c.pad) << "width " << c.width;
    }
}
