// Measures the per-pixel paths a user waits on, in one run on one machine:
//
//  - the tint pass and the whole re-render (tint and blit) of a 1780 x 1186
//    preview, larger than any a 1920 x 1080 desktop now gets, and the ways
//    of putting it on screen side by side;
//  - loading and exporting a 6000 x 4000 picture, each against CopyFileA of
//    the same file, so the figures say how close to plain file speed they are;
//  - the process's peak memory against the picture's size.
//
// It writes its picture into the current folder and removes it at the end.
// tools/bench.sh builds it and runs it under wine on a private display.
#include <windows.h>
#include <psapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli_bench.h"
#include "decoder/picture_decode.h"
#include "editor/blit.h"
#include "editor/error.h"
#include "editor/export_image.h"
#include "editor/layout.h"
#include "editor/picture.h"
#include "editor/preview.h"
#include "editor/program.h"
#include "editor/program_state.h"
#include "editor/program_windows.h"
#include "export/write.h"
#include "open_latency.h"
#include "read/pixels.h"
#include "scale.h"
#include "test_files.h"

namespace {

using support::Now;

// The picture's size, set by the run's scale.
int32_t pictureWidth = 6000;
int32_t pictureHeight = 4000;
const char kPicture[] = "bench.bmp";
const char kCopy[] = "bench-copy.bmp";
const char kExport[] = "bench-.bmp";

void BoxToStderr(const char* text, const char* caption) { fprintf(stderr, "[%s box] %s\n", caption, text); }

// Median and spread of repeated measurements: the machine is shared, so a
// single figure says little.
struct Spread {
    double median, low, high;
};

Spread Summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

double PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    return static_cast<double>(memory.PeakWorkingSetSize);
}


// Times `run` `count` times; `prepare` runs untimed before each.
template <typename Prepare, typename Run>
Spread Time(int count, Prepare prepare, Run run)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        prepare(i);
        double t0 = Now();
        run();
        ms.push_back(Now() - t0);
    }
    return Summarise(ms);
}

// The picture, row by row: smooth gradients with some fine detail, so the
// bytes are not all alike. Only a few rows are ever in memory.
void WritePicture()
{
    support::WritePictureByRows(kPicture, pictureWidth, pictureHeight, [](int32_t y, uint8_t* row) {
        for (int32_t x = 0; x < pictureWidth; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / pictureWidth);
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / pictureHeight);
            row[3 * x + 2] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 3));
        }
    });
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

void FreeSource() { ReleaseSourcePixels(); }

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// Paints the frame alone, as the preview window does before the pixels are in.
LRESULT CALLBACK FramePaintProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        DrawFrame(dc, state.windowWidth, state.windowHeight);
        EndPaint(hwnd, &ps);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A popup window at the layout's place and size, painted by `procedure`.
HWND OpenWindow(WNDPROC procedure, const char* className)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND hwnd = CreateWindowExA(0, className, " ", WS_POPUP, state.windowLeft, state.windowTop,
                                state.windowWidth, state.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    PumpMessages();
    return hwnd;
}

// sourceImage, as loaded, written as a PNG or JPEG by the platform's encoder.
bool WriteWithPlatform(const wchar_t* name, const GUID& container)
{
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
              SUCCEEDED(factory->CreateStream(&stream)) &&
              SUCCEEDED(stream->InitializeFromFilename(name, GENERIC_WRITE)) &&
              SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
              SUCCEEDED(frame->SetSize(state.imageWidth, state.imageHeight)) &&
              SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat24bppBGR;
    // Top row first; sourceImage is bottom-up.
    for (int32_t y = 0; ok && y < state.imageHeight; ++y)
        ok = SUCCEEDED(frame->WritePixels(1, state.srcStride, state.srcStride,
                                          state.sourcePixels + static_cast<size_t>(state.imageHeight - 1 - y) *
                                                                   state.srcStride));
    ok = ok && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    for (IUnknown* p : {static_cast<IUnknown*>(frame), static_cast<IUnknown*>(encoder),
                        static_cast<IUnknown*>(stream), static_cast<IUnknown*>(factory)})
        if (p != nullptr)
            p->Release();
    return ok;
}

// A picture read as the programs read it: its header, then its pixels.
Failure ReadAndLoad(const PictureRequest& request, DecoderProcess& decoder, struct PictureHeader& header,
                    SourcePicture& picture)
{
    Failure failure = ReadPictureHeader(request, decoder, header);
    if (!failure)
        failure = LoadPicture(request, header, decoder, picture);
    return failure;
}

// A 54-byte BMP whose header promises 2 GB of rows, read as the program
// reads it: refused as a short file before the memory is asked for (asked
// for first, the refusal once took half a minute). Its time, or -1 when it
// was not refused so.
double ShortFileRefusalMs()
{
    support::WriteWholeFile("short.bmp", support::PictureHeader(715827881, 1));
    PictureRequest request;
    request.path = L"short.bmp";
    request.name = "short.bmp";
    DecoderProcess decoder;
    struct PictureHeader header;
    SourcePicture picture;
    const double t0 = Now();
    const Failure failure = ReadAndLoad(request, decoder, header, picture);
    const double ms = Now() - t0;
    header.file.reset();
    DeleteFileA("short.bmp");
    return failure.code == kErrorShortRead ? ms : -1;
}

// Opening (header and pixels) a 6000 x 4000 (smoke: 600 x 400) PNG and JPEG of the benchmark
// picture: as the program does, with the decoding child, against the same
// decoder in this process as the program did before, and as ratios to
// opening the 24-bit BMP; medians of five, taken in turns.
bool MeasureOtherFormats()
{
    static const struct {
        const char* label;
        const char* name;
        const wchar_t* wideName;
        const GUID* container;
    } kFormats[] = {{"png", "bench.png", L"bench.png", &GUID_ContainerFormatPng},
                    {"jpeg", "bench.jpg", L"bench.jpg", &GUID_ContainerFormatJpeg}};
    // Started when the picture is named, or, as behind the name popup, ahead of time.
    auto openMs = [](const char* name, bool startedAhead = false) {
        if (state.sourcePixels != nullptr)
            FreeSource();
        strcpy(state.fileName, name);
        state.fileNamePtr = state.fileName;
        if (startedAhead) {
            StartDecoder();
            Sleep(300);
        }
        double t0 = Now();
        ReadImageHeader();
        LoadSourcePixels();
        return Now() - t0;
    };
    auto inProcessMs = [](const char* name) {
        double t0 = Now();
        DecodedPicture picture;
        const std::vector<uint8_t> file = support::ReadWholeFile(name);
        if (!picture.Open(file.data(), file.size(), 1))
            return -1.0;
        const int32_t stride = RowStride(static_cast<int32_t>(picture.Width())).stride;
        HGLOBAL handle;
        uint8_t* pixels;
        AllocatePixelBuffer(static_cast<uint32_t>(stride * picture.Height()), handle, pixels);
        picture.CopyInto(pixels, stride);
        picture.Close();
        const double ms = Now() - t0;
        GlobalUnlock(handle);
        GlobalFree(handle);
        return ms;
    };
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::vector<double> bmpMs;
    for (int i = 0; i < Repeats(3); ++i)
        bmpMs.push_back(openMs(kPicture));
    const double bmp = Summarise(bmpMs).median;
    bool every = true;
    for (const auto& f : kFormats) {
        if (!WriteWithPlatform(f.wideName, *f.container)) {
            printf("open %s: the platform could not write one\n", f.label);
            every = false;
            continue;
        }
        std::vector<double> child, ahead, inProcess, ratio, aheadRatio;
        for (int i = 0; i < Repeats(5); ++i) {
            inProcess.push_back(inProcessMs(f.name));
            child.push_back(openMs(f.name));
            ahead.push_back(openMs(f.name, true));
            ratio.push_back(child.back() / inProcess.back());
            aheadRatio.push_back(ahead.back() / inProcess.back());
        }
        const Spread c = Summarise(child), a = Summarise(ahead), in = Summarise(inProcess), r = Summarise(ratio),
                     ar = Summarise(aheadRatio);
        printf("open   %8.1f ms %s with the decoding child (%.1f to %.1f) = %.2f x opening the 24-bit BMP (%.1f ms)\n"
               "       in this process %.1f ms (%.1f to %.1f); child started at open / in process %.2f x (%.2f to "
               "%.2f); started ahead %.1f ms, %.2f x (%.2f to %.2f)\n",
               c.median, f.label, c.low, c.high, c.median / bmp, bmp, in.median, in.low, in.high, r.median, r.low,
               r.high, a.median, ar.median, ar.low, ar.high);
        DeleteFileA(f.name);
    }
    return every;
}

// Decodes each named file through a decoding process that is started and
// ready beforehand, as behind the name popup, and prints a line for each:
// "decode NAME MS WIDTH HEIGHT", the time from the probe to the last row in
// the section. tools/bench.sh holds it against each kind's own tool on the
// same file. Reading a file's header first, untimed, readies the process,
// whether it is the first or one started anew after a large picture.
int MeasureDecodes(int count, char** names)
{
    DecoderProcess decoder;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        PictureRequest request;
        request.name = names[i];
        request.path.assign(names[i], names[i] + strlen(names[i]));
        {
            struct PictureHeader ahead;
            ReadPictureHeader(request, decoder, ahead);
            decoder.Release();
        }
        struct PictureHeader header;
        SourcePicture picture;
        const double t0 = Now();
        const Failure failure = ReadAndLoad(request, decoder, header, picture);
        const double ms = Now() - t0;
        if (failure) {
            fprintf(stderr, "decode %s: refused (exit code %u): %s\n", names[i], failure.code,
                    failure.sentence.c_str());
            ++failed;
            continue;
        }
        printf("decode %s %.1f %d %d\n", names[i], ms, picture.width, picture.height);
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace

// The same picture as a photo: a JPEG at quality 92 by our encoder, as a
// camera's would be, for the editor to open through libjpeg-turbo; or a PNG
// at the default level, for libspng.
bool WritePhoto(const char* name, bool png = false)
{
    const size_t stride = RowStride(pictureWidth).stride;
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(pictureHeight));
    for (int32_t y = 0; y < pictureHeight; ++y) {
        uint8_t* row = &pixels[stride * static_cast<size_t>(pictureHeight - 1 - y)];
        for (int32_t x = 0; x < pictureWidth; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / pictureWidth);
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / pictureHeight);
            row[3 * x + 2] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 3));
        }
    }
    static FileRecord file;
    BindFile(file, name);
    const TintParameters identity = {{0, 0, 0}, {0, 0, 0}, 0, 0, 0};
    const TintedSource source(pixels.data(), pictureWidth, pictureHeight, static_cast<int32_t>(stride), identity);
    return OpenForReplacing(file) &&
           !(png ? WritePng : WriteJpeg)({file, source, nullptr, ExportSettings(), PictureMetadata()}) &&
           CloseFile(file);
}

// A photo's open, said as a line and its median kept for tools/bench.sh.
void SayPhotoOpen(const char* kind, const OpenTimes& times, const char* keptIn)
{
    const Spread ms = Summarise(times.editorMs);
    printf("open a %s photo, Enter to editor %.1f ms (%.1f to %.1f)\n", kind, ms.median, ms.low, ms.high);
    if (FILE* out = fopen(keptIn, "w")) {
        fprintf(out, "%.1f\n", ms.median);
        fclose(out);
    }
}

// The open latency alone: its line, from a run of its own; then a JPEG
// photo's and a PNG photo's, whose times tools/bench.sh holds against
// djpeg's and pngtopnm's (open-jpeg-ms.txt, open-png-ms.txt).
int MeasureOpenOnly()
{
    WritePicture();
    OpenTimes open;
    const bool opened = MeasureOpenLatency(kPicture, "bench", Repeats(7), open);
    DeleteFileA(kPicture);
    OpenTimes photo;
    const bool photoOpened = WritePhoto("photo.jpg") && MeasureOpenLatency("photo.jpg", "photo", Repeats(5), photo);
    if (!opened || !photoOpened)
        return 1;
    SayPhotoOpen("JPEG", photo, "open-jpeg-ms.txt");
    OpenTimes pngPhoto;
    if (!WritePhoto("photo.png", true) || !MeasureOpenLatency("photo.png", "photo", Repeats(5), pngPhoto))
        return 1;
    SayPhotoOpen("PNG", pngPhoto, "open-png-ms.txt");
    const Spread ratio = Summarise(open.ratio), editorMs = Summarise(open.editorMs),
                 previewMs = Summarise(open.previewMs), copyMs = Summarise(open.copyMs);
    printf("open, Enter to editor / CopyFileA %.2f x (%.2f to %.2f); editor %.1f ms (%.1f to %.1f), preview window "
           "%.1f ms (%.1f to %.1f), CopyFileA %.1f ms (%.1f to %.1f)\n",
           ratio.median, ratio.low, ratio.high, editorMs.median, editorMs.low, editorMs.high, previewMs.median,
           previewMs.low, previewMs.high, copyMs.median, copyMs.low, copyMs.high);
    return 0;
}

bool benchSmoke = false;

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--smoke") == 0) {
        benchSmoke = true;
        --argc;
        ++argv;
    }
    pictureWidth = Side(pictureWidth);
    pictureHeight = Side(pictureHeight);
    if (argc > 1 && strcmp(argv[1], "open") == 0)
        return MeasureOpenOnly();
    if (argc > 1 && strcmp(argv[1], "cli") == 0)
        return MeasureCli();
    if (argc > 1 && strcmp(argv[1], "decode") == 0)
        return MeasureDecodes(argc - 2, argv + 2);
    StartRuntimeSupport();
    errorState.showBox = BoxToStderr;
    if (argc > 1 && strcmp(argv[1], "formats") == 0) {
        // The PNG and JPEG open times alone.
        WritePicture();
        UseTypedName();
        ReadImageHeader();
        LoadSourcePixels();
        const bool every = MeasureOtherFormats();
        DeleteFileA(kPicture);
        return every ? 0 : 1;
    }
    const double mib = 1024.0 * 1024.0;
    const double atStart = PeakWorkingSet();

    WritePicture();
    UseTypedName();
    ReadImageHeader();
    ComputeLayout();
    BuildFrameImage();
    printf("desktop %d x %d, picture %d x %d, preview by the layout %d x %d\n", state.screenRight,
           state.screenBottom, state.imageWidth, state.imageHeight, state.previewWidth, state.previewHeight);
    SetTint();

    // One session in the program's order, for the memory figure: the
    // preview window (here only its frame), the load, the preview buffers,
    // the editor window in its place, editing, and the export once the
    // window is gone. Nothing else has run yet.
    double stage[6];
    stage[0] = PeakWorkingSet();
    CreateDrawingObjects();
    HWND hwnd = OpenWindow(FramePaintProc, "duotint-bench-preview");
    LoadSourcePixels();
    stage[1] = PeakWorkingSet();
    DownsamplePreview();
    stage[2] = PeakWorkingSet();
    SetEditingDefaults();
    SetTint();
    DestroyWindow(hwnd);
    // The editor window paints itself as in the program: frame, preview, panel.
    hwnd = CreateProgramWindow(ProgramWindow::editor);
    UpdateWindow(hwnd);
    PumpMessages();
    stage[3] = PeakWorkingSet();
    state.editorWindow = hwnd;
    for (int i = 0; i < Repeats(20); ++i) {
        state.dispA = 45 + i % 7;
        RenderPreview(WindowDC(hwnd, ProgramWindow::editor));
        PumpMessages();
    }
    stage[4] = PeakWorkingSet();
    // The editor window goes before the file is written, as in the program.
    DestroyWindow(hwnd);
    PumpMessages();
    ReleasePreview();
    DeleteFileA(kExport);
    ExportImage();
    stage[5] = PeakWorkingSet();
    // Wine's peak can come out lower at a later stage; the highest one counts.
    const double sessionPeak = *std::max_element(stage, stage + 6);

    // File paths: the copy, the load and the export take turns, so each
    // meets the same state of the file cache; each round gives its own ratios.
    const int kRounds = Repeats(15);
    std::vector<double> copyMs, loadRatio, exportRatio;
    for (int round = 0; round < kRounds; ++round) {
        DeleteFileA(kCopy);
        double t0 = Now();
        CopyFileA(kPicture, kCopy, FALSE);
        double copy = Now() - t0;
        copyMs.push_back(copy);

        // The program's order: the header, which opens the file, then the pixels.
        FreeSource();
        UseTypedName();
        t0 = Now();
        ReadImageHeader();
        LoadSourcePixels();
        loadRatio.push_back((Now() - t0) / copy);

        DeleteFileA(kExport);
        t0 = Now();
        ExportImage();
        exportRatio.push_back((Now() - t0) / copy);
    }

    // Enter in the popup to the editor ready, the real program driven from
    // here, each round against a CopyFileA just before it.
    OpenTimes open;
    const bool opened = MeasureOpenLatency(kPicture, "bench", Repeats(7), open);

    // The re-render of a 1780 x 1186 preview, the largest the width-only fit
    // used to give, sampled from the same picture (smoke: 445 x 296).
    state.previewWidth = benchSmoke ? 445 : 1780;
    state.previewHeight = benchSmoke ? 296 : 1186;
    state.scaleFactor = static_cast<long double>(pictureWidth) / state.previewWidth;
    state.rowScaleFactor = state.scaleFactor;
    state.windowWidth = state.previewWidth + 112;
    state.windowHeight = state.previewHeight + 12;
    DownsamplePreview();
    hwnd = OpenWindow(DefWindowProcA, "duotint-bench");
    state.editorWindow = hwnd;
    HDC dc = GetDC(hwnd);

    const int kRenders = Repeats(60);
    auto newParameter = [](int i) { state.dispA = 45 + i % 7; };  // as after a wheel notch
    Spread tint = Time(kRenders, newParameter, [] { TintPreview(); });
    // The program's render, then the next message fetch, where wine puts
    // the window surface on screen.
    Spread render = Time(kRenders, newParameter, [dc] {
        RenderPreview(dc);
        GdiFlush();
        PumpMessages();
    });

    // The ways of putting previewImage on screen, each with its tint pass,
    // taking turns so that the machine's changing load meets them alike.
    void* sectionBits = nullptr;
    HBITMAP section = CreateDIBSection(dc, &state.previewInfo, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    HDC sectionDC = CreateCompatibleDC(dc);
    HGDIOBJ previousBitmap = SelectObject(sectionDC, section);
    const char* const kWays[] = {"CreateDIBitmap + BitBlt", "SetDIBitsToDevice at once",
                                 "SetDIBitsToDevice in bands (the program's)", "DIB section + BitBlt"};
    std::vector<double> wayMs[4];
    for (int i = 0; i < 4 * kRenders; ++i) {
        newParameter(i / 4);
        const int way = i % 4;
        double t0 = Now();
        if (way == 3) {
            TintTables tables;
            BuildTintTables(CurrentTintParameters(), tables);
            GdiFlush();  // the section's bits may be written only once GDI is done with them
            TintRows(state.previewSourcePixels, static_cast<uint8_t*>(sectionBits), state.previewWidth,
                     state.previewHeight, state.outStride, tables);
            BitBlt(dc, 6, 6, state.previewWidth, state.previewHeight, sectionDC, 0, 0, SRCCOPY);
        } else if (way == 2) {
            RenderPreview(dc);
        } else if (way == 1) {
            TintPreview();
            SetDIBitsToDevice(dc, 6, 6, state.previewWidth, state.previewHeight, 0, 0, 0,
                              state.previewHeight, state.previewPixels, &state.previewInfo, DIB_RGB_COLORS);
        } else {
            TintPreview();
            HDC memoryDC = CreateCompatibleDC(dc);
            HBITMAP bitmap = CreateDIBitmap(dc, &state.previewHeader, CBM_INIT, state.previewPixels,
                                            &state.previewInfo, DIB_RGB_COLORS);
            HGDIOBJ previous = SelectObject(memoryDC, bitmap);
            BitBlt(dc, 6, 6, state.previewWidth, state.previewHeight, memoryDC, 0, 0, SRCCOPY);
            SelectObject(memoryDC, previous);
            DeleteObject(bitmap);
            DeleteDC(memoryDC);
        }
        GdiFlush();
        wayMs[way].push_back(Now() - t0);
    }
    SelectObject(sectionDC, previousBitmap);
    DeleteDC(sectionDC);
    DeleteObject(section);

    const Spread copy = Summarise(copyMs);
    const Spread load = Summarise(loadRatio);
    const Spread exported = Summarise(exportRatio);
    const double pictureBytes = static_cast<double>(state.srcStride) * state.imageHeight;
    const double limit = pictureBytes * 1.1 + 32.0 * mib;
    const double peak = PeakWorkingSet();

    printf("copy: CopyFileA of the picture, %.1f ms (median of %d, %.1f to %.1f)\n", copy.median, kRounds, copy.low,
           copy.high);
    for (int way = 0; way < 4; ++way) {
        Spread t = Summarise(wayMs[way]);
        printf("re-render by way of %-43s %6.2f ms (%.2f to %.2f; tint included, %d turns)\n", kWays[way], t.median,
               t.low, t.high, kRenders);
    }
    printf("memory: picture %.1f MiB; peak working set at start %.1f MiB, then after header, frame and layout "
           "%.1f, preview window and load %.1f, preview buffers %.1f, editor window %.1f, 20 renders %.1f, "
           "export %.1f\n",
           pictureBytes / mib, atStart / mib, stage[0] / mib, stage[1] / mib, stage[2] / mib, stage[3] / mib,
           stage[4] / mib, stage[5] / mib);
    printf("\n%-34s %9s %21s %9s  %s\n", "figure", "median", "spread", "target", "verdict");
    auto line = [](const char* name, const Spread& s, double target, const char* unit) {
        printf("%-34s %7.2f%-2s %8.2f to %8.2f %7.2f%-2s %s\n", name, s.median, unit, s.low, s.high, target, unit,
               s.median <= target ? "met" : "NOT met");
    };
    char tintLabel[64], renderLabel[64];
    snprintf(tintLabel, sizeof tintLabel, "tint pass %d x %d", state.previewWidth, state.previewHeight);
    snprintf(renderLabel, sizeof renderLabel, "re-render %d x %d, shown", state.previewWidth, state.previewHeight);
    line(tintLabel, tint, 4.0, "ms");
    line(renderLabel, render, 16.7, "ms");
    line("header and load / CopyFileA", load, 0.5, "x");
    line("export / CopyFileA", exported, 1.2, "x");
    if (opened) {
        line("open, Enter to editor / CopyFileA", Summarise(open.ratio), 3.0, "x");
        const Spread editorMs = Summarise(open.editorMs), previewMs = Summarise(open.previewMs),
                     openCopy = Summarise(open.copyMs);
        printf("(open: Enter to the editor ready %.1f ms (%.1f to %.1f), to the preview window seen %.1f ms "
               "(%.1f to %.1f), CopyFileA %.1f ms (%.1f to %.1f); medians of %zu runs of duotint.exe)\n",
               editorMs.median, editorMs.low, editorMs.high, previewMs.median, previewMs.low, previewMs.high,
               openCopy.median, openCopy.low, openCopy.high, open.ratio.size());
    }
    std::vector<double> refusalMs;
    for (int i = 0; i < Repeats(5); ++i)
        refusalMs.push_back(ShortFileRefusalMs());
    const Spread refusal = Summarise(refusalMs);
    if (refusal.low < 0)
        printf("refusal of a short file: it was not refused as one\n");
    else
        line("refusal of a short file", refusal, 100.0, "ms");
    Spread memory{sessionPeak / limit, sessionPeak / limit, peak / limit};
    line("peak working set / limit", memory, 1.0, "x");
    printf("(limit: picture x 1.1 + 32 MiB = %.1f MiB; peak working set after one session %.1f MiB, the figure; "
           "after the whole bench, with its extra buffers, %.1f MiB)\n",
           limit / mib, sessionPeak / mib, peak / mib);

    ReleaseDC(hwnd, dc);
    DestroyWindow(hwnd);
    const bool every = MeasureOtherFormats();
    DeleteFileA(kPicture);
    DeleteFileA(kCopy);
    DeleteFileA(kExport);
    // A measurement that could not be made fails the run, as a crash does.
    return opened && every && refusal.low >= 0 ? 0 : 1;
}
