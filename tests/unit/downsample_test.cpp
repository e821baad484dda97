// Sampling the picture into the preview buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "editor/downsample.h"
#include "editor/layout.h"
#include "editor/preview.h"
#include "read/pixels.h"
#include "test_support.h"

namespace {

class DownsampleTest : public ProgramTest {};

// A picture whose every pixel tells where it is: x in blue and the low half
// of green, y (from the top) in the high half of green and in red.
struct CodedPicture {
    int32_t width, height;
    RowLayout layout;
    std::vector<uint8_t> bytes;

    CodedPicture(int32_t w, int32_t h) : width(w), height(h), layout(RowStride(w))
    {
        bytes.assign(static_cast<size_t>(layout.stride) * h, 0);
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* line = bytes.data() + static_cast<size_t>(h - 1 - y) * layout.stride;
            for (int32_t x = 0; x < w; ++x) {
                line[3 * x] = static_cast<uint8_t>(x);
                line[3 * x + 1] = static_cast<uint8_t>(((x >> 8) & 0x0F) | (y & 0x0F) << 4);
                line[3 * x + 2] = static_cast<uint8_t>(y >> 4);
            }
        }
    }
};

// Where the preview pixel at (c, r), counted from its top-left, was taken from.
void SampledAt(const std::vector<uint8_t>& preview, int32_t previewHeight, int32_t stride, int32_t c, int32_t r,
               int32_t& x, int32_t& y)
{
    const uint8_t* p = preview.data() + static_cast<size_t>(previewHeight - 1 - r) * stride + 3 * c;
    x = p[0] | (p[1] & 0x0F) << 8;
    y = (p[1] >> 4) | p[2] << 4;
}

TEST_F(DownsampleTest, HalvingTakesEverySecondRowAndColumnFromTheTopLeft)
{
    CodedPicture picture(2000, 1000);
    Layout l = LayoutForDesktop(1140, 1080, 2000, 1000);
    ASSERT_EQ(l.previewWidth, 1000);
    ASSERT_EQ(l.previewHeight, 500);
    ASSERT_EQ(l.scaleFactor, 2.0L);
    RowLayout out = RowStride(1000);
    std::vector<uint8_t> preview(static_cast<size_t>(out.stride) * 500, 0xAA);
    SamplePreview(picture.bytes.data(), 2000, 1000, picture.layout.stride, preview.data(), 1000, 500, out.stride,
                  l.scaleFactor, l.rowScaleFactor);
    for (int32_t r = 0; r < 500; ++r) {
        for (int32_t c = 0; c < 1000; ++c) {
            int32_t x, y;
            SampledAt(preview, 500, out.stride, c, r, x, y);
            ASSERT_EQ(x, 2 * c) << "r " << r << " c " << c;
            ASSERT_EQ(y, 2 * r) << "r " << r << " c " << c;
        }
    }
}

TEST_F(DownsampleTest, ThinAndTallPicturesAreSampledWholeWithoutRepeats)
{
    // The single factor would sample past the last row (10x2000, 1000x3000)
    // or stop at row 1029 (1x2000). Every preview row must take a row of its
    // own, the first at the top and the last within the picture's last step.
    static const struct { const char* label; int32_t screenBottom, imageWidth, imageHeight; } kCases[] = {
        {"10x2000", 1080, 10, 2000},
        {"1x2000", 1080, 1, 2000},
        {"1000x3000 on a desktop 1051 high", 1051, 1000, 3000},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        CodedPicture picture(c.imageWidth, c.imageHeight);
        Layout l = LayoutForDesktop(1920, c.screenBottom, c.imageWidth, c.imageHeight);
        const int32_t w = l.previewWidth, h = l.previewHeight;
        RowLayout out = RowStride(w);
        std::vector<uint8_t> preview(static_cast<size_t>(out.stride) * h, 0xAA);
        SamplePreview(picture.bytes.data(), c.imageWidth, c.imageHeight, picture.layout.stride, preview.data(), w, h,
                      out.stride, l.scaleFactor, l.rowScaleFactor);
        const long double step = static_cast<long double>(c.imageHeight) / h;
        int32_t previousY = -1;
        for (int32_t r = 0; r < h; ++r) {
            int32_t x, y;
            SampledAt(preview, h, out.stride, w - 1, r, x, y);
            ASSERT_GT(y, previousY) << "row " << r;
            ASSERT_EQ(x, static_cast<int32_t>(Trunc((w - 1) * l.scaleFactor))) << "row " << r;
            previousY = y;
        }
        int32_t x, y;
        SampledAt(preview, h, out.stride, 0, 0, x, y);
        EXPECT_EQ(y, 0);
        EXPECT_LE(previousY, c.imageHeight - 1);
        EXPECT_GT(previousY, c.imageHeight - 1 - step);  // the pixel where the last step starts
    }
}

TEST_F(DownsampleTest, UnreducedPictureCopiesTheSourceAndZeroesPadding)
{
    // Widths 1 to 7 give every padding; the source's padding is 0 as loaded.
    for (int32_t w = 1; w <= 7; ++w) {
        SCOPED_TRACE(testing::Message() << "width " << w);
        memset(&state, 0, sizeof state);
        CodedPicture picture(w, 3);
        BorrowSourcePixels(picture.bytes, w, 3);
        state.previewWidth = w;
        state.previewHeight = 3;
        state.scaleFactor = 1.0L;
        state.rowScaleFactor = 1.0L;
        DownsamplePreview();

        EXPECT_EQ(state.outStride, picture.layout.stride);
        EXPECT_EQ(state.outPad, picture.layout.pad);
        EXPECT_EQ(0, memcmp(state.previewSourcePixels, picture.bytes.data(), picture.bytes.size()));
        EXPECT_EQ(0, memcmp(state.previewPixels, picture.bytes.data(), picture.bytes.size()));
        EXPECT_EQ(state.previewHeader.biSize, 40u);
        EXPECT_EQ(state.previewHeader.biWidth, w);
        EXPECT_EQ(state.previewHeader.biHeight, 3);
        EXPECT_EQ(state.previewHeader.biBitCount, 24);
        EXPECT_EQ(0, memcmp(&state.previewInfo.bmiHeader, &state.previewHeader, sizeof state.previewHeader));
    }
}

TEST_F(DownsampleTest, PaddingOfAReducedPreviewIsZero)
{
    CodedPicture picture(30, 20);
    RowLayout out = RowStride(7);
    std::vector<uint8_t> preview(static_cast<size_t>(out.stride) * 4, 0xAA);
    SamplePreview(picture.bytes.data(), 30, 20, picture.layout.stride, preview.data(), 7, 4, out.stride,
                  30.0L / 7.0L, 30.0L / 7.0L);
    for (int32_t row = 0; row < 4; ++row)
        for (int32_t i = 21; i < out.stride; ++i)
            EXPECT_EQ(preview[static_cast<size_t>(row) * out.stride + i], 0) << "row " << row << " byte " << i;
}

}  // namespace
