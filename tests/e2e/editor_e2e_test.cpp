// The editor as a user drives it: wheel notches over every panel row, the
// step toggle, typed numbers, clicks that rebuild the window, the keys that
// export or do not, Esc, and what the preview and editor windows show.
// Every scripted session ends in an export that must match the tint of the
// values the script leads to, byte for byte.
#include <gtest/gtest.h>

#include "editor_session.h"

using namespace e2e;

namespace {

// Tall enough that the panel's rectangle covers every row, odd width for row
// padding in the files.
const int32_t kWidth = 61, kHeight = 241;

struct Session {
    const char* label;
    std::vector<Step> steps;
    const char* exportKey;
    Params expected;
};

void RunScripted(const Session& s)
{
    SCOPED_TRACE(s.label);
    DWORD start = GetTickCount();
    EXPECT_EQ(RunSession(kWidth, kHeight, s.steps, s.exportKey, s.expected), "");
    printf("  %s: %lu ms\n", s.label, GetTickCount() - start);
}

// Wheel: every row, rows 4 and 6 acting on the value above them, the first
// notch after typing changing nothing, deltas other than +-120 ignored,
// left Shift held down toggling the step once, a digit leaving wheel mode
// without being typed; a letter exports from wheel mode.
TEST(Editor, WheelNotchesChangeTheValueOfTheRowUnderTheCursor)
{
    RunScripted({"wheel",
         {
             Keys(3, "40\n"), Keys(10, "70\n"), Keys(5, "30\n"),
             Shows({128, 128, 128, 40, 30, 128, 128, 128, 70}),
             Notches(0, -120, 3),  // the first only switches to wheel mode
             Notches(1, 120, 2), Notches(2, -120, 1), Notches(3, 120, 1), Notches(4, -120, 2),
             Notches(5, 120, 1), Notches(6, -120, 3), Notches(7, 120, 1), Notches(8, -120, 2),
             Notches(9, 120, 3), Notches(10, -120, 1),
             Notches(0, 240, 1), Notches(0, 60, 1), Notches(0, -240, 1),  // not one notch: nothing
             Shows({148, 108, 138, 50, 50, 118, 148, 98, 80}),
             Hold("S", 4),  // the auto-repeats do not toggle back
             Notches(0, -120, 3), Notches(10, 120, 2),
             Shows({151, 108, 138, 50, 50, 118, 148, 98, 78}),
             Keys(0, "S"), Notches(3, -120, 1),
             Shows({151, 108, 138, 60, 50, 118, 148, 98, 78}),
             Keys(0, "5"),  // leaves wheel mode and is lost
             Keys(0, "7\n"),
             Shows({7, 108, 138, 60, 50, 118, 148, 98, 78}),
             Notches(9, 120, 2),
             Shows({7, 108, 138, 60, 50, 118, 148, 88, 78}),
         },
         "z",
         {7, 108, 138, 60, 50, 118, 148, 88, 78}});
}

// Typed numbers, the entry's edge cases and keys that mean nothing to it;
// right Shift and keypad Enter do nothing in wheel mode either; left Ctrl
// exports from wheel mode.
TEST(Editor, TypedNumbersAreStoredIntoTheRowUnderTheCursor)
{
    RunScripted({"typed",
         {
             Keys(3, "50\n"), Keys(0, "7\n"),
             Shows({7, 128, 128, 50, 0, 128, 128, 128, 0}),
             Keys(0, "128\n"),  // the preview changes with it
             Shows({128, 128, 128, 50, 0, 128, 128, 128, 0}),
             Keys(1, "-5\n"), Keys(2, "-\n"), Keys(7, "4\b\n"),
             Keys(8, "1234567890\n"),  // the tenth digit is ignored
             Keys(10, "25\n"), Keys(5, "40\n"),
             Shows({128, -5, 0, 50, 40, 0, 123456789, 128, 25}),
             Keys(4, "\n"), Ink(4, false),  // nothing typed: the panel is redrawn
             Hold("S", 3),
             Keys(9, "9/KR1\n"),  // scan code 53, keypad Enter and right Shift type nothing
             Shows({128, -5, 0, 50, 40, 0, 123456789, 91, 25}),
             Notches(10, -120, 3), Keys(10, "KR"), Notches(10, -120, 1),
             Shows({128, -5, 0, 50, 40, 0, 123456789, 91, 28}),
         },
         "C",
         {128, -5, 0, 50, 40, 0, 123456789, 91, 28}});
}

// A left and a right click each rebuild the window, which shows the current
// values, and drop the number being typed; "[" exports from numeric entry.
TEST(Editor, ClicksRebuildTheWindowAndDropAHalfTypedNumber)
{
    const Params set = {128, 128, 128, 60, 20, 128, 128, 128, 80};
    RunScripted({"clicks",
         {
             Keys(3, "60\n"), Keys(5, "20\n"), Keys(10, "80\n"), Shows(set),
             Keys(0, "5"), LeftClickStep(), Shows(set),
             Keys(0, "\n"),  // an entry carried over would store 5 here
             Keys(1, "3\n"),
             Shows({128, 3, 128, 60, 20, 128, 128, 128, 80}),
             Keys(2, "-4"), RightClickStep(), Keys(2, "6\n"),
             Shows({128, 3, 6, 60, 20, 128, 128, 128, 80}),
         },
         "[",
         {128, 3, 6, 60, 20, 128, 128, 128, 80}});
}

// The rings of the frame at every corner of a window, by distance from its edge.
void ExpectFrame(const ScreenShot& shot, const Geometry& g, const char* which)
{
    static const COLORREF kRing[] = {RGB(164, 147, 138), RGB(219, 191, 131), RGB(106, 71, 49),
                                     RGB(113, 69, 49),   RGB(255, 247, 172), RGB(244, 230, 155)};
    int right = g.left + g.windowWidth - 1, bottom = g.top + g.windowHeight - 1;
    for (int d = 0; d < 6; ++d) {
        SCOPED_TRACE(std::string(which) + " ring " + std::to_string(d));
        EXPECT_EQ(shot.At(g.left + d, g.top + d), kRing[d]);
        EXPECT_EQ(shot.At(right - d, g.top + d), kRing[d]);
        EXPECT_EQ(shot.At(g.left + d, bottom - d), kRing[d]);
        EXPECT_EQ(shot.At(right - d, bottom - d), kRing[d]);
        EXPECT_EQ(shot.At(g.left + g.windowWidth / 2, g.top + d), kRing[d]);
        EXPECT_EQ(shot.At(g.left + d, g.top + g.windowHeight / 2), kRing[d]);
    }
    // Inside the rings on the right: white (on the left is the preview).
    EXPECT_EQ(shot.At(right - 6, g.top + 6), RGB(255, 255, 255)) << which;
    EXPECT_EQ(shot.At(right - 6, bottom - 6), RGB(255, 255, 255)) << which;
}

// Value boxes by row top: their pixels, and whether the 5 columns left of
// the sign position are white.
std::vector<std::vector<uint32_t>> Boxes(const ScreenShot& shot, const Geometry& g)
{
    std::vector<std::vector<uint32_t>> boxes;
    for (int row : {0, 1, 2, 3, 5, 7, 8, 9, 10}) {
        std::vector<uint32_t> box;
        for (int y = RowTop(row); y < RowTop(row) + 20; ++y)
            for (int x = g.panelLeft; x < g.panelLeft + 40; ++x)
                box.push_back(shot.At(g.left + x, g.top + y));
        boxes.push_back(box);
    }
    return boxes;
}

// The editor window after the preview, and Esc.
TEST(Editor, WindowsShowFramePreviewAndPanelAndEscWritesNothing)
{
    EditorRun run(kWidth, kHeight);
    ASSERT_EQ(run.OpenToPreview(), "");
    const Geometry& g = run.Geo();

    ASSERT_EQ(run.PreviewToEditor(), "");  // also: the preview at (6, 6) is the picture itself
    EXPECT_FALSE(IsWindow(run.PreviewWindow()));
    ScreenShot editor = run.Window();
    ExpectFrame(editor, g, "editor window");
    // 128 in the colour rows, 0 in disp and distr.
    auto editorBoxes = Boxes(editor, g);
    for (size_t i : {0, 1, 2, 5, 6, 7}) {
        EXPECT_EQ(editorBoxes[i], editorBoxes[0]) << "box " << i;
        EXPECT_NE(editorBoxes[i], editorBoxes[3]) << "box " << i;
    }
    for (size_t i : {4, 8})
        EXPECT_EQ(editorBoxes[i], editorBoxes[3]) << "box " << i;
    // White boxes: nothing is drawn in front of the sign position of a box
    // that shows no sign, and every box has its digits.
    for (size_t i = 0; i < editorBoxes.size(); ++i) {
        int ink = 0, marginInk = 0;
        for (size_t p = 0; p < editorBoxes[i].size(); ++p) {
            bool white = editorBoxes[i][p] == RGB(255, 255, 255);
            ink += !white;
            marginInk += !white && p % 40 < 5;
        }
        EXPECT_GT(ink, 0) << "box " << i;
        EXPECT_EQ(marginInk, 0) << "box " << i;
    }

    // Holding a key that is no export key, then Esc.
    ASSERT_EQ(run.DoAll({Hold("R", 3), Keys(0, "K"), Shows(kStartValues)}), "");
    EXPECT_TRUE(run.Program().Running());
    EXPECT_EQ(run.EscapeWithoutWriting(), "");
}

}  // namespace
