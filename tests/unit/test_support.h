// Shared by the unit tests: a fresh program state, a scratch folder, whole
// files in and out, and boxes that go to stderr instead of blocking a run.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "support/error.h"
#include "test_files.h"

// An error box would wait for a click that never comes; tests read stderr.
inline void BoxToStderr(const char* text, const char* caption)
{
    fprintf(stderr, "[%s box] %s", caption, text);
    fflush(stderr);
}

// Zero program state (as at process start), extended precision, error
// output ready and boxes that do not block.
inline void ResetProgram()
{
    memset(&state, 0, sizeof state);
    memset(&errorState, 0, sizeof errorState);
    errorState.showBox = BoxToStderr;
    StartRuntimeSupport();
}

// Whole files and BMP pictures built by the test helpers, never by the
// program's own header code.
using support::BmpHeader;
using support::MakePicture;
using support::PackHeader;
using support::PictureHeader;
using support::ReadWholeFile;
using support::Rgb;
using support::WriteWholeFile;

// The fixture of tests that drive the program's procedures: each test starts
// from a fresh program state and leaves none behind.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { ResetProgram(); }
    void TearDown() override { memset(&state, 0, sizeof state); }
};

// A Unix path from the environment as the Windows side sees it.
inline std::string HostPath(const char* unixPath)
{
    std::string p = unixPath;
    if (!p.empty() && p[0] == '/') {
        for (char& c : p)
            if (c == '/')
                c = '\\';
        p = "Z:" + p;
    }
    return p;
}

// A new empty folder under the temporary folder, made current while the
// object lives, and emptied and removed afterwards.
class ScratchFolder {
public:
    ScratchFolder()
    {
        static int counter;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        // A folder of the same name may be left over: a death test's child
        // ends without removing its folder, and its process id comes again.
        char name[MAX_PATH];
        do {
            snprintf(name, sizeof name, "%sduotint-test-%lu-%d", temp, GetCurrentProcessId(), ++counter);
        } while (!CreateDirectoryA(name, nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
        path_ = name;
        GetCurrentDirectoryA(MAX_PATH, previous_);
        SetCurrentDirectoryA(path_.c_str());
    }
    ~ScratchFolder()
    {
        SetCurrentDirectoryA(previous_);
        for (const std::string& f : Files()) {
            std::string full = path_ + "\\" + f;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(full.c_str());
        }
        RemoveDirectoryA(path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }

    // Names of the plain files in the folder, in no particular order.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        } while (FindNextFileA(h, &found));
        FindClose(h);
        return names;
    }

private:
    std::string path_;
    char previous_[MAX_PATH];
};
