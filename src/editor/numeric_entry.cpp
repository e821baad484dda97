// Typed numbers and wheel notches on the panel row under the cursor: the
// loop of one entry, which decides each message with input_rules and carries
// it out here, storing an entered number, and the wheel operations. Only the
// cursor's height counts. Nothing here limits a parameter's range; wheel
// arithmetic wraps in 32 bits.
//
// All drawing goes into the context given: white fills without an outline,
// and black text on white in the small font.
#include "editor/numeric_entry.h"

#include <windows.h>

#include "editor/message_loop.h"
#include "editor/program_state.h"
#include "editor/program_windows.h"
#include "editor/error.h"

namespace {

void EntryRectangle(HDC dc, int32_t left, int32_t top)
{
    Rectangle(dc, state.panelLeft + left, top, state.panelLeft + 50, top + 20);
}

// Adds delta to a parameter modulo 2^32: the unsigned sum is defined for
// every operand, and its conversion back wraps into the signed range.
int32_t Wrapped(int32_t value, uint32_t delta)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) + delta);
}

void WheelAdjust(HDC dc, uint32_t delta)
{
    const PanelRow* row = RowUnderCursor();
    if (row == nullptr)
        return;
    *row->parameter = Wrapped(*row->parameter, delta);
    DrawValue(dc, state.panelLeft, static_cast<long double>(*row->parameter), row->valueTop);
}

}  // namespace

const PanelRow* RowUnderCursor()
{
    // Screen y to client y (the popup has neither border nor caption), then
    // onto the 20-pixel grid from y 15. The division truncates toward zero,
    // so row 0 also takes in the 19 pixels above its top. 64-bit arithmetic
    // keeps extreme coordinates from overflowing.
    const int64_t row = (static_cast<int64_t>(state.msg.pt.y) - state.windowTop - 15) / 20;
    return row >= 0 && row < kPanelRowCount ? &kPanelRows[row] : nullptr;
}

EntryEnd RunNumericEntry(Input in)
{
    state.entryValue = state.entryDigits = state.entryNegative = state.entryState = state.entryBoxDrawn = 0;
    for (;; FetchMessage(), in = DecodeInput(state)) {
        const PanelRow* row = RowUnderCursor();
        const EntryAction action = DecideEntry(in, state.entryState != 0, row);
        if (action.toggleStep)
            ToggleStep();
        switch (action.step) {
        case EntryStep::ignore: break;
        case EntryStep::end: Terminate();
        case EntryStep::exportAndEnd: ExportAndEnd();
        case EntryStep::recreate: return EntryEnd::recreate;
        case EntryStep::emptyEnter: return EntryEnd::emptyEnter;
        case EntryStep::notch: return EntryEnd::notch;
        case EntryStep::discard: return EntryEnd::discarded;
        case EntryStep::type: {
            const EntryKeyAction key = DecideEntryKey(in, state.entryDigits, state.entryBoxDrawn != 0);
            NumericEntryStep(WindowDC(state.editorWindow, ProgramWindow::editor), key, *row);
            if (key.key == EntryKey::finish)
                return EntryEnd::stored;
            break;
        }
        }
    }
}

void NumericEntryStep(HDC dc, const EntryKeyAction& action, const PanelRow& row)
{
    // The box and every echo go at the row under the cursor at their key.
    const int32_t y = row.top;
    if (action.drawBox) {
        EntryRectangle(dc, 5, y);
        state.entryBoxDrawn = 1;
    }
    switch (action.key) {
    case EntryKey::nothing: break;
    case EntryKey::minus:
        state.entryState = 1;
        state.entryNegative = 1;
        TextOutA(dc, state.panelLeft + 5, y, "-", 1);
        break;
    case EntryKey::digit:
        state.entryState = 1;
        state.entryValue = state.entryValue * 10 + (action.digit - '0');
        state.entryText[state.entryDigits++] = action.digit;
        // The echo is the characters as typed: a decomposition of the value
        // would lose leading zeros and show 999999999 as 100000000.
        TextOutA(dc, state.panelLeft + 10, y, state.entryText, state.entryDigits);
        break;
    case EntryKey::erase:
        state.entryValue /= 10;
        --state.entryDigits;
        EntryRectangle(dc, 10, y);
        TextOutA(dc, state.panelLeft + 10, y, state.entryText, state.entryDigits);
        break;
    case EntryKey::clear:
        state.entryValue = state.entryDigits = state.entryNegative = 0;
        EntryRectangle(dc, 5, y);
        break;
    case EntryKey::finish:
        if (state.entryNegative == 1)
            state.entryValue = -state.entryValue;
        StoreEnteredValue(dc, row);
        break;
    }
}

void StoreEnteredValue(HDC dc, const PanelRow& row)
{
    *row.parameter = state.entryValue;
    DrawValue(dc, state.panelLeft, static_cast<long double>(state.entryValue), row.valueTop);
}

void WheelDecrease(HDC dc)
{
    WheelAdjust(dc, 0u - static_cast<uint32_t>(state.step));
}

void WheelIncrease(HDC dc)
{
    WheelAdjust(dc, static_cast<uint32_t>(state.step));
}

void ToggleStep()
{
    state.step = state.step == 1 ? 10 : 1;
}
