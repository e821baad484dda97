// The message loop of one numeric entry, nested inside the editor loop.
//
// Esc, a button press and an export key end the entry the way the editor
// loop would have handled them: Esc ends the program, an export key exports
// and ends it, and a button press goes back to the editor loop to re-create
// its window. Enter over a row without a parameter drops the number and
// repaints the window, so nothing typed stays on screen.
#include <windows.h>

#include "app/editor.h"
#include "app/input_rules.h"
#include "app/program.h"
#include "app/numeric_entry.h"
#include "app/program_state.h"
#include "app/program_windows.h"
#include "support/error.h"

namespace {

void Discard()
{
    state.entryValue = 0;
    state.entryDigits = 0;
    state.entryNegative = 0;
    state.entryBoxDrawn = 0;
    state.entryState = 2;
    InvalidateRect(state.editorWindow, nullptr, FALSE);
    UpdateWindow(state.editorWindow);
}

}  // namespace

EntryEnd RunNumericEntry(const Input& first)
{
    state.entryDigits = 0;
    state.entryValue = 0;
    state.entryNegative = 0;
    state.entryDone = 0;
    state.entryState = 0;
    Input in = first;
    for (bool isFirst = true;; isFirst = false) {
        if (!isFirst) {
            FetchMessage();
            in = DecodeInput(state);
        }
        const int32_t row = RowUnderCursor();
        const EntryAction action = DecideEntry(in, state.entryState != 0, row, isFirst);
        if (action.toggleStep)
            ToggleStep();
        switch (action.step) {
        case EntryStep::ignore:
            break;
        case EntryStep::end:
            Terminate();
        case EntryStep::recreate:
            return EntryEnd::recreate;
        case EntryStep::emptyEnter:
            state.entryState = 2;
            return EntryEnd::returned;
        case EntryStep::exportAndEnd:
            ExportAndEnd();
        case EntryStep::wheelMode:
            state.wheelMode = 1;
            return EntryEnd::returned;
        case EntryStep::discard:
            Discard();
            return EntryEnd::returned;
        case EntryStep::type:
            NumericEntryStep(WindowDC(state.editorWindow, ProgramWindow::editor), row);
            if (state.entryDone != 0)
                return EntryEnd::returned;
            break;
        }
    }
}
