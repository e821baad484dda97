// The program's phases, from start to exit.
#pragma once

[[noreturn]] void RunProgram();
void CreateDrawingObjects();
void SetEditingDefaults();

// GetMessageA into state.msg and DispatchMessageA of it. WM_QUIT or a failed
// fetch ends the program normally. `recorded` tells afterwards whether a
// recording window procedure received the message.
void FetchMessage();
