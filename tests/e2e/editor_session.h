// Scripted editor sessions on the real program: a picture is named, the
// preview window lets go, and a script of keys, wheel notches and clicks over
// the panel rows runs in the editor window; the preview on screen and the
// exported file are checked against a tint computed here, independently of
// the program.
//
// Ordering. Keys, notches and clicks are all hardware input, which the
// program fetches in the order it was sent, so a script can be sent without
// waiting for each step; a `Shows` step polls the screen until the preview
// has caught up. Posted messages would overtake queued input, so scripts use
// none once the editor runs.
//
// After the window was (re)built the editor's first message draws the panel
// and is then decided as any other, so a script types into it at once.
#pragma once

#include "harness.h"

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// The nine panel values in panel order: tintA red, green, blue, dispA,
// distr, tintB red, green, blue, dispB.
struct Params {
    int32_t aRed, aGreen, aBlue, dispA, distr, bRed, bGreen, bBlue, dispB;
};
bool operator==(const Params& a, const Params& b);
std::string ToString(const Params& p);

// The values the editor starts with.
const Params kStartValues = {128, 128, 128, 0, 0, 128, 128, 128, 0};

// The tint of one channel byte x with components A (of tintA) and B (of
// tintB), in 80-bit arithmetic with every step rounded, ties to even.
uint8_t ModelTint(int32_t x, int32_t A, int32_t B, int32_t dispA, int32_t dispB, int32_t distr);

// The picture the sessions edit: every channel runs through many values, so
// a change of one unit in any value changes some pixel.
Rgb SessionPixel(int32_t x, int32_t y);
Rgb TintedPixel(int32_t x, int32_t y, const Params& p, Rgb (*pixel)(int32_t, int32_t) = SessionPixel);
// The whole export file the program must write for the picture under p (or
// another picture of the given pixels).
std::vector<uint8_t> ExpectedExport(int32_t width, int32_t height, const Params& p,
                                    Rgb (*pixel)(int32_t, int32_t) = SessionPixel);

// Where a width x height picture that fits puts the editor on a 1920 x 1080
// desktop, in screen coordinates.
struct Geometry {
    int32_t width, height;        // the picture, shown one to one at client (6, 6)
    int32_t left, top;            // the window's top-left corner
    int32_t windowWidth, windowHeight;
    int32_t panelLeft;            // client x of the value boxes
};
Geometry GeometryFor(int32_t width, int32_t height);
// Client y of the top of panel grid row `row` (0 to 10).
inline int32_t RowTop(int row) { return 15 + 20 * row; }

// One step of a script.
struct Step {
    enum Kind {
        kKeys,     // taps of `keys` with the cursor over panel row `row`
        kNotches,  // `count` wheel events of `delta` over row `row`
        kHold,     // `count` key-downs of keys[0] without a key-up, then its key-up
        kClick,    // a left (row 0) or right (row 1) click on the preview; waits for the new window
        kShows,    // the preview shows the picture tinted with `shows` (polled)
        kInk,      // the value box area of row `row` shows text (count 1) or is blank (count 0)
    } kind;
    int row;
    const char* keys;
    int delta;
    int count;
    Params shows;
};
// In `keys`: digits, '-' (the minus key), '\b' Backspace, '\n' Enter, ' '
// Space, '/' (scan code 53), 'K' keypad Enter, 'R' right Shift, 'S' left
// Shift, 'C' left Ctrl, '[' and lower-case letters.
Step Keys(int row, const char* keys);
Step Notches(int row, int delta, int count);
Step Hold(const char* key, int downs);
Step LeftClickStep();
Step RightClickStep();
Step Shows(const Params& p);
Step Ink(int row, bool ink);

// One run of duotint on the session picture, from the name popup to its end.
class EditorRun {
public:
    EditorRun(int32_t width, int32_t height);

    // Each returns "" on success, otherwise what went wrong.
    // Writes the picture, starts duotint and names the picture; the preview
    // window, which goes by itself once the pixels are read, is kept if seen.
    std::string OpenToPreview();
    // Waits for the painted editor window and brings it to the foreground.
    std::string PreviewToEditor();
    std::string Do(const Step& step);
    std::string DoAll(const std::vector<Step>& steps);
    // Sends the export key and checks the run's end: exit code 0, the
    // picture untouched, and the export equal byte for byte to the tint of
    // `expected` and pixel for pixel to the preview last shown on screen.
    std::string ExportWith(const char* key, const Params& expected);
    // Esc: exit code 0 and the folder unchanged.
    std::string EscapeWithoutWriting();

    const Geometry& Geo() const { return geo_; }
    Duotint& Program() { return duotint_; }
    HWND PreviewWindow() const { return preview_; }
    HWND EditorWindow() const { return editor_; }
    // Screen coordinates of a client point.
    int ScreenX(int clientX) const { return geo_.left + clientX; }
    int ScreenY(int clientY) const { return geo_.top + clientY; }
    ScreenShot Window() const { return ScreenShot(geo_.left, geo_.top, geo_.windowWidth, geo_.windowHeight); }

private:
    std::string WaitPainted(HWND window);
    std::string TakeForeground();
    std::string WaitShows(const Params& p);
    void PointTo(int screenY, bool overWindow);

    Geometry geo_;
    TempFolder folder_;
    Duotint duotint_;
    HWND preview_ = nullptr;
    HWND editor_ = nullptr;
    int pointerX_ = -1, pointerY_ = -1;  // where the last PointTo put the pointer
    std::vector<uint32_t> lastShown_;  // the preview's pixels at the last `Shows` (0x00RRGGBB, top-down)
};

// Opens the picture, runs the script and exports with exportKey; "" when
// every step and the export check passed.
std::string RunSession(int32_t width, int32_t height, const std::vector<Step>& steps, const char* exportKey,
                       const Params& expected);

}  // namespace e2e
