// The file layer: bind a name, open, read, write, close.
//
// Each operation returns whether the file is still sound. The first failure
// on a file stays in its record, and FailureOf turns it into the value the
// caller hands on: platform errors as mapped by MapPlatformError, 100 for a
// read that delivers fewer bytes than asked, 101 for a write that cannot
// complete, with why it failed where the layer can tell.
//
// Transfers are buffered, so byte-sized reads and writes cost no system call
// each; the outcome is the same as unbuffered: a file that ends early fails
// at the read that asks for the missing byte, and buffered output that cannot
// be written fails with 101 no later than the close.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "support/failure.h"

enum { kFileBufferSize = 1 << 18 };

struct FileRecord {
    const char* name;       // bound name; null before the first bind
    const wchar_t* wideName;  // bound wide name, which wins over name when set
    HANDLE handle;
    uint8_t isOpen;
    uint8_t writing;
    uint32_t bufferFill;    // bytes in buffer (reading: read ahead; writing: pending)
    uint32_t bufferPos;     // next byte to hand out (reading only)
    // The first failure on the file: its error number (0: none), whether the
    // operation was writing, and why, where the layer can tell.
    uint16_t error;
    uint8_t failedWriting;
    FileFault fault;
    // Set while the file is written as a replacement: the bytes go to this
    // temporary file beside the target, which takes the target's place only
    // once it is complete and closed.
    wchar_t temporaryName[kLongPathCapacity];
    uint8_t buffer[kFileBufferSize];
};

// A record of its own for a file a function opens and closes: its buffer
// and name room left as they come, since touching fresh pages costs more
// than some pictures' whole read; all else zero, as a new record is.
std::unique_ptr<FileRecord> NewFileRecord();

// Names in the ANSI code page, or any path in UTF-16. Every platform call
// goes through the wide functions.
void BindFile(FileRecord& file, const char* name);
void BindFileW(FileRecord& file, const wchar_t* name);

// The size of an open file in bytes; 0 after a failure.
uint64_t FileSize(FileRecord& file);

// Opens an existing file for reading only, sharing reads with others.
bool OpenForReading(FileRecord& file);

// Opens the bound name for writing as a replacement: an existing file of that
// name must be writable now and stays untouched until CloseFile succeeds.
bool OpenForReplacing(FileRecord& file);

// Reading: the next read starts at `offset` from the file's start.
bool SeekForReading(FileRecord& file, uint64_t offset);
// Reading: where the next read starts, from the file's start.
bool ReadPosition(FileRecord& file, uint64_t& offset);
bool ReadBytes(FileRecord& file, void* destination, uint32_t count);
// Reading: `count` bytes from `offset` on, wherever the file stands. Threads
// that share a file take turns at it under a lock of their own; a
// ReadBytes after it needs a SeekForReading first.
bool ReadAt(FileRecord& file, uint64_t offset, void* destination, uint32_t count);
bool WriteBytes(FileRecord& file, const void* source, uint32_t count);
// Writing: what is written so far goes, buffered or not; the next write
// starts the file again.
bool WriteFromStart(FileRecord& file);
// WriteBytes for any count, in parts the platform takes.
bool WriteAll(FileRecord& file, const void* source, size_t count);

// Reading: closes. Writing: writes what is buffered, closes, and for a
// replacement moves the finished file over the target.
bool CloseFile(FileRecord& file);

// For a reader that finds from the file's size alone that it is too short,
// with no read failing: error 100 on file (open or not), with the fault the
// sentence gives, e.g. FileFault::tooShortForAPicture.
void FailShortFile(FileRecord& file, FileFault fault);
// For a caller that finds a failure of its own on the file: `code` (the
// file's first failure stands).
void FailFile(FileRecord& file, uint16_t code, FileFault fault = FileFault::unknown);

// The file's first failure, as a value. A name the platform calls absent
// because a part of it is longer than its file system takes fails as too
// long (206).
Failure FailureOf(const FileRecord& file);

// Closes the file if it is open, whatever became of it: an unfinished
// replacement's temporary file is removed, so that nothing half-written
// stays behind. Safe to call at any time.
void Abandon(FileRecord& file);

// Maps a platform error number to the number a failure shows.
uint16_t MapPlatformError(DWORD e);
