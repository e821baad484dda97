// The editor's preview from the program state: its sampling from
// sourceImage, its tint and its blit into the window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "image/tint.h"

// Builds previewSource by sampling sourceImage, and previewImage as its
// first, untinted copy.
void DownsamplePreview();

// The tint pass of RenderPreview alone: previewSource into previewImage.
void TintPreview();

// previewImage into dc at the preview's place, one to one.
void BlitPreview(HDC dc);

// Tints previewImage afresh and puts it into dc, the editor window's, at once.
void RenderPreview(HDC dc);

// Frees previewSource and previewImage once no window shows them any more.
void ReleasePreview();
