// The editor's message loop, the program's last phase. It never looks at a
// message itself: after each fetch and dispatch it decides from the words
// EditorWindowProc recorded and from its own two flags, panelShown and
// wheelMode. It ends the program on Esc, or on an export key after writing
// the tinted picture; a mouse-button press rebuilds the window.
#include "app/editor.h"

#include <windows.h>

#include "app/program.h"
#include "app/program_state.h"
#include "app/export_image.h"
#include "app/preview.h"
#include "support/error.h"
#include "ui/numeric_entry.h"
#include "ui/panel.h"
#include "ui/window_procs.h"

namespace {

// Where the loop goes on after one message.
enum class Resume {
    recreate,  // destroy and re-create the window, then refresh
    refresh,   // let the window paint, then draw the panel at the next message
    fetch,     // the next message
};

bool IsExportKey(int32_t key)
{
    return key >= 16 && key <= 53 && key != 28 && key != 42;
}

// Fetches one message and runs the loop's tests on it, in their fixed order.
Resume HandleEditorMessage()
{
    FetchMessage();
    const bool keyDown = state.lastMessage == WM_KEYDOWN;
    // Auto-repeats (bit 14) and extended keys (bit 8) never equal a plain
    // scan code, so a held key acts once.
    if (keyDown && state.lastKeyCode == 1)
        Terminate();
    if (state.lastMessage == WM_PAINT)
        return Resume::refresh;
    if (state.lastMessage == WM_LBUTTONDOWN)
        return Resume::recreate;
    if (state.lastMessage == WM_RBUTTONDOWN)
        return Resume::recreate;
    if (keyDown && state.lastKeyCode == 42)
        state.step = state.step == 1 ? 10 : 1;
    if (keyDown && IsExportKey(state.lastKeyCode))
        ExportAndEnd();
    if (state.panelShown == 0) {
        DrawPanel();
        state.panelShown = 1;
        state.wheelMode = 0;
        return Resume::fetch;
    }
    if (state.panelShown == 1 && state.wheelMode == 0) {
        // The message that brought us here is not part of the entry: the
        // entry starts with the next one.
        if (RunNumericEntry() == EntryEnd::recreate)
            return Resume::recreate;
        if (state.entryState == 2) {
            state.panelShown = 0;
            return Resume::fetch;
        }
        if (state.wheelMode == 1)
            return Resume::fetch;
        StoreEnteredValue();
        RenderPreview();
    }
    // A digit-row key leaves wheel mode; the digit itself is not entered.
    if (keyDown && state.lastKeyCode >= 2 && state.lastKeyCode <= 11 && state.wheelMode == 1)
        state.wheelMode = 0;
    if (state.lastMessage == WM_MOUSEWHEEL && state.lastWheelDelta == 120 && state.wheelMode == 1) {
        WheelDecrease();
        RenderPreview();
    }
    if (state.lastMessage == WM_MOUSEWHEEL && state.lastWheelDelta == 65416 && state.wheelMode == 1) {
        WheelIncrease();
        RenderPreview();
    }
    return Resume::fetch;
}

}  // namespace

void CreateEditorWindow()
{
    // The first time this removes the preview window.
    DestroyWindow(state.editorWindow);
    state.editorClass.lpfnWndProc = EditorWindowProc;
    state.editorClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    state.editorClass.lpszClassName = " ";
    RegisterClassA(&state.editorClass);  // fails harmlessly once the class exists
    state.editorWindow = CreateWindowExA(0, " ", " ", WS_POPUP, state.windowLeft, state.windowTop, state.windowWidth,
                                         state.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(state.editorWindow, SW_SHOWNORMAL);
}

void ExportAndEnd()
{
    // The window goes before the file is written.
    DestroyWindow(state.editorWindow);
    ExportImage();
    Terminate();
}

void RunEditor()
{
    Resume next = Resume::recreate;
    for (;;) {
        if (next == Resume::recreate)
            CreateEditorWindow();
        if (next != Resume::fetch) {
            // Paints the frame, the preview and the panel if the window needs it.
            UpdateWindow(state.editorWindow);
            state.panelShown = 0;
        }
        next = HandleEditorMessage();
    }
}
