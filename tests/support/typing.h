// Typing into duotint, shared by the end-to-end tests, the bench and the
// unit test of the message loop: keys go out through SendInput with the
// virtual key and the scan code both set (no KEYEVENTF_SCANCODE), as a
// keyboard driver reports them, so the program sees exactly the scan codes
// it listens for. Keys reach the focus window of the foreground thread,
// which MakeForeground arranges.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "editor/keys.h"
#include "test_files.h"

namespace support {

struct Key {
    WORD vk;
    WORD scan;
    bool extended;
};

const Key kEsc = {VK_ESCAPE, scan::kEsc, false};
const Key kEnter = {VK_RETURN, scan::kEnter, false};
const Key kBackspace = {VK_BACK, scan::kBackspace, false};
const Key kLeftShift = {VK_LSHIFT, scan::kLeftShift, false};
const Key kMinus = {VK_OEM_MINUS, 12, false};  // no rule of the program names its scan code
const Key kSlash = {VK_OEM_2, scan::kSlash, false};
const Key kKeypadEnter = {VK_RETURN, scan::kEnter, true};  // Enter's scan code, extended

// The key that types c into the name popup (letters, digits and '-', which
// the popup takes from the "/" key); false for any other character.
inline bool KeyForCharacter(char c, Key& key)
{
    // Scan-code set 1 of the US layout: the digit row and the three letter rows.
    static const char* const kRows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const WORD kFirstScan[] = {scan::kDigit1, scan::kQ, 30, 44};
    for (int row = 0; row < 4; ++row) {
        for (const char* p = kRows[row]; *p != '\0'; ++p) {
            if (*p != c)
                continue;
            WORD vk = (c >= 'a' && c <= 'z') ? static_cast<WORD>(c - 'a' + 'A') : static_cast<WORD>(c);
            key = {vk, static_cast<WORD>(kFirstScan[row] + (p - kRows[row])), false};
            return true;
        }
    }
    if (c == '-') {
        key = kSlash;
        return true;
    }
    return false;
}

inline INPUT KeyInput(const Key& key, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.vk;
    input.ki.wScan = key.scan;
    input.ki.dwFlags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    return input;
}

inline void KeyDown(const Key& key)
{
    INPUT input = KeyInput(key, false);
    SendInput(1, &input, sizeof input);
}

inline void KeyUp(const Key& key)
{
    INPUT input = KeyInput(key, true);
    SendInput(1, &input, sizeof input);
}

// A move of the pointer to screen (x, y) as input. Input sent with it is
// placed there even when the program reports a pointer move from before
// only afterwards, as it may when it looks at its X events late.
inline INPUT PointerMove(int x, int y)
{
    // Absolute coordinates of the primary screen, 0 to 65535, rounded up so
    // that they come back as x and y.
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((x * 65536LL + width - 1) / width);
    input.mi.dy = static_cast<LONG>((y * 65536LL + height - 1) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return input;
}

// Down and up of each key in turn, all in one SendInput call so that nothing
// comes between them, after `first` if given (a pointer move that places
// them); false if not all of them went out.
inline bool TapKeys(const std::vector<Key>& keys, const INPUT* first = nullptr)
{
    std::vector<INPUT> inputs;
    if (first != nullptr)
        inputs.push_back(*first);
    for (const Key& key : keys) {
        inputs.push_back(KeyInput(key, false));
        inputs.push_back(KeyInput(key, true));
    }
    UINT n = static_cast<UINT>(inputs.size());
    return n == 0 || SendInput(n, inputs.data(), sizeof inputs[0]) == n;
}

// Down and up; the key was up before, so the key-down is no auto-repeat.
inline bool Tap(const Key& key) { return TapKeys({key}); }

// Taps the keys of text in one call; false if a character has no key.
inline bool TypeText(const std::string& text)
{
    std::vector<Key> keys(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!KeyForCharacter(text[i], keys[i]))
            return false;
    }
    return TapKeys(keys);
}

// Brings hwnd to the foreground with the keyboard focus; false at the
// deadline or when the window goes meanwhile.
inline bool MakeForeground(HWND hwnd, DWORD timeoutMs = 2000)
{
    DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
    bool gone = false;
    bool ours = PollUntil(timeoutMs, [&] {
        gone = !IsWindow(hwnd);
        if (gone)
            return true;
        SetForegroundWindow(hwnd);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        // Keys go to the focus window of the foreground thread: both must be ours.
        return GetForegroundWindow() == hwnd && GetGUIThreadInfo(thread, &gui) && gui.hwndFocus == hwnd;
    });
    return ours && !gone;
}

}  // namespace support
