// The command line's picture. The path is taken in UTF-16 and kept so, so any
// folder, case, space or character works; it is made absolute once, so the
// export lands beside the picture whatever the current folder is.
#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "app/program_state.h"
#include "support/error.h"
#include "support/picture_names.h"

namespace {

std::wstring picturePath;
std::wstring exportPath;
char displayName[4 * MAX_PATH];

[[noreturn]] void CannotOpen(unsigned code, const char* why)
{
    char sentence[sizeof displayName + 8 * MAX_PATH];
    snprintf(sentence, sizeof sentence, "duotint cannot open %s: %s.", displayName, why);
    EndWithSentence(static_cast<uint16_t>(code), sentence);
}

// An export path that can never be a file ends the program now, before the
// user has done any editing that the export key would then lose.
void CheckExportName(const std::wstring& path)
{
    const ExportNameFault fault = ExportNameFaultOf(path);
    if (fault == ExportNameFault::none)
        return;
    const std::wstring name(LastPathPart(path));
    char utf8[4 * MAX_PATH];
    if (WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr) == 0)
        utf8[0] = '\0';
    char why[sizeof utf8 + 128];
    if (fault == ExportNameFault::tooLong) {
        snprintf(why, sizeof why,
                 "its export %s would be longer than %d characters, which the file system does not allow", utf8,
                 kMaxNameLength);
        CannotOpen(kExitExportNameTooLong, why);
    }
    snprintf(why, sizeof why, "its export %s would name a device, not a file", utf8);
    CannotOpen(kExitCannotRead, why);
}

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

bool TakeCommandLinePicture()
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2 || arguments[1][0] == L'\0') {
        LocalFree(arguments);
        return false;
    }
    // Sentences are UTF-8; the box shows them in full.
    if (WideCharToMultiByte(CP_UTF8, 0, arguments[1], -1, displayName, sizeof displayName, nullptr, nullptr) == 0)
        snprintf(displayName, sizeof displayName, "the picture named on the command line");
    picturePath = FullPath(arguments[1]);
    LocalFree(arguments);

    // The platform finds "con.png" in any folder and opens the console.
    if (IsDeviceName(LastPathPart(picturePath)))
        CannotOpen(kExitCannotRead, "it names a device, not a file");
    DWORD attributes = GetFileAttributesW(picturePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            CannotOpen(kExitCannotRead, "it may not be read");
        // A name with wildcards is invalid, and must not be listed as a pattern.
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND && e != ERROR_INVALID_NAME && IsListed(picturePath))
            CannotOpen(kExitCannotRead, "it is not a regular file");
        CannotOpen(kExitNoSuchFile, "there is no such file");
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        CannotOpen(kExitCannotRead, "it is a folder, not a picture");
    HANDLE probe = CreateFileW(picturePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        CannotOpen(kExitCannotRead, e == ERROR_SHARING_VIOLATION ? "another program holds it open"
                                                                  : "it may not be read");
    }
    // A pipe or a device (\\.\COM1) opens like a file but is none.
    const bool regular = GetFileType(probe) == FILE_TYPE_DISK;
    CloseHandle(probe);
    if (!regular)
        CannotOpen(kExitCannotRead, "it is not a regular file");

    exportPath = ExportPathFor(picturePath);
    CheckExportName(exportPath);
    state.picturePath = picturePath.c_str();
    state.exportPath = exportPath.c_str();
    state.fileNamePtr = displayName;
    return true;
}
