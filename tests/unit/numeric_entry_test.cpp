// The row hit test, the keys of a numeric entry with their echo, storing an
// entered number, and the wheel operations, without a window: keys are
// given as DecodeInput gives them, the cursor by the fetched message's place.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "editor/input_rules.h"
#include "editor/numeric_entry.h"
#include "editor/program_state.h"
#include "drawing_recorder.h"
#include "editor/error.h"
#include "editor/keys.h"
#include "test_support.h"

namespace {

const int32_t kPanelLeft = 300;
const int32_t kWindowTop = 100;

class NumericEntryTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        state.panelLeft = kPanelLeft;
        state.windowTop = kWindowTop;
    }

    static void CursorAtClientY(int32_t y) { state.msg.pt.y = kWindowTop + y; }
};

// Key-downs as DecodeInput gives them; in `keys` of the tables: digits,
// '-' the minus key, '<' Backspace, '=' Enter, 'k' keypad 5.
Input KeyOf(char c)
{
    switch (c) {
    case '-': return {Input::kKeyDown, 12, VK_OEM_MINUS};
    case '<': return {Input::kKeyDown, scan::kBackspace, VK_BACK};
    case '=': return {Input::kKeyDown, scan::kEnter, VK_RETURN};
    case 'k': return {Input::kKeyDown, 76, VK_NUMPAD5};
    default: return {Input::kKeyDown, c == '0' ? scan::kDigit0 : scan::kDigit1 + (c - '1'), c};
    }
}

// Each key decided and carried out as an entry does, at grid row `row`.
void Press(HDC dc, const std::string& keys, int32_t row)
{
    for (char c : keys)
        NumericEntryStep(dc, DecideEntryKey(KeyOf(c), state.entryDigits, state.entryBoxDrawn != 0), kPanelRows[row]);
}

TEST_F(NumericEntryTest, RowUnderCursorFollowsTheGridAndTruncatesTowardZero)
{
    static const struct { int32_t clientY, row; } kCases[] = {
        {-25, -1}, {-24, -1}, {-5, -1}, {-4, 0}, {0, 0}, {14, 0}, {15, 0}, {34, 0}, {35, 1}, {54, 1}, {55, 2},
        {74, 2}, {75, 3}, {94, 3}, {95, 4}, {114, 4}, {115, 5}, {134, 5}, {135, 6}, {154, 6},
        {155, 7}, {174, 7}, {175, 8}, {194, 8}, {195, 9}, {214, 9}, {215, 10}, {234, 10}, {235, -1},
    };
    for (const auto& c : kCases) {
        CursorAtClientY(c.clientY);
        const PanelRow* row = RowUnderCursor();
        EXPECT_EQ(row == nullptr ? -1 : row - kPanelRows, c.row) << "client y " << c.clientY;
    }
}

TEST_F(NumericEntryTest, KeysGiveTheStoredValueAndTheEchoAsTyped)
{
    static const struct {
        const char* label;
        const char* keys;
        const char* lastEcho;   // the digit run left at +10
        int32_t value;          // entryValue after the keys; stored at Enter
        uint8_t entryState;
    } kCases[] = {
        {"single digit", "7", "7", 7, 1},
        {"leading zero stays visible", "05", "05", 5, 1},
        {"zeros only", "000", "000", 0, 1},
        {"nine nines are not shown as 10^9", "999999999", "999999999", 999999999, 1},
        {"a tenth digit is ignored", "9999999998", "999999999", 999999999, 1},
        {"backspace drops the last typed character", "105<", "10", 10, 1},
        {"backspace after a leading zero", "05<", "0", 0, 1},
        {"128 and Enter", "128=", "128", 128, 1},
        {"minus and five", "-5=", "5", -5, 1},
        {"minus after the digits", "5-=", "5", -5, 1},
        {"minus alone", "-=", "", 0, 1},
        {"the last digit removed takes the minus along", "-4<=", "", 0, 1},
        {"and typing goes on from nothing", "-4<7=", "7", 7, 1},
        {"keypad digits are not taken", "k", "", 0, 0},
    };
    const int32_t row = 2, y = 55;
    for (const auto& c : kCases) {
        state.entryValue = state.entryDigits = state.entryNegative = state.entryState = state.entryBoxDrawn = 0;
        state.tintA[kBlue] = 128;
        DrawingRecorder recorder;
        ASSERT_TRUE(recorder.Ready());
        Press(recorder.Dc(), c.keys, row);
        std::string lastEcho;
        for (const DrawCall& call : recorder.Finish(true)) {
            if (call.kind == 'r' && call.x == kPanelLeft)
                break;  // Enter's store redraws the value box
            if (call.kind == 'r' && call.x == kPanelLeft + 5)
                lastEcho.clear();  // the box from +5 clears the echo
            if (call.kind == 't' && call.x == kPanelLeft + 10 && call.y == y)
                lastEcho = call.text;
        }
        const bool entered = c.keys[strlen(c.keys) - 1] == '=';
        EXPECT_EQ(lastEcho, c.lastEcho) << c.label;
        EXPECT_EQ(state.entryValue, c.value) << c.label;
        EXPECT_EQ(state.tintA[kBlue], entered ? c.value : 128) << c.label;
        EXPECT_EQ(state.entryState, c.entryState) << c.label;
    }
}

TEST_F(NumericEntryTest, StepsDrawBoxMinusDigitsAndClears)
{
    DrawingRecorder recorder;
    ASSERT_TRUE(recorder.Ready());
    // The box comes with the first key-down, even one that does nothing else.
    Press(recorder.Dc(), "k-0", 1);
    Press(recorder.Dc(), "5<<=", 3);  // the cursor moved: the echo follows it
    std::vector<DrawCall> expected = {
        Rect(305, 35, 350, 55),  // entry box at the first key's row
        Text(305, 35, "-"),
        Text(310, 35, "0"),
        Text(310, 75, "05"),
        Rect(310, 75, 350, 95),  // Backspace with digits to spare clears from +10
        Text(310, 75, "0"),
        Rect(305, 75, 350, 95),  // the last digit goes, and the minus with it
        Rect(300, 75, 340, 95),  // Enter stores 0 into dispA and redraws its box
        Text(310, 75, "0"),
    };
    EXPECT_EQ(recorder.Finish(true), expected);
    EXPECT_EQ(state.dispA, 0);
    EXPECT_EQ(state.entryNegative, 0);
    EXPECT_EQ(state.entryDigits, 0);
}

// A notch away, a notch toward, and a typed -42 stored: over each row each
// changes that row's parameter alone and redraws its box; off the rows a
// notch does nothing, and no number is stored over a gap.
TEST_F(NumericEntryTest, WheelAndStoreChangeTheRowsParameterAloneAndRedrawItsBox)
{
    int32_t* const kParameters[11] = {
        &state.tintA[kRed], &state.tintA[kGreen], &state.tintA[kBlue], &state.dispA, &state.dispA,
        &state.distr,       &state.distr,         &state.tintB[kRed],  &state.tintB[kGreen],
        &state.tintB[kBlue], &state.dispB,
    };
    static const int32_t kValueTops[11] = {15, 35, 55, 75, 75, 115, 115, 155, 175, 195, 215};
    static const int32_t kAfter[3] = {118, 138, -42};
    state.step = 10;
    for (int32_t row = -1; row <= 11; ++row) {
        const bool onPanel = row >= 0 && row < 11;
        for (int action = 0; action < 3; ++action) {
            if (action == 2 && (!onPanel || row == 4 || row == 6))
                continue;
            SCOPED_TRACE(testing::Message() << "row " << row << ", action " << action);
            SetParameters({});
            if (onPanel)
                *kParameters[row] = 128;
            CursorAtClientY(row * 20 + 15);
            state.entryValue = kAfter[2];
            DrawingRecorder recorder;
            ASSERT_TRUE(recorder.Ready());
            if (action < 2)
                action == 0 ? WheelDecrease(recorder.Dc()) : WheelIncrease(recorder.Dc());
            else
                StoreEnteredValue(recorder.Dc(), kPanelRows[row]);
            std::vector<DrawCall> drawn;
            if (onPanel) {
                const int32_t want = kAfter[action], top = kValueTops[row];
                EXPECT_EQ(*kParameters[row], want);
                EXPECT_EQ(state.tintA[0] + state.tintA[1] + state.tintA[2] + state.tintB[0] + state.tintB[1] +
                              state.tintB[2] + state.dispA + state.dispB + state.distr,
                          want) << "only one parameter changes";
                drawn = {Rect(300, top, 340, top + 20)};
                if (want < 0)
                    drawn.push_back(Text(305, top, "-"));
                drawn.push_back(Text(310, top, std::to_string(want < 0 ? -want : want)));
            }
            EXPECT_EQ(recorder.Finish(true), drawn);
        }
    }
}

TEST_F(NumericEntryTest, WheelWrapsInThirtyTwoBits)
{
    static const struct {
        const char* label;
        int32_t start;
        uint8_t step;
        bool increase;
        int32_t expected;
    } kCases[] = {
        {"up past INT32_MAX", INT32_MAX, 1, true, INT32_MIN},
        {"up by ten past INT32_MAX", INT32_MAX - 3, 10, true, INT32_MIN + 6},
        {"down past INT32_MIN", INT32_MIN, 1, false, INT32_MAX},
        {"down by ten past INT32_MIN", INT32_MIN + 5, 10, false, INT32_MAX - 4},
        {"no limit at 255", 250, 10, true, 260},
        {"no limit at 0", 5, 10, false, -5},
    };
    CursorAtClientY(20);  // row 0: tintA red
    for (const auto& c : kCases) {
        state.tintA[kRed] = c.start;
        state.step = c.step;
        DrawingRecorder recorder;
        ASSERT_TRUE(recorder.Ready());
        c.increase ? WheelIncrease(recorder.Dc()) : WheelDecrease(recorder.Dc());
        EXPECT_EQ(state.tintA[kRed], c.expected) << c.label;
    }
}

}  // namespace
