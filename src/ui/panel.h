// The panel of nine labelled values beside the preview.
#pragma once

#include <windows.h>

#include <cstdint>

// Where the panel goes: beside a preview of previewWidth x previewHeight,
// its value boxes from client x panelLeft.
struct PanelPlace {
    int32_t previewWidth;
    int32_t previewHeight;
    int32_t panelLeft;
};

// values: tintA red, green, blue, dispA, distr, tintB red, green, blue, dispB.
void DrawPanel(HDC dc, const PanelPlace& place, const int32_t (&values)[9]);
void DrawValue(HDC dc, int32_t panelLeft, long double value, int32_t top);
