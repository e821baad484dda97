// End-to-end harness: drives the real duotint.exe the way a person would.
//
// A test makes a fresh folder, puts pictures in it, starts duotint there,
// waits for its windows by class name, types into them with SendInput (virtual
// key and scan code both set, as a keyboard driver would), reads the screen,
// answers the "Error" box and collects the exit code. Every wait has a
// deadline; a run that outlives its deadline is killed and reported.
//
// All of it also runs under Wine, where the tests normally run: SendInput
// goes straight into the input queue of the foreground window, and the
// screen is the X display.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "editor/window_procs.h"  // the class names of the program's windows
#include "test_files.h"
#include "typing.h"

namespace e2e {

// ---- environment ---------------------------------------------------------

// $DUOTINT_EXE and $DUOTINT_BMPSUITE as Windows paths ("" when unset).
std::string DuotintExe();
std::string BmpSuite();
using support::ToWindowsPath;  // a Unix path /a/b as Wine reaches it, Z:\a\b

// ---- pictures --------------------------------------------------------------

// The shared test helpers: Rgb, BmpHeader, PackHeader, MakePicture (a
// complete 24-bit picture, pixel (x, y) counting y from the top, padding
// bytes as given), ReadWholeFile, WriteWholeFile, PollUntil and Now.
using support::BmpHeader;
using support::MakePicture;
using support::Now;
using support::PackHeader;
using support::PollUntil;
using support::ReadWholeFile;
using support::Rgb;
using support::WriteWholeFile;
inline int32_t RowStride(int32_t width) { return support::BmpRowBytes(width); }

// Asymmetric test content: red grows to the right, green downwards, blue
// differs per pixel, so flips and channel swaps are visible.
Rgb GradientPixel(int32_t x, int32_t y);

// ---- the working folder -----------------------------------------------------

// The shared scratch folder: Path, PathOf, Files, Write, CopyIn, Snapshot.
using support::TempFolder;

// ---- keyboard -----------------------------------------------------------------

// The shared key typing: Key, the named keys, KeyForCharacter, KeyDown,
// KeyUp, Tap, TapKeys, TypeText, PointerMove and MakeForeground.
using support::Key;
using support::kBackspace;
using support::kEnter;
using support::kEsc;
using support::KeyDown;
using support::KeyForCharacter;
using support::KeyUp;
using support::kKeypadEnter;
using support::kLeftShift;
using support::kMinus;
using support::kSlash;
using support::MakeForeground;
using support::Tap;
using support::TapKeys;
using support::TypeText;

// ---- mouse --------------------------------------------------------------------

void MoveCursor(int x, int y);
using support::PointerMove;
// count wheel events of delta (+-120 a notch) at screen (x, y), each with
// its place, in one SendInput call.
void WheelEvents(int x, int y, int delta, int count);
// Keys given are tapped between the button-down and -up, in the same SendInput call.
void LeftClick(int x, int y, const std::vector<Key>& between = {});
void RightClick(int x, int y);

// ---- screen -------------------------------------------------------------------

// One copy of a screen rectangle, read through GetDC(NULL) and BitBlt.
class ScreenShot {
public:
    ScreenShot(int left, int top, int width, int height);
    COLORREF At(int x, int y) const;  // screen coordinates; CLR_INVALID outside
    // How many pixels of the rectangle (screen coordinates) differ from colour.
    int CountNot(COLORREF colour, int left, int top, int right, int bottom) const;
    int Left() const { return left_; }
    int Top() const { return top_; }

private:
    int left_, top_, width_, height_;
    std::vector<uint32_t> pixels_;  // top-down rows of 0x00RRGGBB
};

COLORREF ScreenPixel(int x, int y);
// The colour as the screen shows it: PALETTERGB values lose their 0x02 flag.
inline COLORREF Plain(COLORREF c) { return c & 0x00FFFFFF; }

// ---- windows of a process -----------------------------------------------------

// Visible top-level windows of the process whose class is className.
std::vector<HWND> WindowsOf(DWORD pid, const char* className);
std::string ClassOf(HWND hwnd);
std::string TitleOf(HWND hwnd);

// ---- the error box --------------------------------------------------------------

// The message box (class "#32770", title "Error") of the process, or nullptr.
HWND FindErrorBox(DWORD pid);
// The box's message: the text of its static control that holds the most text.
std::string ErrorBoxText(HWND box);
// Presses the box's OK button.
void PressOk(HWND box);

// ---- one run of duotint ---------------------------------------------------------

// How a run ended.
struct RunEnd {
    bool exited = false;       // the process ended by itself before the deadline
    DWORD exitCode = 0;        // its exit code (STILL_ACTIVE when killed)
    std::vector<std::string> boxes;  // texts of the "Error" boxes answered, in order
    std::vector<std::string> windows;  // classes of duotint's windows seen while finishing, in order
    DWORD milliseconds = 0;    // from the start of the process to its end
    std::string problem;       // what kept the harness from driving the run, if anything
};

// True when the name popup came back after the name was entered, that is,
// the name did not open a file.
bool NamePopupCameBack(const RunEnd& end);
// One line for test failure messages: exit code, boxes, windows, time.
std::string Describe(const RunEnd& end);

class Duotint {
public:
    Duotint() = default;
    ~Duotint();  // kills a process that still runs
    Duotint(const Duotint&) = delete;
    Duotint& operator=(const Duotint&) = delete;

    // Starts program ($DUOTINT_EXE unless given) with folder as its current
    // folder, and argument, if any, quoted on its command line.
    bool Start(const std::string& folder, const std::wstring& argument = L"",
               const std::string& program = DuotintExe());
    // The same, with the arguments as they stand on the command line, and
    // standard output into `output` when one is given.
    bool StartWith(const std::string& folder, const std::wstring& arguments,
                   const std::string& program = DuotintExe(), HANDLE output = nullptr);
    DWORD Pid() const { return pi_.dwProcessId; }
    DWORD MainThreadId() const { return pi_.dwThreadId; }
    HANDLE Process() const { return pi_.hProcess; }
    bool Running() const;

    // Waits for a visible window of className other than notThis.
    HWND WaitForWindow(const char* className, DWORD timeoutMs, HWND notThis = nullptr) const;
    // Waits for the name popup, other than notThis, to be shown and painted,
    // and brings it to the foreground so that it receives typed keys. A
    // program start under Wine on a busy machine can take past 10 s.
    HWND WaitForNamePopup(DWORD timeoutMs = 30000, HWND notThis = nullptr) const;
    // Waits until hwnd is no longer a window.
    bool WaitGone(HWND hwnd, DWORD timeoutMs) const;
    // Waits for the process to end by itself; false at the deadline.
    bool WaitForExit(DWORD timeoutMs) const;

    // Takes the run to its end within timeoutMs: answers every "Error" box with
    // OK (keeping its text), presses Esc in the name popup, the preview and the
    // editor window, and returns the exit code. At the deadline the process is
    // killed and the result says it did not exit.
    RunEnd Finish(DWORD timeoutMs);

    // Milliseconds since Start.
    DWORD Elapsed() const { return GetTickCount() - started_; }

private:
    PROCESS_INFORMATION pi_{};
    DWORD started_ = 0;
};

// Convenience for the common case: starts duotint in folder, types name and
// Enter into the popup, and finishes the run.
RunEnd OpenPicture(const std::string& folder, const std::string& name, DWORD timeoutMs = 10000);

// Many runs at once, none of them typed into: each starts duotint in its
// folder with its argument on the command line and is taken to its end within
// timeoutMs of its own start, as Finish does, but without the foreground: a
// box is answered through its OK button and the popup, the preview and the
// editor are ended with a posted Esc key-down, which the program decodes as
// the key itself. At most atOnce runs are under way together. The results
// come in the order of runs.
struct UnattendedRun {
    std::string folder;
    std::wstring argument;
};
std::vector<RunEnd> RunUnattended(const std::vector<UnattendedRun>& runs, size_t atOnce, DWORD timeoutMs);

// ---- checks on a report -------------------------------------------------------------

// A runtime error report split into its lines (CR LF line ends).
std::vector<std::string> ReportLines(const std::string& text);
// True when s is "0x" and exactly 8 upper-case hex digits.
bool IsHexAddress(const std::string& s);

// Checks a box text against the runtime error report of code N:
// "Runtime error N at 0xXXXXXXXX", "  0x" and the same digits, one or more
// trace lines "  0x........", a sentence "duotint could not ...: why." and
// an empty line, each ending in CR LF.
struct ReportShape {
    bool ok = false;
    std::string address;  // "0x" and the 8 digits of the error line
    std::string sentence;
    std::string why;      // what is wrong when not ok
};
ReportShape CheckReport(const std::string& text, unsigned code);

// GDI objects held by a running duotint, up to a constant, counted the way the
// unit leak test counts them: $DUOTINT_GDI_PROBE is loaded into the process
// and counts there how many regions can still be made (Wine's GetGuiResources
// is a stub). The program must be idle meanwhile. false when the probe could
// not be run; why then says what went wrong.
bool GdiObjectsInUse(HANDLE process, long& count, std::string& why);

}  // namespace e2e
