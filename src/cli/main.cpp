// duotint-cli: tints any number of pictures with one look, without windows.
#include <windows.h>

#include "cli/cli.h"
#include "support/system.h"

// The wide entry point: the runtime splits the command line, so the program
// needs no shell functions (and the window system they bring) to start.
int wmain(int count, wchar_t** arguments)
{
    // The tint's extended precision, as in the editor.
    UseExtendedPrecision();
    return RunCli(count, arguments);
}
