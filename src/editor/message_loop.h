// What the editor's message loops share: the one fetch every loop fills the
// program state with, the rebuild of a window that keeps the input queued
// for it, and the export that ends them.
#pragma once

#include <windows.h>

#include "editor/program_windows.h"

// The next message into state.msg, and DispatchMessageA of it: input kept
// from a replaced window first, then GetMessageA. WM_QUIT or a failed fetch
// ends the program normally. `recorded` tells afterwards whether a recording
// window procedure received the message.
void FetchMessage();

// Creates a window of `kind` in the place of `window` and then destroys
// `window` (none: nothing). The keyboard and mouse input the platform has
// queued by then goes to the new one: FetchMessage hands it out before
// anything the platform holds, in its order, each message with its own time
// and cursor position.
void ReplaceWindow(HWND& window, ProgramWindow kind);

// The export ending: the editor window goes, the export is written, its look
// goes to standard output, and the program ends.
[[noreturn]] void ExportAndEnd();
