// duotint-cli: tints any number of pictures with one look, without windows.
#include <windows.h>

#include "cli/cli.h"
#include "support/error.h"

int main()
{
    // The tint's extended precision, as in the editor.
    StartRuntimeSupport();
    return RunCli();
}
