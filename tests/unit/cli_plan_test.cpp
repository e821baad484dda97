// duotint-cli's plan in a scratch folder: the pictures a command line names,
// their outputs, and what is refused before any work.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "cli/options.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "cli/run.h"
#include "container_bytes.h"
#include "formats/metadata.h"
#include "support/utf8.h"
#include "test_support.h"

namespace {

#define TINT "--tint 0,0,0,0,0,0,0,0,0 "

TEST(CliPlan, FindsPicturesAndRefusesWhatMustNotBeWritten)
{
    // files: made (empty) before planning, folders on their way too ("s\\"
    // only a folder), and L a link to the folder with link; those in older
    // are dated years back; "a-.jpg=WORDS" a JPEG that records WORDS ('_'
    // for a space) as the look it was made with. plan: each entry "input -> output", "input:
    // code", its skipped line or "note: " and its note, or "code sentence"
    // when planning stops. refusal: the first refusal's sentence. Wine's
    // platform decoders read .ico, and none reads .jxl. link: L's target.
    // run: the plan is run too, each .jpg turned6.jpg damaged past its
    // last row (found once its output is begun). No folder is made before
    // the first picture that goes in it is written, and none stays empty.
    static const struct {
        const char* label;
        const char* files;
        const char* arguments;
        const char* plan;
        const char* refusal = nullptr;
        const char* link = nullptr;
        const char* older = "";
        bool run = false;
    } kCases[] = {
        {"a folder: its pictures by name, any case, a kind nothing reads, a name the platform cannot open, WebP, "
         "HEIC, AVIF",
         "b.PNG a.bmp notes.txt C.jpeg d.JXL e.ico f.png. g.txt. h.WebP i.HEIC j.heif k.avif", TINT ".",
         ".\\a.bmp -> .\\a-.bmp; .\\b.PNG -> .\\b-.bmp; .\\C.jpeg -> .\\C-.bmp; "
         "skipped: .\\d.JXL: no decoder on this machine for .jxl; .\\e.ico -> .\\e-.bmp; "
         "skipped: .\\f.png.: its name ends in a dot or a space, which the platform cannot open; "
         ".\\h.WebP -> .\\h-.bmp; .\\i.HEIC -> .\\i-.bmp; .\\j.heif -> .\\j-.bmp; .\\k.avif -> .\\k-.bmp"},
        {"a folder run again: the earlier outputs are not pictures, and are named", "a.bmp a-.bmp b-.png",
         TINT "--force .", "left out: .\\a-.bmp, an earlier output of .\\a.bmp; .\\a.bmp -> .\\a-.bmp; "
         ".\\b-.png -> .\\b--.bmp"},
        {"an existing output without --force", "a.bmp a-.png", TINT "--format png a.bmp", "skipped: a-.png exists"},
        {"an existing output with --force", "a.bmp a-.png", TINT "--force --format png a.bmp", "a.bmp -> a-.png"},
        {"--update: an older output is replaced, a newer one skipped", "a.bmp a-.png b.bmp b-.png",
         TINT "--update --format png a.bmp b.bmp",
         "a.bmp -> a-.png (redo: a-.png is older than its picture); "
         "skipped: b-.png is up to date (newer than its picture; it records no look)", nullptr, nullptr, "a-.png b.bmp"},
        {"--update: an output as new as its picture is up to date", "a.bmp a-.png", TINT "--update --format png a.bmp",
         "skipped: a-.png is up to date (newer than its picture; it records no look)", nullptr, nullptr, "a.bmp a-.png"},
        {"--update: an output of another look is redone, one of this look left",
         "a.bmp a-.jpg=--tint_0,0,0,0,0,0,0,0,1_--format_jpeg_--quality_92_--chroma_444 "
         "b.bmp b-.jpg=--tint_0,0,0,0,0,0,0,0,0_--format_jpeg_--quality_92_--chroma_444",
         TINT "--update --format jpg a.bmp b.bmp",
         "a.bmp -> a-.jpg (redo: a-.jpg was made with another look: --tint 0,0,0,0,0,0,0,0,1 --format jpeg --quality 92 "
         "--chroma 444); skipped: b-.jpg is up to date (made with this look)"},
        {"--update: an output of other options is redone", "a.bmp a-.jpg=--tint_0,0,0,0,0,0,0,0,0_--format_jpeg_--quality_92_"
         "--chroma_444", TINT "--update --format jpg --chroma 420 a.bmp", "a.bmp -> a-.jpg (redo: a-.jpg was made with "
         "another look: --tint 0,0,0,0,0,0,0,0,0 --format jpeg --quality 92 --chroma 444)"},
        {"-r: outputs keep their folders, with the separator typed", "t\\A\\i.bmp t\\B\\i.bmp t\\c.gif d.gif",
         TINT "-r --format jpg --out o t/ d.gif",
         "t/c.gif -> o/c-.jpg; t/A/i.bmp -> o/A/i-.jpg; t/B/i.bmp -> o/B/i-.jpg; d.gif -> o\\d-.jpg"},
        {"-r: a loop of links is entered once", "s\\a.bmp b.bmp", TINT "--recursive .",
         ".\\b.bmp -> .\\b-.bmp; note: .\\L: not entered; it leads back to .; .\\s\\a.bmp -> .\\s\\a-.bmp", nullptr, "."},
        {"-r: a link to a folder beside it is entered once", "a\\b.bmp", TINT "-r .",
         ".\\a\\b.bmp -> .\\a\\b-.bmp; note: .\\L: not entered; it is .\\a, entered already", nullptr, "a"},
        {"-r: the output folder inside the tree is not walked", "a.bmp o\\b-.bmp", TINT "-r --out o .",
         ".\\a.bmp -> o\\a-.bmp"},
        {"-r: a file where an output's folder goes", "t\\s\\a.bmp o\\s", TINT "-r --out o t", "t\\s\\a.bmp: 5",
         "duotint-cli skips t\\s\\a.bmp: a file stands in the way of the folder o\\s."},
        {"-r: an output's folder whose only picture fails is not left", "t\\s\\a.bmp t\\u\\b.jpg",
         TINT "-r --format jpeg --out o t", "t\\s\\a.bmp -> o\\s\\a-.jpg; t\\u\\b.jpg -> o\\u\\b-.jpg", nullptr, nullptr,
         "", true},
        {"without -r: subfolders in a note", "t\\a.bmp t\\s\\ t\\u\\b.bmp", TINT "t",
         "t\\a.bmp -> t\\a-.bmp; note: t: 2 subfolders not entered; -r enters them"},
        {"without -r: only a subfolder, and the way out", "t\\s\\b.bmp", TINT "t",
         "t: 2; note: t: 1 subfolder not entered; -r enters it", "duotint-cli finds no pictures in t."},
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
         "."},
        {"two outputs, one through a link, that are one new file", "a.png a.gif", TINT "a.png L\\a.gif",
         "a.png -> a-.bmp; L\\a.gif: 183", "duotint-cli skips L\\a.gif: a.png writes the same output L\\a-.bmp.", "."},
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
        // By UTF-16 names: the folder's own removal goes by ANSI names. The
        // folders there before the run, by their full paths: these, the
        // scratch folder and the link.
        std::vector<std::wstring> made;
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        std::set<std::wstring> folders = {current, current + std::wstring(L"\\L")};
        std::istringstream files(c.files);
        for (std::string name; files >> name;) {
            PictureMetadata recorded;
            if (name.find('=') != std::string::npos) {
                recorded.look = name.substr(name.find('=') + 1);
                std::replace(recorded.look.begin(), recorded.look.end(), '_', ' ');
                name.resize(name.find('='));
            }
            const std::wstring wide = WideOf(expand(name));
            for (size_t at = 0; (at = wide.find(L'\\', at)) != std::wstring::npos; ++at) {
                CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
                folders.insert(current + (L"\\" + wide.substr(0, at)));
            }
            if (wide.back() == L'\\')
                continue;
            // In the \\?\ form a name keeps its last dots.
            made.push_back(L"\\\\?\\" + std::wstring(current) + L"\\" + wide);
            const HANDLE file = CreateFileW(made.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            using namespace support::bytes;
            Bytes bytes = kSoi + kSos;
            DWORD written = 0;
            if (!recorded.look.empty() && SpliceJpegMetadata(bytes, recorded))
                WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            if (c.run && name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
                bytes = ReadWholeFile(TestPicturePath("turned6.jpg"));
                bytes.resize(bytes.size() - 2);  // its end, then a table libjpeg refuses
                bytes = bytes + Bytes{0xFF, 0xC4, 0, 20, 0} + Bytes(17, 0xFF) + Bytes{0xD9};
                WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            }
            const FILETIME longAgo = {0, 0x01D00000};  // in 2014
            if ((" " + std::string(c.older) + " ").find(" " + name + " ") != std::string::npos)
                SetFileTime(file, nullptr, nullptr, &longAgo);
            CloseHandle(file);
        }
        ASSERT_TRUE(!c.link || support::FolderLink(folder.Path(), "L", false, c.link)) << c.label;
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
        if (c.run) {
            FILE* nowhere = fopen("NUL", "w");
            Reporter reporter(true, nowhere, nowhere, false);
            RunPlannedPictures(options, plan, reporter);
            fclose(nowhere);
        }
        for (const PlannedPicture& p : plan) {
            got += (got.empty() ? "" : "; ") +
                   (!p.note.empty()      ? "note: " + p.note
                    : !p.skipped.empty() ? p.skipped
                                         : p.inputName + (p.refusedCode ? ": " + std::to_string(p.refusedCode)
                                                                        : " -> " + p.outputName)) +
                   (p.redo.empty() ? "" : " (" + p.redo + ")");
            if (refusal.empty())
                refusal = p.refusal;
            const bool written = GetFileAttributesW(p.output.c_str()) != INVALID_FILE_ATTRIBUTES;
            for (std::wstring f = p.output; p.ToTint() && (f = f.substr(0, f.find_last_of(L'\\'))).size() > wcslen(current);)
                EXPECT_TRUE(folders.count(f) != 0 || written || GetFileAttributesW(f.c_str()) == INVALID_FILE_ATTRIBUTES)
                    << c.label << ": a folder made before its first picture was written";
        }
        EXPECT_EQ(got, expand(c.plan)) << c.label;
        EXPECT_EQ(refusal, expand(c.refusal ? c.refusal : "")) << c.label;
        for (const std::wstring& name : made)
            EXPECT_TRUE(DeleteFileW(name.c_str())) << c.label << ": a file was made";
        EXPECT_TRUE(!c.link || support::FolderLink(folder.Path(), "L", true)) << c.label;
    }
}

}  // namespace
