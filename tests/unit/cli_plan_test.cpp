// duotint-cli's plan in a scratch folder: the pictures a command line names,
// their outputs, and what is refused before any work.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/options.h"
#include "cli/plan.h"
#include "test_support.h"

namespace {

#define TINT "--tint 0,0,0,0,0,0,0,0,0 "

TEST(CliPlan, FindsPicturesAndRefusesWhatMustNotBeWritten)
{
    // files: made (empty) before planning. plan: each entry "input -> output"
    // or "input: code", or "code sentence" when planning stops. refusal: the
    // first refusal's sentence.
    static const struct {
        const char* label;
        const char* files;
        const char* arguments;
        const char* plan;
        const char* refusal = nullptr;
    } kCases[] = {
        {"a folder: its pictures by name, any case", "b.PNG a.bmp notes.txt C.jpeg", TINT ".",
         ".\\a.bmp -> .\\a-.bmp; .\\b.PNG -> .\\b-.bmp; .\\C.jpeg -> .\\C-.bmp"},
        {"a folder run again: the earlier outputs are not pictures", "a.bmp a-.bmp b-.png", TINT "--force .",
         ".\\a.bmp -> .\\a-.bmp; .\\b-.png -> .\\b--.bmp"},
        {"an existing output without --force", "a.bmp a-.png", TINT "--format png a.bmp", "a.bmp: 80",
         "duotint-cli skips a.bmp: a-.png exists; --force replaces it."},
        {"an existing output with --force", "a.bmp a-.png", TINT "--force --format png a.bmp", "a.bmp -> a-.png"},
        {"two inputs to one output, in other cases", "a.gif A.tif", TINT "--format jpeg A.tif a.gif",
         "A.tif -> A-.jpg; a.gif: 183", "duotint-cli skips a.gif: A.tif writes the same output a-.jpg."},
        {"an output that is an input", "a.bmp a-.bmp", TINT "--force a.bmp a-.bmp", "a.bmp: 183; a-.bmp -> a--.bmp",
         "duotint-cli skips a.bmp: its output a-.bmp is a picture of this run."},
        {"a picture named twice", "a.bmp", TINT "a.bmp .", "a.bmp -> a-.bmp; .\\a.bmp: 183",
         "duotint-cli skips .\\a.bmp: it is named twice."},
        {"missing and device paths; the rest goes on", "b.tiff", TINT "none.bmp nul.png b.tiff",
         "none.bmp: 2; nul.png: 5; b.tiff -> b-.bmp",
         "duotint-cli cannot open none.bmp: there is no such file."},
        {"a new folder for the outputs", "a.jpg", TINT "--out made a.jpg", "a.jpg -> made\\a-.bmp"},
        {"a folder for the outputs whose parent is missing", "a.jpg", TINT "--out no\\such a.jpg",
         "3 duotint-cli cannot write into no\\such: the folder it would go in does not exist."},
        {"a file for the outputs' folder", "a.jpg made", TINT "--out made a.jpg",
         "5 duotint-cli cannot write into made: it is a file, not a folder."},
    };
    for (const auto& c : kCases) {
        ScratchFolder folder;
        std::istringstream files(c.files);
        for (std::string name; files >> name;)
            ASSERT_TRUE(folder.Write(name, {})) << c.label;
        std::vector<std::string> arguments;
        std::istringstream words(c.arguments);
        for (std::string word; words >> word;)
            arguments.push_back(word);
        const CliOptions options = ParseCliArguments(arguments).options;
        std::vector<PlannedPicture> plan;
        uint16_t code = 0;
        std::string sentence, got, refusal;
        if (!PlanPictures(options, plan, code, sentence))
            got = std::to_string(code) + " " + sentence;
        for (const PlannedPicture& p : plan) {
            got += (got.empty() ? "" : "; ") + p.inputName +
                   (p.refusedCode ? ": " + std::to_string(p.refusedCode) : " -> " + p.outputName);
            if (refusal.empty())
                refusal = p.refusal;
        }
        EXPECT_EQ(got, c.plan) << c.label;
        EXPECT_EQ(refusal, c.refusal ? c.refusal : "") << c.label;
        if (!options.outFolder.empty() && code == 0) {
            EXPECT_TRUE(RemoveDirectoryW(options.outFolder.c_str())) << c.label << ": the folder was made";
        }
    }
}

}  // namespace
