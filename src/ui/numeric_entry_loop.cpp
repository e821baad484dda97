// The message loop of one numeric entry, nested inside the editor loop.
//
// Esc, a button press and an export key end the entry the way the editor
// loop would have handled them: Esc ends the program, an export key exports
// and ends it, and a button press goes back to the editor loop to re-create
// its window. This loop lives apart from the per-message steps so that those
// link on their own, without the editor and the export behind it.
#include <windows.h>

#include "app/editor.h"
#include "app/program.h"
#include "app/program_state.h"
#include "support/error.h"
#include "ui/numeric_entry.h"

EntryEnd RunNumericEntry()
{
    state.entryDigits = 0;
    state.entryValue = 0;
    state.entryNegative = 0;
    state.entryDone = 0;
    state.entryState = 0;
    while (state.entryDone == 0) {
        FetchMessage();
        const bool keyDown = state.lastMessage == WM_KEYDOWN;
        const int32_t key = state.lastKeyCode;
        if (keyDown && key == 1)
            Terminate();
        if (state.lastMessage == WM_LBUTTONDOWN || state.lastMessage == WM_RBUTTONDOWN)
            return EntryEnd::recreate;
        if (state.entryState == 0 && keyDown && key == 28) {
            state.entryState = 2;
            return EntryEnd::returned;
        }
        // Unlike the editor loop, scan code 53 ("/") does not export here.
        if (keyDown && key >= 16 && key <= 52 && key != 28 && key != 42)
            ExportAndEnd();
        if (keyDown && key == 42)
            state.step = state.step == 1 ? 10 : 1;
        if (state.lastMessage == WM_MOUSEWHEEL && (state.lastWheelDelta == 120 || state.lastWheelDelta == 65416)) {
            state.wheelMode = 1;
            return EntryEnd::returned;
        }
        int32_t row = RowUnderCursor();
        if (row < 11)
            NumericEntryStep(row);
    }
    return EntryEnd::returned;
}
