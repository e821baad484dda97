// The program's three windows: one function registers and creates each, the
// paints that fill them from the program state, and drawing between paints.
#pragma once

#include <windows.h>

enum class ProgramWindow { name, preview, editor };

// Registers the window's class (once; later calls fail harmlessly) and
// creates and shows the window, where the layout puts it.
HWND CreateProgramWindow(ProgramWindow which, int showCommand = SW_SHOWNORMAL);

// A context for drawing into a window between its paints, prepared as its
// paint prepares one: the panel's pen and font, or the popup's pen, brush,
// colour and font.
class WindowDC {
public:
    WindowDC(HWND hwnd, ProgramWindow which);
    ~WindowDC() { ReleaseDC(hwnd_, dc_); }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    operator HDC() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// The panel with the current values; it paints over any entry box.
void DrawPanelNow(HDC dc);
