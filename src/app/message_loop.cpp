// The window system's side of the program state, kept apart from the record
// itself so that duotint-cli, which shares the record, never loads it.
#include "app/message_loop.h"

#include <windows.h>

#include "app/export_image.h"
#include "app/preview.h"
#include "app/program_state.h"
#include "support/error.h"

void FetchMessage()
{
    // 0 is WM_QUIT and -1 a failed fetch: either way nothing more will come.
    if (GetMessageA(&state.msg, nullptr, 0, 0) <= 0)
        Terminate();
    // Messages sent while GetMessageA waited are recorded too; only what the
    // dispatched message itself leaves counts.
    state.recorded = 0;
    DispatchMessageA(&state.msg);
}

void ExportAndEnd()
{
    // The window goes before the file is written, and with it the preview,
    // whose memory the export's pieces can then use.
    DestroyWindow(state.editorWindow);
    ReleasePreview();
    ExportImage();
    Terminate();
}
