// A picture cut short by another program while duotint shows it: the
// export ends with the runtime error a failing read gets, naming the file,
// not with a page fault. (The probe's own cut is a unit row, by its hook.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cut_file.h"
#include "harness.h"

using namespace e2e;

// A BMP the editor shows is held open: another program's write or delete
// gets the sharing error. One cut short by a program that ignores that
// (Linux's truncate) ends the export in the failed read's report, whether
// the export writes a BMP a piece at a time or has the platform encode a JPEG.
TEST(CutShort, APictureCutUnderTheEditorEndsTheExportAsAFailedRead)
{
    static const struct {
        const char* label;
        const wchar_t* arguments;
    } kCases[] = {
        {"BMP export", L"cut.bmp"},
        {"JPEG export", L"--format jpeg cut.bmp"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        support::TempFolder folder;
        ASSERT_TRUE(folder.Write("cut.bmp", MakePicture(600, 400, GradientPixel)));
        Duotint duotint;
        ASSERT_TRUE(duotint.StartWith(folder.Path(), c.arguments));
        HWND editor = duotint.WaitForWindow(kEditorClassName, 20000);
        ASSERT_NE(editor, nullptr) << Describe(duotint.Finish(1000));

        const std::string path = folder.PathOf("cut.bmp");
        const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, all, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "write";
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "delete";

        ASSERT_TRUE(support::CutByAnotherProgram(folder.Path(), "cut.bmp", 4096));
        ASSERT_TRUE(MakeForeground(editor));
        Key q;
        ASSERT_TRUE(KeyForCharacter('q', q));
        Tap(q);
        // The box first: Finish would press Esc in the editor, still shown while the export runs.
        EXPECT_TRUE(PollUntil(20000, [&] { return FindErrorBox(duotint.Pid()) != nullptr || !duotint.Running(); }));
        RunEnd end = duotint.Finish(20000);
        ASSERT_TRUE(end.exited) << Describe(end);
        EXPECT_EQ(end.exitCode, 100u) << Describe(end);
        ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
        EXPECT_EQ(end.boxes[0].find("Runtime error 100 at"), 0u) << end.boxes[0];
        EXPECT_NE(end.boxes[0].find("cut.bmp: it ends before all of the picture could be read."), std::string::npos)
            << end.boxes[0];
        EXPECT_EQ(folder.Files(), std::vector<std::string>{"cut.bmp"}) << "a half-written export was left";
    }
}
