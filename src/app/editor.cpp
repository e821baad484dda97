// The editor's message loop, the program's last phase. After each fetch and
// dispatch it decodes what EditorWindowProc recorded, asks DecideEditor what
// that means with its own two flags, panelShown and wheelMode, and does it.
// It ends the program on Esc, or on an export key after writing the tinted
// picture; a mouse-button press rebuilds the window.
#include "app/editor.h"

#include <windows.h>

#include "app/input_rules.h"
#include "app/program.h"
#include "app/numeric_entry.h"
#include "app/program_state.h"
#include "app/program_windows.h"
#include "image/export.h"
#include "support/error.h"

namespace {

// Where the loop goes on after one message.
enum class Resume {
    recreate,  // destroy and re-create the window, then refresh
    refresh,   // let the window paint, then draw the panel at the next message
    fetch,     // the next message
};

Resume RunEntry(const Input& first)
{
    if (RunNumericEntry(first) == EntryEnd::recreate)
        return Resume::recreate;
    if (state.entryState == 2) {
        state.panelShown = 0;
        return Resume::fetch;
    }
    if (state.wheelMode == 0) {
        WindowDC dc(state.editorWindow, ProgramWindow::editor);
        StoreEnteredValue(dc);
        RenderPreview(dc);
    }
    return Resume::fetch;
}

Resume ActOnEditorInput(const Input& in)
{
    const EditorAction action = DecideEditor(in, state.panelShown != 0, state.wheelMode != 0);
    if (action.toggleStep)
        ToggleStep();
    switch (action.step) {
    case EditorStep::fetch:
        break;
    case EditorStep::end:
        Terminate();
    case EditorStep::refresh:
        return Resume::refresh;
    case EditorStep::recreate:
        return Resume::recreate;
    case EditorStep::exportAndEnd:
        ExportAndEnd();
    case EditorStep::drawPanel:
        DrawPanelNow(WindowDC(state.editorWindow, ProgramWindow::editor));
        state.panelShown = 1;
        state.wheelMode = 0;
        break;
    case EditorStep::startEntry:
        return RunEntry(in);
    case EditorStep::leaveWheelMode:
        state.wheelMode = 0;
        break;
    case EditorStep::decrease:
    case EditorStep::increase: {
        WindowDC dc(state.editorWindow, ProgramWindow::editor);
        action.step == EditorStep::decrease ? WheelDecrease(dc) : WheelIncrease(dc);
        RenderPreview(dc);
        break;
    }
    }
    return Resume::fetch;
}

}  // namespace

void CreateEditorWindow()
{
    // The first time this removes the preview window.
    DestroyWindow(state.editorWindow);
    state.editorWindow = CreateProgramWindow(ProgramWindow::editor);
}

void ExportAndEnd()
{
    // The window goes before the file is written.
    DestroyWindow(state.editorWindow);
    ExportImage();
    Terminate();
}

void ToggleStep()
{
    state.step = state.step == 1 ? 10 : 1;
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
        FetchMessage();
        next = ActOnEditorInput(DecodeInput(state));
    }
}
