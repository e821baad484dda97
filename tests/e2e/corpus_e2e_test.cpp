// Every picture of the BMP corpus, good, questionable and bad, through the
// real program: each run must end by itself within 10 seconds in a normal
// end, a refusal or a runtime error report, and never write a file. The
// pictures are named on the command line, so that many runs can go at once;
// a few are also named in the popup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "harness.h"

using namespace e2e;

namespace {

const DWORD kRunLimitMs = 10000;
// Runs under way together: a few more than the machine's cores keep them
// busy while runs wait for Wine; twice as many gained nothing measurable.
const size_t kRunsAtOnce = 6;

// Plain 24-bit pictures, some with a palette or a V5 header before their
// pixels: these must load.
const char* const kMustLoad[] = {"g/rgb24", "g/rgb24pal", "q/rgb24largepal", "q/rgb24prof", "q/rgb24prof2",
                                 "q/rgb24lprof"};

std::vector<std::string> BmpFilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*.bmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = data.cFileName;
        names.push_back(name.substr(0, name.size() - 4));
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

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
    if (end.milliseconds > kRunLimitMs)
        return "too slow";
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

// Pictures named on the command line, several runs at a time.
TEST(Corpus, EveryPictureEndsInAnOrderlyWay)
{
    ASSERT_NE(BmpSuite(), "") << "DUOTINT_BMPSUITE is not set";
    struct Picture {
        std::string label, file;
        std::unique_ptr<TempFolder> folder;
        std::vector<std::pair<std::string, std::vector<uint8_t>>> before;
    };
    std::vector<Picture> pictures;
    std::vector<UnattendedRun> runs;
    for (const char* sub : {"g", "q", "b"}) {
        std::string source = BmpSuite() + "\\" + sub;
        std::vector<std::string> names = BmpFilesIn(source);
        EXPECT_FALSE(names.empty()) << "no pictures in " << source;
        for (const std::string& name : names) {
            Picture picture{std::string(sub) + "/" + name, name + ".bmp", std::make_unique<TempFolder>(), {}};
            ASSERT_TRUE(picture.folder->CopyIn(source + "\\" + picture.file, picture.file)) << picture.label;
            picture.before = picture.folder->Snapshot();
            runs.push_back({picture.folder->Path(), std::wstring(picture.file.begin(), picture.file.end())});
            pictures.push_back(std::move(picture));
        }
    }
    std::vector<RunEnd> ends = RunUnattended(runs, kRunsAtOnce, kRunLimitMs);

    std::map<std::string, std::vector<std::string>> byOutcome;
    DWORD slowest = 0;
    std::string slowestFile;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const Picture& picture = pictures[i];
        const RunEnd& end = ends[i];
        SCOPED_TRACE(picture.label);
        bool acceptable = false;
        std::string outcome = Judge(end, picture.file, &acceptable);
        EXPECT_TRUE(acceptable) << outcome << "; " << Describe(end);
        EXPECT_EQ(picture.folder->Snapshot(), picture.before) << "the folder changed";
        if (std::find(std::begin(kMustLoad), std::end(kMustLoad), picture.label) != std::end(kMustLoad)) {
            EXPECT_EQ(outcome, "normal") << Describe(end);
        }
        byOutcome[outcome].push_back(picture.label);
        if (end.milliseconds > slowest) {
            slowest = end.milliseconds;
            slowestFile = picture.label;
        }
    }
    printf("%zu pictures, slowest %s in %lu ms\n", pictures.size(), slowestFile.c_str(), slowest);
    for (const auto& outcome : byOutcome) {
        printf("  %s (%zu):", outcome.first.c_str(), outcome.second.size());
        for (const std::string& label : outcome.second)
            printf(" %s", label.c_str());
        printf("\n");
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
