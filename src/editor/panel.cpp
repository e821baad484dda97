// The parameter panel beside the preview: nine labels and nine 40 x 20 value
// boxes on a 20-pixel grid from y 15, drawn into the context it is given with
// whatever pen, brush and font that holds (the program selects the null pen,
// the white stock brush and the small font).
//
// Numbers are laid out character by character from their decimal
// decomposition at a pitch of 8 pixels per digit; a run of digits is one
// TextOutA call, so the font's own advance applies inside a run.
#include "editor/panel.h"

#include <windows.h>

#include <cmath>
#include <cstring>

#include "editor/digits.h"

namespace {

// Length of chars[0 .. count) once trailing "0" characters are dropped,
// always keeping the first.
int32_t WithoutTrailingZeros(const char* chars, int32_t count)
{
    while (count > 1 && chars[count - 1] == '0')
        --count;
    return count;
}

}  // namespace

void DrawPanel(HDC dc, const PanelPlace& place, const PanelRow (&rows)[kPanelRowCount])
{
    // The bottom edge is previewHeight itself, not 6 + previewHeight.
    Rectangle(dc, place.previewWidth + 40, 6, place.previewWidth + 92, place.previewHeight);
    for (const PanelRow& row : rows) {
        if (row.label != nullptr)
            TextOutA(dc, place.previewWidth + row.labelLeft, row.top, row.label, static_cast<int>(strlen(row.label)));
    }
    for (const PanelRow& row : rows) {
        if (row.label != nullptr)
            DrawValue(dc, place.panelLeft, static_cast<long double>(*row.parameter), row.valueTop);
    }
}

void DrawValue(HDC dc, int32_t panelLeft, long double value, int32_t top)
{
    // A run of characters at `offset` from the value box's left edge.
    const auto DrawRun = [&](int32_t offset, const char* chars, int32_t count) {
        TextOutA(dc, panelLeft + offset, top, chars, count);
    };
    DecimalDigits r = DecomposeDecimal(value);
    const char* c = r.digits;
    int32_t e = r.exponent;

    // With the null pen this fills the box and erases the previous value.
    Rectangle(dc, panelLeft, top, panelLeft + 40, top + 20);
    if (r.sign == -1)
        DrawRun(5, "-", 1);

    if (e == 0) {
        DrawRun(10, "0", 1);
        if (value != 0) {
            DrawRun(18, ".", 1);
            DrawRun(26, c, WithoutTrailingZeros(c, 13));
        }
    } else if (e > 0) {
        // Magnitudes of 10^13 and more have more integer digits than the
        // decomposition holds; show the thirteen there are and no fraction.
        int32_t whole = e < 13 ? e : 13;
        DrawRun(10, c, whole);
        // rintl rather than a 32-bit conversion keeps whole numbers beyond
        // the 32-bit range free of a spurious fraction.
        long double nearest = rintl(value);
        if (fabsl(value - nearest) > 1e-12L && whole < 13) {
            int32_t count = WithoutTrailingZeros(c + whole, 13 - whole);
            DrawRun(10 + 8 * e, ".", 1);
            DrawRun(18 + 8 * e, c + whole, count);
        }
    } else {
        int32_t p = -e < 13 ? -e : 13;
        char chars[13];
        for (int32_t i = 0; i < 13; ++i)
            chars[i] = i < p ? '0' : c[i - p];
        DrawRun(10, "0", 1);
        DrawRun(18, ".", 1);
        DrawRun(26, chars, WithoutTrailingZeros(chars, 13));
    }
}
