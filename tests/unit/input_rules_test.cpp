// The loops' rules, message by message, without a window: what each loop
// does with a recorded message in each of its states.
#include <gtest/gtest.h>

#include "editor/input_rules.h"
#include "editor/program_state.h"
#include "editor/keys.h"

namespace {

// Recorded words of the messages the tables use.
RecordedInput KeyDown(int32_t vk, int32_t scanCode) { return {WM_KEYDOWN, vk, scanCode, 0, 1}; }
RecordedInput Wheel(int32_t delta) { return {WM_MOUSEWHEEL, 0, 0, delta & 0xFFFF, 1}; }
RecordedInput Message(UINT msg) { return {static_cast<int32_t>(msg), 0, 0, 0, 1}; }

const RecordedInput kNothing = {WM_KEYDOWN, '5', 6, 0, 0};  // stale words, not recorded this time
const RecordedInput kEsc = KeyDown(VK_ESCAPE, scan::kEsc);
const RecordedInput kDigit5 = KeyDown('5', 6);
const RecordedInput kMinus = KeyDown(VK_OEM_MINUS, 12);
const RecordedInput kBackspace = KeyDown(VK_BACK, scan::kBackspace);
const RecordedInput kEnter = KeyDown(VK_RETURN, scan::kEnter);
const RecordedInput kKeypadEnter = KeyDown(VK_RETURN, scan::kEnter | 0x100);
const RecordedInput kShift = KeyDown(VK_SHIFT, scan::kLeftShift);
const RecordedInput kShiftRepeat = KeyDown(VK_SHIFT, scan::kLeftShift | 0x4000);
const RecordedInput kRightShift = KeyDown(VK_SHIFT, 54);
const RecordedInput kQ = KeyDown('Q', scan::kQ);
const RecordedInput kSlash = KeyDown(VK_OEM_2, scan::kSlash);
const RecordedInput kTab = KeyDown(VK_TAB, 15);
const RecordedInput kAway = Wheel(120);
const RecordedInput kToward = Wheel(-120);
const RecordedInput kTwoNotches = Wheel(240);
const RecordedInput kLeft = Message(WM_LBUTTONDOWN);
const RecordedInput kRight = Message(WM_RBUTTONDOWN);
const RecordedInput kPaint = Message(WM_PAINT);
const RecordedInput kKeyUp = {WM_KEYUP, '5', 6 | 0xC000, 0, 1};

TEST(InputRules, Editor)
{
    static const struct {
        const char* label;
        RecordedInput in;
        bool panelShown, wheelMode;
        EditorStep step;
        bool drawPanel;
    } kCases[] = {
        {"nothing recorded: nothing done", kNothing, true, true, EditorStep::fetch, false},
        {"nothing recorded draws no panel", kNothing, false, false, EditorStep::fetch, false},
        {"Esc ends", kEsc, true, false, EditorStep::end, false},
        {"paint", kPaint, true, true, EditorStep::refresh, false},
        {"left click", kLeft, true, true, EditorStep::recreate, false},
        {"right click", kRight, false, false, EditorStep::recreate, false},
        {"Q exports", kQ, false, false, EditorStep::exportAndEnd, false},
        {"scan code 53 exports", kSlash, true, true, EditorStep::exportAndEnd, false},
        {"Tab does not", kTab, true, true, EditorStep::fetch, false},
        // The message that draws the panel is not spent on it.
        {"Enter draws the panel and starts", kEnter, false, false, EditorStep::startEntry, true},
        {"a key-up draws the panel and starts", kKeyUp, false, false, EditorStep::startEntry, true},
        {"a digit draws the panel and is typed", kDigit5, false, false, EditorStep::startEntry, true},
        {"a notch draws the panel and starts", kAway, false, true, EditorStep::startEntry, true},
        {"Shift starts an entry, which toggles", kShift, true, false, EditorStep::startEntry, false},
        {"Shift toggles in wheel mode", kShift, true, true, EditorStep::toggleStep, false},
        {"a repeat of Shift does not", kShiftRepeat, true, true, EditorStep::fetch, false},
        {"right Shift does not", kRightShift, true, true, EditorStep::fetch, false},
        {"a digit starts an entry", kDigit5, true, false, EditorStep::startEntry, false},
        {"a digit leaves wheel mode", kDigit5, true, true, EditorStep::leaveWheelMode, false},
        {"minus stays in wheel mode", kMinus, true, true, EditorStep::fetch, false},
        {"notch away", kAway, true, true, EditorStep::decrease, false},
        {"notch toward", kToward, true, true, EditorStep::increase, false},
        {"two notches at once", kTwoNotches, true, true, EditorStep::fetch, false},
        {"a notch outside wheel mode starts an entry", kAway, true, false, EditorStep::startEntry, false},
    };
    for (const auto& c : kCases) {
        EditorAction got = DecideEditor(DecodeInput(c.in), c.panelShown, c.wheelMode);
        EXPECT_EQ(got.step, c.step) << c.label;
        EXPECT_EQ(got.drawPanel, c.drawPanel) << c.label;
    }
}

// The message that starts an entry is its first, decided as any other: a
// notch ends it at once.
TEST(InputRules, NumericEntry)
{
    static const struct {
        const char* label;
        RecordedInput in;
        bool typed;
        int32_t row;
        EntryStep step;
        bool toggle;
    } kCases[] = {
        {"nothing recorded", kNothing, true, 0, EntryStep::ignore, false},
        {"Esc", kEsc, true, 0, EntryStep::end, false},
        {"click", kRight, true, 0, EntryStep::recreate, false},
        {"Enter, nothing typed", kEnter, false, 20, EntryStep::emptyEnter, false},
        {"Enter over a parameter", kEnter, true, 3, EntryStep::type, false},
        {"Enter over gap row 4", kEnter, true, 4, EntryStep::discard, false},
        {"Enter over gap row 6", kEnter, true, 6, EntryStep::discard, false},
        {"Enter above the rows", kEnter, true, -1, EntryStep::discard, false},
        {"Enter below the rows", kEnter, true, 11, EntryStep::discard, false},
        {"keypad Enter types nothing", kKeypadEnter, true, 3, EntryStep::type, false},
        {"Q exports", kQ, true, 0, EntryStep::exportAndEnd, false},
        {"scan code 53 does not", kSlash, true, 0, EntryStep::type, false},
        {"Shift toggles and draws the box", kShift, false, 2, EntryStep::type, true},
        {"a notch ends in wheel mode", kToward, true, 2, EntryStep::notch, false},
        {"a notch with nothing typed", kAway, false, 3, EntryStep::notch, false},
        {"a digit over a gap is echoed", kDigit5, false, 4, EntryStep::type, false},
        {"a digit below the rows is not", kDigit5, false, 11, EntryStep::ignore, false},
        {"nor above them", kDigit5, false, -1, EntryStep::ignore, false},
        {"paint", kPaint, true, 2, EntryStep::ignore, false},
        {"a key-up", kKeyUp, false, 3, EntryStep::ignore, false},
    };
    for (const auto& c : kCases) {
        const PanelRow* row = c.row >= 0 && c.row < kPanelRowCount ? &kPanelRows[c.row] : nullptr;
        EntryAction got = DecideEntry(DecodeInput(c.in), c.typed, row);
        EXPECT_EQ(got.step, c.step) << c.label;
        EXPECT_EQ(got.toggleStep, c.toggle) << c.label;
    }
}

TEST(InputRules, NamePopup)
{
    static const struct {
        const char* label;
        RecordedInput in;
        int32_t nameLength;
        NameStep step;
        char character;
    } kCases[] = {
        {"nothing recorded", kNothing, 0, NameStep::ignore, 0},
        {"Esc", kEsc, 3, NameStep::end, 0},
        {"a digit", kDigit5, 3, NameStep::add, '5'},
        {"a letter", kQ, 15, NameStep::add, 'q'},
        {"scan code 53", kSlash, 0, NameStep::add, '-'},
        {"the sixteenth character is the last", kQ, 16, NameStep::ignore, 0},
        {"minus adds nothing", kMinus, 0, NameStep::ignore, 0},
        {"Tab adds nothing", kTab, 0, NameStep::ignore, 0},
        {"nor does \"[\"", KeyDown(VK_OEM_4, 26), 0, NameStep::ignore, 0},
        {"nor Space", KeyDown(VK_SPACE, 57), 0, NameStep::ignore, 0},
        {"nor left Shift", kShift, 0, NameStep::ignore, 0},
        {"nor right Ctrl", KeyDown(VK_CONTROL, 29 | 0x100), 0, NameStep::ignore, 0},
        {"an auto-repeat adds nothing", KeyDown('Q', scan::kQ | 0x4000), 0, NameStep::ignore, 0},
        {"Backspace", kBackspace, 0, NameStep::erase, 0},
        {"Enter", kEnter, 16, NameStep::lookup, 0},
        {"keypad Enter is not Enter", kKeypadEnter, 2, NameStep::ignore, 0},
        {"a key-up", kKeyUp, 0, NameStep::ignore, 0},
    };
    for (const auto& c : kCases) {
        NameAction got = DecideName(DecodeInput(c.in), c.nameLength);
        EXPECT_EQ(got.step, c.step) << c.label;
        EXPECT_EQ(got.character, c.character) << c.label;
    }
}

}  // namespace
