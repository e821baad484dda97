// duotint-cli's plan in a scratch folder: the pictures a command line names,
// their outputs, and what is refused before any work.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/options.h"
#include "cli/plan.h"
#include "support/utf8.h"
#include "test_support.h"

namespace {

#define TINT "--tint 0,0,0,0,0,0,0,0,0 "

TEST(CliPlan, FindsPicturesAndRefusesWhatMustNotBeWritten)
{
    // files: made (empty) before planning, and L a link to the folder with
    // link. plan: each entry "input -> output" or "input: code", or "code
    // sentence" when planning stops. refusal: the first refusal's sentence.
    static const struct {
        const char* label;
        const char* files;
        const char* arguments;
        const char* plan;
        const char* refusal = nullptr;
        bool link = false;
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
        {"a device file for the outputs' folder", "a.jpg", TINT "--out Z:\\dev\\null a.jpg",
         "5 duotint-cli cannot write into Z:\\dev\\null: it is a device or a pipe, not a folder."},
        {"an output that is an input through a link to its folder", "a.png a-.bmp", TINT "--force a.png L\\a-.bmp",
         "a.png: 183; L\\a-.bmp -> L\\a--.bmp", "duotint-cli skips a.png: its output a-.bmp is a picture of this run.",
         true},
        {"two outputs, one through a link, that are one new file", "a.png a.gif", TINT "a.png L\\a.gif",
         "a.png -> a-.bmp; L\\a.gif: 183", "duotint-cli skips L\\a.gif: a.png writes the same output L\\a-.bmp.", true},
        {"a name of 255 bytes whose output would have 256", "%Cab.png", TINT "%Cab.png", "%Cab.png: 206",
         "duotint-cli skips %Cab.png: its output %Cab-.bmp would have a name longer than 255 bytes, which the file "
         "system does not allow."},
        {"a name of 257 bytes, which Wine says is not there", "", TINT "%Cabcd.png", "%Cabcd.png: 206",
         "duotint-cli cannot open %Cabcd.png: its name is too long for the file system."},
    };
    for (const auto& c : kCases) {
        ScratchFolder folder;
        auto expand = [](std::string text) {  // %C: 83 CJK characters, 249 bytes of UTF-8
            for (size_t at; (at = text.find("%C")) != std::string::npos;)
                text.replace(at, 2, Utf8Of(std::wstring(83, L'\u4E00')));
            return text;
        };
        // By UTF-16 names: the folder's own removal goes by ANSI names.
        std::vector<std::wstring> made;
        std::istringstream files(c.files);
        for (std::string name; files >> name;) {
            made.push_back(WideOf(expand(name)));
            CloseHandle(CreateFileW(made.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        }
        ASSERT_TRUE(!c.link || support::FolderLink(folder.Path(), "L")) << c.label;
        std::vector<std::string> arguments;
        std::istringstream words(c.arguments);
        for (std::string word; words >> word;)
            arguments.push_back(expand(word));
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
        EXPECT_EQ(got, expand(c.plan)) << c.label;
        EXPECT_EQ(refusal, expand(c.refusal ? c.refusal : "")) << c.label;
        if (!options.outFolder.empty() && code == 0) {
            EXPECT_TRUE(RemoveDirectoryW(options.outFolder.c_str())) << c.label << ": the folder was made";
        }
        for (const std::wstring& name : made)
            EXPECT_TRUE(DeleteFileW(name.c_str())) << c.label << ": a file was made";
        EXPECT_TRUE(!c.link || support::FolderLink(folder.Path(), "L", true)) << c.label;
    }
}

}  // namespace
