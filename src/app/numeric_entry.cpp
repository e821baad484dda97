// Typed numbers and wheel notches on the panel row under the cursor: the
// per-message steps of an entry, storing an entered number, and the wheel
// operations. Only the cursor's height counts. Nothing here limits a
// parameter's range; wheel arithmetic wraps in 32 bits.
//
// All drawing goes into the context given: white fills without an outline,
// and black text on white in the small font.
#include "app/numeric_entry.h"

#include <windows.h>

#include "app/program_state.h"
#include "support/keys.h"
#include "ui/panel.h"

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

void NumericEntryStep(HDC dc, const PanelRow& row)
{
    const int32_t y = row.top;

    // Any key reaching here draws the entry box once per entry.
    if (state.entryBoxDrawn == 0) {
        EntryRectangle(dc, 5, y);
        state.entryBoxDrawn = 1;
    }
    if (state.lastWParamLow == VK_OEM_MINUS) {
        state.entryState = 1;
        TextOutA(dc, state.panelLeft + 5, y, "-", 1);
        state.entryNegative = 1;
    }
    if (state.entryDigits < 9 && state.lastWParamLow >= '0' && state.lastWParamLow <= '9') {
        state.entryState = 1;
        state.entryValue = state.entryValue * 10 + (state.lastWParamLow - '0');
        state.entryText[state.entryDigits] = static_cast<char>(state.lastWParamLow);
        ++state.entryDigits;
        // The echo is the characters as typed: a decomposition of the value
        // would lose leading zeros and show 999999999 as 100000000.
        TextOutA(dc, state.panelLeft + 10, y, state.entryText, state.entryDigits);
    }
    if (state.entryDigits >= 1 && state.lastKeyCode == scan::kBackspace) {
        state.entryValue /= 10;
        --state.entryDigits;
        SelectObject(dc, state.nullPen);
        EntryRectangle(dc, 10, y);
        TextOutA(dc, state.panelLeft + 10, y, state.entryText, state.entryDigits);
    }
    // Also fires on the Backspace that has just removed the last digit, so
    // the minus goes with it.
    if (state.entryDigits == 0 && state.lastKeyCode == scan::kBackspace) {
        EntryRectangle(dc, 5, y);
        state.entryNegative = 0;
    }
    if (state.lastKeyCode == scan::kEnter) {
        if (state.entryNegative == 1)
            state.entryValue = -state.entryValue;
        state.entryDigits = 0;
        state.entryNegative = 0;
        state.entryDone = 1;
        state.entryBoxDrawn = 0;
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
