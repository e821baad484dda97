// The fixed sequence of phases that runs from start to exit.
#include "editor/program.h"

#include "editor/command_line.h"
#include "editor/editor.h"
#include "editor/layout.h"
#include "editor/name_entry.h"
#include "editor/picture.h"
#include "editor/preview.h"
#include "editor/message_loop.h"
#include "editor/program_state.h"
#include "editor/program_windows.h"

namespace {

// The panel's small font and the popup's large one: cell height and average
// character width in pixels, normal weight.
struct FontSize {
    int height;
    int width;
};
const FontSize kSmallFont = {16, 7};
const FontSize kLargeFont = {32, 14};

HFONT CreateProgramFont(const FontSize& size)
{
    return CreateFontA(size.height, size.width, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_CHARACTER_PRECIS, CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0, nullptr);
}

void ShowPreviewWindow()
{
    state.editorWindow = CreateProgramWindow(ProgramWindow::preview);
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

}  // namespace

void CreateDrawingObjects()
{
    state.namePanelLogBrush = {BS_SOLID, PALETTERGB(250, 240, 200), 0};
    state.namePanelBrush = CreateBrushIndirect(&state.namePanelLogBrush);
    state.nameBackLogBrush = {BS_SOLID, PALETTERGB(230, 210, 160), 0};
    state.nameBackBrush = CreateBrushIndirect(&state.nameBackLogBrush);
    state.nullPen = CreatePen(PS_NULL, 0, RGB(0, 0, 0));
    state.smallFont = CreateProgramFont(kSmallFont);
    state.largeFont = CreateProgramFont(kLargeFont);
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
    // A look from the command line replaces the defaults.
    if (state.startLook != nullptr)
        SetTintParameters(*state.startLook);
}

void RunProgram()
{
    TakeStandardOutput();
    CreateDrawingObjects();
    if (!TakeCommandLinePicture()) {
        StartDecoder();
        RunNameEntry();
        CheckTypedPictureExport();
    }
    ReadImageHeader();
    ComputeLayout();
    BuildFrameImage();
    ShowPreviewWindow();
    LoadSourcePixels();
    EndDecoder();  // the editor reads one picture
    DownsamplePreview();
    ShowPreviewPixels();
    SetEditingDefaults();
    // previewImage is still the untinted sample the preview window showed,
    // and the editor paints it as it is: tinted now, a look from the command
    // line shows from the editor's first paint on.
    TintPreview();
    RunEditor();
}
