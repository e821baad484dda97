// The fetch every message loop of the editor goes through, and the input it
// keeps, in the order it came, while a window is replaced.
#include "editor/message_loop.h"

#include <deque>

#include "editor/command_line.h"
#include "editor/export_image.h"
#include "editor/preview.h"
#include "editor/program_state.h"
#include "editor/error.h"

// Input queued when a window was replaced stays on our side rather than
// being posted to the new window: the platform hands out posted messages
// ahead of any hardware input, which would let a key overtake a notch or
// click queued before it, and stamps them with the cursor's position at the
// post instead of the key's own. Only the editor's one thread fetches, so
// keptInput is a plain global.
std::deque<MSG> keptInput;

void FetchMessage()
{
    for (;;) {
        if (keptInput.empty()) {
            // 0 is WM_QUIT and -1 a failed fetch: either way nothing more will come.
            if (GetMessageA(&state.msg, nullptr, 0, 0) <= 0)
                Terminate();
            break;
        }
        state.msg = keptInput.front();
        keptInput.pop_front();
        // Input for a window that has gone since goes with it, as the
        // platform's own would.
        if (IsWindow(state.msg.hwnd))
            break;
    }
    // Messages sent while GetMessageA waited are recorded too; only what the
    // dispatched message itself leaves counts.
    state.recorded = 0;
    DispatchMessageA(&state.msg);
}

void ReplaceWindow(HWND& window, ProgramWindow kind)
{
    const HWND old = window;
    // The new window is there before the old one goes: input the platform
    // queues while the thread has no window to take the focus or lie under
    // the pointer is dropped, and a person typing right after a click
    // would lose keys to that gap.
    window = CreateProgramWindow(kind);
    if (old == nullptr)
        return;
    // Everything queued until now, whichever window it went to, so that it
    // keeps its order. Keys and mouse input only: the old window's paints go
    // with it.
    MSG queued;
    while (PeekMessageA(&queued, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT))
        keptInput.push_back(queued);
    for (MSG& kept : keptInput) {
        if (kept.hwnd == old)
            kept.hwnd = window;
    }
    DestroyWindow(old);
}

void ExportAndEnd()
{
    // The window goes before the file is written, and with it the preview,
    // whose memory the export's pieces can then use.
    DestroyWindow(state.editorWindow);
    ReleasePreview();
    ExportImage();
    WriteLookLine();
    Terminate();
}
