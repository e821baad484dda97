// Cutting a mapped file short as another program does: Wine refuses it to
// any handle of its own (error 1224), so Linux's truncate does it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "test_files.h"

namespace support {

// Cuts folder\name to `size` bytes; true once the file has that size.
inline bool CutByAnotherProgram(const std::string& folder, const char* name, uint64_t size)
{
    wchar_t command[MAX_PATH];
    _snwprintf(command, MAX_PATH, L"truncate -s %llu %hs", static_cast<unsigned long long>(size), name);
    const std::wstring where(folder.begin(), folder.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\usr\\bin\\truncate", command, nullptr, nullptr, FALSE, 0, nullptr, where.c_str(),
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // A Linux process cannot be waited for: the size tells.
    const std::string path = folder + "\\" + name;
    return PollUntil(10000, [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
               data.nFileSizeLow == size;
    });
}

}  // namespace support
