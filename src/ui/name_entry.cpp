// The name popup: the user types the picture's name, Enter tests that the
// name plus ".bmp" exists, Esc leaves.
#include "ui/name_entry.h"

#include <cstring>

#include "app/input_rules.h"
#include "app/program.h"
#include "app/program_state.h"
#include "support/error.h"
#include "ui/window_procs.h"

namespace {

void StartNamePopup()
{
    DestroyWindow(state.nameWindow);
    state.nameClass.lpfnWndProc = NameWindowProc;
    state.nameClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    state.nameClass.hbrBackground = state.nameBackBrush;
    state.nameClass.lpszClassName = "s";
    RegisterClassA(&state.nameClass);  // fails harmlessly once the class exists
    state.nameWindow = CreateWindowExA(0, "s", " ", WS_POPUP, 200, 200, 410, 110, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(state.nameWindow, SW_SHOWNORMAL);
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
            SelectObject(state.nameDC, state.nullPen);
            SelectObject(state.nameDC, state.namePanelBrush);
            Rectangle(state.nameDC, 120, 30, 405, 70);
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
        TextOutA(state.nameDC, 120, 35, state.fileName, state.nameLength);
    }
}
