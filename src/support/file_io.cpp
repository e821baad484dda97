// Buffered file operations over CreateFileA, ReadFile, WriteFile, CloseHandle.
#include "support/file_io.h"

#include <cstring>

#include "support/error.h"

namespace {

// The replacement being written, if any; CheckIo discards it on a failure.
FileRecord* unfinishedReplacement;

void Fail(uint16_t code)
{
    if (errorState.pendingIoError == 0)
        errorState.pendingIoError = code;
}

void FailWithPlatformError() { Fail(MapPlatformError(GetLastError())); }

bool Usable(FileRecord& file)
{
    if (!file.isOpen) {
        Fail(kErrorNotOpen);
        return false;
    }
    return true;
}

// Writes everything buffered; false (and 101) if the platform takes less.
bool FlushWrites(FileRecord& file)
{
    uint32_t done = 0;
    while (done < file.bufferFill) {
        DWORD written = 0;
        if (!WriteFile(file.handle, file.buffer + done, file.bufferFill - done, &written, nullptr) ||
            written == 0) {
            Fail(kErrorShortWrite);
            file.bufferFill = 0;
            return false;
        }
        done += written;
    }
    file.bufferFill = 0;
    return true;
}

// Reads until count bytes arrived or the file ends; returns how many arrived.
uint32_t ReadFully(HANDLE handle, uint8_t* destination, uint32_t count)
{
    uint32_t done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(handle, destination + done, count - done, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    return done;
}

void FolderOf(const char* name, char* folder)
{
    const char* slash = nullptr;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            slash = p;
    }
    if (slash == nullptr) {
        strcpy(folder, ".");
        return;
    }
    size_t n = static_cast<size_t>(slash - name);
    if (n == 0)
        n = 1;  // the root folder itself
    if (n >= MAX_PATH)
        n = MAX_PATH - 1;
    memcpy(folder, name, n);
    folder[n] = '\0';
}

}  // namespace

void BindFile(FileRecord& file, const char* name)
{
    file.name = name;
}

void OpenForReading(FileRecord& file)
{
    if (file.name == nullptr) {
        Fail(kErrorNotBound);
        return;
    }
    file.handle = CreateFileA(file.name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE) {
        FailWithPlatformError();
        return;
    }
    file.isOpen = 1;
    file.writing = 0;
    file.bufferFill = 0;
    file.bufferPos = 0;
    file.temporaryName[0] = '\0';
}

void OpenForReplacing(FileRecord& file)
{
    if (file.name == nullptr) {
        Fail(kErrorNotBound);
        return;
    }
    // The target must be writable now: a read-only file, a folder or a file
    // another program holds open fails here, before anything is written.
    DWORD attributes = GetFileAttributesA(file.name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
            Fail(ERROR_ACCESS_DENIED);
            return;
        }
        HANDLE probe = CreateFileA(file.name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            FailWithPlatformError();
            return;
        }
        CloseHandle(probe);
    }

    char folder[MAX_PATH];
    FolderOf(file.name, folder);
    if (GetTempFileNameA(folder, "dt~", 0, file.temporaryName) == 0) {
        file.temporaryName[0] = '\0';
        FailWithPlatformError();
        return;
    }
    file.handle = CreateFileA(file.temporaryName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE) {
        FailWithPlatformError();
        DeleteFileA(file.temporaryName);
        file.temporaryName[0] = '\0';
        return;
    }
    file.isOpen = 1;
    file.writing = 1;
    file.bufferFill = 0;
    file.bufferPos = 0;
    unfinishedReplacement = &file;
}

void ReadBytes(FileRecord& file, void* destination, uint32_t count)
{
    if (!Usable(file))
        return;
    auto out = static_cast<uint8_t*>(destination);
    while (count > 0) {
        if (file.bufferPos == file.bufferFill) {
            // Large requests go straight into the destination; small ones
            // are served from one read-ahead.
            if (count >= kFileBufferSize) {
                if (ReadFully(file.handle, out, count) != count)
                    Fail(kErrorShortRead);
                return;
            }
            file.bufferFill = ReadFully(file.handle, file.buffer, kFileBufferSize);
            file.bufferPos = 0;
            if (file.bufferFill == 0) {
                Fail(kErrorShortRead);
                return;
            }
        }
        uint32_t n = file.bufferFill - file.bufferPos;
        if (n > count)
            n = count;
        memcpy(out, file.buffer + file.bufferPos, n);
        file.bufferPos += n;
        out += n;
        count -= n;
    }
}

void SkipBytes(FileRecord& file, uint32_t count)
{
    uint8_t scratch[256];
    while (count > 0 && errorState.pendingIoError == 0) {
        uint32_t n = count < sizeof scratch ? count : sizeof scratch;
        ReadBytes(file, scratch, n);
        count -= n;
    }
}

void WriteBytes(FileRecord& file, const void* source, uint32_t count)
{
    if (!Usable(file))
        return;
    auto in = static_cast<const uint8_t*>(source);
    if (file.bufferFill + count > kFileBufferSize) {
        if (!FlushWrites(file))
            return;
        if (count >= kFileBufferSize) {
            // Too big to gather: hand it to the platform as it stands.
            while (count > 0) {
                DWORD written = 0;
                if (!WriteFile(file.handle, in, count, &written, nullptr) || written == 0) {
                    Fail(kErrorShortWrite);
                    return;
                }
                in += written;
                count -= written;
            }
            return;
        }
    }
    memcpy(file.buffer + file.bufferFill, in, count);
    file.bufferFill += count;
}

void CloseFile(FileRecord& file)
{
    if (!Usable(file))
        return;
    bool complete = !file.writing || FlushWrites(file);
    bool closed = CloseHandle(file.handle) != 0;
    if (!closed && complete)
        FailWithPlatformError();
    file.isOpen = 0;
    file.handle = nullptr;
    if (file.temporaryName[0] == '\0')
        return;

    if (complete && closed) {
        if (!MoveFileExA(file.temporaryName, file.name, MOVEFILE_REPLACE_EXISTING)) {
            FailWithPlatformError();
            DeleteFileA(file.temporaryName);
        }
    } else {
        DeleteFileA(file.temporaryName);
    }
    file.temporaryName[0] = '\0';
    unfinishedReplacement = nullptr;
}

void DiscardUnfinishedReplacement()
{
    FileRecord* file = unfinishedReplacement;
    if (file == nullptr)
        return;
    unfinishedReplacement = nullptr;
    if (file->isOpen)
        CloseHandle(file->handle);
    file->isOpen = 0;
    if (file->temporaryName[0] != '\0')
        DeleteFileA(file->temporaryName);
    file->temporaryName[0] = '\0';
}
