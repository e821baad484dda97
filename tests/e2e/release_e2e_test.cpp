// The release zip as a Windows user gets it: unpacked into an empty folder
// (the package.unzip entry does that), the program there opens the sample
// picture beside it, shows the editor and leaves on Esc with exit code 0.
#include <gtest/gtest.h>

#include <cstdlib>

#include "harness.h"

using namespace e2e;

namespace {

TEST(Release, UnpackedProgramOpensTheSampleBesideIt)
{
    const char* unpacked = getenv("DUOTINT_RELEASE_DIR");
    ASSERT_NE(unpacked, nullptr) << "DUOTINT_RELEASE_DIR is not set";
    std::string folder = ToWindowsPath(unpacked);
    Duotint duotint;
    ASSERT_TRUE(duotint.Start(folder, L"", folder + "\\duotint.exe")) << "cannot start duotint.exe in " << folder;
    HWND popup = duotint.WaitForNamePopup();
    ASSERT_NE(popup, nullptr) << "no name popup";
    ASSERT_TRUE(TypeText("cat"));
    Tap(kEnter);
    ASSERT_TRUE(duotint.WaitGone(popup, 10000));
    EXPECT_NE(duotint.WaitForWindow(kEditorClassName, 10000), nullptr) << "the editor did not open on cat.bmp";
    RunEnd end = duotint.Finish(10000);
    EXPECT_TRUE(end.exited) << Describe(end);
    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
    EXPECT_TRUE(end.boxes.empty()) << Describe(end);
    EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
}

}  // namespace
