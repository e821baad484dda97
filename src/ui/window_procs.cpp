// Window procedures: each paints its window from the program state, records
// the words of every message the loops decide on, and passes every message
// on to DefWindowProcA.
//
// Drawing between paints goes through nameDC and paintDC. Rather than keep a
// paint's own context open forever, each paint ends properly and the window
// keeps one ordinary context (GetDC) with the same selections; it is
// released when the window is destroyed, so re-created windows leak nothing.
#include "ui/window_procs.h"

#include "app/program_state.h"
#include "image/blit.h"
#include "image/bmp.h"
#include "ui/panel.h"

namespace {

// Records the words the loops test. Called after any painting, so that when
// the dispatch returns the fields describe the dispatched message and not one
// sent during the paint (WM_ERASEBKGND, WM_NCPAINT).
void RecordKeyWords(UINT msg, LPARAM lParam)
{
    state.lastMessage = static_cast<int32_t>(msg & 0xFFFF);
    state.lastKeyCode = static_cast<int32_t>((static_cast<uint64_t>(lParam) >> 16) & 0xFFFF);
}

void PrepareNameDC(HDC dc)
{
    SelectObject(dc, state.nullPen);
    SelectObject(dc, state.namePanelBrush);
    SetTextColor(dc, 0x023C2814);  // PALETTERGB(20, 40, 60)
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, state.largeFont);
}

void PaintNameWindow(HWND hwnd)
{
    PAINTSTRUCT ps;
    // BeginPaint erases with the class brush, PALETTERGB(230, 210, 160).
    HDC dc = BeginPaint(hwnd, &ps);
    PrepareNameDC(dc);
    Rectangle(dc, 5, 5, 405, 105);
    TextOutA(dc, 30, 35, "name", 4);
    EndPaint(hwnd, &ps);
    if (state.nameDC == nullptr) {
        state.nameDC = GetDC(hwnd);
        PrepareNameDC(state.nameDC);
    }
}

// The context every drawing of the preview or editor window goes through:
// one per window, fetched at its first paint and released when it goes,
// with nullPen and smallFont selected as the panel expects.
void AcquirePaintDC(HWND hwnd)
{
    if (state.paintDC == nullptr)
        state.paintDC = GetDC(hwnd);
    SelectObject(state.paintDC, state.nullPen);
    SelectObject(state.paintDC, state.smallFont);
}

void ReleasePaintDC(HWND hwnd)
{
    if (state.paintDC != nullptr)
        ReleaseDC(hwnd, state.paintDC);
    state.paintDC = nullptr;
}

// Every paint of the preview and editor windows redraws the whole client
// area, so the paint only validates the window and the drawing itself goes
// through paintDC.
void ValidateWindow(HWND hwnd)
{
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);  // the classes have no brush: nothing is erased
    EndPaint(hwnd, &ps);
}

void PaintPreviewWindow(HWND hwnd)
{
    ValidateWindow(hwnd);
    AcquirePaintDC(hwnd);
    HDC dc = state.paintDC;
    SetStretchBltMode(dc, HALFTONE);
    BlitBuffer(dc, state.frameHeader, state.frameInfo, state.framePixels, 0, 0, state.windowWidth,
               state.windowHeight);

    // The picture as read, once its preview is sampled; the file is never
    // read a second time for it.
    if (state.previewSourcePixels != nullptr)
        BlitBuffer(dc, state.previewHeader, state.previewInfo, state.previewSourcePixels, 6, 6, state.previewWidth,
                   state.previewHeight);

    DrawPanel();  // AcquirePaintDC selected nullPen and smallFont
}

void PaintEditorWindow(HWND hwnd)
{
    ValidateWindow(hwnd);
    AcquirePaintDC(hwnd);
    HDC dc = state.paintDC;
    BlitBuffer(dc, state.frameHeader, state.frameInfo, state.framePixels, 0, 0, state.windowWidth,
               state.windowHeight);
    BlitBuffer(dc, state.previewHeader, state.previewInfo, state.previewPixels, 6, 6, state.previewWidth,
               state.previewHeight);
    DrawPanel();  // AcquirePaintDC selected nullPen and smallFont
}

}  // namespace

void BlitBuffer(HDC dc, const BITMAPINFOHEADER& header, const BITMAPINFO& info, const void* pixels, int x, int y,
                int width, int height)
{
    BlitRows(dc, x, y, info, static_cast<const uint8_t*>(pixels), width, height, RowStride(width).stride);
}

LRESULT CALLBACK NameWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT)
        PaintNameWindow(hwnd);
    if (msg == WM_DESTROY && state.nameDC != nullptr) {
        ReleaseDC(hwnd, state.nameDC);
        state.nameDC = nullptr;
    }
    RecordKeyWords(msg, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK PreviewWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT)
        PaintPreviewWindow(hwnd);
    if (msg == WM_DESTROY)
        ReleasePaintDC(hwnd);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK EditorWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT)
        PaintEditorWindow(hwnd);
    if (msg == WM_DESTROY)
        ReleasePaintDC(hwnd);
    state.lastMessage = static_cast<int32_t>(msg & 0xFFFF);
    state.lastWParamLow = static_cast<int32_t>(wParam & 0xFFFF);
    state.lastKeyCode = static_cast<int32_t>((static_cast<uint64_t>(lParam) >> 16) & 0xFFFF);
    state.lastWheelDelta = static_cast<int32_t>((wParam >> 16) & 0xFFFF);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
