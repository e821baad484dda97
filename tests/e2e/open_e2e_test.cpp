// Naming pictures: a path on the command line, in any folder and with any
// characters, and names the popup finds whatever the file's case or format.
// Exports are compared byte for byte with the tint computed here.
#include <gtest/gtest.h>

#include <cstdlib>

#include "editor_session.h"
#include "harness.h"

using namespace e2e;

namespace {

const DWORD kRunLimitMs = 10000;

std::wstring Wide(const std::string& s)
{
    std::wstring w(s.size(), L'\0');
    w.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), &w[0],
                                                     static_cast<int>(w.size()))));
    return w;
}

std::vector<uint8_t> ReadWide(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(h, nullptr));
    DWORD got = 0;
    if (!bytes.empty() && !ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
        bytes.clear();
    CloseHandle(h);
    return bytes;
}

// The export of make_pictures.py's grey.png, 7 x 2, under the starting values.
std::vector<uint8_t> ExpectedGreyExport()
{
    const int32_t width = 7, height = 2;
    auto grey = [](int32_t x, int32_t y) { return static_cast<uint8_t>((x * 37 + y * 101) % 256); };
    const Params& p = kStartValues;
    BmpHeader header;
    header.width = width;
    header.height = height;
    const int32_t stride = RowStride(width);
    std::vector<uint8_t> bytes = PackHeader(header, static_cast<uint32_t>(stride * height));
    for (int32_t row = height - 1; row >= 0; --row) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t v = grey(x, row);
            bytes.insert(bytes.end(), {ModelTint(v, p.aBlue, p.bBlue, p.dispA, p.dispB, p.distr),
                                       ModelTint(v, p.aGreen, p.bGreen, p.dispA, p.dispB, p.distr),
                                       ModelTint(v, p.aRed, p.bRed, p.dispA, p.dispB, p.distr)});
        }
        bytes.resize(bytes.size() + static_cast<size_t>(stride - 3 * width), 0);
    }
    return bytes;
}

// Waits for the editor, then exports with the X key (scan code 45).
RunEnd ExportFromEditor(Duotint& duotint)
{
    HWND editor = duotint.WaitForWindow(" ", kRunLimitMs);
    Key x{};
    if (editor != nullptr && MakeForeground(editor) && KeyForCharacter('x', x))
        Tap(x);
    duotint.WaitForExit(kRunLimitMs);
    return duotint.Finish(1000);
}

TEST(CommandLine, PathWithSpacesAndAccentsInAnotherFolderExportsBesideIt)
{
    const char* data = getenv("DUOTINT_TEST_DATA");
    ASSERT_NE(data, nullptr) << "DUOTINT_TEST_DATA is not set";
    TempFolder pictures, current;
    const std::wstring folder = Wide(pictures.Path()) + L"\\My Pictures \u00C9t\u00E9";
    const std::wstring picture = folder + L"\\Holiday Photo.PNG";
    const std::wstring exported = folder + L"\\Holiday Photo-.bmp";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Wide(ToWindowsPath(data) + "\\pictures\\grey.png").c_str(), picture.c_str(), FALSE));

    Duotint duotint;
    ASSERT_TRUE(duotint.Start(current.Path(), picture));
    RunEnd end = ExportFromEditor(duotint);
    std::vector<uint8_t> written = ReadWide(exported);
    DeleteFileW(exported.c_str());
    DeleteFileW(picture.c_str());
    RemoveDirectoryW(folder.c_str());

    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
    EXPECT_TRUE(end.boxes.empty()) << Describe(end);
    EXPECT_TRUE(end.windows.empty() || end.windows[0] != kNameClassName) << "the name popup showed; " << Describe(end);
    EXPECT_TRUE(current.Snapshot().empty()) << "something was written in the current folder";
    EXPECT_EQ(written, ExpectedGreyExport());
}

TEST(CommandLine, PathThatCannotBeOpenedGivesItsBoxAndCreatesNothing)
{
    // A picture of 251 + 4 characters opens, but its export would have 256
    // (bytes, under Wine). linked-.bmp is a second name of linked.png.
    static const std::string kLongStem(251, 'a');
    static const struct {
        const char* label;
        std::string name;  // in the folder, or a whole path
        std::string why;
        DWORD exitCode;
    } kCases[] = {
        {"missing file", "nothing here.png", "there is no such file.", 2},
        {"missing folder", "gone\\nothing.png", "there is no such file.", 2},
        {"a folder", "album", "it is a folder, not a picture.", 5},
        {"a device", "NUL.png", "it names a device, not a file.", 5},
        {"/dev/zero, which Wine shows as it shows a FIFO", "Z:\\dev\\zero", "it is not a regular file.", 5},
        {"an export name too long", kLongStem + ".png",
         "its export " + kLongStem + "-.bmp would be longer than 255 bytes, which the file system does not allow.",
         206},
        {"an export that is the picture", "linked.png",
         "its export linked-.bmp is the picture itself under another name.", 183},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        ASSERT_TRUE(CreateDirectoryA(folder.PathOf("album").c_str(), nullptr));
        ASSERT_TRUE(folder.Write("linked.png", {1, 2, 3}));
        ASSERT_TRUE(
            CreateHardLinkA(folder.PathOf("linked-.bmp").c_str(), folder.PathOf("linked.png").c_str(), nullptr));
        auto before = folder.Snapshot();
        const std::wstring longPicture = L"\\\\?\\" + Wide(folder.PathOf(kLongStem + ".png"));
        CloseHandle(CreateFileW(longPicture.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        const std::string path = c.name[1] == ':' ? c.name : folder.PathOf(c.name);
        Duotint duotint;
        ASSERT_TRUE(duotint.Start(folder.Path(), Wide(path)));
        RunEnd end = duotint.Finish(kRunLimitMs);
        RemoveDirectoryA(folder.PathOf("album").c_str());
        DeleteFileW(longPicture.c_str());
        EXPECT_EQ(end.exitCode, c.exitCode) << Describe(end);
        ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
        EXPECT_EQ(end.boxes[0], "duotint cannot open " + path + ": " + c.why);
        EXPECT_EQ(folder.Snapshot(), before);
    }
}

// The name popup finds "cat" as CAT.BMP, and as cat.png past a folder named
// cat.bmp; its export is cat-.bmp in the current folder.
TEST(NameLookup, TypedNameFindsUpperCaseBmpAndPngPastAFolder)
{
    const char* data = getenv("DUOTINT_TEST_DATA");
    ASSERT_NE(data, nullptr) << "DUOTINT_TEST_DATA is not set";
    const int32_t w = 5, h = 3;
    static const struct {
        const char* label;
        bool png;
    } kCases[] = {{"CAT.BMP", false}, {"cat.png beside a folder cat.bmp", true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        if (c.png) {
            ASSERT_TRUE(CreateDirectoryA(folder.PathOf("cat.bmp").c_str(), nullptr));
            ASSERT_TRUE(folder.CopyIn(ToWindowsPath(data) + "\\pictures\\grey.png", "cat.png"));
        } else {
            ASSERT_TRUE(folder.Write("CAT.BMP", MakePicture(w, h, SessionPixel)));
        }
        Duotint duotint;
        ASSERT_TRUE(duotint.Start(folder.Path()));
        HWND popup = duotint.WaitForNamePopup();
        ASSERT_NE(popup, nullptr);
        ASSERT_TRUE(TypeText("cat"));
        MoveCursor(1900, 1060);
        Tap(kEnter);
        RunEnd end = ExportFromEditor(duotint);
        std::vector<uint8_t> written = ReadWholeFile(folder.PathOf("cat-.bmp"));
        RemoveDirectoryA(folder.PathOf("cat.bmp").c_str());
        EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
        EXPECT_EQ(end.exitCode, 0u) << Describe(end);
        if (c.png)
            EXPECT_EQ(written, ExpectedGreyExport());
        else
            EXPECT_EQ(written, ExpectedExport(w, h, kStartValues));
    }
}

// A picture in a folder more than 260 characters deep, named on the command
// line by its absolute or its relative path, exports beside it. (Wine cannot
// start a process in such a folder, so the popup's case is a unit test.)
TEST(DeepFolder, CommandLinePictureExportsBesideIt)
{
    const char* data = getenv("DUOTINT_TEST_DATA");
    ASSERT_NE(data, nullptr) << "DUOTINT_TEST_DATA is not set";
    static const struct {
        const char* label;
        bool absolute;
    } kCases[] = {{"absolute path", true}, {"relative path", false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        TempFolder top;
        std::string relative;
        std::vector<std::wstring> levels;
        for (char letter = 'a'; letter < 'f'; ++letter) {
            relative += (relative.empty() ? "" : "\\") + std::string(60, letter);
            levels.push_back(L"\\\\?\\" + Wide(top.PathOf(relative)));
            ASSERT_TRUE(CreateDirectoryW(levels.back().c_str(), nullptr));
        }
        const std::wstring picture = levels.back() + L"\\cat.png";
        const std::wstring exported = levels.back() + L"\\cat-.bmp";
        ASSERT_TRUE(CopyFileW(Wide(ToWindowsPath(data) + "\\pictures\\grey.png").c_str(), picture.c_str(), FALSE));

        Duotint duotint;
        ASSERT_TRUE(duotint.Start(top.Path(), Wide(c.absolute ? top.PathOf(relative) : relative) + L"\\cat.png"));
        RunEnd end = ExportFromEditor(duotint);
        std::vector<uint8_t> written = ReadWide(exported);
        DeleteFileW(exported.c_str());
        DeleteFileW(picture.c_str());
        for (auto level = levels.rbegin(); level != levels.rend(); ++level)
            EXPECT_TRUE(RemoveDirectoryW(level->c_str())) << "something was left beside the picture";

        EXPECT_EQ(end.exitCode, 0u) << Describe(end);
        EXPECT_TRUE(end.boxes.empty()) << Describe(end);
        EXPECT_EQ(written, ExpectedGreyExport());
    }
}

}  // namespace
