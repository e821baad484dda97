// The editor's preview from the program state: its sampling from
// sourcePixels, its tint and its blit into the window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "formats/tint.h"

// Builds previewSourcePixels by sampling sourcePixels, and previewPixels as
// its first, untinted copy.
void DownsamplePreview();

// The tint pass of RenderPreview alone: previewSourcePixels into previewPixels.
void TintPreview();

// previewPixels into dc at the preview's place, one to one.
void BlitPreview(HDC dc);

// Tints previewPixels afresh and puts it into dc, the editor window's, at once.
void RenderPreview(HDC dc);

// Frees previewSourcePixels and previewPixels once no window shows them any more.
void ReleasePreview();
