// The release zip as a Windows user gets it: unpacked into an empty folder
// (the package.unzip entry does that), the program there opens the sample
// picture beside it, shows the editor and leaves on Esc with exit code 0.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

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
    ASSERT_TRUE(TypeText("sunset"));
    Tap(kEnter);
    ASSERT_TRUE(duotint.WaitGone(popup, 10000));
    EXPECT_NE(duotint.WaitForWindow(kEditorClassName, 10000), nullptr) << "the editor did not open on sunset.bmp";
    RunEnd end = duotint.Finish(10000);
    EXPECT_TRUE(end.exited) << Describe(end);
    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
    EXPECT_TRUE(end.boxes.empty()) << Describe(end);
    EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
}

// Each program names the libraries whose licences ride along in the zip,
// with their versions.
TEST(Release, EachProgramNamesItsLibraries)
{
    const char* unpacked = getenv("DUOTINT_RELEASE_DIR");
    ASSERT_NE(unpacked, nullptr) << "DUOTINT_RELEASE_DIR is not set";
    const std::string folder = ToWindowsPath(unpacked);
    for (const char* program : {"duotint", "duotint-cli"}) {
        const std::string line = "\"" + folder + "\\" + program + ".exe\" --version";
        const support::ConsoleRun run = support::RunConsole(std::wstring(line.begin(), line.end()), folder, 30000);
        EXPECT_EQ(run.exitCode, 0u) << program;
        EXPECT_EQ(run.out.compare(0, strlen(program) + 1, std::string(program) + " "), 0) << run.out;
        // Each with its version after its name.
        for (const std::string library : {"libjpeg-turbo ", "libwebp ", "libheif ", "libde265 ", "dav1d ", "libspng ",
                                          "giflib ", "libtiff "}) {
            const size_t at = run.out.find(library);
            ASSERT_NE(at, std::string::npos) << run.out;
            EXPECT_TRUE(isdigit(static_cast<unsigned char>(run.out[at + library.size()]))) << library << run.out;
        }
    }
}

}  // namespace
