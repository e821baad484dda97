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

#include "test_files.h"
#include "typing.h"
#include "editor/window_procs.h"

namespace {

using support::Now;

const DWORD kDeadlineMs = 60000;

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

// One open; false if a window did not come within the deadline.
bool OpenOnce(const std::string& exe, const char* typedName, double& previewMs, double& editorMs)
{
    const std::string quoted = "\"" + exe + "\"";
    std::wstring commandLine(quoted.size() + 1, L'\0');
    commandLine.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, quoted.c_str(), -1, &commandLine[0], static_cast<int>(commandLine.size())) - 1));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // As the tests start programs: a start Wine now and then refuses with an
    // internal error while other programs start is tried again.
    if (!support::StartProcess(nullptr, &commandLine[0], FALSE, 0, nullptr, startup, process)) {
        fprintf(stderr, "open latency: could not start %s (error %lu)\n", exe.c_str(), GetLastError());
        return false;
    }
    const DWORD pid = process.dwProcessId;
    bool ok = false;
    HWND popup = nullptr;
    support::PollUntil(kDeadlineMs, [&] { return (popup = VisibleWindow(pid, kNameClassName)) != nullptr; }, 5);
    DWORD_PTR answer;
    if (popup != nullptr && support::MakeForeground(popup, kDeadlineMs) && support::TypeText(typedName) &&
        // The letters are taken before the clock starts.
        SendMessageTimeoutA(popup, WM_NULL, 0, 0, SMTO_NORMAL, kDeadlineMs, &answer)) {
        const double t0 = Now();
        support::Tap(support::kEnter);
        previewMs = -1;
        HWND editor = nullptr;
        support::PollUntil(kDeadlineMs, [&] {
            if (previewMs < 0 && VisibleWindow(pid, kPreviewClassName) != nullptr)
                previewMs = Now() - t0;
            return (editor = VisibleWindow(pid, kEditorClassName)) != nullptr;
        }, 1);
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
    const char* unixExe = getenv("DUOTINT_EXE");
    const std::string exe = support::ToWindowsPath(unixExe != nullptr ? unixExe : "");
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
