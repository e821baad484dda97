// Window layout from the desktop size and the picture size, and the frame of
// six coloured rings around a white field.
//
// Sizes are derived in extended precision and truncated, exactly as the
// layout rule states, so a given desktop and picture always give the same
// pixel sizes and the same scale factor the downsampling then uses.
#include "editor/layout.h"

#include "editor/program_state.h"

namespace {

// Blue, green, red, indexed by the distance from the frame's edge; 6 is
// the interior.
const uint8_t kFrameRingColours[7][3] = {
    {138, 147, 164},  // outermost ring
    {131, 191, 219},
    {49, 71, 106},
    {49, 69, 113},
    {172, 247, 255},
    {155, 230, 244},
    {255, 255, 255},  // interior
};

int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }

}  // namespace

Layout LayoutForDesktop(int32_t screenRight, int32_t screenBottom, int32_t imageWidth, int32_t imageHeight)
{
    Layout l{};
    // Integer division truncates toward zero; the position follows the
    // picture's own size even when the preview is reduced.
    l.windowLeft = Max(0, (screenRight - imageWidth - 112) / 3);
    l.windowTop = Max(0, (screenBottom - imageHeight - 12) / 3);

    // The room the preview may take; at least a pixel, however small the desktop.
    const int32_t roomWide = Max(1, screenRight - 140);
    const int32_t roomHigh = Max(1, screenBottom - 50);
    l.aspectRatio = static_cast<long double>(imageWidth) / static_cast<long double>(imageHeight);
    l.previewWidth = imageWidth;
    l.previewHeight = imageHeight;
    const auto fitWidth = [&] {
        l.previewWidth = roomWide;
        l.previewHeight = static_cast<int32_t>(Trunc(static_cast<long double>(roomWide) / l.aspectRatio));
    };
    const auto fitHeight = [&] {
        l.previewWidth = static_cast<int32_t>(Trunc(static_cast<long double>(roomHigh) * l.aspectRatio));
        l.previewHeight = roomHigh;
    };
    // A wide picture is fitted by width first, any other by height. What is
    // still too large in the other dimension is fitted by that one as well,
    // so the smaller of the two fits wins. What fits is left as it is.
    if (l.aspectRatio > 1.0L && l.previewWidth > roomWide)
        fitWidth();
    if (l.previewHeight > roomHigh)
        fitHeight();
    if (l.previewWidth > roomWide)
        fitWidth();
    // A picture so thin that a reduced side truncates to 0 still gets one
    // row or column, so the scale factors below are defined and the preview
    // shows something.
    if (l.previewWidth == 0)
        l.previewWidth = 1;
    if (l.previewHeight == 0)
        l.previewHeight = 1;

    l.scaleFactor = static_cast<long double>(imageWidth) / static_cast<long double>(l.previewWidth);
    // The shared factor follows the width, so it spans the columns exactly.
    // Where a truncated or raised side makes it miss the rows, sampling past
    // the last row or leaving more than a step of rows unreached, the rows
    // take their own factor and so span the whole picture once.
    l.rowScaleFactor = l.scaleFactor;
    const long double rows = static_cast<long double>(imageHeight);
    const bool pastTheEnd = Trunc(static_cast<long double>(l.previewHeight - 1) * l.scaleFactor) > imageHeight - 1;
    const bool fallsShort = static_cast<long double>(l.previewHeight + 1) * l.scaleFactor <= rows;
    if (pastTheEnd || fallsShort)
        l.rowScaleFactor = rows / static_cast<long double>(l.previewHeight);

    l.panelLeft = l.previewWidth + 55;
    l.windowWidth = l.previewWidth + 111;
    l.windowHeight = l.previewHeight + 11;
    if (l.windowWidth < 99)
        l.windowWidth = 99;
    if (l.windowHeight < 249)
        l.windowHeight = 249;

    // The frame adds a row and a column; the whole window stays on the
    // desktop wherever the desktop is large enough to hold it.
    if (l.windowLeft + l.windowWidth + 1 > screenRight)
        l.windowLeft = Max(0, screenRight - l.windowWidth - 1);
    if (l.windowTop + l.windowHeight + 1 > screenBottom)
        l.windowTop = Max(0, screenBottom - l.windowHeight - 1);
    return l;
}

void DrawFrame(HDC dc, int32_t width, int32_t height)
{
    // Ring d is the one-pixel border d pixels in from the edge, four strips;
    // the interior is one rectangle. Solid fills put the exact colours on
    // screen, and no buffer of the window's size is kept for them.
    for (int32_t d = 0; d <= 6; ++d) {
        const uint8_t* c = kFrameRingColours[d];
        HBRUSH brush = CreateSolidBrush(RGB(c[2], c[1], c[0]));
        const RECT interior = {6, 6, width - 6, height - 6};
        const RECT strips[4] = {
            {d, d, width - d, d + 1},                          // top
            {d, height - d - 1, width - d, height - d},        // bottom
            {d, d + 1, d + 1, height - d - 1},                 // left
            {width - d - 1, d + 1, width - d, height - d - 1}, // right
        };
        if (d == 6) {
            FillRect(dc, &interior, brush);
        } else {
            for (const RECT& strip : strips)
                FillRect(dc, &strip, brush);
        }
        DeleteObject(brush);
    }
}

void ComputeLayout()
{
    GetWindowRect(GetDesktopWindow(), &state.screenRect);
    state.screenRight = state.screenRect.right;
    state.screenBottom = state.screenRect.bottom;

    Layout l = LayoutForDesktop(state.screenRight, state.screenBottom, state.imageWidth, state.imageHeight);
    state.windowLeft = l.windowLeft;
    state.windowTop = l.windowTop;
    state.previewWidth = l.previewWidth;
    state.previewHeight = l.previewHeight;
    state.scaleFactor = l.scaleFactor;
    state.rowScaleFactor = l.rowScaleFactor;
    state.panelLeft = l.panelLeft;
    state.windowWidth = l.windowWidth;
    state.windowHeight = l.windowHeight;
}

void BuildFrameImage()
{
    // Every paint draws the frame with DrawFrame, so no image of it is kept:
    // what is left is the extra row and column it adds to the window.
    ++state.windowWidth;
    ++state.windowHeight;
}
