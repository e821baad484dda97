// duotint: tints a picture with two colours.
#include <windows.h>

#include "editor/program.h"
#include "editor/error.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    StartRuntimeSupport();
    RunProgram();
}
