// The program's phases, from start to exit.
#pragma once

[[noreturn]] void RunProgram();
void CreateDrawingObjects();
void SetEditingDefaults();
