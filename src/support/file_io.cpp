// Buffered file operations over CreateFileW, ReadFile, WriteFile, CloseHandle.
#include "support/file_io.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>

#include "support/picture_names.h"
#include "support/utf8.h"

namespace {

// Notes what the file's next operation does, so that its failure, even one
// its caller finds, says whether it was writing. The first failure stands.
void Track(FileRecord& file, bool writing)
{
    if (file.error == 0)
        file.failedWriting = static_cast<uint8_t>(writing);
}

void Fail(FileRecord& file, uint16_t code, FileFault fault = FileFault::unknown)
{
    if (file.error != 0)
        return;
    file.error = code;
    file.fault = fault;
}

void FailWithPlatformError(FileRecord& file)
{
    DWORD e = GetLastError();
    Fail(file, MapPlatformError(e), e == ERROR_SHARING_VIOLATION ? FileFault::heldOpen : FileFault::unknown);
}

bool IsDiskFull(DWORD e) { return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL; }

// A write the platform took less of than it was given.
void FailShortWrite(FileRecord& file)
{
    Fail(file, kErrorShortWrite, IsDiskFull(GetLastError()) ? FileFault::diskFull : FileFault::unknown);
}

// Writing target failed with platform error e. The platform says "access
// denied" alike for a read-only file, a folder of that name and a folder
// that takes no new file; the target's attributes now tell them apart.
// newFile: the call that failed was making a new file beside the target. A
// write-protected disk counts as a read-only folder.
void FailWriting(FileRecord& file, const wchar_t* target, DWORD e, bool newFile)
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
    Fail(file, MapPlatformError(e), fault);
}

bool Usable(FileRecord& file)
{
    Track(file, file.writing != 0);
    if (!file.isOpen) {
        Fail(file, kErrorNotOpen);
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
            FailShortWrite(file);
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
// earlier run) is passed over for the next. The file is marked for deletion
// at once, so that a process killed while writing it leaves nothing behind:
// the system deletes it with the last handle. KeepTemporary takes the mark
// away just before it takes its name.
// Removes the temporary files that processes no longer running left in
// `folder` (one killed before its file had its mark, or whose mark the
// system did not keep), once a folder in each
// process, before this process makes any there: the lock holds every other
// thread's first file in the folder back until the sweep is done. So a file
// named with this process's own id is a dead process's too (Wine gives a
// dead process's id to the next soon). A file whose process still runs, or
// that another program holds open, stays.
void RemoveLeftTemporaries(const std::wstring& folder)
{
    static SRWLOCK lock = SRWLOCK_INIT;
    static auto* cleared = new std::set<std::wstring>;
    AcquireSRWLockExclusive(&lock);
    WIN32_FIND_DATAW found;
    HANDLE find = INVALID_HANDLE_VALUE;
    if (cleared->insert(folder).second)
        find = FindFirstFileW((folder + L"dt~*.tmp").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            unsigned long id = 0;
            unsigned attempt = 0;
            wchar_t end = 0;
            if (swscanf(found.cFileName, L"dt~%lx-%u.tm%lc", &id, &attempt, &end) != 3 || end != L'p')
                continue;
            // A process that has ended may still be held by another (under
            // Wine, its console's host for a while): it opens, but has ended.
            HANDLE process = id == GetCurrentProcessId() ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, id);
            const bool gone = id == GetCurrentProcessId() ||
                              (process == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) ||  // no such process
                              (process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0);
            if (process != nullptr)
                CloseHandle(process);
            if (gone)
                DeleteFileW((folder + found.cFileName).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    ReleaseSRWLockExclusive(&lock);
}

HANDLE CreateTemporaryBeside(const wchar_t* target, wchar_t (&temporaryName)[kLongPathCapacity])
{
    size_t folderLength = 0;
    for (size_t i = 0; target[i] != L'\0'; ++i) {
        if (target[i] == L'\\' || target[i] == L'/' || target[i] == L':')
            folderLength = i + 1;
    }
    RemoveLeftTemporaries(std::wstring(target, folderLength));
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
        HANDLE handle = CreateFileW(temporaryName, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            FILE_DISPOSITION_INFO doomed = {TRUE};
            SetFileInformationByHandle(handle, FileDispositionInfo, &doomed, sizeof doomed);
            return handle;
        }
        DWORD e = GetLastError();
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS)
            break;
    }
    temporaryName[0] = L'\0';
    return INVALID_HANDLE_VALUE;
}

// A whole temporary file is to stay and take its name: the deletion mark
// goes before its handle closes.
bool KeepTemporary(HANDLE handle)
{
    FILE_DISPOSITION_INFO kept = {FALSE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &kept, sizeof kept) != 0;
}

// The bound name as UTF-16, in scratch when it has to be converted; null
// (and 102) when nothing is bound.
const wchar_t* WideName(FileRecord& file, wchar_t (&scratch)[MAX_PATH])
{
    if (file.wideName != nullptr)
        return file.wideName;
    if (file.name == nullptr) {
        Fail(file, kErrorNotBound);
        return nullptr;
    }
    if (!WideOfAnsi(file.name, scratch, MAX_PATH)) {
        FailWithPlatformError(file);
        return nullptr;
    }
    return scratch;
}

}  // namespace

std::unique_ptr<FileRecord> NewFileRecord()
{
    std::unique_ptr<FileRecord> file(new FileRecord);  // default-initialised: nothing written yet
    memset(file.get(), 0, offsetof(FileRecord, temporaryName));
    file->temporaryName[0] = L'\0';
    return file;
}

void BindFile(FileRecord& file, const char* name)
{
    file.name = name;
    file.wideName = nullptr;
    file.error = 0;
    file.fault = FileFault::unknown;
}

void BindFileW(FileRecord& file, const wchar_t* name)
{
    file.name = nullptr;
    file.wideName = name;
    file.error = 0;
    file.fault = FileFault::unknown;
}

uint64_t FileSize(FileRecord& file)
{
    LARGE_INTEGER size;
    if (!Usable(file))
        return 0;
    if (!GetFileSizeEx(file.handle, &size)) {
        FailWithPlatformError(file);
        return 0;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

bool OpenForReading(FileRecord& file)
{
    Track(file, false);
    wchar_t scratch[MAX_PATH];
    const wchar_t* name = WideName(file, scratch);
    if (name == nullptr)
        return false;
    file.handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE) {
        FailWithPlatformError(file);
        return false;
    }
    file.isOpen = 1;
    file.writing = 0;
    file.bufferFill = 0;
    file.bufferPos = 0;
    file.temporaryName[0] = L'\0';
    return file.error == 0;
}

bool OpenForReplacing(FileRecord& file)
{
    Track(file, true);
    wchar_t scratch[MAX_PATH];
    const wchar_t* name = WideName(file, scratch);
    if (name == nullptr)
        return false;
    // The target must be writable now: a read-only file, a folder or a file
    // another program holds open fails here, before anything is written.
    DWORD attributes = GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
            FailWriting(file, name, ERROR_ACCESS_DENIED, false);
            return false;
        }
        HANDLE probe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            FailWriting(file, name, GetLastError(), false);
            return false;
        }
        CloseHandle(probe);
    }

    file.handle = CreateTemporaryBeside(name, file.temporaryName);
    if (file.handle == INVALID_HANDLE_VALUE) {
        FailWriting(file, name, GetLastError(), true);
        return false;
    }
    file.isOpen = 1;
    file.writing = 1;
    file.bufferFill = 0;
    file.bufferPos = 0;
    return file.error == 0;
}

bool ReadBytes(FileRecord& file, void* destination, uint32_t count)
{
    if (!Usable(file))
        return false;
    auto out = static_cast<uint8_t*>(destination);
    while (count > 0) {
        if (file.bufferPos == file.bufferFill) {
            // Large requests go straight into the destination; small ones
            // are served from one read-ahead.
            if (count >= kFileBufferSize) {
                if (ReadFully(file.handle, out, count) != count)
                    Fail(file, kErrorShortRead);
                return file.error == 0;
            }
            file.bufferFill = ReadFully(file.handle, file.buffer, kFileBufferSize);
            file.bufferPos = 0;
            if (file.bufferFill == 0) {
                Fail(file, kErrorShortRead);
                return false;
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
    return file.error == 0;
}

bool SeekForReading(FileRecord& file, uint64_t offset)
{
    if (!Usable(file))
        return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.handle, to, nullptr, FILE_BEGIN)) {
        FailWithPlatformError(file);
        return false;
    }
    file.bufferFill = 0;
    file.bufferPos = 0;
    return true;
}

bool ReadAt(FileRecord& file, uint64_t offset, void* destination, uint32_t count)
{
    if (!Usable(file))
        return false;
    auto out = static_cast<uint8_t*>(destination);
    for (uint32_t done = 0; done < count;) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(file.handle, out + done, count - done, &got, &at) && GetLastError() != ERROR_HANDLE_EOF) {
            FailWithPlatformError(file);
            return false;
        }
        if (got == 0) {
            Fail(file, kErrorShortRead);
            return false;
        }
        done += got;
    }
    // The read moved the platform's position: what was read ahead is stale.
    file.bufferFill = 0;
    file.bufferPos = 0;
    return true;
}

bool ReadPosition(FileRecord& file, uint64_t& offset)
{
    if (!Usable(file))
        return false;
    LARGE_INTEGER none, at;
    none.QuadPart = 0;
    if (!SetFilePointerEx(file.handle, none, &at, FILE_CURRENT)) {
        FailWithPlatformError(file);
        return false;
    }
    // The bytes read ahead and not yet handed out come before it.
    offset = static_cast<uint64_t>(at.QuadPart) - (file.bufferFill - file.bufferPos);
    return true;
}

bool WriteFromStart(FileRecord& file)
{
    if (!Usable(file))
        return false;
    file.bufferFill = 0;
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file.handle, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.handle)) {
        FailWithPlatformError(file);
        return false;
    }
    return true;
}

bool WriteAll(FileRecord& file, const void* source, size_t count)
{
    auto bytes = static_cast<const uint8_t*>(source);
    for (size_t done = 0; done < count;) {
        const uint32_t part = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30));
        if (!WriteBytes(file, bytes + done, part))
            return false;
        done += part;
    }
    return true;
}

bool WriteBytes(FileRecord& file, const void* source, uint32_t count)
{
    if (!Usable(file))
        return false;
    auto in = static_cast<const uint8_t*>(source);
    if (file.bufferFill + count > kFileBufferSize) {
        if (!FlushWrites(file))
            return false;
        if (count >= kFileBufferSize) {
            // Too big to gather: hand it to the platform as it stands.
            while (count > 0) {
                DWORD written = 0;
                if (!WriteFile(file.handle, in, count, &written, nullptr) || written == 0) {
                    FailShortWrite(file);
                    return false;
                }
                in += written;
                count -= written;
            }
            return file.error == 0;
        }
    }
    memcpy(file.buffer + file.bufferFill, in, count);
    file.bufferFill += count;
    return file.error == 0;
}

bool CloseFile(FileRecord& file)
{
    if (!Usable(file))
        return false;
    bool complete = !file.writing || FlushWrites(file);
    if (complete && file.temporaryName[0] != L'\0' && !KeepTemporary(file.handle)) {
        FailWithPlatformError(file);
        complete = false;
    }
    bool closed = CloseHandle(file.handle) != 0;
    if (!closed && complete)
        FailWithPlatformError(file);
    file.isOpen = 0;
    file.handle = nullptr;
    if (file.temporaryName[0] == L'\0')
        return file.error == 0;

    if (complete && closed) {
        wchar_t scratch[MAX_PATH];
        const wchar_t* name = WideName(file, scratch);
        if (name == nullptr || !MoveFileExW(file.temporaryName, name, MOVEFILE_REPLACE_EXISTING)) {
            if (name != nullptr)
                FailWriting(file, name, GetLastError(), false);
            DeleteFileW(file.temporaryName);
        }
    } else {
        DeleteFileW(file.temporaryName);
    }
    file.temporaryName[0] = L'\0';
    return file.error == 0;
}

void Abandon(FileRecord& file)
{
    if (file.isOpen)
        CloseHandle(file.handle);
    file.isOpen = 0;
    file.handle = nullptr;
    if (file.temporaryName[0] != L'\0')
        DeleteFileW(file.temporaryName);
    file.temporaryName[0] = L'\0';
}

void FailShortFile(FileRecord& file, FileFault fault)
{
    Track(file, false);
    Fail(file, kErrorShortRead, fault);
}

void FailFile(FileRecord& file, uint16_t code, FileFault fault)
{
    Fail(file, code, fault);
}

Failure FailureOf(const FileRecord& file)
{
    Failure failure;
    failure.code = file.error;
    failure.writing = file.failedWriting != 0;
    failure.fault = file.fault;
    if (file.wideName != nullptr) {
        failure.file = file.wideName;
    } else {
        wchar_t name[MAX_PATH];
        if (WideOfAnsi(file.name, name, MAX_PATH))
            failure.file = name;
    }
    if (NotFoundForBeingTooLong(failure.code, failure.file.c_str())) {
        failure.code = ERROR_FILENAME_EXCED_RANGE;
        failure.fault = FileFault::unknown;
    }
    return failure;
}

uint16_t MapPlatformError(DWORD e)
{
    if (e >= 19 && e <= 31)
        return static_cast<uint16_t>(e + 131);  // device errors
    if (e == ERROR_SHARING_VIOLATION)
        return ERROR_ACCESS_DENIED;
    return static_cast<uint16_t>(e);
}
