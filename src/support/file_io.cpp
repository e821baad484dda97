// Buffered file operations over CreateFileW, ReadFile, WriteFile, CloseHandle.
#include "support/file_io.h"

#include <cstring>
#include <cwchar>

#include "support/error.h"

namespace {

// The replacement being written, if any; CheckIo discards it on a failure.
thread_local FileRecord* unfinishedReplacement;

// Notes the file an operation is on, so that a failure, even one its caller
// finds, is reported with its name. The first failure stands.
void Track(const FileRecord& file, bool writing)
{
    if (errorState.pendingIoError == 0)
        errorState.fileInUse = {file.name, file.wideName, static_cast<uint8_t>(writing), FileFault::unknown};
}

void Fail(uint16_t code, FileFault fault = FileFault::unknown)
{
    if (errorState.pendingIoError != 0)
        return;
    errorState.pendingIoError = code;
    errorState.fileInUse.fault = fault;
}

void FailWithPlatformError()
{
    DWORD e = GetLastError();
    Fail(MapPlatformError(e), e == ERROR_SHARING_VIOLATION ? FileFault::heldOpen : FileFault::unknown);
}

bool IsDiskFull(DWORD e) { return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL; }

// A write the platform took less of than it was given.
void FailShortWrite() { Fail(kErrorShortWrite, IsDiskFull(GetLastError()) ? FileFault::diskFull : FileFault::unknown); }

// Writing target failed with platform error e. The platform says "access
// denied" alike for a read-only file, a folder of that name and a folder
// that takes no new file; the target's attributes now tell them apart.
// newFile: the call that failed was making a new file beside the target. A
// write-protected disk counts as a read-only folder.
void FailWriting(const wchar_t* target, DWORD e, bool newFile)
{
    FileFault fault = FileFault::unknown;
    DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        fault = FileFault::isFolder;
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        fault = FileFault::readOnlyFile;
    else if (e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION)
        fault = FileFault::heldOpen;
    else if (IsDiskFull(e))
        fault = FileFault::diskFull;
    else if (e == ERROR_PATH_NOT_FOUND)
        fault = FileFault::folderGone;
    else if ((e == ERROR_ACCESS_DENIED && newFile) || e == ERROR_WRITE_PROTECT)
        fault = FileFault::readOnlyFolder;
    Fail(MapPlatformError(e), fault);
}

bool Usable(FileRecord& file)
{
    Track(file, file.writing != 0);
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
            FailShortWrite();
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

// Creates the file a replacement is written to, beside target, under a name
// of our own: GetTempFileNameW refuses a folder of more than MAX_PATH - 14
// characters. The process id keeps other programs' names apart; CREATE_NEW
// makes the file ours alone, and a name already taken (a leftover of an
// earlier run) is passed over for the next.
HANDLE CreateTemporaryBeside(const wchar_t* target, wchar_t (&temporaryName)[kLongPathCapacity])
{
    size_t folderLength = 0;
    for (size_t i = 0; target[i] != L'\0'; ++i) {
        if (target[i] == L'\\' || target[i] == L'/' || target[i] == L':')
            folderLength = i + 1;
    }
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        wchar_t leaf[32];
        _snwprintf(leaf, 32, L"dt~%lx-%u.tmp", GetCurrentProcessId(), attempt);
        leaf[31] = L'\0';
        if (folderLength + wcslen(leaf) >= kLongPathCapacity) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            break;
        }
        wmemcpy(temporaryName, target, folderLength);
        wcscpy(temporaryName + folderLength, leaf);
        HANDLE handle = CreateFileW(temporaryName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        DWORD e = GetLastError();
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS)
            break;
    }
    temporaryName[0] = L'\0';
    return INVALID_HANDLE_VALUE;
}

// The bound name as UTF-16, in scratch when it has to be converted; null
// (and 102) when nothing is bound.
const wchar_t* WideName(const FileRecord& file, wchar_t (&scratch)[MAX_PATH])
{
    if (file.wideName != nullptr)
        return file.wideName;
    if (file.name == nullptr) {
        Fail(kErrorNotBound);
        return nullptr;
    }
    if (MultiByteToWideChar(CP_ACP, 0, file.name, -1, scratch, MAX_PATH) == 0) {
        FailWithPlatformError();
        return nullptr;
    }
    return scratch;
}

}  // namespace

void BindFile(FileRecord& file, const char* name)
{
    file.name = name;
    file.wideName = nullptr;
}

void BindFileW(FileRecord& file, const wchar_t* name)
{
    file.name = nullptr;
    file.wideName = name;
}

uint64_t FileSize(FileRecord& file)
{
    LARGE_INTEGER size;
    if (!Usable(file))
        return 0;
    if (!GetFileSizeEx(file.handle, &size)) {
        FailWithPlatformError();
        return 0;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

void OpenForReading(FileRecord& file)
{
    Track(file, false);
    wchar_t scratch[MAX_PATH];
    const wchar_t* name = WideName(file, scratch);
    if (name == nullptr)
        return;
    file.handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE) {
        FailWithPlatformError();
        return;
    }
    file.isOpen = 1;
    file.writing = 0;
    file.bufferFill = 0;
    file.bufferPos = 0;
    file.temporaryName[0] = L'\0';
}

void OpenForReplacing(FileRecord& file)
{
    Track(file, true);
    errorState.discardUnfinished = DiscardUnfinishedReplacement;
    wchar_t scratch[MAX_PATH];
    const wchar_t* name = WideName(file, scratch);
    if (name == nullptr)
        return;
    // The target must be writable now: a read-only file, a folder or a file
    // another program holds open fails here, before anything is written.
    DWORD attributes = GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
            FailWriting(name, ERROR_ACCESS_DENIED, false);
            return;
        }
        HANDLE probe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            FailWriting(name, GetLastError(), false);
            return;
        }
        CloseHandle(probe);
    }

    file.handle = CreateTemporaryBeside(name, file.temporaryName);
    if (file.handle == INVALID_HANDLE_VALUE) {
        FailWriting(name, GetLastError(), true);
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
                    FailShortWrite();
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
    if (file.temporaryName[0] == L'\0')
        return;

    if (complete && closed) {
        wchar_t scratch[MAX_PATH];
        const wchar_t* name = WideName(file, scratch);
        if (name == nullptr || !MoveFileExW(file.temporaryName, name, MOVEFILE_REPLACE_EXISTING)) {
            if (name != nullptr)
                FailWriting(name, GetLastError(), false);
            DeleteFileW(file.temporaryName);
        }
    } else {
        DeleteFileW(file.temporaryName);
    }
    file.temporaryName[0] = L'\0';
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
    if (file->temporaryName[0] != L'\0')
        DeleteFileW(file->temporaryName);
    file->temporaryName[0] = L'\0';
}

void FailShortFile(const FileRecord& file, FileFault fault)
{
    Track(file, false);
    Fail(kErrorShortRead, fault);
}
