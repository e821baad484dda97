// duotint-cli: tints any number of pictures with one look, without windows.
#include <windows.h>
#include <shellapi.h>

#include "cli/cli.h"
#include "cli/run.h"
#include "support/error.h"

int main()
{
    // The tint's extended precision, as in the editor.
    StartRuntimeSupport();
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool worker = arguments != nullptr && IsCliWorker(count, arguments);
    LocalFree(arguments);
    return worker ? RunCliWorker() : RunCli();
}
