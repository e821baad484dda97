// Looking up a typed picture name, naming the export, and device names.
#include "support/picture_names.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "support/failure.h"
#include "support/utf8.h"

const char* const kPictureExtensions[11] = {".bmp", ".png",  ".jpg",  ".jpeg", ".gif", ".tif",
                                            ".tiff", ".webp", ".heic", ".heif", ".avif"};

bool FindPictureFile(char* name, int32_t nameLength)
{
    // The platform answers for "con.bmp" as for a file; opening it would
    // reach the console.
    if (IsDeviceName(std::wstring(name, name + nameLength)))
        return false;
    // GetFileAttributes looks at the given path only: no search of the
    // program's or the system's folders, and no limit below MAX_PATH.
    for (const char* extension : kPictureExtensions) {
        strcpy(name + nameLength, extension);
        DWORD attributes = GetFileAttributesA(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
    }
    return false;
}

std::wstring FullPath(const wchar_t* path)
{
    DWORD n = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (n == 0)
        return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path, n, &full[0], nullptr);
    full.resize(n);
    if (full.size() >= MAX_PATH && full.compare(0, 2, L"\\\\") != 0)
        full = L"\\\\?\\" + full;
    return full;
}

std::wstring ExportPathFor(const std::wstring& picture, const wchar_t* ending)
{
    size_t nameStart = picture.size() - LastPathPart(picture).size();
    size_t dot = picture.rfind(L'.');
    size_t stemEnd = dot != std::wstring::npos && dot > nameStart ? dot : picture.size();
    return picture.substr(0, stemEnd) + ending;
}

std::wstring_view LastPathPart(std::wstring_view path)
{
    size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

namespace {

// Under Wine a FIFO or a device file has no attributes, yet its folder lists it.
bool IsListed(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

}  // namespace

PictureFileFault PictureFileFaultOf(const std::wstring& fullPath, DWORD attributes)
{
    // The platform finds "con.png" in any folder and opens the console.
    if (IsDeviceName(LastPathPart(fullPath)))
        return {ERROR_ACCESS_DENIED, "it names a device, not a file"};
    // Asked again where the caller's read failed: its error says why.
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = GetFileAttributesW(fullPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            return {ERROR_ACCESS_DENIED, "it may not be read"};
        // Wine says a name too long is not there.
        if (HasNameTooLong(fullPath))
            return {ERROR_FILENAME_EXCED_RANGE, WhyClause(FileFault::unknown, ERROR_FILENAME_EXCED_RANGE)};
        // A name with wildcards is invalid, and must not be listed as a pattern.
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND && e != ERROR_INVALID_NAME && IsListed(fullPath))
            return {ERROR_ACCESS_DENIED, "it is not a regular file"};
        return {ERROR_FILE_NOT_FOUND, WhyClause(FileFault::unknown, ERROR_FILE_NOT_FOUND)};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return {ERROR_ACCESS_DENIED, "it is a folder, not a picture"};
    HANDLE probe = CreateFileW(fullPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return {ERROR_ACCESS_DENIED,
                GetLastError() == ERROR_SHARING_VIOLATION ? WhyClause(FileFault::heldOpen, 0) : "it may not be read"};
    }
    // A pipe or a device (\\.\COM1) opens like a file but is none.
    const bool regular = GetFileType(probe) == FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION info;
    const bool indexed =
        regular && GetFileInformationByHandle(probe, &info) && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0);
    CloseHandle(probe);
    if (!regular)
        return {ERROR_ACCESS_DENIED, "it is not a regular file"};
    if (!indexed)
        return {0, nullptr};
    return {0, nullptr, IndexedIdentity(info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow)};
}

std::string WhereNotFound(std::string_view typed)
{
    const bool relative = !typed.empty() && typed[0] != '\\' && typed[0] != '/' && (typed.size() < 2 || typed[1] != ':');
    wchar_t current[MAX_PATH + 1], system[MAX_PATH + 1];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, current);
    const DWORD m = GetWindowsDirectoryW(system, MAX_PATH + 1);
    if (!relative || n == 0 || n > MAX_PATH || m == 0 || m > MAX_PATH || lstrcmpiW(current, system) != 0)
        return "";
    return " in " + Utf8Of(current) +
           ", where the program runs: the folder it was started from could not be entered (a path too long?)";
}

bool IsDeviceName(std::wstring_view lastPart)
{
    // Only what stands before the first dot counts, without trailing spaces:
    // "nul.tar.gz" and "con .bmp" are devices too.
    std::wstring_view stem = lastPart.substr(0, lastPart.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.remove_suffix(1);
    if (stem.size() != 3 && stem.size() != 4)
        return false;
    wchar_t lower[4];
    for (size_t i = 0; i < stem.size(); ++i)
        lower[i] = stem[i] >= L'A' && stem[i] <= L'Z' ? static_cast<wchar_t>(stem[i] + 32) : stem[i];
    std::wstring_view name(lower, stem.size());
    if (name.size() == 3)
        return name == L"con" || name == L"prn" || name == L"aux" || name == L"nul";
    // The platform counts the superscript digits 1, 2 and 3 as digits here.
    const wchar_t n = name[3];
    const bool digit = (n >= L'1' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3';
    return digit && (name.substr(0, 3) == L"com" || name.substr(0, 3) == L"lpt");
}

namespace {

// Wine hands a name to the Unix file system beneath it in UTF-8, and that
// counts a name's bytes, while the volume Wine reports takes 255 units
// whatever lies beneath. Only Wine's ntdll has wine_get_version.
bool UnderWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// A handle that reads nothing and takes no share from anyone: enough to ask
// what a file or folder is.
HANDLE OpenToAsk(const std::wstring& path)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::wstring FolderOf(std::wstring_view path)
{
    return std::wstring(path.substr(0, path.size() - LastPathPart(path).size()));
}

}  // namespace

NameRoom NameRoomOf(const std::wstring& folder)
{
    NameRoom room;
    room.inBytes = UnderWine();
    const HANDLE handle = OpenToAsk(folder);
    if (handle == INVALID_HANDLE_VALUE)
        return room;
    // Asked by its handle: asked by a drive's root, Wine reads the drive's
    // label too and says on standard error when it may not.
    DWORD most = 0;
    if (GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, &most, nullptr, nullptr, 0) && most > 0)
        room.most = most;
    CloseHandle(handle);
    return room;
}

size_t NameLength(std::wstring_view name, NameRoom room)
{
    if (!room.inBytes || name.empty())
        return name.size();
    return Utf8Of(name).size();
}

std::string NameRoomText(NameRoom room)
{
    return std::to_string(room.most) + (room.inBytes ? " bytes" : " characters");
}

bool NotFoundForBeingTooLong(uint32_t code, const wchar_t* name)
{
    return (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) && name != nullptr && *name != L'\0' &&
           HasNameTooLong(FullPath(name));
}

bool HasNameTooLong(const std::wstring& fullPath)
{
    const NameRoom room = NameRoomOf(FolderOf(fullPath));
    size_t start = 0;
    for (;;) {
        const size_t end = fullPath.find_first_of(L"\\/", start);
        const std::wstring_view part = std::wstring_view(fullPath).substr(start, end - start);
        if (NameLength(part, room) > room.most)
            return true;
        if (end == std::wstring::npos)
            return false;
        start = end + 1;
    }
}

ExportNameFault ExportNameFaultOf(std::wstring_view exportPath, NameRoom& room)
{
    const std::wstring_view name = LastPathPart(exportPath);
    room = NameRoomOf(FolderOf(exportPath));
    if (NameLength(name, room) > room.most)
        return ExportNameFault::tooLong;
    if (IsDeviceName(name))
        return ExportNameFault::device;
    return ExportNameFault::none;
}

std::wstring IndexedIdentity(uint32_t volumeSerial, uint64_t index)
{
    wchar_t key[32];
    swprintf(key, 32, L"#%08lx:%016llx", static_cast<unsigned long>(volumeSerial), static_cast<unsigned long long>(index));
    return key;
}

std::wstring FileIdentity(const std::wstring& fullPath)
{
    HANDLE handle = OpenToAsk(fullPath);
    if (handle != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        // An index of 0 is a file system that keeps none; the path must do.
        const bool indexed =
            GetFileInformationByHandle(handle, &info) && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0);
        CloseHandle(handle);
        if (indexed)
            return IndexedIdentity(info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow);
    }
    // Not there yet: the name in its folder, as the folder's final path has it.
    std::wstring key = fullPath;
    const std::wstring_view name = LastPathPart(fullPath);
    handle = OpenToAsk(FolderOf(fullPath));
    if (handle != INVALID_HANDLE_VALUE) {
        // Asked for its length first: a folder's path may be of any length.
        std::wstring folder(GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED) + 1, L'\0');
        const DWORD n =
            GetFinalPathNameByHandleW(handle, &folder[0], static_cast<DWORD>(folder.size()), FILE_NAME_NORMALIZED);
        if (n > 0 && n < folder.size()) {
            key.assign(folder, 0, n);
            if (key.back() != L'\\')
                key += L'\\';
            key += name;
        }
        CloseHandle(handle);
    }
    if (key.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        key = L"\\\\" + key.substr(8);
    else if (key.compare(0, 4, L"\\\\?\\") == 0)
        key = key.substr(4);
    // In one case, as the file system compares names, whatever the user's
    // language (and without the window system's case functions).
    std::wstring upper(key.size(), L'\0');
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.data(), static_cast<int>(key.size()), &upper[0],
                  static_cast<int>(upper.size()), nullptr, nullptr, 0);
    return upper;
}
