// How a run ends on pictures that cannot be read: the runtime error report
// and its exit code, refusals, and pictures that are read-only or in use.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

std::vector<uint8_t> Shortened(std::vector<uint8_t> bytes, size_t by)
{
    bytes.resize(bytes.size() - by);
    return bytes;
}

// Runs duotint on cat.bmp holding bytes; the folder must be unchanged after.
RunEnd RunOn(const std::vector<uint8_t>& bytes)
{
    TempFolder folder;
    if (!folder.Write("cat.bmp", bytes)) {
        RunEnd failed;
        failed.problem = "could not write cat.bmp";
        return failed;
    }
    auto before = folder.Snapshot();
    RunEnd end = OpenPicture(folder.Path(), "cat");
    if (folder.Snapshot() != before)
        end.problem += " the folder changed";
    return end;
}

TEST(RuntimeErrorReport, ShortHeaderGives100)
{
    std::vector<uint8_t> picture = MakePicture(5, 3, GradientPixel);
    static const struct {
        const char* label;
        std::vector<uint8_t> bytes;
    } kCases[] = {
        {"empty file", {}},
        {"1 byte", {picture.begin(), picture.begin() + 1}},
        {"53 bytes", {picture.begin(), picture.begin() + 53}},
        {"PNG signature alone", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}},
        {"JPEG of SOI and EOI", {0xFF, 0xD8, 0xFF, 0xD9}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        RunEnd end = RunOn(c.bytes);
        EXPECT_TRUE(end.exited) << Describe(end);
        EXPECT_EQ(end.exitCode, 100u) << Describe(end);
        ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
        ReportShape shape = CheckReport(end.boxes[0], 100);
        EXPECT_TRUE(shape.ok) << shape.why << "; " << Describe(end);
        EXPECT_NE(end.boxes[0].find("cat.bmp: it is too short to be a picture."), std::string::npos) << end.boxes[0];
        EXPECT_EQ(end.problem, "") << Describe(end);
    }
}

// Every pixel byte, padding included, must be in the file; the header alone
// being whole is not enough. The failure is at another place than the header
// read's, and bytes after the pixels are never read.
TEST(RuntimeErrorReport, PixelDataOneByteShortGives100DuringTheLoad)
{
    RunEnd headerEnd = RunOn(std::vector<uint8_t>(53, 0));
    ReportShape headerShape = CheckReport(headerEnd.boxes.empty() ? "" : headerEnd.boxes[0], 100);
    ASSERT_TRUE(headerShape.ok) << headerShape.why << "; " << Describe(headerEnd);

    static const struct {
        const char* label;
        int32_t width, height;
        int delta;  // bytes added to (or, negative, cut from) the whole picture
        unsigned code;
    } kCases[] = {
        {"5 x 3, whole", 5, 3, 0, 0},
        {"5 x 3, with bytes after the pixels", 5, 3, 7, 0},
        {"5 x 3, last padding byte missing", 5, 3, -1, 100},
        {"4 x 2 (no padding), last pixel byte missing", 4, 2, -1, 100},
        {"1 x 1, last padding byte missing", 1, 1, -1, 100},
        {"1 x 1, only the header", 1, 1, -4, 100},
        {"7 x 5, last row missing", 7, 5, -24, 100},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = MakePicture(c.width, c.height, GradientPixel, 0x5A);
        if (c.delta < 0)
            bytes = Shortened(bytes, static_cast<size_t>(-c.delta));
        else
            bytes.resize(bytes.size() + static_cast<size_t>(c.delta), 0x77);
        RunEnd end = RunOn(bytes);
        EXPECT_TRUE(end.exited) << Describe(end);
        EXPECT_EQ(end.exitCode, c.code) << Describe(end);
        EXPECT_EQ(end.problem, "") << Describe(end);
        if (c.code == 0) {
            EXPECT_TRUE(end.boxes.empty()) << Describe(end);
            continue;
        }
        ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
        ReportShape shape = CheckReport(end.boxes[0], c.code);
        EXPECT_TRUE(shape.ok) << shape.why << "; " << Describe(end);
        EXPECT_NE(shape.address, headerShape.address) << "failed where the header is read";
    }
}

// The program only reads the picture, so a read-only one opens.
TEST(PictureAccess, ReadOnlyPictureOpens)
{
    TempFolder folder;
    ASSERT_TRUE(folder.Write("cat.bmp", MakePicture(5, 3, GradientPixel)));
    ASSERT_TRUE(SetFileAttributesA(folder.PathOf("cat.bmp").c_str(), FILE_ATTRIBUTE_READONLY));
    auto before = folder.Snapshot();
    RunEnd end = OpenPicture(folder.Path(), "cat");
    EXPECT_TRUE(end.exited) << Describe(end);
    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
    EXPECT_EQ(GetFileAttributesA(folder.PathOf("cat.bmp").c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) << "the picture is no longer read-only";
    EXPECT_TRUE(end.boxes.empty()) << Describe(end);
    EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
    EXPECT_EQ(folder.Snapshot(), before);
}

// Another program writing the picture: it may change under the reader, so
// the platform refuses the read with a sharing violation, reported as 5.
void ExpectHeldOpenGives5(DWORD share)
{
    TempFolder folder;
    ASSERT_TRUE(folder.Write("cat.bmp", MakePicture(5, 3, GradientPixel)));
    HANDLE holder =
        CreateFileA(folder.PathOf("cat.bmp").c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    RunEnd end = OpenPicture(folder.Path(), "cat");
    CloseHandle(holder);
    EXPECT_TRUE(end.exited) << Describe(end);
    EXPECT_FALSE(NamePopupCameBack(end)) << "the name test failed on a file in use; " << Describe(end);
    EXPECT_EQ(end.exitCode, 5u) << Describe(end);
    ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
    ReportShape shape = CheckReport(end.boxes[0], 5);
    EXPECT_TRUE(shape.ok) << shape.why << "; " << Describe(end);
}

TEST(PictureAccess, PictureHeldOpenForWritingGives5)
{
    ExpectHeldOpenGives5(FILE_SHARE_READ);
}

// A picture held without any sharing exists, so the popup takes its name;
// reading it is denied, with runtime error 5.
TEST(PictureAccess, PictureHeldWithoutSharingGives5)
{
    TempFolder folder;
    ASSERT_TRUE(folder.Write("cat.bmp", MakePicture(5, 3, GradientPixel)));
    auto before = folder.Snapshot();
    HANDLE holder = CreateFileA(folder.PathOf("cat.bmp").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Duotint duotint;
    ASSERT_TRUE(duotint.Start(folder.Path()));
    HWND popup = duotint.WaitForNamePopup();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(TypeText("cat"));
    Tap(kEnter);
    // Finish counts every popup it sees, so it starts once this one has gone.
    EXPECT_TRUE(duotint.WaitGone(popup, 5000));
    RunEnd end = duotint.Finish(5000);
    CloseHandle(holder);
    EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
    EXPECT_EQ(end.exitCode, 5u) << Describe(end);
    ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
    EXPECT_TRUE(CheckReport(end.boxes[0], 5).ok) << Describe(end);
    EXPECT_EQ(folder.Snapshot(), before);
}

// Pictures that cannot be tinted soundly are refused before anything else,
// with one sentence that names the file and the reason, and exit code 13.
TEST(Refusal, CorpusPicturesAreRefusedWithTheirSentence)
{
    static const struct {
        const char* folder;
        const char* name;
        const char* wanted;  // the whole sentence, or a part of it
        bool whole;
    } kCases[] = {
        // The platform's decoder under Wine reads no 32-bit bit fields.
        {"g", "rgb32bf", "rgb32bf.bmp is a 32-bit BMP picture with bit fields, a kind duotint cannot read.", true},
        {"b", "badwidth", "badwidth.bmp is damaged: it declares a width under 1 pixel.", true},  // width -127
        {"b", "reallybig", "too large", false},       // 3000000 x 2000000 in 24 KB
    };
    ASSERT_NE(BmpSuite(), "") << "DUOTINT_BMPSUITE is not set";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string file = std::string(c.name) + ".bmp";
        TempFolder folder;
        ASSERT_TRUE(folder.CopyIn(BmpSuite() + "\\" + c.folder + "\\" + file, file));
        auto before = folder.Snapshot();
        RunEnd end = OpenPicture(folder.Path(), c.name);
        EXPECT_TRUE(end.exited) << Describe(end);
        EXPECT_EQ(end.exitCode, 13u) << Describe(end);
        ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
        const std::string& text = end.boxes[0];
        if (c.whole)
            EXPECT_EQ(text, c.wanted);
        else
            EXPECT_NE(text.find(c.wanted), std::string::npos) << text;
        EXPECT_EQ(text.rfind(file + " ", 0), 0u) << "does not start with the file name: " << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << "more than one line: " << text;
        EXPECT_EQ(text.back(), '.') << text;
        EXPECT_EQ(folder.Snapshot(), before) << "something was written";
    }
}

}  // namespace
