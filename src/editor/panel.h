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

// The panel's grid: eleven rows 20 pixels apart from y 15 down.
const int32_t kPanelRowCount = 11;

// One grid row. Rows 4 and 6 are gaps: they show nothing, a notch over one
// changes the parameter above, and a number typed over one is not kept.
struct PanelRow {
    int32_t top;
    int32_t* parameter;  // what a typed number or a notch over the row changes
    const char* label;   // nullptr on a gap
    int32_t labelLeft;   // from previewWidth
    int32_t valueTop;    // top of the parameter's value box
};

// The frame, then the label and the value of each row that is no gap.
void DrawPanel(HDC dc, const PanelPlace& place, const PanelRow (&rows)[kPanelRowCount]);
void DrawValue(HDC dc, int32_t panelLeft, long double value, int32_t top);
