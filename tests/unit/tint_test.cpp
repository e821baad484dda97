// The tint blend, its per-byte tables, and the preview re-render.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "editor/preview.h"
#include "editor/program_windows.h"
#include "formats/tint.h"
#include "read/pixels.h"
#include "test_support.h"

namespace {

class TintTest : public ProgramTest {};

struct TintCase {
    const char* label;
    int32_t x, A, B, dispA, dispB, distr;
    int expected;
};

const TintCase kTintCases[] = {
    {"full A gives the A component", 10, 77, 0, 100, 0, 0, 77},
    {"full A above 255 clamps", 10, 300, 0, 100, 0, 0, 255},
    {"full A below 0 clamps", 10, -5, 0, 100, 0, 0, 0},
    {"half towards black, 1", 1, 0, 0, 50, 0, 0, 0},
    {"half towards black, 3", 3, 0, 0, 50, 0, 0, 2},
    {"half towards black, 5", 5, 0, 0, 50, 0, 0, 2},
    {"half towards black, 7", 7, 0, 0, 50, 0, 0, 4},
    {"127.5 goes to even", 0, 0, 255, 100, 100, 50, 128},
    {"127.5 goes to even from 255", 255, 0, 255, 100, 100, 50, 128},
    {"163.75", 200, 255, 0, 50, 50, 50, 164},
    {"100.75", 100, 0, 255, 30, 60, 25, 101},
    {"negative disp, 100", 100, 128, 0, -100, 0, 0, 72},
    {"negative disp, 200 clamps", 200, 128, 0, -100, 0, 0, 255},
    {"far beyond 32 bits, high", 200, 999999999, 0, 999999999, 0, 0, 255},
    {"far beyond 32 bits, low", 200, -999999999, 0, 999999999, 0, 0, 0},
    {"far beyond 32 bits through distr", 3, 999999999, 999999999, 999999999, -999999999, 999999999, 0},
    {"extreme 32-bit inputs", 255, INT_MAX, INT_MIN, INT_MIN, INT_MAX, INT_MIN, 255},
    // Blends whose exact value lies near a half: the result depends on each
    // of the nine steps being rounded to a 64-bit significand, in order.
    // Computed in plain double, or exactly, these come out one off.
    {"extended, not double (1)", 67, -199, -69, 60, -10, 175, 211},
    {"extended, not double (2)", 240, 261, -90, -230, 251, 4, 160},
    {"extended, not double (3)", 252, -130, -34, 18, 7, -100, 134},
    {"extended, not double (4)", 189, 184, 219, -217, 231, -300, 24},
    {"extended, not exact (1)", 36, -286, -130, 123, 108, 200, 73},
    {"extended, not exact (2)", 97, 406, 72, -150, 154, 132, 195},
};

TEST_F(TintTest, BlendsRoundsAndClamps)
{
    for (const TintCase& c : kTintCases)
        EXPECT_EQ(TintByte(c.x, c.A, c.B, c.dispA, c.dispB, c.distr), c.expected) << c.label;
}

TEST_F(TintTest, NoDisplacementLeavesEveryByte)
{
    static const int32_t kDistr[] = {0, 50, 100, -300, 999999999};
    for (int32_t distr : kDistr) {
        for (int32_t x = 0; x < 256; ++x)
            ASSERT_EQ(TintByte(x, 17, 999999999, 0, 0, distr), x) << "distr " << distr;
    }
}

// Parameter sets for the table check: the extremes, then a fixed
// pseudo-random spread over and beyond the usual ranges.
std::vector<TintParameters> TableParameterSets()
{
    std::vector<TintParameters> sets = {
        {{128, 128, 128}, {128, 128, 128}, 0, 0, 0},
        {{255, 0, 77}, {0, 255, 300}, 100, 0, 0},
        {{0, 128, 255}, {255, 128, 0}, 100, 100, 50},
        {{-5, 300, 128}, {999999999, -999999999, 1}, -100, 250, 33},
        {{999999999, 999999999, 999999999}, {999999999, 999999999, 999999999}, 999999999, 999999999, 999999999},
        {{-999999999, 5, 999999999}, {3, -999999999, 7}, -999999999, 999999999, -999999999},
        {{INT_MIN, INT_MAX, 0}, {INT_MAX, 0, INT_MIN}, INT_MAX, INT_MIN, INT_MAX},
    };
    uint32_t seed = 12345;
    auto next = [&seed](int32_t lo, int32_t hi) {
        seed = seed * 1103515245u + 12345u;
        return lo + static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(hi - lo + 1));
    };
    for (int i = 0; i < 200; ++i) {
        TintParameters p;
        for (int k = 0; k < 3; ++k) {
            p.tintA[k] = next(-400, 700);
            p.tintB[k] = next(-400, 700);
        }
        p.dispA = next(-250, 250);
        p.dispB = next(-250, 250);
        p.distr = next(-250, 250);
        sets.push_back(p);
    }
    return sets;
}

// The blend in double, independent of the extended arithmetic under test.
// It settles the byte wherever the value lies farther than its error bound
// from a half; false where it cannot (the worked cases above cover those).
bool ReferenceTint(int32_t x, int32_t A, int32_t B, const TintParameters& p, int& byte)
{
    double a = p.dispA / 100.0, b = p.dispB / 100.0, d = p.distr / 100.0;
    double first = (1 - a) * x + a * A, second = (1 - b) * x + b * B;
    double value = first * (1 - d) + second * d;
    double bound = 1e-12 * ((std::fabs((1 - a) * x) + std::fabs(a * A)) * (1 + std::fabs(d)) +
                            (std::fabs((1 - b) * x) + std::fabs(b * B)) * std::fabs(d) + 1);
    if (value + bound < -0.5 || value - bound > 255.5) {
        byte = value < 0 ? 0 : 255;
        return true;
    }
    double nearest = std::floor(value + 0.5);
    if (std::fabs(value - (nearest - 0.5)) <= bound || std::fabs(value - (nearest + 0.5)) <= bound)
        return false;
    byte = static_cast<int>(std::min(255.0, std::max(0.0, nearest)));
    return true;
}

// Pixel byte 0 is blue, 1 green, 2 red; the components are stored red first.
const int kByteOfComponent[3] = {2, 1, 0};

TEST_F(TintTest, TablesHoldTheWorkedValuesInTheirComponentsChannel)
{
    // Each case's colours go into one component, red, green and blue in turn;
    // the others get colours of their own, so a table built from the wrong
    // component shows.
    int component = 0;
    for (const TintCase& c : kTintCases) {
        TintParameters p = {{-150, 600, 40}, {600, -150, 90}, c.dispA, c.dispB, c.distr};
        p.tintA[component] = c.A;
        p.tintB[component] = c.B;
        TintTables tables;
        memset(&tables, 0xAA, sizeof tables);
        BuildTintTables(p, tables);
        EXPECT_EQ(tables.channel[kByteOfComponent[component]][c.x], c.expected) << c.label;
        component = (component + 1) % 3;
    }
}

TEST_F(TintTest, TablesMatchTheBlendForEveryByte)
{
    int checked = 0, unsettled = 0;
    for (const TintParameters& p : TableParameterSets()) {
        TintTables tables;
        memset(&tables, 0xAA, sizeof tables);
        BuildTintTables(p, tables);
        for (int component = 0; component < 3; ++component) {
            for (int32_t x = 0; x < 256; ++x) {
                int expected;
                if (!ReferenceTint(x, p.tintA[component], p.tintB[component], p, expected)) {
                    ++unsettled;
                    continue;
                }
                ++checked;
                ASSERT_EQ(tables.channel[kByteOfComponent[component]][x], expected)
                    << "component " << component << " byte " << x << " dispA " << p.dispA << " dispB " << p.dispB
                    << " distr " << p.distr;
            }
        }
    }
    // The reference must settle nearly every byte, or the check says little.
    EXPECT_LT(unsettled, checked / 100) << checked << " checked";
}

TEST_F(TintTest, TintPixelsMapsEachByteThroughItsChannel)
{
    // Widths 1 to 9 cover the word-wise part and every remainder of it.
    TintTables tables;
    for (int c = 0; c < 3; ++c)
        for (int x = 0; x < 256; ++x)
            tables.channel[c][x] = static_cast<uint8_t>(x * (c + 2) + c * 50);
    for (uint32_t count = 1; count <= 9; ++count) {
        std::vector<uint8_t> source(3 * count + 1), destination(3 * count + 1, 0xAA);
        for (size_t i = 0; i < source.size(); ++i)
            source[i] = static_cast<uint8_t>(i * 37 + 11);
        TintPixels(source.data(), destination.data(), count, tables);
        for (size_t i = 0; i < 3 * count; ++i)
            ASSERT_EQ(destination[i], tables.channel[i % 3][source[i]]) << "count " << count << " byte " << i;
        EXPECT_EQ(destination[3 * count], 0xAA) << "wrote past " << count << " pixels";
    }
}

// A 32-bit DIB section stands in for the editor window's device context.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP dib = nullptr;
    uint32_t* pixels = nullptr;  // top-down rows
    int width = 0, height = 0;

    Canvas(int w, int h) : width(w), height(h)
    {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        dc = CreateCompatibleDC(nullptr);
        dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<uint32_t*>(bits);
        SelectObject(dc, dib);
        for (int i = 0; i < w * h; ++i)
            pixels[i] = 0x00123456;
    }
    ~Canvas()
    {
        DeleteDC(dc);
        DeleteObject(dib);
    }
    uint32_t At(int x, int y) const { return pixels[y * width + x] & 0xFFFFFF; }
};

TEST_F(TintTest, RenderPreviewTintsIntoPreviewImageAndBlitsAtSixSix)
{
    // 5 x 3 preview: 15 pixel bytes and 1 padding byte a row.
    const int32_t w = 5, h = 3;
    RowLayout layout = RowStride(w);
    state.previewWidth = w;
    state.previewHeight = h;
    state.outStride = layout.stride;
    state.outPad = layout.pad;
    std::vector<uint8_t> source(static_cast<size_t>(layout.stride) * h, 0);
    std::vector<uint8_t> image(source.size(), 0xAA);
    for (int32_t row = 0; row < h; ++row)
        for (int32_t i = 0; i < 3 * w; ++i)
            source[static_cast<size_t>(row) * layout.stride + i] = static_cast<uint8_t>(row * 60 + i * 3 + 1);
    state.previewSourcePixels = source.data();
    state.previewPixels = image.data();
    FillBitmapRecords(state.previewHeader, state.previewInfo, w, h);

    // Red fully to 255, green half towards 0, blue untouched.
    SetParameters({{255, 0, 0}, {255, 0, 0}, 100, 50, 100});

    Canvas canvas(20, 20);
    std::vector<uint8_t> untouched = source;
    RenderPreview(canvas.dc);
    GdiFlush();

    EXPECT_EQ(source, untouched) << "previewSource must stay as it was";
    for (int32_t row = 0; row < h; ++row) {
        const uint8_t* in = source.data() + static_cast<size_t>(row) * layout.stride;
        const uint8_t* out = image.data() + static_cast<size_t>(row) * layout.stride;
        for (int32_t col = 0; col < w; ++col) {
            SCOPED_TRACE(testing::Message() << "row " << row << " col " << col);
            uint8_t blue = TintByte(in[3 * col], 0, 0, 100, 50, 100);
            uint8_t green = TintByte(in[3 * col + 1], 0, 0, 100, 50, 100);
            uint8_t red = TintByte(in[3 * col + 2], 255, 255, 100, 50, 100);
            EXPECT_EQ(out[3 * col], blue);
            EXPECT_EQ(out[3 * col + 1], green);
            EXPECT_EQ(out[3 * col + 2], red);
            // Buffer rows are bottom-up; the canvas is top-down.
            uint32_t expected = static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 | blue;
            EXPECT_EQ(canvas.At(6 + col, 6 + (h - 1 - row)), expected);
        }
        EXPECT_EQ(out[3 * w], 0) << "padding of row " << row;
    }
    EXPECT_EQ(canvas.At(5, 6), 0x123456u);
    EXPECT_EQ(canvas.At(6 + w, 6), 0x123456u);
    EXPECT_EQ(canvas.At(6, 6 + h), 0x123456u);
}

}  // namespace
