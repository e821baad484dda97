// The editor's message loop, the program's last phase, and the loop of one
// numeric entry nested in it. After each fetch and dispatch a loop decodes
// what the window procedure recorded, asks input_rules what that means in
// its own state (the editor: panelShown and wheelMode; an entry: whether a
// number is typed) and does it. Esc ends the program, an export key ends it
// after writing the tinted picture, and a mouse-button press rebuilds the
// window.
#include "app/editor.h"

#include <windows.h>

#include "app/export_image.h"
#include "app/input_rules.h"
#include "app/numeric_entry.h"
#include "app/preview.h"
#include "app/program_state.h"
#include "app/program_windows.h"
#include "support/error.h"

namespace {

// Where the editor loop goes on after one message.
enum class Resume {
    recreate,  // destroy and re-create the window, then refresh
    refresh,   // let the window paint, then draw the panel at the next message
    fetch,     // the next message
};

void CreateEditorWindow()
{
    // The first time this removes the preview window.
    DestroyWindow(state.editorWindow);
    state.editorWindow = CreateProgramWindow(ProgramWindow::editor);
}

// Destroys the editor window, writes the export and ends the program.
[[noreturn]] void ExportAndEnd()
{
    // The window goes before the file is written, and with it the preview,
    // whose memory the export's pieces can then use.
    DestroyWindow(state.editorWindow);
    ReleasePreview();
    ExportImage();
    Terminate();
}

void ToggleStep()
{
    state.step = state.step == 1 ? 10 : 1;
}

// Enter over no parameter: the number goes, and a repaint takes whatever
// was typed off the screen. The editor then redraws the panel.
void DiscardEntry()
{
    state.entryValue = state.entryDigits = state.entryNegative = state.entryBoxDrawn = 0;
    state.entryState = 2;
    InvalidateRect(state.editorWindow, nullptr, FALSE);
    UpdateWindow(state.editorWindow);
}

// One numeric entry; `first` is the message that started it. Returns
// recreate for a button press; otherwise the state fields tell how it ended:
// entryState 2 (nothing stored), wheelMode 1 (a notch), or a number to store.
Resume RunNumericEntry(Input in)
{
    state.entryDigits = state.entryValue = state.entryNegative = state.entryDone = state.entryState = 0;
    state.entryBoxDrawn = 0;
    for (bool first = true;; first = false) {
        if (!first) {
            FetchMessage();
            in = DecodeInput(state);
        }
        const PanelRow* row = RowUnderCursor();
        const EntryAction action = DecideEntry(in, state.entryState != 0, row, first);
        if (action.toggleStep)
            ToggleStep();
        switch (action.step) {
        case EntryStep::ignore: break;
        case EntryStep::end: Terminate();
        case EntryStep::recreate: return Resume::recreate;
        case EntryStep::emptyEnter: state.entryState = 2; return Resume::fetch;
        case EntryStep::exportAndEnd: ExportAndEnd();
        case EntryStep::wheelMode: state.wheelMode = 1; return Resume::fetch;
        case EntryStep::discard: DiscardEntry(); return Resume::fetch;
        case EntryStep::type:
            NumericEntryStep(WindowDC(state.editorWindow, ProgramWindow::editor), *row);
            if (state.entryDone != 0)
                return Resume::fetch;
            break;
        }
    }
}

Resume RunEntry(const Input& first)
{
    if (RunNumericEntry(first) == Resume::recreate)
        return Resume::recreate;
    if (state.entryState == 2) {
        state.panelShown = 0;
    } else if (state.wheelMode == 0) {
        WindowDC dc(state.editorWindow, ProgramWindow::editor);
        StoreEnteredValue(dc, *RowUnderCursor());
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
    case EditorStep::fetch: break;
    case EditorStep::end: Terminate();
    case EditorStep::refresh: return Resume::refresh;
    case EditorStep::recreate: return Resume::recreate;
    case EditorStep::exportAndEnd: ExportAndEnd();
    case EditorStep::startEntry: return RunEntry(in);
    case EditorStep::leaveWheelMode: state.wheelMode = 0; break;
    case EditorStep::drawPanel:
        DrawPanelNow(WindowDC(state.editorWindow, ProgramWindow::editor));
        state.panelShown = 1;
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
