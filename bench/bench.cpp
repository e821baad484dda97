// Measures the per-pixel paths a user waits on, in one run on one machine:
//
//  - the tint pass and the whole re-render (tint and blit) of the largest
//    preview a 1920 x 1080 desktop gets, 1780 x 1186;
//  - loading and exporting a 6000 x 4000 picture, each against CopyFileA of
//    the same file, so the figures say how close to plain file speed they are;
//  - the process's peak memory against the picture's size.
//
// It writes its picture into the current folder and removes it at the end.
// tools/bench.sh builds it and runs it under wine on a private display.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/layout.h"
#include "app/program_state.h"
#include "image/bmp.h"
#include "app/export_image.h"
#include "app/preview.h"
#include "support/error.h"

namespace {

const int32_t kWidth = 6000;
const int32_t kHeight = 4000;
const char kPicture[] = "bench.bmp";
const char kCopy[] = "bench-copy.bmp";
const char kExport[] = "bench-.bmp";

void BoxToStderr(const char* text, const char* caption) { fprintf(stderr, "[%s box] %s\n", caption, text); }

double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The picture, row by row: smooth gradients with some fine detail, so the
// bytes are not all alike. Only one row is ever in memory.
void WritePicture()
{
    RowLayout layout = RowStride(kWidth);
    uint8_t header[54];
    PackExportHeader(header, kWidth, kHeight, layout.stride);
    HANDLE file = CreateFileA(kPicture, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, header, 54, &written, nullptr);
    std::vector<uint8_t> row(static_cast<size_t>(layout.stride), 0);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / kWidth);
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / kHeight);
            row[3 * x + 2] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 3));
        }
        WriteFile(file, row.data(), static_cast<DWORD>(row.size()), &written, nullptr);
    }
    CloseHandle(file);
}

void UseTypedName()
{
    strcpy(state.fileName, kPicture);
    state.nameLength = 5;
    state.fileNamePtr = state.fileName;
}

void SetTint()
{
    state.tintA[kRed] = 250;
    state.tintA[kGreen] = 120;
    state.tintA[kBlue] = 30;
    state.tintB[kRed] = 20;
    state.tintB[kGreen] = 90;
    state.tintB[kBlue] = 240;
    state.dispA = 45;
    state.dispB = 60;
    state.distr = 35;
}

void FreeSource()
{
    GlobalUnlock(state.sourceHandle);
    GlobalFree(state.sourceHandle);
    state.sourceHandle = nullptr;
    state.sourcePixels = nullptr;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

HWND OpenPreviewWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "duotint-bench";
    RegisterClassA(&windowClass);
    HWND hwnd = CreateWindowExA(0, "duotint-bench", " ", WS_POPUP, state.windowLeft, state.windowTop,
                                state.windowWidth, state.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    PumpMessages();
    return hwnd;
}

}  // namespace

int main()
{
    StartRuntimeSupport();
    errorState.showBox = BoxToStderr;
    PROCESS_MEMORY_COUNTERS atStart{};
    atStart.cb = sizeof atStart;
    GetProcessMemoryInfo(GetCurrentProcess(), &atStart, sizeof atStart);

    WritePicture();
    UseTypedName();
    ReadImageHeader();
    ComputeLayout();
    BuildFrameImage();
    printf("desktop %d x %d, picture %d x %d, preview %d x %d\n", state.screenRight, state.screenBottom,
           state.imageWidth, state.imageHeight, state.previewWidth, state.previewHeight);

    // File paths: the copy, the load and the export take turns, so each
    // meets the same state of the file cache.
    const int kRounds = 9;
    std::vector<double> copyMs, loadMs, exportMs;
    SetTint();
    for (int round = 0; round < kRounds; ++round) {
        DeleteFileA(kCopy);
        double t0 = Now();
        CopyFileA(kPicture, kCopy, FALSE);
        copyMs.push_back(Now() - t0);

        if (state.sourcePixels != nullptr)
            FreeSource();
        UseTypedName();
        t0 = Now();
        LoadSourcePixels();
        loadMs.push_back(Now() - t0);

        DeleteFileA(kExport);
        t0 = Now();
        ExportImage();
        exportMs.push_back(Now() - t0);
    }
    double copy = Median(copyMs), load = Median(loadMs), exported = Median(exportMs);
    double copyMin = *std::min_element(copyMs.begin(), copyMs.end());
    double loadMin = *std::min_element(loadMs.begin(), loadMs.end());
    double exportMin = *std::min_element(exportMs.begin(), exportMs.end());
    printf("copy   %8.1f ms (CopyFileA of the %d x %d picture, median of %d; fastest %.1f)\n", copy, kWidth, kHeight,
           kRounds, copyMin);
    printf("load   %8.1f ms = %.2f x copy (target <= 1.5; fastest against fastest %.2f)\n", load, load / copy,
           loadMin / copyMin);
    printf("export %8.1f ms = %.2f x copy (target <= 1.5; fastest against fastest %.2f)\n", exported,
           exported / copy, exportMin / copyMin);

    PROCESS_MEMORY_COUNTERS afterFiles{};
    afterFiles.cb = sizeof afterFiles;
    GetProcessMemoryInfo(GetCurrentProcess(), &afterFiles, sizeof afterFiles);

    // The preview of that picture is the largest a 1920 x 1080 desktop gets.
    DownsamplePreview();
    HWND hwnd = OpenPreviewWindow();
    state.paintDC = GetDC(hwnd);

    const int kRenders = 60;
    std::vector<double> tintMs, renderMs, renderShownMs;
    for (int i = 0; i < kRenders; ++i) {
        state.dispA = 45 + i % 7;  // a new parameter every time, as after a wheel notch
        double t0 = Now();
        TintPreview();
        tintMs.push_back(Now() - t0);
    }
    for (int i = 0; i < kRenders; ++i) {
        state.dispA = 45 + i % 7;
        double t0 = Now();
        RenderPreview();
        renderMs.push_back(Now() - t0);
    }
    for (int i = 0; i < kRenders; ++i) {
        state.dispA = 45 + i % 7;
        double t0 = Now();
        RenderPreview();
        GdiFlush();
        PumpMessages();  // as the editor loop does next: wine puts the window surface on screen here
        renderShownMs.push_back(Now() - t0);
    }
    // Where the blit's time goes: the device-dependent bitmap made from
    // previewImage and selected into a memory context, then the BitBlt.
    std::vector<double> makeMs, copyToWindowMs;
    for (int i = 0; i < kRenders; ++i) {
        double t0 = Now();
        HDC memoryDC = CreateCompatibleDC(state.paintDC);
        HBITMAP bitmap = CreateDIBitmap(state.paintDC, &state.previewHeader, CBM_INIT, state.previewPixels,
                                        &state.previewInfo, DIB_RGB_COLORS);
        HGDIOBJ previous = SelectObject(memoryDC, bitmap);
        double t1 = Now();
        BitBlt(state.paintDC, 6, 6, state.previewWidth, state.previewHeight, memoryDC, 0, 0, SRCCOPY);
        GdiFlush();
        double t2 = Now();
        SelectObject(memoryDC, previous);
        DeleteObject(bitmap);
        DeleteDC(memoryDC);
        makeMs.push_back(t1 - t0);
        copyToWindowMs.push_back(t2 - t1);
    }
    printf("blit       CreateDIBitmap %.2f ms + BitBlt %.2f ms (medians)\n", Median(makeMs),
           Median(copyToWindowMs));
    double tint = Median(tintMs), render = Median(renderMs), shown = Median(renderShownMs);
    printf("tint   %8.2f ms for %d x %d (median of %d; target < 4)\n", tint, state.previewWidth, state.previewHeight,
           kRenders);
    printf("render %8.2f ms tint and blit (median of %d; target < 16.7)\n", render, kRenders);
    printf("render %8.2f ms tint, blit and the next message fetch\n", shown);

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    double pictureBytes = static_cast<double>(state.srcStride) * state.imageHeight;
    double limit = pictureBytes * 1.1 + 32.0 * 1024 * 1024;
    const double mib = 1024.0 * 1024.0;
    printf("memory peak working set %.1f MiB, peak pagefile %.1f MiB; picture %.1f MiB, limit %.1f MiB\n",
           memory.PeakWorkingSetSize / mib, memory.PeakPagefileUsage / mib, pictureBytes / mib, limit / mib);
    printf("memory at start (the runtime alone): working set %.1f MiB, pagefile %.1f MiB\n",
           atStart.WorkingSetSize / mib, atStart.PagefileUsage / mib);
    printf("memory peak before any window: working set %.1f MiB, pagefile %.1f MiB\n",
           afterFiles.PeakWorkingSetSize / mib, afterFiles.PeakPagefileUsage / mib);

    auto verdict = [](bool met) { return met ? "met" : "NOT met"; };
    printf("targets: tint %s, re-render %s, load %s, export %s, memory as private bytes %s, "
           "memory as working set %s\n",
           verdict(tint < 4.0), verdict(render < 16.7), verdict(load <= 1.5 * copy), verdict(exported <= 1.5 * copy),
           verdict(static_cast<double>(memory.PeakPagefileUsage) <= limit),
           verdict(static_cast<double>(memory.PeakWorkingSetSize) <= limit));

    ReleaseDC(hwnd, state.paintDC);
    DestroyWindow(hwnd);
    DeleteFileA(kPicture);
    DeleteFileA(kCopy);
    DeleteFileA(kExport);
    return 0;
}
