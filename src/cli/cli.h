// duotint-cli from its command line to its exit code.
#pragma once

// Reads the command line (the program's name first, as the runtime splits
// it), plans the pictures, reports the refusals and skips, runs the rest
// and returns the exit code: 0 when every picture was written or skipped,
// 64 for a usage error, otherwise the code of the first failure, refusals
// first.
int RunCli(int count, wchar_t* const* arguments);
