// The largest picture a session must carry: 20000 x 20000 (1.2 GB) through
// the name popup, the preview, one wheel notch and the export, on the real
// program. The export is checked against the tint computed here and the
// program's peak working set against its limit. The open (Enter to the
// editor answering) is printed as a ratio to a copy of the file, not held to
// a target: on a busy machine it says more about the neighbours than about
// the program, and tools/bench.sh measures it. Labelled "large": it needs
// 2.4 GB of disk and 1.2 GB of memory for a few seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "editor_session.h"  // windows.h before psapi.h
#include <psapi.h>

using namespace e2e;

namespace {

const int32_t kWidth = 20000, kHeight = 20000;
const int32_t kStride = 3 * kWidth;  // a multiple of 4: no padding
// Rows y and y + kPeriod are the session picture's row y % kPeriod: within a
// row nothing repeats in a way a flip or a channel swap would hide.
const int32_t kPeriod = 251;
const uint64_t kPixelBytes = uint64_t{kStride} * kHeight;

// The file's rows, bottom-up, from one period of rows made once.
bool WriteBigPicture(const std::string& path)
{
    std::vector<uint8_t> rows(size_t{kStride} * kPeriod);
    for (int32_t y = 0; y < kPeriod; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            Rgb c = SessionPixel(x, y);
            uint8_t* p = &rows[size_t{kStride} * y + 3 * x];
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
    return support::WritePictureByRows(path, kWidth, kHeight, [&](int32_t fileRow, uint8_t* row) {
        memcpy(row, &rows[size_t{kStride} * ((kHeight - 1 - fileRow) % kPeriod)], kStride);
    });
}

double PeakMiB(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, &memory, sizeof memory))
        return 0;
    return static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0;
}

// What is wrong with the export's rows `ys` (counted from the top), "" if nothing.
std::string CheckExportRows(const std::string& path, const Params& p, std::initializer_list<int32_t> ys)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "no export " + path;
    std::string why;
    LARGE_INTEGER size{};
    uint8_t header[54];
    DWORD got = 0;
    std::vector<uint8_t> wantedHeader = support::PictureHeader(kWidth, kHeight);
    if (!GetFileSizeEx(h, &size) || static_cast<uint64_t>(size.QuadPart) != 54 + kPixelBytes)
        why = "export of " + std::to_string(size.QuadPart) + " bytes";
    else if (!ReadFile(h, header, 54, &got, nullptr) || got != 54 || memcmp(header, wantedHeader.data(), 54) != 0)
        why = "the export's header differs";
    std::vector<uint8_t> row(kStride);
    for (int32_t y : ys) {
        if (!why.empty())
            break;
        LARGE_INTEGER at;
        at.QuadPart = 54 + static_cast<LONGLONG>(kHeight - 1 - y) * kStride;
        if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !ReadFile(h, row.data(), kStride, &got, nullptr) ||
            got != static_cast<DWORD>(kStride)) {
            why = "row " + std::to_string(y) + " unreadable";
            break;
        }
        for (int32_t x = 0; x < kWidth && why.empty(); ++x) {
            Rgb c = TintedPixel(x, y % kPeriod, p);
            const uint8_t wanted[3] = {c.b, c.g, c.r};
            if (memcmp(&row[3 * x], wanted, 3) != 0)
                why = "export pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is not the tint";
        }
    }
    CloseHandle(h);
    return why;
}

TEST(Large, TwentyThousandSquareOpensEditsAndExports)
{
    TempFolder folder;
    const std::string picture = folder.PathOf("big.bmp");
    const std::string copy = folder.PathOf("copy.tmp");
    double t0 = Now();
    ASSERT_TRUE(WriteBigPicture(picture)) << "could not write " << picture;
    printf("  picture written: %.0f ms\n", Now() - t0);
    t0 = Now();
    ASSERT_TRUE(CopyFileA(picture.c_str(), copy.c_str(), FALSE));
    const double copyMs = Now() - t0;
    DeleteFileA(copy.c_str());

    Duotint duotint;
    ASSERT_TRUE(duotint.Start(folder.Path()));
    HWND popup = duotint.WaitForNamePopup(30000);
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(TypeText("big"));
    DWORD_PTR answer;
    ASSERT_TRUE(SendMessageTimeoutA(popup, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer));  // the letters are taken
    MoveCursor(1900, 1060);

    // Enter to the editor visible and answering, as a person meets it.
    t0 = Now();
    Tap(kEnter);
    HWND editor = nullptr;
    PollUntil(120000, [&] {
        std::vector<HWND> found = WindowsOf(duotint.Pid(), kEditorClassName);
        editor = found.empty() ? nullptr : found[0];
        return editor != nullptr;
    }, 1);
    ASSERT_NE(editor, nullptr) << Describe(duotint.Finish(1000));
    ASSERT_TRUE(SendMessageTimeoutA(editor, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer));
    const double openMs = Now() - t0;

    // The panel's value boxes lie 57 pixels left of the window's right edge,
    // row 3 (dispA) at client y 75 to 95; the preview starts at client (6, 6).
    RECT window;
    ASSERT_TRUE(GetWindowRect(editor, &window));
    ASSERT_TRUE(MakeForeground(editor));
    Tap({VK_SPACE, 57, false});  // draws the panel; numeric entry starts
    MoveCursor(window.right - 37, window.top + 85);
    Sleep(100);
    // The first notch only switches to wheel mode; the second adds the step, 10.
    WheelEvents(window.right - 37, window.top + 85, -120, 2);
    Params p = kStartValues;
    p.dispA = 10;
    // The preview's first pixel samples the picture's first: (0, 11, 200)
    // untinted, (13, 23, 193) now.
    Rgb first = TintedPixel(0, 0, p);
    EXPECT_TRUE(PollUntil(20000, [&] {
        return Plain(ScreenPixel(window.left + 6, window.top + 6)) == RGB(first.r, first.g, first.b);
    })) << "the preview does not show the notch's tint";

    t0 = Now();
    Key q;
    ASSERT_TRUE(KeyForCharacter('q', q));
    Tap(q);
    double peakMiB = 0;
    PollUntil(120000, [&] {
        peakMiB = std::max(peakMiB, PeakMiB(duotint.Process()));
        return !duotint.Running();
    });
    const double exportMs = Now() - t0;
    RunEnd end = duotint.Finish(1000);
    EXPECT_TRUE(end.exited && end.exitCode == 0 && end.boxes.empty()) << Describe(end);
    // Top, middle and bottom rows, and the one whose bytes cross the first GiB of the file.
    const int32_t kAcrossGiB = kHeight - 1 - (1 << 30) / kStride;
    EXPECT_EQ(CheckExportRows(folder.PathOf("big-.bmp"), p,
                              {0, 1, kAcrossGiB, kHeight / 2 - 1, kHeight / 2, kHeight - 2, kHeight - 1}),
              "");

    const double limitMiB = static_cast<double>(kPixelBytes + 54) * 1.1 / 1048576.0 + 32.0;
    printf("  CopyFileA %.0f ms, Enter to the editor %.0f ms (%.2f x CopyFileA), export key to exit %.0f ms\n",
           copyMs, openMs, openMs / copyMs, exportMs);
    printf("  peak working set %.1f MiB of %.1f MiB allowed (%.3f)\n", peakMiB, limitMiB, peakMiB / limitMiB);
    EXPECT_GT(peakMiB, 0.0) << "the peak working set could not be read";
    EXPECT_LE(peakMiB, limitMiB);
}

}  // namespace
