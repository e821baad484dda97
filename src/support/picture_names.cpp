// Looking up a typed picture name, and naming the export.
#include "support/picture_names.h"

#include <windows.h>

#include <cstring>

const char* const kPictureExtensions[7] = {".bmp", ".png", ".jpg", ".jpeg", ".gif", ".tif", ".tiff"};

bool FindPictureFile(char* name, int32_t nameLength)
{
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

std::wstring ExportPathFor(const std::wstring& picture)
{
    size_t nameStart = picture.find_last_of(L"\\/:");
    nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
    size_t dot = picture.rfind(L'.');
    size_t stemEnd = dot != std::wstring::npos && dot > nameStart ? dot : picture.size();
    return picture.substr(0, stemEnd) + L"-.bmp";
}
