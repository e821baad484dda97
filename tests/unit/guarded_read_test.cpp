// GuardedCopy on views that fault part of the way: it copies up to the
// fault, says how far it got, and the process goes on.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "cut_file.h"
#include "editor/view_fault.h"
#include "read/read.h"
#include "support/guarded_read.h"
#include "test_support.h"

TEST(GuardedCopy, StopsAtTheFirstPageThatFaults)
{
    std::vector<uint8_t> got(9000, 0xAA);

    // A view of 16 MiB whose file is cut to 5000 bytes under it: the last
    // page still holds the file's end, zeros after it; the next faults.
    ScratchFolder folder;
    HANDLE file = CreateFileA("cut.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size = {};
    size.QuadPart = 16 << 20;
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(support::CutByAnotherProgram(folder.Path(), "cut.bin", 5000));
    EXPECT_EQ(GuardedCopy(got.data(), view + 100, 9000), 8092u);
    EXPECT_EQ(got[8091], 0);
    EXPECT_EQ(got[8092], 0xAA);
    EXPECT_EQ(GuardedCopy(got.data(), view + (1 << 20), 10), 0u);
    // A range that starts in the file's last page and ends in the next.
    EXPECT_TRUE(PagesReadable(view + 4096, 4096));
    EXPECT_FALSE(PagesReadable(view + 8000, 200));
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
}

// A picture cut short by another program while the probe reads it through
// its view: the read fails as a short read of the file, not as a page fault.
TEST(GuardedCopy, APictureCutUnderTheProbeFailsAsAShortRead)
{
    ScratchFolder folder;
    // A JPEG's start and 16 MiB of zeros: the probe looks through them all
    // for a frame header.
    std::vector<uint8_t> jpeg(16 << 20);
    jpeg[0] = 0xFF;
    jpeg[1] = 0xD8;
    ASSERT_TRUE(WriteWholeFile("cut.jpg", jpeg));
    PictureRequest request;
    request.path = L"cut.jpg";
    request.name = "cut.jpg";
    request.onProbeView = [&] { EXPECT_TRUE(support::CutByAnotherProgram(folder.Path(), "cut.jpg", 4096)); };
    DecoderProcess decoder;
    struct PictureHeader header;
    const Failure failure = ReadPictureHeader(request, decoder, header);
    EXPECT_EQ(failure.code, 100);
    EXPECT_EQ(FileSentence(failure, "cut.jpg"), "duotint could not read cut.jpg: it ends before all of the picture could be read.");
}

// A read fault inside a registered view by code other than GuardedCopy (as
// an encoder reading the picture in place) ends the program as a failed
// read of the file, not as a crash.
TEST(GuardedCopyDeathTest, AFaultInARegisteredViewEndsAsAFailedRead)
{
    ScratchFolder folder;
    HANDLE file = CreateFileA("cut.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size = {};
    size.QuadPart = 1 << 20;
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const auto* view = static_cast<const volatile uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(support::CutByAnotherProgram(folder.Path(), "cut.bin", 5000));
    ResetProgram();
    EndOnFaultInView(const_cast<const uint8_t*>(view), 1 << 20, {"cut.bin", nullptr, 0, FileFault::unknown});
    EXPECT_EXIT(view[1 << 19], testing::ExitedWithCode(100),
                "could not read cut.bin: it ends before all of the picture");
    ForgetView();
    UnmapViewOfFile(const_cast<const uint8_t*>(view));
    CloseHandle(mapping);
    CloseHandle(file);
}
