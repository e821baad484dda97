// What the editor's message loops share: the one fetch every loop fills the
// program state with, and the export that ends them.
#pragma once

// GetMessageA into state.msg and DispatchMessageA of it. WM_QUIT or a failed
// fetch ends the program normally. `recorded` tells afterwards whether a
// recording window procedure received the message.
void FetchMessage();

// The export ending: the editor window goes, the export is written, and the
// program ends.
[[noreturn]] void ExportAndEnd();
