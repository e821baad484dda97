// The name popup: the user types the picture's name, Enter tests that the
// name plus ".bmp" exists, Esc leaves.
#include "app/name_entry.h"

#include <cstring>

#include "app/input_rules.h"
#include "app/program.h"
#include "app/program_state.h"
#include "app/program_windows.h"
#include "support/error.h"

namespace {

void StartNamePopup()
{
    DestroyWindow(state.nameWindow);
    state.nameWindow = CreateProgramWindow(ProgramWindow::name);
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
            memcpy(state.fileName + state.nameLength, ".bmp", 5);
            state.fileNamePtr = state.fileName;
            if (OpenFile(state.fileName, &state.openInfo, OF_EXIST) == HFILE_ERROR) {
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
