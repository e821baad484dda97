// The program's window procedure: it paints through the program's hook with
// the context BeginPaint gives, records input where the program asks, and
// passes every message on to DefWindowProcA.
#pragma once

#include <windows.h>

#include "editor/recorded_input.h"

// The class names of the program's three windows; the tests find the windows
// by them.
constexpr char kNameClassName[] = "s";
constexpr char kPreviewClassName[] = "o";
constexpr char kEditorClassName[] = " ";

// What a window needs from the program, handed to CreateWindowExA as lpParam.
struct WindowHooks {
    RecordedInput* input;      // where its messages are recorded; nullptr: nowhere
    void (*paint)(HDC dc);     // draws the whole client area
};

LRESULT CALLBACK ProgramWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

