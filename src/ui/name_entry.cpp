// The name popup: the user types the picture's name, Enter looks for the
// name with each picture extension in the current folder, Esc leaves.
#include "ui/name_entry.h"

#include <cstring>

#include "app/program.h"
#include "app/program_state.h"
#include "support/error.h"
#include "support/picture_names.h"
#include "ui/window_procs.h"

namespace {

// US layout of scan-code set 1, lower case, from scan code 0 to 53.
// Zero marks a code that adds nothing.
const char kNameCharacters[54] = {
    0,   0,   '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 0,   0,   //  0-13
    0,   0,   'q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p', 0,   0,   // 14-27
    0,   0,   'a', 's', 'd', 'f', 'g', 'h', 'j', 'k', 'l', 0,   0,   0,   // 28-41
    0,   0,   'z', 'x', 'c', 'v', 'b', 'n', 'm', 0,   0,   '-',           // 42-53
};

const int32_t kMaxNameLength = 16;

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

char NameCharacter(int32_t scanCode)
{
    if (scanCode < 0 || scanCode > 53)
        return 0;
    return kNameCharacters[scanCode];
}

void RunNameEntry()
{
    StartNamePopup();
    for (;;) {
        FetchMessage();
        bool keyDown = state.lastMessage == WM_KEYDOWN;
        if (keyDown && state.lastKeyCode == 1)
            Terminate();
        if (keyDown && state.lastKeyCode >= 2 && state.lastKeyCode <= 53 && state.lastKeyCode != 14 &&
            state.lastKeyCode != 28 && state.lastKeyCode != 42 && state.nameLength < kMaxNameLength) {
            // Codes without a character (Tab, "[", left Ctrl, ...) add nothing.
            char c = NameCharacter(state.lastKeyCode);
            if (c != 0)
                state.fileName[state.nameLength++] = c;
        }
        if (keyDown && state.lastKeyCode == 14) {
            if (state.nameLength > 0)
                --state.nameLength;
            SelectObject(state.nameDC, state.nullPen);
            SelectObject(state.nameDC, state.namePanelBrush);
            Rectangle(state.nameDC, 120, 30, 405, 70);
        }
        if (keyDown && state.lastKeyCode == 28) {
            state.fileNamePtr = state.fileName;
            if (!FindPictureFile(state.fileName, state.nameLength)) {
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
