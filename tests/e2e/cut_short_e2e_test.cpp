// A picture cut short by another program while duotint's probe reads it: the
// program ends with the runtime error a failing read gets, naming the file,
// not with a page fault.
#include <gtest/gtest.h>

#include <vector>

#include "cut_file.h"
#include "harness.h"

using namespace e2e;

TEST(CutShort, APictureCutUnderTheProbeEndsAsAFailedRead)
{
    support::TempFolder folder;
    // A JPEG's start and 16 MiB of zeros: the probe looks through them all
    // for a frame header.
    std::vector<uint8_t> jpeg(16 << 20);
    jpeg[0] = 0xFF;
    jpeg[1] = 0xD8;
    ASSERT_TRUE(folder.Write("cut.jpg", jpeg));
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
