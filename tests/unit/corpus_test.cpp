// Every picture of the BMP corpus through the program's read path, in this
// process: the header, the layout, the frame, the pixels and the preview's
// sampling, as the program runs them before its first window shows. Each
// picture must end in an orderly way (loaded; refused with one sentence that
// names it; or a runtime error report), and leave its folder as it was; the
// entry's timeout catches one that never ends. The end-to-end corpus test runs a few of them in the
// real program.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "editor/layout.h"
#include "editor/picture.h"
#include "editor/preview.h"
#include "test_support.h"

namespace {

struct ProgramEnded {
    uint16_t code;
};

std::vector<std::string> boxes;

void KeepBox(const char* text, const char*) { boxes.push_back(text); }
void ThrowEnd(uint16_t code) { throw ProgramEnded{code}; }

// Plain 24-bit pictures, some with a palette or a V5 header before their
// pixels: these must load.
const char* const kMustLoad[] = {"g/rgb24", "g/rgb24pal", "q/rgb24largepal", "q/rgb24prof", "q/rgb24prof2",
                                 "q/rgb24lprof"};

// The exit code of the read path on file in the current folder; 0 when it
// ran to its end.
uint16_t ReadPath(std::string file)
{
    ResetProgram();
    boxes.clear();
    errorState.showBox = KeepBox;
    errorState.exitHook = ThrowEnd;
    state.fileNamePtr = &file[0];
    uint16_t code = 0;
    try {
        ReadImageHeader();
        ComputeLayout();
        BuildFrameImage();
        LoadSourcePixels();
        DownsamplePreview();
    } catch (const ProgramEnded& end) {
        code = end.code;
    }
    // The process would have ended here and let go of all of it.
    if (state.imageFile.isOpen)
        CloseHandle(state.imageFile.handle);
    ReleaseSourcePixels();
    for (HGLOBAL h : {state.previewSourceHandle, state.previewHandle})
        GlobalFree(h);
    return code;
}

// "normal", "refused", "out of memory", "runtime error N", or what is wrong.
std::string Judge(uint16_t code, const std::string& file)
{
    if (code == 0)
        return boxes.empty() ? "normal" : "normal end after a box";
    if (boxes.size() != 1)
        return "exit " + std::to_string(code) + " with " + std::to_string(boxes.size()) + " boxes";
    const std::string& text = boxes[0];
    if (code == 13 || code == 8) {
        bool named = code == 8 || text.rfind(file + " ", 0) == 0;
        if (text.find('\n') != std::string::npos || !named)
            return "bad sentence: " + text;
        return code == 13 ? "refused" : "out of memory";
    }
    std::string head = "Runtime error " + std::to_string(code) + " at 0x";
    if (text.rfind(head, 0) != 0 || text.find("\r\nduotint could not read " + file + ": ") == std::string::npos ||
        text.size() < 5 || text.compare(text.size() - 5, 5, ".\r\n\r\n") != 0)
        return "bad report: " + text;
    return "runtime error " + std::to_string(code);
}

TEST(CorpusReadPath, EveryPictureEndsInAnOrderlyWay)
{
    const char* suite = getenv("DUOTINT_BMPSUITE");
    ASSERT_NE(suite, nullptr) << "DUOTINT_BMPSUITE is not set";
    std::map<std::string, std::vector<std::string>> byOutcome;
    for (const char* sub : {"g", "q", "b"}) {
        std::string source = ToWindowsPath(suite) + "\\" + sub;
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((source + "\\*.bmp").c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << "no pictures in " << source;
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileA(find, &found));
        FindClose(find);
        std::sort(names.begin(), names.end());
        for (const std::string& file : names) {
            std::string label = std::string(sub) + "/" + file.substr(0, file.size() - 4);
            SCOPED_TRACE(label);
            ScratchFolder folder;
            std::vector<uint8_t> bytes = ReadWholeFile(source + "\\" + file);
            ASSERT_TRUE(WriteWholeFile(file, bytes));
            std::string outcome = Judge(ReadPath(file), file);
            EXPECT_TRUE(outcome == "normal" || outcome == "refused" || outcome == "out of memory" ||
                        outcome.rfind("runtime error ", 0) == 0)
                << outcome;
            if (std::find(std::begin(kMustLoad), std::end(kMustLoad), label) != std::end(kMustLoad)) {
                EXPECT_EQ(outcome, "normal");
            }
            EXPECT_EQ(folder.Files(), std::vector<std::string>{file}) << "the folder changed";
            EXPECT_EQ(ReadWholeFile(file), bytes) << "the picture changed";
            byOutcome[outcome].push_back(label);
        }
    }
    for (const auto& outcome : byOutcome) {
        printf("  %s (%zu):", outcome.first.c_str(), outcome.second.size());
        for (const std::string& label : outcome.second)
            printf(" %s", label.c_str());
        printf("\n");
    }
}

}  // namespace
