// The program state and the fixed sequence of phases that runs from start to exit.
#include "app/program.h"

#include "app/program_state.h"
#include "app/command_line.h"
#include "app/picture.h"
#include "app/editor.h"
#include "app/layout.h"
#include "image/bmp.h"
#include "app/preview.h"
#include "support/error.h"
#include "ui/name_entry.h"
#include "ui/window_procs.h"

ProgramState state;

void CreateDrawingObjects()
{
    state.namePanelLogBrush = {BS_SOLID, 0x02C8F0FA, 0};  // PALETTERGB(250, 240, 200)
    state.namePanelBrush = CreateBrushIndirect(&state.namePanelLogBrush);
    state.nameBackLogBrush = {BS_SOLID, 0x02A0D2E6, 0};   // PALETTERGB(230, 210, 160)
    state.nameBackBrush = CreateBrushIndirect(&state.nameBackLogBrush);
    state.nullPen = CreatePen(PS_NULL, 0, 0);
    state.smallFont = CreateFontA(16, 7, 0, 0, 400, 0, 0, 0, ANSI_CHARSET, OUT_CHARACTER_PRECIS,
                                  CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0, nullptr);
    state.largeFont = CreateFontA(32, 14, 0, 0, 400, 0, 0, 0, ANSI_CHARSET, OUT_CHARACTER_PRECIS,
                                  CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0, nullptr);
}

void SetEditingDefaults()
{
    state.step = 10;
    state.tintA[kRed] = 128;
    state.tintA[kGreen] = 128;
    state.tintA[kBlue] = 128;
    state.tintB[kRed] = 128;
    state.tintB[kGreen] = 128;
    state.tintB[kBlue] = 128;
    state.distr = 0;
    state.dispA = 0;
    state.dispB = 0;
    state.entryState = 0;
}

void ShowPreviewWindow()
{
    state.editorClass.lpfnWndProc = PreviewWindowProc;
    state.editorClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    state.editorClass.lpszClassName = "o";
    RegisterClassA(&state.editorClass);
    state.editorWindow = CreateWindowExA(0, "o", " ", WS_POPUP, state.windowLeft, state.windowTop, state.windowWidth,
                                         state.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(state.editorWindow, SW_SHOWNORMAL);
    UpdateWindow(state.editorWindow);
    // The phase goes on at once: with nothing queued, it queues a message of
    // its own rather than wait for one.
    if (!PeekMessageA(&state.msg, nullptr, 0, 0, PM_NOREMOVE))
        PostMessageA(state.editorWindow, WM_NULL, 0, 0);
    FetchMessage();
}

void ShowPreviewPixels()
{
    // The preview window was shown before the pixels were read; now it shows them.
    InvalidateRect(state.editorWindow, nullptr, FALSE);
    UpdateWindow(state.editorWindow);
}

void FetchMessage()
{
    // 0 is WM_QUIT and -1 a failed fetch: either way nothing more will come.
    if (GetMessageA(&state.msg, nullptr, 0, 0) <= 0)
        Terminate();
    DispatchMessageA(&state.msg);
}

void RunProgram()
{
    CreateDrawingObjects();
    if (!TakeCommandLinePicture())
        RunNameEntry();
    ReadImageHeader();
    ComputeLayout();
    BuildFrameImage();
    ShowPreviewWindow();
    LoadSourcePixels();
    DownsamplePreview();
    ShowPreviewPixels();
    SetEditingDefaults();
    RunEditor();
}
