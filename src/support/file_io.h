// The checked file layer: bind a name, open, read, write, close.
//
// No operation reports a failure to its caller. A failure leaves its error
// number in errorState.pendingIoError, and the caller's CheckIo right after
// the operation ends the program with it: platform errors as mapped by
// MapPlatformError, 100 for a read that delivers fewer bytes than asked, 101
// for a write that cannot complete. The failed file and, where the layer can
// tell, why it failed are left in errorState.fileInUse for the report.
//
// Transfers are buffered, so byte-sized reads and writes cost no system call
// each; the outcome is the same as unbuffered: a file that ends early fails
// at the read that asks for the missing byte, and buffered output that cannot
// be written fails with 101 no later than the close.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/error.h"

enum { kFileBufferSize = 1 << 18 };

struct FileRecord {
    const char* name;       // bound name; null before the first bind
    const wchar_t* wideName;  // bound wide name, which wins over name when set
    HANDLE handle;
    uint8_t isOpen;
    uint8_t writing;
    uint32_t bufferFill;    // bytes in buffer (reading: read ahead; writing: pending)
    uint32_t bufferPos;     // next byte to hand out (reading only)
    // Set while the file is written as a replacement: the bytes go to this
    // temporary file beside the target, which takes the target's place only
    // once it is complete and closed.
    wchar_t temporaryName[kLongPathCapacity];
    uint8_t buffer[kFileBufferSize];
};

// Names in the ANSI code page, or any path in UTF-16. Every platform call
// goes through the wide functions.
void BindFile(FileRecord& file, const char* name);
void BindFileW(FileRecord& file, const wchar_t* name);

// The size of an open file in bytes.
uint64_t FileSize(FileRecord& file);

// Opens an existing file for reading only, sharing reads with others.
void OpenForReading(FileRecord& file);

// Opens the bound name for writing as a replacement: an existing file of that
// name must be writable now and stays untouched until CloseFile succeeds.
void OpenForReplacing(FileRecord& file);

void ReadBytes(FileRecord& file, void* destination, uint32_t count);
void SkipBytes(FileRecord& file, uint32_t count);
void WriteBytes(FileRecord& file, const void* source, uint32_t count);

// Reading: closes. Writing: writes what is buffered, closes, and for a
// replacement moves the finished file over the target.
void CloseFile(FileRecord& file);

// For a reader that finds from the file's size alone that it is too short,
// with no read failing: error 100 on file (open or not), with the fault the
// report's sentence gives, e.g. FileFault::tooShortForAPicture.
void FailShortFile(const FileRecord& file, FileFault fault);

// After a failure: closes and removes the temporary file of an unfinished
// replacement, so nothing half-written stays behind. Safe to call at any time.
void DiscardUnfinishedReplacement();
