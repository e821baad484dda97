// Where the panel's value boxes and labels put their characters.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "editor/program_state.h"
#include "editor/program_windows.h"
#include "drawing_recorder.h"
#include "editor/error.h"
#include "editor/panel.h"
#include "test_support.h"

namespace {

const int32_t kPanelLeft = 300;

class PanelTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        state.panelLeft = kPanelLeft;
    }
};

struct Piece {
    int32_t offset;  // from panelLeft
    const char* text;
};

struct ValueCase {
    const char* label;
    long double value;
    std::vector<Piece> pieces;
};

TEST_F(PanelTest, DrawValuePlacesEveryCharacterRun)
{
    const ValueCase kCases[] = {
        {"zero shows only 0", 0.0L, {{10, "0"}}},
        {"one digit", 7.0L, {{10, "7"}}},
        {"three digits", 255.0L, {{10, "255"}}},
        {"a power of ten", 100.0L, {{10, "100"}}},
        {"negative", -20.0L, {{5, "-"}, {10, "20"}}},
        {"999999999", 999999999.0L, {{10, "999999999"}}},
        {"-1000000002", -1000000002.0L, {{5, "-"}, {10, "1000000002"}}},
        {"INT32_MIN", -2147483648.0L, {{5, "-"}, {10, "2147483648"}}},
        {"1.5", 1.5L, {{10, "1"}, {18, "."}, {26, "5"}}},
        {"12.25", 12.25L, {{10, "12"}, {26, "."}, {34, "25"}}},
        {"-3.75", -3.75L, {{5, "-"}, {10, "3"}, {18, "."}, {26, "75"}}},
        {"0.5", 0.5L, {{10, "0"}, {18, "."}, {26, "5"}}},
        {"-0.5", -0.5L, {{5, "-"}, {10, "0"}, {18, "."}, {26, "5"}}},
        {"0.05 keeps its leading fraction zero", 0.05L, {{10, "0"}, {18, "."}, {26, "05"}}},
        {"0.012", 0.012L, {{10, "0"}, {18, "."}, {26, "012"}}},
        {"1e-14", 1e-14L, {{10, "0"}, {18, "."}, {26, "0"}}},
        {"below 1e-14", 1e-15L, {{10, "0"}, {18, "."}, {26, "0"}}},
        // Beyond the thirteen digits there are, nothing is read or drawn.
        {"10^13", 1e13L, {{10, "1000000000000"}}},
        {"fraction past thirteen digits", 12345678901234.5L, {{10, "1234567890123"}}},
    };
    const int32_t top = 55;
    for (const ValueCase& c : kCases) {
        DrawingRecorder recorder;
        ASSERT_TRUE(recorder.Ready());
        DrawValue(recorder.Dc(), kPanelLeft, c.value, top);
        std::vector<DrawCall> expected = {Rect(kPanelLeft, top, kPanelLeft + 40, top + 20)};
        for (const Piece& p : c.pieces)
            expected.push_back(Text(kPanelLeft + p.offset, top, p.text));
        EXPECT_EQ(recorder.Finish(true), expected) << c.label;
    }
}

TEST_F(PanelTest, DrawPanelDrawsFrameLabelsThenValues)
{
    state.previewWidth = 245;
    state.panelLeft = 300;
    state.previewHeight = 180;
    SetParameters({{1, 2, 3}, {6, 7, 8}, 4, 9, -5});  // 1 to 9 in panel order, distr negative

    DrawingRecorder recorder;
    ASSERT_TRUE(recorder.Ready());
    DrawPanelNow(recorder.Dc());
    std::vector<DrawCall> got = recorder.Finish(true);

    // The frame's bottom edge is previewHeight itself.
    std::vector<DrawCall> expected = {
        Rect(285, 6, 337, 180),
        Text(270, 15, "red"),   Text(255, 35, "green"), Text(266, 55, "blue"),
        Text(267, 75, "disp"),  Text(262, 115, "distr"), Text(270, 155, "red"),
        Text(255, 175, "green"), Text(266, 195, "blue"), Text(267, 215, "disp"),
    };
    const int32_t tops[9] = {15, 35, 55, 75, 115, 155, 175, 195, 215};
    for (int i = 0; i < 9; ++i) {
        expected.push_back(Rect(300, tops[i], 340, tops[i] + 20));
        if (i == 4)
            expected.push_back(Text(305, tops[i], "-"));
        expected.push_back(Text(310, tops[i], std::string(1, static_cast<char>(i == 4 ? '5' : '1' + i))));
    }
    EXPECT_EQ(got, expected);
}

}  // namespace
