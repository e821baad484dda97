// duotint-cli's figures, from one run of its own, as ratios measured in the
// same rounds: 24 pictures of 3000 x 2000, BMP to BMP, with two workers
// against one and against CopyFileA of the same files; and one 6000 x 4000
// JPEG to JPEG and to PNG against decoding it alone. Medians of three
// rounds, with the spread. Then the PNG's size against the platform's PNG
// encoder's at the same picture, the memory the PNG encoder takes beyond
// the picture, and our JPEG encoder alone in this process.
#include "cli_bench.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "editor/error.h"
#include "editor/picture.h"
#include "editor/program_state.h"
#include "export/write.h"
#include "platform_png.h"
#include "scale.h"
#include "support/system.h"
#include "test_files.h"

namespace {

// 24 pictures of 3000 x 2000, and one 6000 x 4000, at the run's scale.
int Pictures() { return benchSmoke ? 2 : 24; }
int32_t SmallWidth() { return Side(3000); }
int32_t SmallHeight() { return Side(2000); }
int32_t BigWidth() { return Side(6000); }
int32_t BigHeight() { return Side(4000); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Spread(const std::vector<double>& v)
{
    char text[64];
    snprintf(text, sizeof text, "%.2f (%.2f to %.2f)", Median(v), *std::min_element(v.begin(), v.end()),
             *std::max_element(v.begin(), v.end()));
    return text;
}

std::wstring Cli()
{
    const char* exe = getenv("DUOTINT_EXE");
    std::string path = exe != nullptr ? exe : "duotint.exe";
    path = path.substr(0, path.find_last_of("\\/") + 1) + "duotint-cli.exe";
    return L"\"" + std::wstring(path.begin(), path.end()) + L"\"";
}

const wchar_t kLook[] = L" --tint 250,120,30,45,35,20,90,240,60 --force ";
const TintParameters kLookParameters = {{250, 120, 30}, {20, 90, 240}, 45, 60, 35};

double RunCli(const std::wstring& arguments)
{
    support::ConsoleRun run = support::RunConsole(Cli() + kLook + arguments, ".", 600000);
    if (run.exitCode != 0)
        fprintf(stderr, "duotint-cli%ls: exit %lu\n%s", arguments.c_str(), run.exitCode, run.err.c_str());
    return run.exitCode == 0 ? run.ms : -1;
}

// Reads a picture into the program state as the export finds it.
void LoadPicture(const char* name)
{
    memset(&state, 0, sizeof state);
    static char held[64];
    snprintf(held, sizeof held, "%s", name);
    state.fileNamePtr = held;
    ReadImageHeader();
    LoadSourcePixels();
}

// The read path alone, in this process (the decoding process included).
double DecodeMs(const char* name)
{
    const double t0 = support::Now();
    LoadPicture(name);
    const double ms = support::Now() - t0;
    ReleaseSourcePixels();
    return ms;
}

double WorkingSetMib()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize / (1024.0 * 1024.0);
}

// Samples the process's working set every millisecond from its start to
// Stop: the process's own peak may come from before the export.
class MemoryWatch {
public:
    MemoryWatch() : thread_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}
    double Stop()
    {
        InterlockedExchange(&stop_, 1);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        return peak_;
    }

private:
    static DWORD WINAPI Run(void* parameter)
    {
        MemoryWatch& w = *static_cast<MemoryWatch*>(parameter);
        for (;;) {
            const bool last = InterlockedCompareExchange(&w.stop_, 0, 0) != 0;
            w.peak_ = std::max(w.peak_, WorkingSetMib());
            if (last)
                return 0;
            Sleep(1);
        }
    }
    volatile LONG stop_ = 0;
    double peak_ = 0;
    HANDLE thread_;
};

double WritePng(const char* name)
{
    static FileRecord file;
    BindFile(file, name);
    OpenForReplacing(file);
    const double t0 = support::Now();
    const TintedSource source(state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                              kLookParameters);
    const Failure failure = ::WritePng(WriteContext{file, source, nullptr, ExportSettings(), PictureMetadata()});
    if (failure || !CloseFile(file))
        fprintf(stderr, "%s could not be written (error %u)\n", name, failure ? failure.code : file.error);
    Abandon(file);
    const double ms = support::Now() - t0;
    DeleteFileA(name);
    return ms;
}

// Our PNG of big.jpg, as duotint-cli wrote it, against the platform's
// encoder at the same tinted picture; and what our encoder takes to write
// big.bmp's picture, once the picture (a view of the file) is in memory:
// the working set's peak during the first export beyond the working set
// before it, and the time of the second.
void MeasurePngSizeAndMemory()
{
    LoadPicture("big.bmp");
    volatile uint8_t read = 0;  // every page of the view read once
    for (size_t at = 0; at < static_cast<size_t>(state.srcStride) * state.imageHeight; at += 4096)
        read = state.sourcePixels[at];
    static_cast<void>(read);
    const double before = WorkingSetMib();
    MemoryWatch watch;
    WritePng("big-mem.png");
    const double peak = watch.Stop();
    const double ownMs = WritePng("big-mem.png");
    ReleaseSourcePixels();
    printf("cli    our PNG encoder in-process, %d x %d: %.0f ms; peak working set during an export %.1f MiB "
           "beyond the %.1f before it, the picture in memory (at most 64)\n",
           BigWidth(), BigHeight(), ownMs, peak - before, before);

    LoadPicture("big.jpg");
    std::vector<uint8_t> platform;
    const double t0 = support::Now();
    const bool encoded = EncodeTintedWithPlatform(state.sourcePixels, state.imageWidth, state.imageHeight,
                                                  state.srcStride, kLookParameters, platform);
    const double platformMs = support::Now() - t0;
    ReleaseSourcePixels();
    WIN32_FILE_ATTRIBUTE_DATA ours = {};
    if (!encoded || !GetFileAttributesExA("big-.png", GetFileExInfoStandard, &ours)) {
        fprintf(stderr, "the PNG sizes could not be had\n");
        return;
    }
    const double ourBytes = static_cast<double>(ours.nFileSizeLow) + 4294967296.0 * ours.nFileSizeHigh;
    printf("cli    %d x %d JPEG to PNG: ours %.2f MB, the platform's encoder's %.2f MB (%.0f ms): %.3f x (at most "
           "1.10)\n",
           BigWidth(), BigHeight(), ourBytes / 1e6, platform.size() / 1e6, platformMs, ourBytes / platform.size());
}

// Our JPEG encoder in this process on big.jpg's picture through the look,
// at quality 92 (4:4:4) on every core: the median time of three exports,
// and whether one core gives the same bytes. The tinted pixels go to
// big-tinted.ppm and the export stays as ours.jpg, its time in ours-ms.txt,
// for tools/bench.sh to hold cjpeg against on the same pixels.
void MeasureJpegEncoder()
{
    LoadPicture("big.jpg");
    const int32_t w = state.imageWidth, h = state.imageHeight;
    TintTables tables;
    BuildTintTables(kLookParameters, tables);
    std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    const size_t head = ppm.size();
    ppm.resize(head + 3 * static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = state.sourcePixels + static_cast<size_t>(h - 1 - y) * state.srcStride;
        char* out = &ppm[head + 3 * static_cast<size_t>(w) * y];
        for (int32_t x = 0; x < w; ++x, p += 3, out += 3) {
            out[0] = static_cast<char>(tables.channel[2][p[2]]);
            out[1] = static_cast<char>(tables.channel[1][p[1]]);
            out[2] = static_cast<char>(tables.channel[0][p[0]]);
        }
    }
    support::WriteWholeFile("big-tinted.ppm", std::vector<uint8_t>(ppm.begin(), ppm.end()));
    ppm = std::string();

    auto encode = [&](const char* name, uint32_t cores) {
        static FileRecord file;
        BindFile(file, name);
        DeleteFileA(name);
        OpenForReplacing(file);
        ExportSettings encoding;
        encoding.threads.cores = cores;
        const double t0 = support::Now();
        const TintedSource source(state.sourcePixels, w, h, state.srcStride, kLookParameters);
        const Failure failure = WriteJpeg({file, source, nullptr, encoding, PictureMetadata()});
        if (failure || !CloseFile(file))
            fprintf(stderr, "%s could not be written\n", name);
        return support::Now() - t0;
    };
    std::vector<double> ms;
    for (int round = 0; round < Repeats(3); ++round)
        ms.push_back(encode("ours.jpg", 0));
    encode("ours-one-core.jpg", 1);
    ReleaseSourcePixels();
    const bool same = support::ReadWholeFile("ours.jpg") == support::ReadWholeFile("ours-one-core.jpg");
    printf("jpeg   our encoder in-process, %d x %d at quality 92 (4:4:4), %u cores: %.0f ms (%.0f to %.0f); "
           "one core gives the same bytes: %s\n",
           w, h, CoresToUse(0), Median(ms), *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), same ? "yes" : "NO");
    FILE* out = fopen("ours-ms.txt", "w");
    if (out != nullptr) {
        fprintf(out, "%.0f\n", Median(ms));
        fclose(out);
    }
}

}  // namespace

int MeasureCli()
{
    CreateDirectoryA("cli-in", nullptr);
    CreateDirectoryA("cli-copy", nullptr);
    CreateDirectoryA("cli-out", nullptr);
    const std::vector<uint8_t> picture = support::MakePicture(SmallWidth(), SmallHeight(), [](int32_t x, int32_t y) {
        return support::Rgb{static_cast<uint8_t>(x * 255 / SmallWidth()), static_cast<uint8_t>(y * 255 / SmallHeight()),
                            static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 3))};
    });
    for (int i = 0; i < Pictures(); ++i)
        support::WriteWholeFile("cli-in\\p" + std::to_string(i) + ".bmp", picture);

    // Every timed run writes files that do not exist yet: replacing a file
    // costs the system the freeing of the old one besides, which here is more
    // than the writing itself (about 13 ms for one of these pictures).
    auto clear = [](const char* folder, const char* ending) {
        for (int i = 0; i < Pictures(); ++i)
            DeleteFileA((std::string(folder) + "\\p" + std::to_string(i) + ending).c_str());
    };
    // The run of `duotint-cli --version` too: what starting the program costs
    // before any picture, which the copy, done in this process, never pays.
    std::vector<double> one, two, copy, start, twoOverOne, twoOverCopy, workOverOne, workOverCopy;
    for (int round = 0; round < Repeats(3); ++round) {
        clear("cli-copy", ".bmp");
        double t0 = support::Now();
        for (int i = 0; i < Pictures(); ++i) {
            const std::string name = "\\p" + std::to_string(i) + ".bmp";
            CopyFileA(("cli-in" + name).c_str(), ("cli-copy" + name).c_str(), FALSE);
        }
        copy.push_back(support::Now() - t0);
        clear("cli-out", "-.bmp");
        one.push_back(RunCli(L"--jobs 1 --out cli-out cli-in"));
        clear("cli-out", "-.bmp");
        two.push_back(RunCli(L"--jobs 2 --out cli-out cli-in"));
        start.push_back(support::RunConsole(Cli() + L" --version", ".", 60000).ms);
        if (one.back() < 0 || two.back() < 0)
            return 1;
        twoOverOne.push_back(two.back() / one.back());
        twoOverCopy.push_back(two.back() / copy.back());
        workOverOne.push_back((two.back() - start.back()) / (one.back() - start.back()));
        workOverCopy.push_back((two.back() - start.back()) / copy.back());
    }
    printf("cli    %d pictures of %d x %d, BMP to BMP: --jobs 2 %.0f ms, --jobs 1 %.0f ms, CopyFileA %.0f ms\n",
           Pictures(), SmallWidth(), SmallHeight(), Median(two), Median(one), Median(copy));
    printf("cli    --jobs 2 / --jobs 1 %s (at most 0.6); --jobs 2 / CopyFileA %s (at most 1.5)\n",
           Spread(twoOverOne).c_str(), Spread(twoOverCopy).c_str());
    printf("cli    less duotint-cli's own start (--version, %.0f ms): --jobs 2 / --jobs 1 %s; --jobs 2 / CopyFileA %s\n",
           Median(start), Spread(workOverOne).c_str(), Spread(workOverCopy).c_str());

    // One 6000 x 4000 JPEG, written by the CLI itself from a BMP of it.
    StartRuntimeSupport();
    support::WriteWholeFile("big.bmp", support::MakePicture(BigWidth(), BigHeight(), [](int32_t x, int32_t y) {
        return support::Rgb{static_cast<uint8_t>(x * 255 / BigWidth()), static_cast<uint8_t>(y * 255 / BigHeight()),
                            static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 3))};
    }));
    if (RunCli(L"--format jpeg big.bmp") < 0 || !MoveFileExA("big-.jpg", "big.jpg", MOVEFILE_REPLACE_EXISTING))
        return 1;
    for (const wchar_t* format : {L"jpeg", L"png"}) {
        std::vector<double> ratio, ms, decode;
        for (int round = 0; round < Repeats(3); ++round) {
            decode.push_back(DecodeMs("big.jpg"));
            ms.push_back(RunCli(std::wstring(L"--format ") + format + L" big.jpg"));
            ratio.push_back(ms.back() / decode.back());
        }
        printf("cli    %d x %d JPEG to %ls: %.0f ms a picture, decoding alone %.0f ms: %s x\n", BigWidth(),
               BigHeight(), format, Median(ms),
               Median(decode), Spread(ratio).c_str());
    }
    MeasurePngSizeAndMemory();
    MeasureJpegEncoder();
    return 0;
}
