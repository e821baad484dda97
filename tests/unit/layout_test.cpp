// Window layout from desktop and picture sizes, and the ring frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "editor/layout.h"
#include "test_support.h"

namespace {

class LayoutTest : public ProgramTest {};

struct LayoutCase {
    const char* label;
    int32_t screenRight, screenBottom, imageWidth, imageHeight;
    int32_t windowLeft, windowTop, previewWidth, previewHeight;
    int32_t scaleNumerator, scaleDenominator;  // scaleFactor is this quotient
    int32_t panelLeft;
    int32_t finalWidth, finalHeight;           // after the frame's extra row and column
};

const LayoutCase kLayoutCases[] = {
    {"800x600 fits", 1920, 1080, 800, 600, 336, 156, 800, 600, 1, 1, 855, 912, 612},
    {"50x40 gets the height floor", 1920, 1080, 50, 40, 586, 342, 50, 40, 1, 1, 105, 162, 250},
    {"3000x2000 fitted by height as well", 1920, 1080, 3000, 2000, 0, 0, 1545, 1030, 3000, 1545, 1600, 1657, 1042},
    {"1000x2000 fitted by height", 1920, 1080, 1000, 2000, 269, 0, 515, 1030, 1000, 515, 570, 627, 1042},
    {"square taller than the screen uses the height rule", 1920, 1080, 2000, 2000, 0, 0, 1030, 1030, 2000, 1030, 1085,
     1142, 1042},
    {"4000x1 keeps a preview 1 high", 1920, 1080, 4000, 1, 0, 355, 1780, 1, 4000, 1780, 1835, 1892, 250},
    {"1x2000 keeps a preview 1 wide", 1920, 1080, 1, 2000, 602, 0, 1, 1030, 1, 1, 56, 113, 1042},
    {"1000x3000 on a desktop 1051 high", 1920, 1051, 1000, 3000, 269, 0, 333, 1001, 1000, 333, 388, 445, 1013},
};

TEST_F(LayoutTest, FollowsTheRuleForEachDesktopAndPicture)
{
    for (const LayoutCase& c : kLayoutCases) {
        SCOPED_TRACE(c.label);
        Layout l = LayoutForDesktop(c.screenRight, c.screenBottom, c.imageWidth, c.imageHeight);
        EXPECT_EQ(l.windowLeft, c.windowLeft);
        EXPECT_EQ(l.windowTop, c.windowTop);
        EXPECT_EQ(l.aspectRatio, static_cast<long double>(c.imageWidth) / c.imageHeight);
        EXPECT_EQ(l.previewWidth, c.previewWidth);
        EXPECT_EQ(l.previewHeight, c.previewHeight);
        EXPECT_EQ(l.scaleFactor, static_cast<long double>(c.scaleNumerator) / c.scaleDenominator);
        EXPECT_EQ(l.panelLeft, c.panelLeft);

        // The frame adds a row and a column.
        memset(&state, 0, sizeof state);
        state.windowWidth = l.windowWidth;
        state.windowHeight = l.windowHeight;
        BuildFrameImage();
        EXPECT_EQ(state.windowWidth, c.finalWidth);
        EXPECT_EQ(state.windowHeight, c.finalHeight);
    }
}

// Pictures the plain fits put off the desktop or sample wrongly, on 1920 x 1080.
TEST_F(LayoutTest, EveryPictureFitsTheDesktopAndItsRowsSpanThePicture)
{
    static const struct {
        const char* label;
        int32_t imageWidth, imageHeight;
        int32_t windowLeft, windowTop, previewWidth, previewHeight;
        int32_t rowNumerator, rowDenominator;  // rowScaleFactor is this quotient
    } kCases[] = {
        {"1800x1500 wide and too high: fitted by height", 1800, 1500, 2, 0, 1236, 1030, 1800, 1236},
        {"5000x4000 fitted by height after width", 5000, 4000, 0, 0, 1287, 1030, 5000, 1287},
        {"1x2000 raised to one column: rows take their own factor", 1, 2000, 602, 0, 1, 1030, 2000, 1030},
        {"10x2000 would sample past the last row", 10, 2000, 599, 0, 5, 1030, 2000, 1030},
        {"100000x1 keeps one row", 100000, 1, 0, 355, 1780, 1, 100000, 1780},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        Layout l = LayoutForDesktop(1920, 1080, c.imageWidth, c.imageHeight);
        EXPECT_EQ(l.windowLeft, c.windowLeft);
        EXPECT_EQ(l.windowTop, c.windowTop);
        EXPECT_EQ(l.previewWidth, c.previewWidth);
        EXPECT_EQ(l.previewHeight, c.previewHeight);
        EXPECT_EQ(l.scaleFactor, static_cast<long double>(c.imageWidth) / c.previewWidth);
        EXPECT_EQ(l.rowScaleFactor, static_cast<long double>(c.rowNumerator) / c.rowDenominator);
        // The final window, with the frame's extra row and column, on the desktop.
        EXPECT_LE(l.windowLeft + l.windowWidth + 1, 1920);
        EXPECT_LE(l.windowTop + l.windowHeight + 1, 1080);
    }
}

// The layout rule as it stood before pictures were fitted in both
// dimensions, written out once more for comparison.
Layout PlainFitLayout(int32_t screenRight, int32_t screenBottom, int32_t imageWidth, int32_t imageHeight)
{
    Layout l{};
    l.windowLeft = std::max(0, (screenRight - imageWidth - 112) / 3);
    l.windowTop = std::max(0, (screenBottom - imageHeight - 12) / 3);
    l.aspectRatio = static_cast<long double>(imageWidth) / imageHeight;
    l.previewWidth = imageWidth;
    l.previewHeight = imageHeight;
    if (l.aspectRatio > 1.0L && screenRight - 140 < imageWidth) {
        l.previewWidth = screenRight - 140;
        l.previewHeight = static_cast<int32_t>(static_cast<long double>(screenRight - 140) / l.aspectRatio);
    } else if (l.aspectRatio <= 1.0L && screenBottom - 50 < imageHeight) {
        l.previewWidth = static_cast<int32_t>(static_cast<long double>(screenBottom - 50) * l.aspectRatio);
        l.previewHeight = screenBottom - 50;
    }
    l.previewWidth = std::max(l.previewWidth, 1);
    l.scaleFactor = static_cast<long double>(imageWidth) / l.previewWidth;
    l.panelLeft = l.previewWidth + 55;
    l.windowWidth = std::max(l.previewWidth + 111, 99);
    l.windowHeight = std::max(l.previewHeight + 11, 249);
    return l;
}

TEST_F(LayoutTest, PicturesThatFitKeepThePlainLayoutAndSampling)
{
    // Each of these gets a window on the desktop and a preview sampled
    // inside the picture from the plain rule already.
    static const struct { int32_t screenRight, screenBottom, imageWidth, imageHeight; } kFitting[] = {
        {1920, 1080, 1, 1},       {1920, 1080, 7, 3},       {1920, 1080, 800, 600},   {1920, 1080, 1780, 1030},
        {1920, 1080, 1781, 1000}, {1920, 1080, 4000, 2000}, {1920, 1080, 1030, 1031}, {1920, 1080, 1000, 2000},
        {1920, 1080, 2000, 2000}, {1920, 1080, 1200, 1600}, {1280, 1024, 1500, 800},  {1280, 1024, 900, 1200},
        {1024, 768, 3001, 1000},  {1024, 768, 640, 480},
    };
    for (const auto& c : kFitting) {
        SCOPED_TRACE(testing::Message() << c.imageWidth << "x" << c.imageHeight << " on " << c.screenRight << "x"
                                        << c.screenBottom);
        Layout plain = PlainFitLayout(c.screenRight, c.screenBottom, c.imageWidth, c.imageHeight);
        ASSERT_LE(plain.windowLeft + plain.windowWidth + 1, c.screenRight) << "not a fitting case";
        ASSERT_LE(plain.windowTop + plain.windowHeight + 1, c.screenBottom) << "not a fitting case";
        ASSERT_LE(Trunc((plain.previewHeight - 1) * plain.scaleFactor), c.imageHeight - 1) << "not a fitting case";
        Layout l = LayoutForDesktop(c.screenRight, c.screenBottom, c.imageWidth, c.imageHeight);
        EXPECT_EQ(l.windowLeft, plain.windowLeft);
        EXPECT_EQ(l.windowTop, plain.windowTop);
        EXPECT_EQ(l.previewWidth, plain.previewWidth);
        EXPECT_EQ(l.previewHeight, plain.previewHeight);
        EXPECT_EQ(l.scaleFactor, plain.scaleFactor);
        EXPECT_EQ(l.rowScaleFactor, plain.scaleFactor);
        EXPECT_EQ(l.panelLeft, plain.panelLeft);
        EXPECT_EQ(l.windowWidth, plain.windowWidth);
        EXPECT_EQ(l.windowHeight, plain.windowHeight);
    }
}

TEST_F(LayoutTest, ComputeLayoutUsesTheDesktopRectangle)
{
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    state.imageWidth = 3000;
    state.imageHeight = 2000;
    ComputeLayout();
    Layout expected = LayoutForDesktop(desktop.right, desktop.bottom, 3000, 2000);
    EXPECT_EQ(state.screenRight, desktop.right);
    EXPECT_EQ(state.screenBottom, desktop.bottom);
    EXPECT_EQ(state.windowLeft, expected.windowLeft);
    EXPECT_EQ(state.windowTop, expected.windowTop);
    EXPECT_EQ(state.previewWidth, expected.previewWidth);
    EXPECT_EQ(state.previewHeight, expected.previewHeight);
    EXPECT_EQ(state.scaleFactor, expected.scaleFactor);
    EXPECT_EQ(state.panelLeft, expected.panelLeft);
    EXPECT_EQ(state.windowWidth, expected.windowWidth);
    EXPECT_EQ(state.windowHeight, expected.windowHeight);
}

// The frame's rule, independent of the program: the ring colour (blue,
// green, red) by the distance from the nearest edge, 6 and beyond white.
// Returns bottom-up rows of a frame of (w + 1) x (h + 1) pixels.
std::vector<uint8_t> ReferenceFrame(int32_t w, int32_t h, int32_t stride)
{
    static const uint8_t kRings[7][3] = {
        {138, 147, 164}, {131, 191, 219}, {49, 71, 106}, {49, 69, 113},
        {172, 247, 255}, {155, 230, 244}, {255, 255, 255},
    };
    std::vector<uint8_t> frame(static_cast<size_t>(stride) * (h + 1), 0);
    for (int32_t y = 0; y <= h; ++y)
        for (int32_t x = 0; x <= w; ++x) {
            const int32_t d = std::min({x, w - x, y, h - y, 6});
            memcpy(&frame[static_cast<size_t>(h - y) * stride + 3 * x], kRings[d], 3);
        }
    return frame;
}

// DrawFrame's pixels for a frame of (w + 1) x (h + 1), bottom-up rows
// `stride` bytes apart, drawn into a DIB section filled with 0xAA first.
std::vector<uint8_t> DrawnFrame(int32_t w, int32_t h, int32_t stride)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w + 1;
    info.bmiHeader.biHeight = h + 1;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<uint8_t> frame(static_cast<size_t>(stride) * (h + 1));
    EXPECT_NE(section, nullptr);
    if (section != nullptr) {
        memset(bits, 0xAA, frame.size());
        HGDIOBJ previous = SelectObject(dc, section);
        DrawFrame(dc, w + 1, h + 1);
        GdiFlush();
        memcpy(frame.data(), bits, frame.size());
        SelectObject(dc, previous);
        DeleteObject(section);
    }
    DeleteDC(dc);
    return frame;
}

TEST_F(LayoutTest, FrameRingsByDistanceFromTheEdge)
{
    // 50x40 on 1920x1080: W = 161, H = 249, a final frame of 162 x 250 with
    // 2 padding bytes a row. Rows are counted from the top here.
    const int32_t w = 161, h = 249, stride = 488;
    const std::vector<uint8_t> frame = DrawnFrame(w, h, stride);

    static const struct { const char* label; int32_t x, y; uint8_t blue, green, red; } kPixels[] = {
        {"top-left corner", 0, 0, 138, 147, 164},
        {"top-right corner", 161, 0, 138, 147, 164},
        {"bottom-left corner", 0, 249, 138, 147, 164},
        {"bottom-right corner", 161, 249, 138, 147, 164},
        {"top edge", 80, 0, 138, 147, 164},
        {"ring 1 on the left", 1, 100, 131, 191, 219},
        {"ring 2 at the bottom", 80, 247, 49, 71, 106},
        {"ring 3 on the right", 158, 120, 49, 69, 113},
        {"ring 4 at the top", 30, 4, 172, 247, 255},
        {"ring 5 inside the corner", 5, 5, 155, 230, 244},
        {"ring 5 beside the corner", 6, 5, 155, 230, 244},
        {"first interior pixel", 6, 6, 255, 255, 255},
        {"last interior pixel", 155, 243, 255, 255, 255},
        {"ring 5 below the interior", 155, 244, 155, 230, 244},
        {"middle", 80, 125, 255, 255, 255},
    };
    for (const auto& p : kPixels) {
        SCOPED_TRACE(p.label);
        const uint8_t* px = frame.data() + static_cast<size_t>(h - p.y) * stride + 3 * p.x;
        EXPECT_EQ(px[0], p.blue);
        EXPECT_EQ(px[1], p.green);
        EXPECT_EQ(px[2], p.red);
    }
    // The fills stay inside the frame: the rows' padding is untouched.
    for (int32_t row = 0; row <= h; ++row) {
        EXPECT_EQ(frame[static_cast<size_t>(row) * stride + 486], 0xAA) << "row " << row;
        EXPECT_EQ(frame[static_cast<size_t>(row) * stride + 487], 0xAA) << "row " << row;
    }
}

// The frame drawn with GDI follows the ring rule pixel for pixel, at the
// smallest window and at odd sizes where every padding occurs.
TEST_F(LayoutTest, DrawnFrameIsTheFrameImage)
{
    static const struct { const char* label; int32_t w, h; } kSizes[] = {
        {"smallest window, 100 x 250", 99, 249},
        {"162 x 250", 161, 249},
        {"odd, 1657 x 1041", 1656, 1040},
        {"odd, 303 x 251", 302, 250},
    };
    for (const auto& c : kSizes) {
        SCOPED_TRACE(c.label);
        const int32_t stride = (3 * (c.w + 1) + 3) / 4 * 4;
        const std::vector<uint8_t> expected = ReferenceFrame(c.w, c.h, stride);
        const std::vector<uint8_t> got = DrawnFrame(c.w, c.h, stride);
        for (int32_t row = 0; row <= c.h; ++row)
            ASSERT_EQ(0, memcmp(got.data() + static_cast<size_t>(row) * stride,
                                expected.data() + static_cast<size_t>(row) * stride, 3 * static_cast<size_t>(c.w + 1)))
                << "row " << row;
    }
}

}  // namespace
