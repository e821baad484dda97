// The editor's message loop, the program's last phase. After each fetch and
// dispatch it decodes what the window procedure recorded, asks input_rules
// what that means in its own state (panelShown and wheelMode) and does it;
// numeric entry runs its own loop and says how it ended. Esc ends the
// program, an export key ends it after writing the tinted picture, and a
// mouse-button press rebuilds the window.
#include "editor/editor.h"

#include <windows.h>

#include "editor/input_rules.h"
#include "editor/numeric_entry.h"
#include "editor/preview.h"
#include "editor/message_loop.h"
#include "editor/program_state.h"
#include "editor/program_windows.h"
#include "editor/error.h"

namespace {

// Where the editor loop goes on after one message.
enum class Resume {
    recreate,  // destroy and re-create the window, then refresh
    refresh,   // let the window paint, then draw the panel at the next message
    fetch,     // the next message
};

void CreateEditorWindow(bool rebuild)
{
    // Keys, notches and clicks that came while a rebuilt window goes would go
    // with it, when the platform has already queued them for it (under load
    // it may, before the click's button-up): the new window gets them.
    if (rebuild) {
        ReplaceWindow(state.editorWindow, ProgramWindow::editor);
        return;
    }
    // The first time this removes the preview window.
    DestroyWindow(state.editorWindow);
    state.editorWindow = CreateProgramWindow(ProgramWindow::editor);
}

Resume AfterEntry(EntryEnd end)
{
    switch (end) {
    case EntryEnd::stored: RenderPreview(WindowDC(state.editorWindow, ProgramWindow::editor)); break;
    case EntryEnd::emptyEnter: state.panelShown = 0; break;
    case EntryEnd::notch: state.wheelMode = 1; break;
    case EntryEnd::recreate: return Resume::recreate;
    case EntryEnd::discarded:
        // A repaint takes whatever was typed off the screen.
        InvalidateRect(state.editorWindow, nullptr, FALSE);
        return Resume::refresh;
    }
    return Resume::fetch;
}

Resume ActOnEditorInput(const Input& in)
{
    const EditorAction action = DecideEditor(in, state.panelShown != 0, state.wheelMode != 0);
    if (action.drawPanel) {
        DrawPanelNow(WindowDC(state.editorWindow, ProgramWindow::editor));
        state.panelShown = 1;
        state.wheelMode = 0;
    }
    switch (action.step) {
    case EditorStep::fetch: break;
    case EditorStep::end: Terminate();
    case EditorStep::refresh: return Resume::refresh;
    case EditorStep::recreate: return Resume::recreate;
    case EditorStep::exportAndEnd: ExportAndEnd();
    case EditorStep::toggleStep: ToggleStep(); break;
    case EditorStep::startEntry: return AfterEntry(RunNumericEntry(in));
    case EditorStep::leaveWheelMode: state.wheelMode = 0; break;
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

void RunEditor()
{
    Resume next = Resume::recreate;
    for (bool first = true;; first = false) {
        if (next == Resume::recreate)
            CreateEditorWindow(!first);
        if (next != Resume::fetch) {
            // Paints the frame, the preview and the panel if the window needs it.
            UpdateWindow(state.editorWindow);
            state.panelShown = 0;
        }
        FetchMessage();
        next = ActOnEditorInput(DecodeInput(state));
    }
}
