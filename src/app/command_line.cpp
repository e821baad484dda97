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
    char sentence[sizeof displayName + 128];
    snprintf(sentence, sizeof sentence, "duotint cannot open %s: %s.", displayName, why);
    EndWithSentence(static_cast<uint16_t>(code), sentence);
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

    DWORD attributes = GetFileAttributesW(picturePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            CannotOpen(kExitCannotRead, "it may not be read");
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
    CloseHandle(probe);

    exportPath = ExportPathFor(picturePath);
    state.picturePath = picturePath.c_str();
    state.exportPath = exportPath.c_str();
    state.fileNamePtr = displayName;
    return true;
}
