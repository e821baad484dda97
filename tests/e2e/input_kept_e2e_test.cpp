// Input the editor must neither lose nor invent: a number typed in one burst
// right after a click, bursts with a click in them, exact numbers in the
// value boxes, Enter where no parameter is, and a message no window of the
// editor receives.
#include <gtest/gtest.h>

#include "editor_session.h"

using namespace e2e;

namespace {

const int32_t kWidth = 61, kHeight = 241;

// Opens the session picture up to numeric entry in the editor.
std::string OpenEditor(EditorRun& run)
{
    std::string why = run.OpenToPreview();
    return why.empty() ? run.PreviewToEditor() : why;
}

// The first key typed after the window was rebuilt is part of the number,
// whether it comes after the click's button-up or before it.
TEST(InputKept, NumberTypedInOneBurstAfterAClick)
{
    const Params expected = {128, 128, 128, 100, 0, 128, 128, 128, 0};
    std::vector<Key> keys(3);
    ASSERT_TRUE(KeyForCharacter('1', keys[0]) && KeyForCharacter('0', keys[1]) && KeyForCharacter('0', keys[2]));
    keys.push_back(kEnter);
    for (bool beforeButtonUp : {false, true}) {
        SCOPED_TRACE(beforeButtonUp ? "keys before the button-up" : "keys after the click");
        EditorRun run(kWidth, kHeight);
        ASSERT_EQ(OpenEditor(run), "");
        const int x = run.ScreenX(run.Geo().panelLeft + 20), y = run.ScreenY(RowTop(3) + 10);
        LeftClick(x, y, beforeButtonUp ? keys : std::vector<Key>{});
        if (!beforeButtonUp)
            TapKeys(keys);
        ASSERT_EQ(run.Do(Shows(expected)), "");
        EXPECT_EQ(run.ExportWith("z", expected), "");
    }
}

// Sends a burst in one SendInput call: 'A' to 'K' move the pointer over
// panel row 0 to 10, 'd' and 'u' press and release the left button, 'n' is a
// notch away, digits and '\n' (Enter) are tapped. Wine reports a move again,
// late, when a busy program reads its X events: a burst taps and turns only
// over the row the pointer was over before it.
bool SendBurst(const EditorRun& run, const char* burst)
{
    std::vector<INPUT> inputs;
    for (const char* p = burst; *p != '\0'; ++p) {
        INPUT input = PointerMove(run.ScreenX(run.Geo().panelLeft + 20), run.ScreenY(RowTop(*p - 'A') + 10));
        Key key = kEnter;
        if (*p == 'd' || *p == 'u' || *p == 'n') {
            input.mi.dwFlags = *p == 'n' ? MOUSEEVENTF_WHEEL : *p == 'd' ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
            input.mi.mouseData = *p == 'n' ? WHEEL_DELTA : 0;
        } else if (*p == '\n' || KeyForCharacter(*p, key)) {
            inputs.push_back(support::KeyInput(key, false));
            input = support::KeyInput(key, true);
        }
        inputs.push_back(input);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof inputs[0]) == inputs.size();
}

// A click and what follows it in one burst, which may reach the old window
// before the click has rebuilt it: each message acts in its order, over the
// row the pointer was over at it, even when the pointer has left that row
// by the rebuild. dispA is 40 first, so that the colours show.
TEST(InputKept, BurstsAfterAClick)
{
    static const struct {
        const char* label;
        const char* burst;
        Params expected;
    } kCases[] = {
        // The first notch enters wheel mode, the second steps; 7 leaves wheel
        // mode, and Enter with nothing typed stores nothing.
        {"two notches before the keys", "Ddunn7\n", {128, 128, 128, 30, 0, 128, 128, 128, 0}},
        // The number belongs to row 3 though the pointer is over row 0 by
        // the time the window is rebuilt.
        {"a move after the number", "Ddu42\nA", {128, 128, 128, 42, 0, 128, 128, 128, 0}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        EditorRun run(kWidth, kHeight);
        ASSERT_EQ(OpenEditor(run), "");
        ASSERT_EQ(run.DoAll({Keys(3, "40\n"), Shows({128, 128, 128, 40, 0, 128, 128, 128, 0})}), "");
        ASSERT_TRUE(SendBurst(run, c.burst));
        EXPECT_EQ(run.Do(Shows(c.expected)), "");
        EXPECT_EQ(run.ExportWith("z", c.expected), "");
    }
}

// A notch right after a click starts an entry and ends it in wheel mode, as
// a notch does once an entry has begun: of three, the last two count.
TEST(InputKept, NotchesRightAfterAClick)
{
    EditorRun run(kWidth, kHeight);
    ASSERT_EQ(OpenEditor(run), "");
    const Params expected = {108, 128, 128, 40, 0, 128, 128, 128, 0};
    ASSERT_EQ(run.DoAll({Keys(3, "40\n"), Shows({128, 128, 128, 40, 0, 128, 128, 128, 0})}), "");
    // Notches sent before the new window is there may go to the old one.
    HWND old = run.EditorWindow();
    const int x = run.ScreenX(run.Geo().panelLeft + 20), y = run.ScreenY(RowTop(0) + 10);
    LeftClick(x, y);
    ASSERT_NE(run.Program().WaitForWindow(kEditorClassName, 5000, old), nullptr);
    WheelEvents(x, y, 120, 3);
    ASSERT_EQ(run.Do(Shows(expected)), "");
    EXPECT_EQ(run.ExportWith("z", expected), "");
}

// Pixels of a value box and of whatever of the number runs on to the
// window's right edge.
std::vector<COLORREF> ValuePixels(const EditorRun& run, const ScreenShot& shot, int row)
{
    const Geometry& g = run.Geo();
    std::vector<COLORREF> pixels;
    for (int y = RowTop(row); y < RowTop(row) + 20; ++y)
        for (int x = g.panelLeft; x < g.windowWidth; ++x)
            pixels.push_back(shot.At(run.ScreenX(x), run.ScreenY(y)));
    return pixels;
}

// Polls the screen until the boxes of rows a and b look alike (or unlike).
bool BoxesAlike(const EditorRun& run, int a, int b, bool alike)
{
    return PollUntil(5000, [&] {
        ScreenShot shot = run.Window();
        return (ValuePixels(run, shot, a) == ValuePixels(run, shot, b)) == alike;
    }, 20);
}

// Near 10^9 the boxes show the stored numbers, not the power of ten.
TEST(InputKept, ValueBoxesShowTheStoredNumber)
{
    EditorRun run(kWidth, kHeight);
    ASSERT_EQ(OpenEditor(run), "");
    const Params expected = {999999999, 1000000000, 999999997, 50, 0, -999999998, -999999997, 128, 50};
    ASSERT_EQ(run.DoAll({Keys(3, "50\n"), Keys(10, "50\n"), Keys(0, "999999999\n"), Keys(1, "999999999\n"), Keys(2, "999999997\n"),
                         Keys(7, "-999999998\n"), Keys(8, "-999999997\n"),
                         Keys(1, "S"), Notches(1, -120, 2),  // step 1; the first notch enters wheel mode
                         Shows(expected)}),
              "");
    // Only the first six characters fit on screen.
    EXPECT_TRUE(BoxesAlike(run, 0, 2, true)) << "999999999 as 999999997";
    EXPECT_TRUE(BoxesAlike(run, 0, 1, false)) << "999999999 unlike 1000000000";
    EXPECT_TRUE(BoxesAlike(run, 7, 8, true)) << "-999999998 as -999999997";
    EXPECT_EQ(run.ExportWith("z", expected), "");
}

// Enter over a gap row or below the rows drops the number and clears it from
// the screen; the next entry over a parameter is stored.
TEST(InputKept, EnterOverNoParameterDropsTheNumber)
{
    EditorRun run(kWidth, kHeight);
    ASSERT_EQ(OpenEditor(run), "");
    const Params start = {128, 128, 128, 40, 0, 128, 128, 128, 0};
    const Params expected = {7, 128, 128, 40, 0, 128, 128, 128, 0};
    ASSERT_EQ(run.DoAll({Keys(3, "40\n"), Shows(start), Keys(4, "33"), Ink(4, true), Keys(4, "\n"), Ink(4, false),
                         Keys(6, "44"), Ink(6, true), Keys(6, "\n"), Ink(6, false),
                         Keys(3, "55"), Keys(11, "\n"),
                         Shows(start),
                         Keys(0, "7\n"), Shows(expected)}),
              "");
    EXPECT_EQ(run.ExportWith("z", expected), "");
}

// A thread message between two notches is acted on by no loop.
TEST(InputKept, ThreadMessageBetweenNotchesChangesNothing)
{
    EditorRun run(kWidth, kHeight);
    ASSERT_EQ(OpenEditor(run), "");
    // With both percentages at 0 the colours would not show.
    const Params once = {138, 128, 128, 40, 0, 128, 128, 128, 0};
    const Params twice = {148, 128, 128, 40, 0, 128, 128, 128, 0};
    ASSERT_EQ(run.DoAll({Keys(3, "40\n"), Notches(0, -120, 2), Shows(once)}), "");  // the first notch enters wheel mode
    ASSERT_TRUE(PostThreadMessageA(run.Program().MainThreadId(), WM_APP, 0, 0));
    Sleep(200);  // fetched at once: the program waits in GetMessageA
    ASSERT_EQ(run.DoAll({Notches(0, -120, 1), Shows(twice)}), "");
    EXPECT_EQ(run.ExportWith("z", twice), "");
}

}  // namespace
