// The window procedure of the name popup, the preview and the editor. Each
// window finds its WindowHooks in GWLP_USERDATA, stored there at WM_NCCREATE;
// a message that comes before it (WM_GETMINMAXINFO) only reaches
// DefWindowProcA.
#include "editor/window_procs.h"

LRESULT CALLBACK ProgramWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    const WindowHooks* hooks = reinterpret_cast<const WindowHooks*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (hooks == nullptr)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_PAINT) {
        // BeginPaint erases with the class brush: the popup's colour; the
        // preview and editor classes have none, so nothing flickers there.
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        hooks->paint(dc);
        EndPaint(hwnd, &ps);
    }
    // Recorded after any painting, so that when the dispatch returns the
    // words describe the dispatched message and not one sent during the paint.
    if (hooks->input != nullptr)
        Record(*hooks->input, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
