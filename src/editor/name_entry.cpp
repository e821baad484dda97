// The name popup: the user types the picture's name, Enter looks for the
// name with each picture extension in the current folder, Esc leaves.
#include "editor/name_entry.h"

#include "editor/input_rules.h"
#include "editor/message_loop.h"
#include "editor/program_state.h"
#include "editor/program_windows.h"
#include "editor/error.h"
#include "support/picture_names.h"

namespace {

// A name that opened nothing empties the popup by building it anew; what was
// typed meanwhile goes on into the new one.
void StartNamePopup()
{
    ReplaceWindow(state.nameWindow, ProgramWindow::name);
    state.nameLength = 0;
}

}  // namespace

void RunNameEntry()
{
    StartNamePopup();
    for (;;) {
        FetchMessage();
        const NameAction action = DecideName(DecodeInput(state), state.nameLength);
        if (action.step == NameStep::end)
            Terminate();
        if (action.step == NameStep::add)
            state.fileName[state.nameLength++] = action.character;
        if (action.step == NameStep::erase) {
            if (state.nameLength > 0)
                --state.nameLength;
            Rectangle(WindowDC(state.nameWindow, ProgramWindow::name), 120, 30, 405, 70);
        }
        if (action.step == NameStep::lookup) {
            state.fileNamePtr = state.fileName;
            if (!FindPictureFile(state.fileName, state.nameLength)) {
                StartNamePopup();
                continue;
            }
            DestroyWindow(state.nameWindow);
            state.nameWindow = nullptr;
            return;
        }
        TextOutA(WindowDC(state.nameWindow, ProgramWindow::name), 120, 35, state.fileName, state.nameLength);
    }
}
