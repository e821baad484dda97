// The runtime error report, the text it collects in, and the error numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/error.h"
#include "support/file_io.h"
#include "test_support.h"

namespace {

std::vector<std::string> boxes;

void RecordBox(const char* text, const char* caption)
{
    EXPECT_STREQ(caption, "Error");
    boxes.emplace_back(text);
}

// A fresh program state whose boxes are recorded.
class ErrorReport : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        errorState.showBox = RecordBox;
        boxes.clear();
    }
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text does not end in a line end";
    return lines;
}

}  // namespace

TEST_F(ErrorReport, ShowsNumberAddressTraceAndEmptyLineInOneBox)
{
    errorState.exitCode = 100;
    errorState.errorAddress = reinterpret_cast<const void*>(0x40ABCDEFull);
    errorState.trace[0] = reinterpret_cast<const void*>(0x401000ull);
    errorState.trace[1] = reinterpret_cast<const void*>(0x4F0A0Bull);
    errorState.traceCount = 2;

    WriteReport();
    CloseErrorOutput();

    ASSERT_EQ(boxes.size(), 1u);
    std::vector<std::string> lines = Lines(boxes[0]);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Runtime error 100 at 0x40ABCDEF");
    EXPECT_EQ(lines[1], "  0x40ABCDEF");
    EXPECT_EQ(lines[2], "  0x00401000");
    EXPECT_EQ(lines[3], "  0x004F0A0B");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(errorState.errorTextLength, 0);
}

TEST_F(ErrorReport, SmallNumbersHaveNoLeadingZeros)
{
    errorState.exitCode = 5;
    errorState.errorAddress = reinterpret_cast<const void*>(0x400010ull);
    WriteReport();
    CloseErrorOutput();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Runtime error 5 at 0x00400010\r\n", 0), 0u) << boxes[0];
}

TEST_F(ErrorReport, SingleLineBreakNeverShowsTheBox)
{
    FlushErrorText("one line\r\n", 10);
    FlushErrorText("another\r\n", 9);
    FlushErrorText("x\n", 2);
    EXPECT_TRUE(boxes.empty());
    FlushErrorText("\r\n", 2);  // LF CR LF: the empty line that ends a report
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "one line\r\nanother\r\nx\n\r\n");
}

TEST_F(ErrorReport, ThreeBreaksAloneAreNotAReport)
{
    FlushErrorText("\r\n\r", 3);  // length 3 is not above 3
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ErrorReport, FullTextShowsABoxPerThousandTwentyFourCharacters)
{
    std::string chunk(1000, 'x');
    FlushErrorText(chunk.data(), 1000);
    EXPECT_TRUE(boxes.empty());
    FlushErrorText(chunk.data(), 1000);  // 24 fit, the other 976 are lost
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].size(), 1024u);
    EXPECT_EQ(errorState.errorTextLength, 0);
    FlushErrorText(chunk.data(), 24);
    EXPECT_EQ(errorState.errorTextLength, 24);
}

TEST_F(ErrorReport, StreamHandsOnFullBuffersAndLines)
{
    std::string longLine(300, 'y');
    WriteErrorChars(longLine.data(), 300);  // one full 256-character buffer passes on
    EXPECT_EQ(errorState.errorTextLength, 256);
    EXPECT_EQ(errorState.errorOutput.count, 44);
    WriteErrorChars("\r\n", 2);
    EXPECT_EQ(errorState.errorTextLength, 302);
    EXPECT_EQ(errorState.errorOutput.count, 0);
    CloseErrorOutput();  // whatever is collected is shown when the stream closes
    ASSERT_EQ(boxes.size(), 1u);
}

TEST(ErrorNumbers, PlatformErrorsMapToReportedNumbers)
{
    static const struct { DWORD platform; uint16_t reported; const char* label; } kCases[] = {
        {2, 2, "file not found"},   {3, 3, "path not found"}, {5, 5, "access denied"},
        {18, 18, "below the device errors"}, {19, 150, "write-protected"}, {21, 152, "not ready"},
        {31, 162, "general failure"}, {32, 5, "sharing violation"}, {33, 33, "lock violation"},
        {112, 112, "disk full"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(MapPlatformError(c.platform), c.reported) << c.label;
}

// A write that finds the disk full (/dev/full) ends with a report whose last
// line names the file and says so; after the deepest trace a long path loses
// its middle, and the report stays in one box with its first line.
TEST_F(ErrorReport, DiskFullIsSaidAfterTheDeepestTraceWithTheFileName)
{
    static FileRecord file;  // large: kept off the stack
    const std::wstring name = L"\\\\?\\C:\\" + std::wstring(30000, L'd') + L"\\cat-.bmp";
    BindFileW(file, name.c_str());
    file.handle = CreateFileA("Z:\\dev\\full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    file.isOpen = file.writing = 1;
    WriteBytes(file, "BM", 2);
    CloseFile(file);
    ASSERT_EQ(file.error, kErrorShortWrite);
    const Failure failure = FailureOf(file);
    errorState.fileInUse = {nullptr, failure.file.c_str(), failure.writing, failure.fault};
    errorState.exitCode = kErrorShortWrite;
    errorState.errorAddress = reinterpret_cast<const void*>(0x401000ull);
    errorState.traceCount = kMaxTraceDepth;
    WriteReport();
    CloseErrorOutput();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Runtime error 101 at 0x00401000\r\n", 0), 0u) << boxes[0];
    EXPECT_NE(boxes[0].find("  0x00000000\r\nduotint could not write C:\\ddd"), std::string::npos) << boxes[0];
    EXPECT_EQ(boxes[0].substr(boxes[0].size() - 35), "ddd\\cat-.bmp: the disk is full.\r\n\r\n") << boxes[0];
}
