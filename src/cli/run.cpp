// The run of duotint-cli: its pictures side by side, one worker per core,
// each reading, tinting and writing a picture at a time exactly as the
// editor does (the same read path, the same export, the same sentences).
//
// The first worker is this process; each other one is this program started
// again with the worker switch, whose requests and answers are lines on its
// standard input and output. A process for each keeps the editor's one
// program state per process, and a worker that dies takes only its picture
// with it.
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
#include <string>
#include <thread>
#include <vector>

#include "app/export_image.h"
#include "app/picture.h"
#include "app/preview.h"
#include "app/program_state.h"
#include "image/bmp.h"
#include "image/tint_text.h"
#include "support/error.h"
#include "support/utf8.h"

namespace {

const char kWorkerSwitch[] = "--worker";

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

// One line from a pipe, without its end; false at the end of the pipe.
bool ReadLine(HANDLE pipe, std::string& line)
{
    line.clear();
    char c;
    DWORD got = 0;
    while (ReadFile(pipe, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

bool WriteLine(HANDLE pipe, const std::string& line)
{
    const std::string text = line + "\n";
    DWORD put = 0;
    return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) && put == text.size();
}

// ---- the worker's side ----------------------------------------------------

struct PictureEnded {
    uint16_t code;
};

std::string lastBox;
void KeepBox(const char* text, const char*) { lastBox = text; }
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

// Reads, tints and writes one picture as the editor's export does; the
// answer line says how it went.
std::string TintOnePicture(const std::vector<std::string>& request)
{
    // input, output, display name, format, quality, tint
    const std::wstring input = WideOf(request[0]), output = WideOf(request[1]);
    std::string name = request[2];
    TintParameters look;
    std::string why;
    ParseTintText(request[5], look, why);

    memset(&state, 0, sizeof state);
    memset(&errorState, 0, sizeof errorState);
    errorState.showBox = KeepBox;
    errorState.exitHook = ThrowEnd;
    StartRuntimeSupport();
    lastBox.clear();
    state.picturePath = input.c_str();
    state.exportPath = output.c_str();
    state.fileNamePtr = &name[0];
    state.exportFormat = static_cast<OutputFormat>(atoi(request[3].c_str()) % 3);
    state.exportQuality = atoi(request[4].c_str());
    SetTintParameters(look);

    std::string answer;
    try {
        ReadImageHeader();
        LoadSourcePixels();
        const int32_t width = state.imageWidth, height = state.imageHeight;
        ExportImage();
        answer = "ok\t" + std::to_string(width) + "\t" + std::to_string(height);
    } catch (const PictureEnded& end) {
        answer = "failed\t" + std::to_string(end.code) + "\t" + SentenceOf(lastBox);
    }
    if (state.imageFile.isOpen)
        CloseHandle(state.imageFile.handle);
    if (state.sourceHandle != nullptr) {
        RecyclePixelBuffer(state.sourceHandle);
        state.sourceHandle = nullptr;
        state.sourcePixels = nullptr;
    }
    ReleaseSourcePixels();
    return answer;
}

// ---- the run's side ---------------------------------------------------------

// A worker process and the two ends of its pipes that stay here.
struct Worker {
    HANDLE process = nullptr;
    HANDLE requests = nullptr;
    HANDLE answers = nullptr;

    bool Start()
    {
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &requests, &inherited, 0))
            return false;
        if (!CreatePipe(&answers, &childOut, &inherited, 0)) {
            CloseHandle(childIn);
            return false;
        }
        SetHandleInformation(requests, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(answers, HANDLE_FLAG_INHERIT, 0);
        wchar_t exe[32768];
        GetModuleFileNameW(nullptr, exe, 32768);
        std::wstring commandLine = L"\"duotint-cli\" " + WideOf(kWorkerSwitch);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION child = {};
        const bool started = CreateProcessW(exe, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                            nullptr, &startup, &child);
        CloseHandle(childIn);
        CloseHandle(childOut);
        if (!started)
            return false;
        CloseHandle(child.hThread);
        process = child.hProcess;
        return true;
    }

    void Stop()
    {
        if (requests != nullptr)
            CloseHandle(requests);  // the worker reads the end of its input and leaves
        if (process != nullptr) {
            WaitForSingleObject(process, 5000);
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
        if (answers != nullptr)
            CloseHandle(answers);
        *this = Worker();
    }
};

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

bool IsCliWorker(int argc, wchar_t** argv) { return argc == 2 && Utf8Of(argv[1]) == kWorkerSwitch; }

int RunCliWorker()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string line;
    while (ReadLine(in, line)) {
        const std::vector<std::string> request = Fields(line);
        if (request.size() != 6 || !WriteLine(out, TintOnePicture(request)))
            return 1;
    }
    return 0;
}

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
    const std::string format = std::to_string(static_cast<int>(options.format));
    const std::string quality = std::to_string(options.quality), look = TintText(options.look);
    const DWORD started = GetTickCount();

    // The first worker is this process itself: a run of one job starts no
    // process, and the others start while it is already at work.
    auto work = [&](bool here) {
        Worker worker;
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
            std::string answer;
            const std::string request = Utf8Of(picture.input) + "\t" + Utf8Of(picture.output) + "\t" +
                                        picture.inputName + "\t" + format + "\t" + quality + "\t" + look;
            if (here)
                answer = TintOnePicture(Fields(request));
            else if (worker.process == nullptr && !worker.Start())
                answer = "failed\t1\tduotint-cli could not start a worker for " + picture.inputName + ".";
            else if (!WriteLine(worker.requests, request) || !ReadLine(worker.answers, answer)) {
                worker.Stop();
                answer = "failed\t1\tduotint-cli lost its worker while it tinted " + picture.inputName + ".";
            }
            const std::vector<std::string> fields = Fields(answer);
            std::lock_guard<std::mutex> held(s.lock);
            if (fields[0] == "ok" && fields.size() == 3) {
                const int width = atoi(fields[1].c_str()), height = atoi(fields[2].c_str());
                reporter.Done(picture, width, height, GetTickCount() - t0);
                s.bytesDone += 3ull * width * height;
            } else {
                const uint16_t code = fields.size() == 3 ? static_cast<uint16_t>(atoi(fields[1].c_str())) : 1;
                reporter.Failed(picture, code, fields.size() == 3 ? fields[2] : answer);
                s.codes[index] = code != 0 ? code : 1;
            }
            s.inUse -= share[index];
            --s.running;
            ++s.done;
            reporter.Progress(s.done, s.total, s.bytesDone, (GetTickCount() - started) / 1000.0);
            s.changed.notify_all();
        }
        worker.Stop();
    };
    std::vector<std::thread> threads;
    for (size_t i = 0; i < workers; ++i)
        threads.emplace_back(work, i == 0);
    for (std::thread& t : threads)
        t.join();
    // The code of the first picture, in the command line's order, that failed.
    for (uint16_t code : s.codes)
        if (code != 0)
            return code;
    return 0;
}
