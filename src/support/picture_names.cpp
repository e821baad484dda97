// Looking up a typed picture name, naming the export, and device names.
#include "support/picture_names.h"

#include <windows.h>

#include <cstring>

const char* const kPictureExtensions[7] = {".bmp", ".png", ".jpg", ".jpeg", ".gif", ".tif", ".tiff"};

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

PictureFileFault PictureFileFaultOf(const std::wstring& fullPath)
{
    // The platform finds "con.png" in any folder and opens the console.
    if (IsDeviceName(LastPathPart(fullPath)))
        return {ERROR_ACCESS_DENIED, "it names a device, not a file"};
    DWORD attributes = GetFileAttributesW(fullPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            return {ERROR_ACCESS_DENIED, "it may not be read"};
        // A name with wildcards is invalid, and must not be listed as a pattern.
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND && e != ERROR_INVALID_NAME && IsListed(fullPath))
            return {ERROR_ACCESS_DENIED, "it is not a regular file"};
        return {ERROR_FILE_NOT_FOUND, "there is no such file"};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return {ERROR_ACCESS_DENIED, "it is a folder, not a picture"};
    HANDLE probe = CreateFileW(fullPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return {ERROR_ACCESS_DENIED,
                GetLastError() == ERROR_SHARING_VIOLATION ? "another program holds it open" : "it may not be read"};
    }
    // A pipe or a device (\\.\COM1) opens like a file but is none.
    const bool regular = GetFileType(probe) == FILE_TYPE_DISK;
    CloseHandle(probe);
    if (!regular)
        return {ERROR_ACCESS_DENIED, "it is not a regular file"};
    return {0, nullptr};
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

ExportNameFault ExportNameFaultOf(std::wstring_view exportPath)
{
    std::wstring_view name = LastPathPart(exportPath);
    if (name.size() > kMaxNameLength)
        return ExportNameFault::tooLong;
    if (IsDeviceName(name))
        return ExportNameFault::device;
    return ExportNameFault::none;
}
