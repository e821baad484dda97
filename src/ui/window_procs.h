// The three window procedures: paint from the program state, record input.
#pragma once

#include <windows.h>

LRESULT CALLBACK NameWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PreviewWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EditorWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Blits a bottom-up 24-bit buffer into dc at (x, y), one to one, straight
// from the buffer (BlitRows).
void BlitBuffer(HDC dc, const BITMAPINFOHEADER& header, const BITMAPINFO& info, const void* pixels, int x, int y,
                int width, int height);
