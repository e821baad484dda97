// The single way duotint ends, and the report a failed file operation shows.
//
// Every open, read, write and close is followed at once by CheckIo. A failure
// ends the process inside it: the numbered report goes through a small text
// stream into a 1024-character text, which is shown in one "Error" box, and
// the error number becomes the exit code. The report's last line is a
// sentence that names the file and says why, shortened to fit the box. A
// normal end exits with 0 and no box.
#pragma once

#include <windows.h>

#include <cstdint>

// Error numbers of file operations that are not the platform's own.
enum : uint16_t {
    kErrorOutOfMemory = 8,      // a pixel buffer could not be allocated
    kErrorRefusedPicture = 13,  // the picture cannot be tinted soundly
    kErrorShortRead = 100,
    kErrorShortWrite = 101,
    kErrorNotBound = 102,
    kErrorNotOpen = 103,
};

enum { kErrorTextCapacity = 1024, kErrorStreamCapacity = 256, kMaxTraceDepth = 62 };
// The longest path the wide functions take, in its \\?\ form.
enum { kLongPathCapacity = 32768 };

// Why a file operation failed, as far as the file layer can tell; the report
// ends with a sentence that says it. unknown: the sentence goes by the error
// number.
enum class FileFault : uint8_t {
    unknown,
    heldOpen,             // another program has the file open
    readOnlyFile,
    readOnlyFolder,       // the folder takes no new file
    isFolder,             // a folder has the file's name
    folderGone,
    diskFull,
    tooShortForAPicture,  // fewer bytes than any picture's header
    endsEarly,            // fewer bytes than the picture's header promises
};

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
    // a failure (duotint-cli's workers, the tests): called with the exit code
    // where the process would end, and must not return (it throws). Null:
    // the process ends.
    void (*exitHook)(uint16_t exitCode);
    // Set by the file layer once it writes a replacement: removes what is
    // unfinished of it, so that no failure leaves a half-written file.
    void (*discardUnfinished)();
    // Set by duotint-cli: the name the report's sentence gives the file at
    // path, as the command line has it. Null, or a null answer: the path.
    const char* (*shownName)(const wchar_t* path);
};

extern thread_local RuntimeErrorState errorState;

// Start-up: x87 unit to 64-bit precision and round to nearest, error output ready.
void StartRuntimeSupport();

void CheckIo();
[[noreturn]] void RaiseRuntimeError(uint16_t code, const void* address);
[[noreturn]] void Terminate();

// Ends the program with one box holding one plain sentence, and the given
// exit code: a refused picture, or memory that could not be had.
[[noreturn]] void EndWithSentence(uint16_t code, const char* sentence);

// Pieces of the report, exposed so they can be checked without ending anything.
void WriteReport();                 // the report lines into errorOutput
void WriteErrorChars(const char* text, int32_t n);
void CloseErrorOutput();
void FlushErrorText(const char* text, int32_t n);
void ShowErrorText();

// Maps a platform error number to the number the report shows.
uint16_t MapPlatformError(DWORD e);
