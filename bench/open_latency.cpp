// The editor counts as ready when its window is visible and its thread
// answers a message sent to it. The program shows the editor window, paints
// it whole (frame, preview, panel) with UpdateWindow, and only then fetches
// messages; a message sent from another process is delivered at that fetch,
// so the answer comes once the editor is on screen and can take input.
#include "open_latency.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/keys.h"
#include "ui/window_procs.h"

namespace {

const DWORD kDeadlineMs = 60000;

double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Query {
    DWORD pid;
    const char* className;
    HWND found;
};

BOOL CALLBACK Match(HWND hwnd, LPARAM lParam)
{
    auto* q = reinterpret_cast<Query*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    if (pid == q->pid && IsWindowVisible(hwnd) && strcmp(name, q->className) == 0) {
        q->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleWindow(DWORD pid, const char* className)
{
    Query q{pid, className, nullptr};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

INPUT Key(WORD vk, WORD scanCode, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scanCode;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Letters only, by their scan codes of set 1 on the US layout.
bool TypeLetters(const char* text)
{
    static const char* const kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const WORD kFirstScan[] = {16, 30, 44};
    INPUT inputs[64];
    UINT n = 0;
    for (const char* c = text; *c != '\0' && n + 2 <= 64; ++c) {
        WORD scanCode = 0;
        for (int row = 0; row < 3 && scanCode == 0; ++row) {
            const char* at = strchr(kRows[row], *c);
            if (at != nullptr)
                scanCode = static_cast<WORD>(kFirstScan[row] + (at - kRows[row]));
        }
        if (scanCode == 0)
            return false;
        const WORD vk = static_cast<WORD>(*c - 'a' + 'A');
        inputs[n++] = Key(vk, scanCode, false);
        inputs[n++] = Key(vk, scanCode, true);
    }
    return SendInput(n, inputs, sizeof inputs[0]) == n;
}

// Keys go to the focus window of the foreground thread: both must be the popup.
bool MakeForeground(HWND hwnd)
{
    const DWORD start = GetTickCount();
    const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
    while (GetTickCount() - start < kDeadlineMs) {
        SetForegroundWindow(hwnd);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        if (GetForegroundWindow() == hwnd && GetGUIThreadInfo(thread, &gui) && gui.hwndFocus == hwnd)
            return true;
        Sleep(5);
    }
    return false;
}

// The picture's windows are left unmanaged, as on a bare display they are:
// otherwise Wine waits up to 2 s for a window manager whenever one goes.
void LeaveDuotintUnmanaged()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\duotint.exe\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
}

std::string ExePath()
{
    const char* unixPath = getenv("DUOTINT_EXE");
    std::string path = unixPath != nullptr ? unixPath : "";
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path)
            if (c == '/')
                c = '\\';
    }
    return path;
}

// One open; false if a window did not come within the deadline.
bool OpenOnce(const std::string& exe, const char* typedName, double& previewMs, double& editorMs)
{
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "open latency: could not start %s (error %lu)\n", exe.c_str(), GetLastError());
        return false;
    }
    const DWORD pid = process.dwProcessId;
    bool ok = false;
    HWND popup = nullptr;
    const DWORD start = GetTickCount();
    while (popup == nullptr && GetTickCount() - start < kDeadlineMs) {
        popup = VisibleWindow(pid, kNameClassName);
        Sleep(5);
    }
    DWORD_PTR answer;
    if (popup != nullptr && MakeForeground(popup) && TypeLetters(typedName) &&
        // The letters are taken before the clock starts.
        SendMessageTimeoutA(popup, WM_NULL, 0, 0, SMTO_NORMAL, kDeadlineMs, &answer)) {
        INPUT enter[2] = {Key(VK_RETURN, scan::kEnter, false), Key(VK_RETURN, scan::kEnter, true)};
        const double t0 = Now();
        SendInput(2, enter, sizeof enter[0]);
        previewMs = -1;
        HWND editor = nullptr;
        while (editor == nullptr && Now() - t0 < kDeadlineMs) {
            if (previewMs < 0 && VisibleWindow(pid, kPreviewClassName) != nullptr)
                previewMs = Now() - t0;
            editor = VisibleWindow(pid, kEditorClassName);
            if (editor == nullptr)
                Sleep(1);
        }
        ok = editor != nullptr && SendMessageTimeoutA(editor, WM_NULL, 0, 0, SMTO_NORMAL, kDeadlineMs, &answer);
        editorMs = Now() - t0;
    }
    if (!ok)
        fprintf(stderr, "open latency: duotint did not reach the editor\n");
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, kDeadlineMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ok;
}

}  // namespace

bool MeasureOpenLatency(const char* picture, const char* typedName, int rounds, OpenTimes& times)
{
    const std::string exe = ExePath();
    if (exe.empty()) {
        fprintf(stderr, "open latency: DUOTINT_EXE is not set\n");
        return false;
    }
    LeaveDuotintUnmanaged();
    const char kCopy[] = "open-latency-copy.tmp";
    for (int round = 0; round < rounds; ++round) {
        DeleteFileA(kCopy);
        const double t0 = Now();
        CopyFileA(picture, kCopy, FALSE);
        const double copy = Now() - t0;
        DeleteFileA(kCopy);
        double previewMs = 0, editorMs = 0;
        if (!OpenOnce(exe, typedName, previewMs, editorMs))
            return false;
        times.copyMs.push_back(copy);
        times.previewMs.push_back(previewMs);
        times.editorMs.push_back(editorMs);
        times.ratio.push_back(editorMs / copy);
    }
    return true;
}
