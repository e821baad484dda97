// Where the preview and editor windows stand, how large the preview is, and
// the decorative frame every paint of those windows starts from.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/trunc.h"

// The layout fields for one desktop and one picture, before the frame adds
// its extra row and column to the window size.
struct Layout {
    int32_t windowLeft;
    int32_t windowTop;
    long double aspectRatio;
    int32_t previewWidth;
    int32_t previewHeight;
    long double scaleFactor;     // picture width / preview width; also the rows' factor
    long double rowScaleFactor;  // the rows' own factor where the shared one misses the picture
    int32_t panelLeft;
    int32_t windowWidth;
    int32_t windowHeight;
};

// The whole layout rule for a desktop whose rectangle ends at screenRight,
// screenBottom. Picture sizes are at least 1. Every window it gives lies on
// the desktop, and the preview is at least 1 x 1.
Layout LayoutForDesktop(int32_t screenRight, int32_t screenBottom, int32_t imageWidth, int32_t imageHeight);

// The frame's six rings around a white field, drawn on dc at (0, 0) with
// GDI fills, width x height pixels (the window's final size). The ring
// colour depends on the distance from the nearest edge.
void DrawFrame(HDC dc, int32_t width, int32_t height);

void ComputeLayout();
// The frame's extra row and column, added to the window's size.
void BuildFrameImage();
