// Pictures of the BMP corpus through the real program, one of each way a run
// ends: each must end by itself as the read path does for it in the unit
// test that takes every picture of the corpus, and never write a file. How
// long an end takes is the bench's; a run that has not ended after two
// minutes has hung. They are named on the command line, runs side by side, and
// a few also in the popup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "container_bytes.h"
#include "harness.h"

using namespace e2e;

namespace {

const DWORD kRunLimitMs = 120000;
// Runs under way together: more than the machine's cores keep them busy
// while runs wait for Wine.
const size_t kRunsAtOnce = 5;

// "normal", "refused", "runtime error N", or why the end is not acceptable.
std::string Judge(const RunEnd& end, const std::string& file, bool* acceptable)
{
    *acceptable = false;
    if (!end.problem.empty())
        return "harness: " + end.problem;
    if (!end.exited)
        return "hang";
    if (end.exitCode >= 0xC0000000u)
        return "crash";
    if (NamePopupCameBack(end))
        return "the name did not open the file";
    if (end.exitCode == 0) {
        *acceptable = end.boxes.empty();
        return *acceptable ? "normal" : "normal end after a box";
    }
    if (end.boxes.size() != 1)
        return "exit " + std::to_string(end.exitCode) + " with " + std::to_string(end.boxes.size()) + " boxes";
    const std::string& text = end.boxes[0];
    if (end.exitCode == 13 || end.exitCode == 8) {
        // A sentence that names the file: a refusal, or memory that could not be had.
        *acceptable = text.find('\n') == std::string::npos && (end.exitCode == 8 || text.rfind(file + " ", 0) == 0);
        return *acceptable ? (end.exitCode == 13 ? "refused" : "out of memory") : "bad sentence";
    }
    ReportShape shape = CheckReport(text, end.exitCode);
    *acceptable = shape.ok;
    return shape.ok ? "runtime error " + std::to_string(end.exitCode) : "bad report: " + shape.why;
}

// One picture of each way a run ends, named on the command line, run side
// by side.
TEST(Corpus, OnePictureOfEachOutcomeEndsSoInTheProgram)
{
    static const struct {
        const char* sub;
        const char* name;
        const char* outcome;
    } kCases[] = {
        {"g", "rgb24", "normal"},       // our reader
        {"g", "pal8rle", "normal"},     // the platform's decoder
        {"b", "badwidth", "refused"},   // our reader's sentence
        {"q", "rgba16-4444", "refused"},  // neither reader's
        {"b", "shortfile", "refused"},  // shorter than a header
    };
    ASSERT_NE(BmpSuite(), "") << "DUOTINT_BMPSUITE is not set";
    std::vector<std::unique_ptr<TempFolder>> folders;
    std::vector<std::vector<std::pair<std::string, std::vector<uint8_t>>>> before;
    std::vector<UnattendedRun> runs;
    for (const auto& c : kCases) {
        std::string file = std::string(c.name) + ".bmp";
        folders.push_back(std::make_unique<TempFolder>());
        ASSERT_TRUE(folders.back()->CopyIn(BmpSuite() + "\\" + c.sub + "\\" + file, file)) << file;
        before.push_back(folders.back()->Snapshot());
        runs.push_back({folders.back()->Path(), std::wstring(file.begin(), file.end())});
    }
    std::vector<RunEnd> ends = RunUnattended(runs, kRunsAtOnce, kRunLimitMs);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(kCases[i].name);
        bool acceptable = false;
        EXPECT_EQ(Judge(ends[i], std::string(kCases[i].name) + ".bmp", &acceptable), kCases[i].outcome)
            << Describe(ends[i]);
        EXPECT_EQ(folders[i]->Snapshot(), before[i]) << "the folder changed";
    }
}

// Small hostile files that once took the program down inside the platform's
// decoders or made it take gigabytes: our own probe refuses most before any
// decoder runs, and the decoding process holds the rest. Each ends with its
// sentence and writes nothing.
TEST(Corpus, HostileFilesAreRefusedInOrder)
{
    using namespace support::bytes;
    const Bytes kIdat = Chunk("IDAT", 10, Bytes{0x78, 0x9C, 0x63, 0, 0, 0, 0, 0, 0, 0}) + Chunk("IEND", 0, {});
    // DirectDraw surface: size, flags, height, width, then a 32-bit RGB
    // pixel format at byte 76 of the header.
    const Bytes kDds = Text("DDS ", 4) + Int(124, 4, false) + Int(0x100F, 4, false) + Int(65535, 4, false) +
                       Int(65535, 4, false) + Bytes(56) + Int(32, 4, false) + Int(0x40, 4, false) + Bytes(4) +
                       Int(32, 4, false) + Int(0xFF0000, 4, false) + Int(0xFF00, 4, false) + Int(0xFF, 4, false) +
                       Bytes(24) + Bytes(1500);
    // A JPEG whose last 20 bytes of scan data (of 45) are missing: whole to the
    // probe, cut short to libjpeg.
    const Bytes camera = ReadWholeFile(ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\camera.jpg");
    const Bytes cut(camera.begin(), camera.end() - 20);
    static const struct {
        const char* file;
        Bytes bytes;
        const char* fault;   // the decoding process's test-only fault, or none
        const char* wanted;  // a part of the sentence
    } kCases[] = {
        {"wide.png", Png(37840, 37840, kIdat), nullptr, "37840 x 37840 pixels, too large"},
        {"wide.jpg", kSoi + Sof(0xC0, 8, 65500, 65500) + kSos, nullptr, "65500 x 65500 pixels, too large"},
        {"text.png", Png(5, 3, Chunk("tEXt", 0x7FFFFFF0, Bytes(600))), nullptr, "damaged: "},
        {"huge.dds", kDds, nullptr, ""},
        {"cut.jpg", cut, nullptr, "cut.jpg is cut short; duotint could not read all of its pixels (the decoder says: "
                                  "Premature end of JPEG file)."},
        {"crash.png", {}, "crash", "could not be decoded: its decoder crashed."},
        {"hang.png", {}, "hang", "its decoder was stopped after 3 s without progress."},  // 60 s, scaled
        {"hog.png", {}, "hog", "its decoder was stopped when it took more than 256 MiB of memory"},
    };
    const std::string good = ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\grey.png";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file);
        TempFolder folder;
        ASSERT_TRUE(c.fault != nullptr ? folder.CopyIn(good, c.file) : folder.Write(c.file, c.bytes));
        auto before = folder.Snapshot();
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", c.fault);
        const bool hang = c.fault != nullptr && strcmp(c.fault, "hang") == 0;
        SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", hang ? "0.05" : nullptr);
        Duotint duotint;
        const bool started = duotint.Start(folder.Path(), std::wstring(c.file, c.file + strlen(c.file)));
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", nullptr);
        ASSERT_TRUE(started);
        RunEnd end = duotint.Finish(kRunLimitMs);
        bool acceptable = false;
        EXPECT_EQ(Judge(end, c.file, &acceptable), "refused") << Describe(end);
        EXPECT_NE(end.boxes.empty() ? std::string::npos : end.boxes[0].find(c.wanted), std::string::npos)
            << Describe(end);
        EXPECT_EQ(folder.Snapshot(), before) << "the folder changed";
    }
}

// The same read path behind the name popup: a picture that loads, one our
// reader refuses and one the platform's decoders refuse, named by typing.
TEST(Corpus, TypedNamesEndTheSameWay)
{
    static const struct {
        const char* sub;
        const char* name;
        const char* outcome;
    } kCases[] = {
        {"g", "rgb24", "normal"},
        {"b", "shortfile", "refused"},
        {"q", "rgb24png", "refused"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string file = std::string(c.name) + ".bmp";
        TempFolder folder;
        ASSERT_TRUE(folder.CopyIn(BmpSuite() + "\\" + c.sub + "\\" + file, file));
        RunEnd end = OpenPicture(folder.Path(), c.name, kRunLimitMs);
        bool acceptable = false;
        EXPECT_EQ(Judge(end, file, &acceptable), c.outcome) << Describe(end);
    }
}

}  // namespace
