// The run of duotint-cli: its pictures side by side, one worker thread per
// core, each reading, tinting and writing a picture at a time exactly as the
// editor does (the same read path, the same export, the same sentences).
//
// Each worker thread has a program state of its own (see program_state.h),
// so the editor's procedures run in every worker at once, and a failure
// that would end the editor ends only the worker's picture. A picture the
// platform decodes is still decoded in a process of its own, one that
// serves the worker's pictures in turn.
//
// Memory stays within a budget, half the physical memory by default: a
// picture starts only when what the pictures under way may take, and its
// own share, fit in it. One larger than the budget waits until nothing else
// runs, then runs alone.
#include "cli/run.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "editor/export_image.h"
#include "editor/picture.h"
#include "editor/program_state.h"
#include "picture/bmp.h"
#include "support/error.h"

namespace {

struct PictureEnded {
    uint16_t code;
};

// The text of the worker's last box: a plain block, as everything kept in a
// thread's own storage is (see PieceBlock in picture/export.cpp).
thread_local char lastBox[kErrorTextCapacity + 1];
void KeepBox(const char* text, const char*) { snprintf(lastBox, sizeof lastBox, "%s", text); }
[[noreturn]] void ThrowEnd(uint16_t code) { throw PictureEnded{code}; }

// The sentence of a box: a refusal is one; a runtime error report ends with it.
std::string SentenceOf(const std::string& box)
{
    const size_t end = box.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return box;
    const size_t start = box.find_last_of("\r\n", end) + 1;  // npos + 1 is 0
    return box.substr(start, end + 1 - start);
}

// duotint-cli's own sentence for a box: it begins with the program's name,
// where the library's sentences begin with "duotint" or with the file's.
std::string CliSentence(const std::string& box)
{
    const std::string sentence = SentenceOf(box);
    if (sentence.empty())
        return sentence;
    if (sentence.compare(0, 8, "duotint ") == 0)
        return "duotint-cli " + sentence.substr(8);
    return "duotint-cli: " + sentence;
}

// The picture this worker is on: a failing file operation names its files
// as the command line does, not by their full paths.
thread_local const PlannedPicture* current;
const char* ShownName(const wchar_t* path)
{
    if (current != nullptr && current->input == path)
        return current->inputName.c_str();
    if (current != nullptr && current->output == path)
        return current->outputName.c_str();
    return nullptr;
}

// The picture's file, read beside the export written through state.imageFile.
thread_local FileRecord pictureRows;

// How a picture went: written, or failed with an exit code and a sentence.
struct PictureOutcome {
    uint16_t code = 0;
    std::string sentence;
    int32_t width = 0;
    int32_t height = 0;
};

// Reads, tints and writes one picture as the editor's export does, through
// this thread's program state.
PictureOutcome TintOnePicture(const PlannedPicture& picture, const CliOptions& options, uint32_t cores)
{
    memset(&state, 0, sizeof state);
    memset(&errorState, 0, sizeof errorState);
    errorState.showBox = KeepBox;
    errorState.exitHook = ThrowEnd;
    errorState.shownName = ShownName;
    current = &picture;
    StartRuntimeSupport();
    ReadSourceIntoMemory();  // a fault in a view could not end only this picture
    lastBox[0] = '\0';
    std::string name = picture.inputName;
    state.picturePath = picture.input.c_str();
    state.exportPath = picture.output.c_str();
    state.fileNamePtr = &name[0];
    state.exportFormat = options.format;
    state.exportQuality = options.quality;
    state.exportPngLevel = options.pngLevel;
    state.exportCores = cores;
    state.exportStrips = options.strip;
    SetTintParameters(options.look);

    PictureOutcome outcome;
    try {
        ReadImageHeader();
        outcome.width = state.imageWidth;
        outcome.height = state.imageHeight;
        // A BMP whose rows stand in its file goes to a BMP straight from the
        // file, a piece at a time; anything else is read whole first.
        if (options.format == OutputFormat::bmp && RowsStandInFile()) {
            OpenPixelRows(pictureRows);
            ExportImage(&pictureRows);
            CloseFile(pictureRows);
            CheckIo();
        } else {
            LoadSourcePixels();
            ExportImage();
        }
    } catch (const PictureEnded& end) {
        outcome.code = end.code != 0 ? end.code : 1;
        outcome.sentence = CliSentence(lastBox);
    } catch (const std::bad_alloc&) {
        // A PNG or JPEG is encoded whole in memory before its file is opened.
        outcome.code = kErrorOutOfMemory;
        outcome.sentence = "duotint-cli could not get the memory for " + picture.inputName +
                           "; close other programs or use fewer --jobs, and try again.";
    }
    for (FileRecord* file : {&state.imageFile, &pictureRows})
        if (file->isOpen) {
            CloseHandle(file->handle);
            file->isOpen = 0;
        }
    if (state.sourceHandle != nullptr) {
        RecyclePixelBuffer(state.sourceHandle);
        state.sourceHandle = nullptr;
        state.sourcePixels = nullptr;
    }
    ReleaseSourcePixels();
    current = nullptr;
    return outcome;
}

// What a picture may take while it is under way: its pixels, and for a kind
// the platform decodes, the decoding process's budget besides.
uint64_t MemoryShare(const std::wstring& path)
{
    const ProbeResult probe = ProbePictureFile(path);
    if (probe.width <= 0 || probe.height <= 0)
        return 256ull << 20;
    // Rows of 3 bytes a pixel, padded to 4.
    const uint64_t pixels = (3 * static_cast<uint64_t>(probe.width) + 3) / 4 * 4 * static_cast<uint64_t>(probe.height);
    return probe.kind == ContainerKind::bmp ? pixels : 3 * pixels + (256ull << 20);
}

struct Schedule {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<size_t> waiting;  // indexes into the plan, in order
    uint64_t budget = 0;
    uint64_t inUse = 0;
    size_t running = 0;
    size_t done = 0;
    size_t total = 0;
    uint64_t bytesDone = 0;
    std::vector<uint16_t> codes;  // each picture's exit code, 0 once written
};

}  // namespace

int RunPlannedPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, Reporter& reporter)
{
    Schedule s;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    s.budget = memory.ullTotalPhys / 2;
    std::vector<uint64_t> share(plan.size());
    s.codes.resize(plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        s.codes[i] = plan[i].refusedCode;
        if (plan[i].refusedCode != 0)
            continue;
        share[i] = MemoryShare(plan[i].input);
        s.waiting.push_back(i);
    }
    s.total = s.waiting.size();
    size_t workers = options.jobs > 0 ? static_cast<size_t>(options.jobs) : std::thread::hardware_concurrency();
    workers = std::max<size_t>(1, std::min(workers, s.waiting.size()));
    // Each worker's export spreads its tint over the worker's share of the
    // cores: all of them for a worker alone, none besides its own for one of
    // as many workers as cores.
    const uint32_t cores = std::max<uint32_t>(1, std::thread::hardware_concurrency() / workers);
    const DWORD started = GetTickCount();

    auto work = [&] {
        for (;;) {
            size_t index;
            {
                std::unique_lock<std::mutex> held(s.lock);
                // The first waiting picture whose share fits beside those under
                // way; with nothing under way, the first, whatever its share.
                auto fits = [&](size_t i) { return s.running == 0 || s.inUse + share[i] <= s.budget; };
                s.changed.wait(held, [&] {
                    return s.waiting.empty() || std::any_of(s.waiting.begin(), s.waiting.end(), fits);
                });
                if (s.waiting.empty())
                    break;
                auto next = std::find_if(s.waiting.begin(), s.waiting.end(), fits);
                index = *next;
                s.waiting.erase(next);
                s.inUse += share[index];
                ++s.running;
            }
            const PlannedPicture& picture = plan[index];
            const DWORD t0 = GetTickCount();
            const PictureOutcome outcome = TintOnePicture(picture, options, cores);
            std::lock_guard<std::mutex> held(s.lock);
            if (outcome.code == 0) {
                reporter.Done(picture, outcome.width, outcome.height, GetTickCount() - t0);
                s.bytesDone += 3ull * outcome.width * outcome.height;
            } else {
                reporter.Failed(picture, outcome.code, outcome.sentence);
                s.codes[index] = outcome.code;
            }
            s.inUse -= share[index];
            --s.running;
            ++s.done;
            reporter.Progress(s.done, s.total, s.bytesDone, (GetTickCount() - started) / 1000.0);
            s.changed.notify_all();
        }
        // The worker's decoding process, kept for all its pictures, ends with it.
        EndDecoder();
    };
    // This thread is the first worker; a worker that cannot be had leaves
    // its pictures to the others.
    std::vector<std::thread> threads;
    for (size_t i = 1; i < workers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& t : threads)
        t.join();
    // The code of the first picture, in the command line's order, that failed.
    for (uint16_t code : s.codes)
        if (code != 0)
            return code;
    return 0;
}
