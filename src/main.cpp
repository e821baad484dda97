// duotint: tints a picture with two colours.
#include <windows.h>

#include "app/program.h"
#include "support/error.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    StartRuntimeSupport();
    RunProgram();
}
