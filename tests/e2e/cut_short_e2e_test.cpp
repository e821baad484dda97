// A picture cut short by another program while duotint's probe reads it: the
// program ends with the runtime error a failing read gets, naming the file,
// not with a page fault.
#include <gtest/gtest.h>

#include "cut_file.h"
#include "harness.h"

using namespace e2e;

TEST(CutShort, APictureCutUnderTheProbeEndsAsAFailedRead)
{
    support::TempFolder folder;
    // A JPEG's start and 16 MiB of zeros: the probe looks through them all
    // for a frame header.
    const std::string path = folder.Path() + "\\cut.jpg";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    LARGE_INTEGER size = {};
    size.QuadPart = 16 << 20;
    EXPECT_TRUE(WriteFile(file, "\xFF\xD8", 2, &written, nullptr));
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);

    const std::string hold = folder.Path() + "\\hold";
    SetEnvironmentVariableA("DUOTINT_PROBE_HOLD", hold.c_str());
    Duotint duotint;
    const bool started = duotint.Start(folder.Path(), L"cut.jpg");
    SetEnvironmentVariableA("DUOTINT_PROBE_HOLD", nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(support::PollUntil(10000, [&] { return GetFileAttributesA(hold.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    ASSERT_TRUE(support::CutByAnotherProgram(folder.Path(), "cut.jpg", 4096));
    DeleteFileA(hold.c_str());

    RunEnd end = duotint.Finish(10000);
    ASSERT_TRUE(end.exited) << Describe(end);
    EXPECT_EQ(end.exitCode, 100u) << Describe(end);
    ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
    EXPECT_NE(end.boxes[0].find("cut.jpg: it ends before all of the picture could be read."), std::string::npos)
        << end.boxes[0];
}
