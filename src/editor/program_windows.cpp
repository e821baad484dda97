// The program's windows: registration and creation in one place, the paints
// the window procedure calls with BeginPaint's context, and the contexts for
// drawing between paints. Every paint of the preview and editor windows
// redraws the whole client area.
#include "editor/program_windows.h"

#include "editor/layout.h"
#include "editor/preview.h"
#include "editor/program_state.h"
#include "editor/panel.h"
#include "editor/window_procs.h"

namespace {

// The name popup's place and size on the desktop, and its text colour.
const int kNameLeft = 200, kNameTop = 200, kNameWidth = 410, kNameHeight = 110;
const COLORREF kNameTextColour = PALETTERGB(20, 40, 60);

void PreparePanelDC(HDC dc)
{
    SelectObject(dc, state.nullPen);
    SelectObject(dc, state.smallFont);
}

void PrepareNameDC(HDC dc)
{
    SelectObject(dc, state.nullPen);
    SelectObject(dc, state.namePanelBrush);
    SetTextColor(dc, kNameTextColour);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, state.largeFont);
}

void PaintNameWindow(HDC dc)
{
    PrepareNameDC(dc);
    Rectangle(dc, 5, 5, 405, 105);
    TextOutA(dc, 30, 35, "name", 4);
}

// The preview window and the editor look the same. The preview window is
// painted before the picture is read as well, and shows it once it is
// sampled; previewImage is then its untinted copy, so the file is never read
// a second time for it.
void PaintPictureWindow(HDC dc)
{
    PreparePanelDC(dc);
    DrawFrame(dc, state.windowWidth, state.windowHeight);
    if (state.previewPixels != nullptr)
        BlitPreview(dc);
    DrawPanelNow(dc);
}

}  // namespace

HWND CreateProgramWindow(ProgramWindow which, int showCommand)
{
    static const WindowHooks kHooks[] = {
        {&state, PaintNameWindow},
        {nullptr, PaintPictureWindow},  // the preview phase waits for any message: nothing to record
        {&state, PaintPictureWindow},
    };
    static const char* const kClassNames[] = {kNameClassName, kPreviewClassName, kEditorClassName};
    const int index = static_cast<int>(which);
    const bool popup = which == ProgramWindow::name;

    WNDCLASSA& windowClass = popup ? state.nameClass : state.editorClass;
    windowClass.lpfnWndProc = ProgramWindowProc;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = popup ? state.nameBackBrush : nullptr;
    windowClass.lpszClassName = kClassNames[index];
    RegisterClassA(&windowClass);  // fails harmlessly once the class exists
    HWND hwnd = CreateWindowExA(0, kClassNames[index], " ", WS_POPUP, popup ? kNameLeft : state.windowLeft,
                                popup ? kNameTop : state.windowTop, popup ? kNameWidth : state.windowWidth,
                                popup ? kNameHeight : state.windowHeight, nullptr, nullptr, nullptr,
                                const_cast<WindowHooks*>(&kHooks[index]));
    ShowWindow(hwnd, showCommand);
    return hwnd;
}

WindowDC::WindowDC(HWND hwnd, ProgramWindow which) : hwnd_(hwnd), dc_(GetDC(hwnd))
{
    if (which == ProgramWindow::name)
        PrepareNameDC(dc_);
    else
        PreparePanelDC(dc_);
}

void DrawPanelNow(HDC dc)
{
    DrawPanel(dc, {state.previewWidth, state.previewHeight, state.panelLeft}, kPanelRows);
}
