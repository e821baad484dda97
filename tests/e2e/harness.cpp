// The end-to-end harness; see harness.h for what each part promises.
#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "editor/keys.h"

namespace e2e {

namespace {

std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

void MouseButton(int x, int y, DWORD down, DWORD up, const std::vector<Key>& between = {})
{
    MoveCursor(x, y);
    std::vector<INPUT> inputs(2);
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = down;
    for (const Key& key : between)
        inputs.insert(inputs.end() - 1, {support::KeyInput(key, false), support::KeyInput(key, true)});
    inputs.back().type = INPUT_MOUSE;
    inputs.back().mi.dwFlags = up;
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof inputs[0]);
}

struct WindowQuery {
    DWORD pid;
    const char* className;
    const char* title;  // nullptr: any
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam)
{
    auto* query = reinterpret_cast<WindowQuery*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != query->pid || !IsWindowVisible(hwnd))
        return TRUE;
    if (ClassOf(hwnd) != query->className)
        return TRUE;
    if (query->title != nullptr && TitleOf(hwnd) != query->title)
        return TRUE;
    query->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
    return TRUE;
}

// WM_GETTEXT across processes, with a deadline in case the owner is stuck.
std::string TextOf(HWND hwnd)
{
    char text[4096] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             1000, &copied))
        GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

bool PopupPainted(HWND popup)
{
    RECT r;
    if (!GetWindowRect(popup, &r))
        return false;
    // The paint fills (5, 5)-(405, 105) with the panel colour inside a margin
    // of the class background.
    ScreenShot shot(r.left, r.top, 12, 12);
    return shot.At(r.left + 2, r.top + 2) == RGB(230, 210, 160) && shot.At(r.left + 10, r.top + 10) == RGB(250, 240, 200);
}

}  // namespace

// ---- environment ---------------------------------------------------------

std::string DuotintExe() { return ToWindowsPath(Environment("DUOTINT_EXE")); }

std::string BmpSuite() { return ToWindowsPath(Environment("DUOTINT_BMPSUITE")); }

// ---- pictures --------------------------------------------------------------

Rgb GradientPixel(int32_t x, int32_t y)
{
    return {static_cast<uint8_t>(40 * x + 10), static_cast<uint8_t>(60 * y + 5),
            static_cast<uint8_t>(200 - 7 * (x + 3 * y))};
}

// ---- mouse --------------------------------------------------------------------

void MoveCursor(int x, int y) { SetCursorPos(x, y); }

void WheelEvents(int x, int y, int delta, int count)
{
    std::vector<INPUT> inputs(static_cast<size_t>(count > 0 ? count : 0), PointerMove(x, y));
    for (INPUT& input : inputs) {
        input.mi.dwFlags |= MOUSEEVENTF_WHEEL;
        input.mi.mouseData = static_cast<DWORD>(delta);
    }
    if (!inputs.empty())
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof inputs[0]);
}

void LeftClick(int x, int y, const std::vector<Key>& between)
{
    MouseButton(x, y, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, between);
}

void RightClick(int x, int y) { MouseButton(x, y, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP); }

// ---- screen -------------------------------------------------------------------

ScreenShot::ScreenShot(int left, int top, int width, int height)
    : left_(left), top_(top), width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, 0)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
        GdiFlush();
        const auto* p = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < pixels_.size(); ++i)
            pixels_[i] = p[i] & 0x00FFFFFF;
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

COLORREF ScreenShot::At(int x, int y) const
{
    if (x < left_ || y < top_ || x >= left_ + width_ || y >= top_ + height_)
        return CLR_INVALID;
    uint32_t v = pixels_[static_cast<size_t>(y - top_) * width_ + (x - left_)];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int ScreenShot::CountNot(COLORREF colour, int left, int top, int right, int bottom) const
{
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            n += At(x, y) != Plain(colour);
    return n;
}

COLORREF ScreenPixel(int x, int y)
{
    ScreenShot shot(x, y, 1, 1);
    return shot.At(x, y);
}

// ---- windows of a process -----------------------------------------------------

std::vector<HWND> WindowsOf(DWORD pid, const char* className)
{
    WindowQuery query{pid, className, nullptr, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::string ClassOf(HWND hwnd)
{
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string TitleOf(HWND hwnd)
{
    char title[256] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    return title;
}

// ---- the error box --------------------------------------------------------------

HWND FindErrorBox(DWORD pid)
{
    WindowQuery query{pid, "#32770", "Error", {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&query));
    return query.found.empty() ? nullptr : query.found.front();
}

std::string ErrorBoxText(HWND box)
{
    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::string best;
    for (HWND child : children) {
        if (ClassOf(child) != "Static")
            continue;
        std::string text = TextOf(child);
        if (text.size() > best.size())
            best = text;
    }
    return best;
}

void PressOk(HWND box)
{
    HWND ok = GetDlgItem(box, IDOK);
    if (ok != nullptr) {
        DWORD_PTR ignored;
        SendMessageTimeoutA(ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
    }
    // Should the click not reach the dialog, tell it directly.
    PollUntil(500, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
    if (IsWindow(box) && IsWindowVisible(box))
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

// ---- one run of duotint ---------------------------------------------------------

Duotint::~Duotint()
{
    if (pi_.hProcess == nullptr)
        return;
    if (Running()) {
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
}

bool Duotint::Start(const std::string& folder, const std::wstring& argument, const std::string& program)
{
    return StartWith(folder, argument.empty() ? argument : L"\"" + argument + L"\"", program);
}

bool Duotint::StartWith(const std::string& folder, const std::wstring& arguments, const std::string& program,
                        HANDLE output)
{
    // A crash of the child ends it with its exception code at once instead of
    // waiting behind a crash dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    auto widen = [](const std::string& s) {
        std::wstring w(s.size() + 1, L'\0');
        w.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], static_cast<int>(w.size()))));
        if (!w.empty())
            w.pop_back();  // the terminating zero
        return w;
    };
    std::wstring exe = widen(program);
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = output != nullptr ? STARTF_USESTDHANDLES : 0;
    si.hStdOutput = output;
    started_ = GetTickCount();
    return support::StartProcess(exe.c_str(), &commandLine[0], output != nullptr, 0, widen(folder).c_str(), si,
                                 pi_);
}

bool Duotint::Running() const
{
    return pi_.hProcess != nullptr && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND Duotint::WaitForWindow(const char* className, DWORD timeoutMs, HWND notThis) const
{
    HWND found = nullptr;
    PollUntil(timeoutMs, [&] {
        for (HWND hwnd : WindowsOf(Pid(), className)) {
            if (hwnd != notThis) {
                found = hwnd;
                return true;
            }
        }
        return !Running();
    });
    return found;
}

HWND Duotint::WaitForNamePopup(DWORD timeoutMs, HWND notThis) const
{
    DWORD start = GetTickCount();
    HWND popup = WaitForWindow(kNameClassName, timeoutMs, notThis);
    if (popup == nullptr)
        return nullptr;
    DWORD spent = GetTickCount() - start;
    bool painted = PollUntil(timeoutMs > spent ? timeoutMs - spent : 0,
                             [&] { return !IsWindow(popup) || PopupPainted(popup); });
    if (!painted || !IsWindow(popup))
        return nullptr;
    spent = GetTickCount() - start;
    return MakeForeground(popup, timeoutMs > spent ? timeoutMs - spent : 1) ? popup : nullptr;
}

bool Duotint::WaitGone(HWND hwnd, DWORD timeoutMs) const
{
    return PollUntil(timeoutMs, [&] { return !IsWindow(hwnd); });
}

bool Duotint::WaitForExit(DWORD timeoutMs) const
{
    return WaitForSingleObject(pi_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

RunEnd Duotint::Finish(DWORD timeoutMs)
{
    RunEnd end;
    std::vector<HWND> seen;
    HWND answered = nullptr;
    DWORD lastEsc = 0;
    DWORD previewSince = 0;
    DWORD lastNudge = 0;
    HWND previewSeen = nullptr;
    PollUntil(timeoutMs, [&] {
        if (!Running())
            return true;
        HWND box = FindErrorBox(Pid());
        if (box != nullptr) {
            if (box != answered) {
                end.boxes.push_back(ErrorBoxText(box));
                answered = box;
            }
            PressOk(box);
            return false;
        }
        for (const char* cls : {kNameClassName, kPreviewClassName, kEditorClassName}) {
            for (HWND hwnd : WindowsOf(Pid(), cls)) {
                if (std::find(seen.begin(), seen.end(), hwnd) == seen.end()) {
                    seen.push_back(hwnd);
                    end.windows.push_back(cls);
                }
            }
        }
        DWORD now = GetTickCount();
        std::vector<HWND> editor = WindowsOf(Pid(), kEditorClassName);
        std::vector<HWND> popup = WindowsOf(Pid(), kNameClassName);
        std::vector<HWND> preview = WindowsOf(Pid(), kPreviewClassName);
        HWND target = !editor.empty() ? editor.front() : !popup.empty() ? popup.front() : nullptr;
        if (target != nullptr && now - lastEsc >= 300) {
            if (MakeForeground(target, 300) && FindErrorBox(Pid()) == nullptr)
                Tap(kEsc);
            lastEsc = GetTickCount();
        }
        // The preview phase waits for one message of any kind; should none come
        // by itself, give it a harmless one, as a moving mouse would.
        if (!preview.empty()) {
            if (preview.front() != previewSeen) {
                previewSeen = preview.front();
                previewSince = now;
            } else if (now - previewSince >= 1000 && now - lastNudge >= 1000) {
                PostMessageA(previewSeen, WM_NULL, 0, 0);
                lastNudge = now;
            }
        }
        return false;
    });
    if (Running()) {
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 5000);
        end.exited = false;
        end.exitCode = STILL_ACTIVE;
    } else {
        end.exited = true;
        GetExitCodeProcess(pi_.hProcess, &end.exitCode);
    }
    end.milliseconds = Elapsed();
    return end;
}

RunEnd OpenPicture(const std::string& folder, const std::string& name, DWORD timeoutMs)
{
    Duotint duotint;
    RunEnd failed;
    if (!duotint.Start(folder)) {
        failed.problem = "duotint did not start: " + DuotintExe();
        return failed;
    }
    HWND popup = duotint.WaitForNamePopup(timeoutMs);
    if (popup == nullptr || !TypeText(name)) {
        failed = duotint.Finish(1);
        failed.problem = "no name popup to type into";
        return failed;
    }
    Tap(kEnter);
    duotint.WaitGone(popup, timeoutMs);
    DWORD spent = duotint.Elapsed();
    return duotint.Finish(timeoutMs > spent ? timeoutMs - spent : 1);
}

namespace {

// One run of RunUnattended and what its driver has done to it so far.
struct Attended {
    Duotint duotint;
    RunEnd* end = nullptr;
    std::vector<HWND> seen;
    HWND answered = nullptr;
    DWORD lastOk = 0;
    DWORD lastEsc = 0;
    DWORD previewSince = 0;
    HWND previewSeen = nullptr;
};

struct VisibleWindow {
    HWND hwnd;
    DWORD pid;
    std::string className;
    std::string title;
};

BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM lParam)
{
    if (IsWindowVisible(hwnd)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        reinterpret_cast<std::vector<VisibleWindow>*>(lParam)->push_back({hwnd, pid, ClassOf(hwnd), TitleOf(hwnd)});
    }
    return TRUE;
}

// Esc as the keyboard driver reports it: repeat count 1, scan code 1.
void PostEsc(HWND hwnd)
{
    PostMessageA(hwnd, WM_KEYDOWN, VK_ESCAPE, 1 | (LPARAM{scan::kEsc} << 16));
    PostMessageA(hwnd, WM_KEYUP, VK_ESCAPE, 1 | (LPARAM{scan::kEsc} << 16) | (LPARAM{3} << 30));
}

// One look at a run: true once it has ended or been killed.
bool Attend(Attended& run, const std::vector<VisibleWindow>& windows, DWORD timeoutMs)
{
    RunEnd& end = *run.end;
    Duotint& duotint = run.duotint;
    if (!duotint.Running() || duotint.Elapsed() >= timeoutMs) {
        end.exited = !duotint.Running();
        if (end.exited) {
            GetExitCodeProcess(duotint.Process(), &end.exitCode);
        } else {
            TerminateProcess(duotint.Process(), 1);
            WaitForSingleObject(duotint.Process(), 5000);
            end.exitCode = STILL_ACTIVE;
        }
        end.milliseconds = duotint.Elapsed();
        return true;
    }
    DWORD now = GetTickCount();
    for (const VisibleWindow& w : windows) {
        if (w.pid != duotint.Pid())
            continue;
        if (w.className == "#32770" && w.title == "Error") {
            if (w.hwnd != run.answered) {
                end.boxes.push_back(ErrorBoxText(w.hwnd));
                run.answered = w.hwnd;
                run.lastOk = 0;
            }
            if (now - run.lastOk >= 300) {
                PostMessageA(w.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                run.lastOk = now;
            }
            return false;
        }
    }
    bool escape = now - run.lastEsc >= 100;
    for (const VisibleWindow& w : windows) {
        if (w.pid != duotint.Pid())
            continue;
        for (const char* cls : {kNameClassName, kPreviewClassName, kEditorClassName}) {
            if (w.className != cls)
                continue;
            if (std::find(run.seen.begin(), run.seen.end(), w.hwnd) == run.seen.end()) {
                run.seen.push_back(w.hwnd);
                end.windows.push_back(cls);
            }
            if (w.className == kPreviewClassName) {
                // As in Finish: the preview phase may wait for one message.
                if (w.hwnd != run.previewSeen) {
                    run.previewSeen = w.hwnd;
                    run.previewSince = now;
                } else if (now - run.previewSince >= 1000) {
                    PostMessageA(w.hwnd, WM_NULL, 0, 0);
                    run.previewSince = now;
                }
            } else if (escape) {
                PostEsc(w.hwnd);
                run.lastEsc = now;
            }
        }
    }
    return false;
}

}  // namespace

std::vector<RunEnd> RunUnattended(const std::vector<UnattendedRun>& runs, size_t atOnce, DWORD timeoutMs)
{
    std::vector<RunEnd> ends(runs.size());
    std::vector<std::unique_ptr<Attended>> going;
    size_t next = 0;
    // Each run has its own deadline, so the whole ends without one of its own.
    PollUntil(INFINITE, [&] {
        while (next < runs.size() && going.size() < atOnce) {
            auto run = std::make_unique<Attended>();
            run->end = &ends[next];
            if (run->duotint.Start(runs[next].folder, runs[next].argument))
                going.push_back(std::move(run));
            else
                ends[next].problem = "duotint did not start: " + DuotintExe();
            ++next;
        }
        std::vector<VisibleWindow> windows;
        EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&windows));
        for (size_t i = 0; i < going.size();) {
            if (Attend(*going[i], windows, timeoutMs))
                going.erase(going.begin() + static_cast<std::ptrdiff_t>(i));
            else
                ++i;
        }
        return next == runs.size() && going.empty();
    }, 5);
    return ends;
}

bool NamePopupCameBack(const RunEnd& end)
{
    return std::find(end.windows.begin(), end.windows.end(), kNameClassName) != end.windows.end();
}

std::string Describe(const RunEnd& end)
{
    char head[96];
    snprintf(head, sizeof head, "%s 0x%lX (%lu) after %lu ms", end.exited ? "exit" : "KILLED, still running",
             end.exitCode, end.exitCode, end.milliseconds);
    std::string text = head;
    if (!end.problem.empty())
        text += "; harness: " + end.problem;
    for (const std::string& box : end.boxes)
        text += "; box \"" + box + "\"";
    text += "; windows:";
    for (const std::string& cls : end.windows)
        text += " \"" + cls + "\"";
    return text;
}

// ---- checks on a report -------------------------------------------------------------

std::vector<std::string> ReportLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(text.substr(from, at - from));
    if (from < text.size())
        lines.push_back(text.substr(from));
    return lines;
}

bool IsHexAddress(const std::string& s)
{
    if (s.size() != 10 || s[0] != '0' || s[1] != 'x')
        return false;
    return std::all_of(s.begin() + 2, s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

ReportShape CheckReport(const std::string& text, unsigned code)
{
    ReportShape shape;
    std::vector<std::string> lines = ReportLines(text);
    std::string head = "Runtime error " + std::to_string(code) + " at ";
    if (lines.size() < 5) {
        shape.why = "fewer than five lines";
        return shape;
    }
    if (lines[0].rfind(head, 0) != 0 || !IsHexAddress(lines[0].substr(head.size()))) {
        shape.why = "error line is \"" + lines[0] + "\"";
        return shape;
    }
    shape.address = lines[0].substr(head.size());
    if (lines[1] != "  " + shape.address) {
        shape.why = "address line is \"" + lines[1] + "\"";
        return shape;
    }
    for (size_t i = 2; i + 2 < lines.size(); ++i) {
        if (lines[i].rfind("  ", 0) != 0 || !IsHexAddress(lines[i].substr(2))) {
            shape.why = "trace line is \"" + lines[i] + "\"";
            return shape;
        }
    }
    shape.sentence = lines[lines.size() - 2];
    if (shape.sentence.rfind("duotint could not ", 0) != 0 || shape.sentence.back() != '.' || !lines.back().empty() ||
        text.compare(text.size() - 4, 4, "\r\n\r\n") != 0) {
        shape.why = "no sentence and empty line at the end: \"" + shape.sentence + "\"";
        return shape;
    }
    shape.ok = true;
    return shape;
}

namespace {

// Runs start(parameter) as a thread of process and returns its exit code.
bool RunRemote(HANDLE process, FARPROC start, void* parameter, DWORD& exitCode)
{
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(start)),
                                       parameter, 0, nullptr);
    if (thread == nullptr)
        return false;
    bool done = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    return done;
}

}  // namespace

bool GdiObjectsInUse(HANDLE process, long& count, std::string& why)
{
    std::string dll = ToWindowsPath(Environment("DUOTINT_GDI_PROBE"));
    // Loaded here too, at its fixed base, so its function's address is known.
    HMODULE local = LoadLibraryA(dll.c_str());
    FARPROC countFree = local != nullptr ? GetProcAddress(local, "CountFreeRegions") : nullptr;
    if (countFree == nullptr) {
        why = "cannot load the probe " + dll;
        return false;
    }
    void* name = VirtualAllocEx(process, nullptr, dll.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD loaded = 0;
    bool ok = name != nullptr && WriteProcessMemory(process, name, dll.c_str(), dll.size() + 1, nullptr) &&
              RunRemote(process, GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA"), name, loaded);
    if (name != nullptr)
        VirtualFreeEx(process, name, 0, MEM_RELEASE);
    // The thread's exit code holds the low half of the module's address.
    if (!ok || loaded != static_cast<DWORD>(reinterpret_cast<uintptr_t>(local))) {
        why = "the probe did not load into the process at its base";
        return false;
    }
    DWORD free = 0;
    if (!RunRemote(process, countFree, nullptr, free) || free == 0) {
        why = "the probe did not count";
        return false;
    }
    count = -static_cast<long>(free);
    return true;
}

}  // namespace e2e
