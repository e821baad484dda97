// The single way the editor ends, and the report a failed file operation
// shows.
//
// A failed file operation ends the process in CheckIo: the numbered report goes through a small text
// stream into a 1024-character text, which is shown in one "Error" box, and
// the error number becomes the exit code. The report's last line is a
// sentence that names the file and says why, shortened to fit the box. A
// normal end exits with 0 and no box.
#pragma once

#include <windows.h>

#include <cstdint>

#include "editor/program_state.h"  // errorState
#include "support/failure.h"

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

// Ends the program with a failure the picture library reported: a refusal
// as its sentence, a failed file operation as a runtime error on its file.
// Inlined, so that the report's address is in the procedure that failed.
[[noreturn]] __attribute__((always_inline)) inline void EndWithFailure(const Failure& failure)
{
    if (failure.file.empty() && !failure.sentence.empty())
        EndWithSentence(failure.code, failure.sentence.c_str());
    errorState.fileInUse = {nullptr, failure.file.c_str(), static_cast<uint8_t>(failure.writing), failure.fault};
    errorState.pendingIoError = failure.code;
    CheckIo();
    Terminate();  // CheckIo ends the program with the pending error; this is never reached
}
