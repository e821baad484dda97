// Where the preview and editor windows stand, how large the preview is, and
// the decorative frame every paint of those windows starts from.
#pragma once

#include <windows.h>

#include <cstdint>

#include "image/downsample.h"  // Trunc

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

// Blue, green, red of the frame pixel at distance d from the frame's edge.
const uint8_t* FrameRingColour(int32_t d);

// Fills a frame of (w + 1) x (h + 1) pixels, rows `stride` bytes apart,
// padding zeroed.
void FillFrame(uint8_t* pixels, int32_t w, int32_t h, int32_t stride);
// The same rings drawn on dc at (0, 0), width x height pixels (the frame's
// final size, w + 1 by h + 1), with GDI fills.
void DrawFrame(HDC dc, int32_t width, int32_t height);

void ComputeLayout();
void BuildFrameImage();
