// The records of how the editor ends: the runtime error report's, and the
// view of the picture whose read fault ends the program as a failed read.
// program_state.h declares the one global of each.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "support/failure.h"

enum { kErrorTextCapacity = 1024, kErrorStreamCapacity = 256, kMaxTraceDepth = 62 };

// The file of the latest file operation and, once one failed, why.
struct FileInUse {
    const char* name;         // as bound; both null: no file
    const wchar_t* wideName;
    uint8_t writing;
    FileFault fault;
};

// Text output stream in front of errorText: a line end, a full buffer or the
// close of the stream hands its characters to FlushErrorText.
struct ErrorOutput {
    char buffer[kErrorStreamCapacity];
    int32_t count;
};

struct RuntimeErrorState {
    uint16_t pendingIoError;  // left by the last failed file operation; 0 = none
    uint16_t exitCode;
    const void* errorAddress; // where the failing check returns; null = normal end
    char errorText[kErrorTextCapacity + 1];
    int32_t errorTextLength;
    ErrorOutput errorOutput;
    // Return addresses of the procedures active at the failure, innermost
    // first, captured by CheckIo for the report's trace.
    const void* trace[kMaxTraceDepth];
    int32_t traceCount;
    FileInUse fileInUse;
    // Shows one box; MessageBoxA unless a test watches the boxes instead.
    void (*showBox)(const char* text, const char* caption);
    // Set where the program's procedures run in a process that goes on after
    // a failure (the tests): called with the exit code where the process
    // would end, and must not return (it throws). Null: the process ends.
    void (*exitHook)(uint16_t exitCode);
    // Set by the export once it writes a replacement: removes what is
    // unfinished of it, so that no failure leaves a half-written file.
    void (*discardUnfinished)();
};

// The view a fault ends the program in; start null when none. The fault
// handler reads it on whichever thread faulted.
struct EndingView {
    const char* volatile start;
    volatile size_t size;
    FileInUse file;
};
