// Scripted editor sessions; see editor_session.h.
#include "editor_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace e2e {

namespace {

const char kPictureName[] = "pic";
const DWORD kScreenTimeoutMs = 4000;
const DWORD kSettleMs = 60;

// Sets the x87 unit to a 64-bit significand with round-to-nearest for the
// life of the object: the test executable's own start-up is not relied on.
class ExtendedPrecision {
public:
    ExtendedPrecision()
    {
        __asm__ __volatile__("fnstcw %0" : "=m"(saved_));
        uint16_t word = static_cast<uint16_t>((saved_ & ~0x0F00) | 0x0300);
        __asm__ __volatile__("fldcw %0" : : "m"(word));
    }
    ~ExtendedPrecision() { __asm__ __volatile__("fldcw %0" : : "m"(saved_)); }

private:
    uint16_t saved_;
};

bool KeyOf(char c, Key& key)
{
    switch (c) {
    case '-': key = kMinus; return true;
    case '\b': key = kBackspace; return true;
    case '\n': key = kEnter; return true;
    case ' ': key = {VK_SPACE, 57, false}; return true;
    case '/': key = kSlash; return true;
    case 'K': key = kKeypadEnter; return true;
    case 'R': key = {VK_RSHIFT, 54, false}; return true;
    case 'S': key = kLeftShift; return true;
    case 'C': key = {VK_LCONTROL, 29, false}; return true;
    case '[': key = {VK_OEM_4, 26, false}; return true;
    default: return KeyForCharacter(c, key);
    }
}

bool TapAll(const char* keys, const INPUT* place = nullptr)
{
    std::vector<Key> sequence;
    for (const char* p = keys; *p != '\0'; ++p) {
        Key key;
        if (!KeyOf(*p, key))
            return false;
        sequence.push_back(key);
    }
    return TapKeys(sequence, place);
}

uint32_t Packed(const Rgb& c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }
uint32_t Packed(COLORREF c) { return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c); }

std::string Hex(uint32_t v)
{
    char text[16];
    snprintf(text, sizeof text, "%06X", v);
    return text;
}

// The pixels of one value box (client rectangle panelLeft..+40, top..+20).
std::vector<uint32_t> BoxPixels(const ScreenShot& shot, const Geometry& g, int32_t top)
{
    std::vector<uint32_t> pixels;
    for (int y = top; y < top + 20; ++y)
        for (int x = g.panelLeft; x < g.panelLeft + 40; ++x)
            pixels.push_back(Packed(shot.At(g.left + x, g.top + y)));
    return pixels;
}

bool HasInk(const std::vector<uint32_t>& pixels)
{
    for (uint32_t p : pixels)
        if (p != 0xFFFFFF)
            return true;
    return false;
}

}  // namespace

bool operator==(const Params& a, const Params& b)
{
    return a.aRed == b.aRed && a.aGreen == b.aGreen && a.aBlue == b.aBlue && a.dispA == b.dispA &&
           a.distr == b.distr && a.bRed == b.bRed && a.bGreen == b.bGreen && a.bBlue == b.bBlue &&
           a.dispB == b.dispB;
}

std::string ToString(const Params& p)
{
    char text[160];
    snprintf(text, sizeof text, "A (%d, %d, %d) dispA %d distr %d B (%d, %d, %d) dispB %d", p.aRed, p.aGreen,
             p.aBlue, p.dispA, p.distr, p.bRed, p.bGreen, p.bBlue, p.dispB);
    return text;
}

uint8_t ModelTint(int32_t x, int32_t A, int32_t B, int32_t dispA, int32_t dispB, int32_t distr)
{
    ExtendedPrecision precision;
    long double a = static_cast<long double>(dispA) / 100.0L;
    long double b = static_cast<long double>(dispB) / 100.0L;
    long double d = static_cast<long double>(distr) / 100.0L;
    long double keepA = 1.0L - a, keepB = 1.0L - b, keepD = 1.0L - d;
    long double mixA = keepA * x;
    mixA = mixA + a * A;
    long double weightedA = mixA * keepD;
    long double mixB = keepB * x;
    mixB = mixB + b * B;
    long double weightedB = mixB * d;
    long double value = rintl(weightedA + weightedB);
    if (value < 0.0L)
        return 0;
    if (value > 255.0L)
        return 255;
    return static_cast<uint8_t>(value);
}

Rgb SessionPixel(int32_t x, int32_t y)
{
    return {static_cast<uint8_t>(41 * x + 7 * y), static_cast<uint8_t>(3 * x + 29 * y + 11),
            static_cast<uint8_t>(97 * x + 53 * y + 200)};
}

Rgb TintedPixel(int32_t x, int32_t y, const Params& p, Rgb (*pixel)(int32_t, int32_t))
{
    Rgb s = pixel(x, y);
    return {ModelTint(s.r, p.aRed, p.bRed, p.dispA, p.dispB, p.distr),
            ModelTint(s.g, p.aGreen, p.bGreen, p.dispA, p.dispB, p.distr),
            ModelTint(s.b, p.aBlue, p.bBlue, p.dispA, p.dispB, p.distr)};
}

std::vector<uint8_t> ExpectedExport(int32_t width, int32_t height, const Params& p, Rgb (*pixel)(int32_t, int32_t))
{
    return MakePicture(width, height, [&](int32_t x, int32_t y) { return TintedPixel(x, y, p, pixel); });
}

Geometry GeometryFor(int32_t width, int32_t height)
{
    Geometry g;
    g.width = width;
    g.height = height;
    g.left = (1920 - width - 112) / 3;
    g.top = (1080 - height - 12) / 3;
    g.windowWidth = std::max(width + 111, 99) + 1;
    g.windowHeight = std::max(height + 11, 249) + 1;
    g.panelLeft = width + 55;
    return g;
}

Step Keys(int row, const char* keys) { return {Step::kKeys, row, keys, 0, 0, {}}; }
Step Notches(int row, int delta, int count) { return {Step::kNotches, row, nullptr, delta, count, {}}; }
Step Hold(const char* key, int downs) { return {Step::kHold, 0, key, 0, downs, {}}; }
Step LeftClickStep() { return {Step::kClick, 0, nullptr, 0, 0, {}}; }
Step RightClickStep() { return {Step::kClick, 1, nullptr, 0, 0, {}}; }
Step Shows(const Params& p) { return {Step::kShows, 0, nullptr, 0, 0, p}; }
Step Ink(int row, bool ink) { return {Step::kInk, row, nullptr, 0, ink ? 1 : 0, {}}; }

EditorRun::EditorRun(int32_t width, int32_t height) : geo_(GeometryFor(width, height)) {}

std::string EditorRun::OpenToPreview()
{
    if (folder_.Path().empty() ||
        !folder_.Write(std::string(kPictureName) + ".bmp", MakePicture(geo_.width, geo_.height, SessionPixel)))
        return "could not write the picture";
    if (!duotint_.Start(folder_.Path()))
        return "duotint did not start: " + DuotintExe();
    HWND popup = duotint_.WaitForNamePopup();
    if (popup == nullptr || !TypeText(kPictureName))
        return "no name popup to type into";
    // The preview phase takes one message and goes on without waiting: the
    // Enter key-up, queued with the key-down, or one it posts itself. The
    // preview window shows while the pixels are read, which for a small
    // picture may be too short to see. The cursor stays off the windows so
    // that no mouse move reaches the editor.
    MoveCursor(1900, 1060);
    Tap(kEnter);
    preview_ = duotint_.WaitForWindow(kPreviewClassName, 200);
    return "";
}

std::string EditorRun::PreviewToEditor()
{
    editor_ = duotint_.WaitForWindow(kEditorClassName, 10000);
    if (editor_ == nullptr)
        return "no editor window";
    std::string painted = WaitPainted(editor_);
    if (!painted.empty())
        return painted;
    std::string shown = WaitShows(kStartValues);
    return shown.empty() ? TakeForeground() : shown;
}

std::string EditorRun::WaitPainted(HWND window)
{
    // The preview window's panel shows 0 in every box, the editor's 128 in
    // the colour rows and 0 in the disp row; both have the frame.
    bool editor = window == editor_;
    COLORREF corner = 0, ring = 0;
    bool ink = false, alike = false;
    if (PollUntil(kScreenTimeoutMs, [&] {
            ScreenShot shot = Window();
            std::vector<uint32_t> disp = BoxPixels(shot, geo_, RowTop(3));
            corner = shot.At(geo_.left, geo_.top);
            ring = shot.At(geo_.left + 5, geo_.top + 5);
            ink = HasInk(disp);
            alike = BoxPixels(shot, geo_, RowTop(0)) == disp;
            return corner == RGB(164, 147, 138) && ring == RGB(244, 230, 155) && ink && alike != editor;
        }))
        return "";
    char seen[96];
    snprintf(seen, sizeof seen, ": corner %06X, ring 5 %06X, boxes with text %d, red box as disp box %d",
             Packed(corner), Packed(ring), ink, alike);
    return std::string(editor ? "editor" : "preview") + " window not painted as expected" + seen;
}

std::string EditorRun::TakeForeground()
{
    return MakeForeground(editor_) ? "" : "the editor window does not take the foreground";
}

std::string EditorRun::WaitShows(const Params& p)
{
    std::vector<uint32_t> wanted;
    for (int32_t y = 0; y < geo_.height; ++y)
        for (int32_t x = 0; x < geo_.width; ++x)
            wanted.push_back(Packed(TintedPixel(x, y, p)));
    std::vector<uint32_t> seen;
    PollUntil(kScreenTimeoutMs, [&] {
        ScreenShot shot(ScreenX(6), ScreenY(6), geo_.width, geo_.height);
        seen.clear();
        for (int32_t y = 0; y < geo_.height; ++y)
            for (int32_t x = 0; x < geo_.width; ++x)
                seen.push_back(Packed(shot.At(ScreenX(6 + x), ScreenY(6 + y))));
        return seen == wanted || !duotint_.Running();
    });
    if (seen == wanted) {
        lastShown_ = seen;
        return "";
    }
    size_t wrong = 0, first = seen.size();
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i] != wanted[i] && wrong++ == 0)
            first = i;
    }
    std::string why = "the preview does not show " + ToString(p) + ": " + std::to_string(wrong) + " pixels differ";
    if (first < seen.size())
        why += ", first at (" + std::to_string(first % geo_.width) + ", " + std::to_string(first / geo_.width) +
               "): " + Hex(seen[first]) + " instead of " + Hex(wanted[first]);
    return why + (duotint_.Running() ? "" : "; duotint has ended");
}

std::string EditorRun::Do(const Step& step)
{
    int y = ScreenY(RowTop(step.row) + 10);
    switch (step.kind) {
    case Step::kKeys: {
        PointTo(y, false);
        const INPUT place = PointerMove(pointerX_, y);
        return TapAll(step.keys, &place) ? "" : std::string("no key for \"") + step.keys + "\"";
    }
    case Step::kNotches:
        PointTo(y, true);
        WheelEvents(ScreenX(geo_.panelLeft + 20), y, step.delta, step.count);
        return "";
    case Step::kHold: {
        Key key;
        if (!KeyOf(step.keys[0], key))
            return "no key to hold";
        for (int i = 0; i < step.count; ++i)
            KeyDown(key);
        KeyUp(key);
        return "";
    }
    case Step::kClick: {
        HWND old = editor_;
        pointerX_ = pointerY_ = -1;
        if (step.row == 0)
            LeftClick(ScreenX(20), ScreenY(20));
        else
            RightClick(ScreenX(20), ScreenY(20));
        editor_ = duotint_.WaitForWindow(kEditorClassName, 5000, old);
        if (editor_ == nullptr)
            return "the click did not re-create the editor window";
        if (!duotint_.WaitGone(old, 5000))
            return "the old editor window stayed";
        // The new window came up under the pointer, which duotint's X11
        // driver reports as a move there, maybe late: it is given the time
        // a move onto the window gets, before the pointer goes elsewhere.
        PointTo(ScreenY(20), true);
        return TakeForeground();
    }
    case Step::kShows:
        return WaitShows(step.shows);
    case Step::kInk: {
        if (PollUntil(kScreenTimeoutMs,
                      [&] { return HasInk(BoxPixels(Window(), geo_, RowTop(step.row))) == (step.count == 1); }))
            return "";
        return "the box area of row " + std::to_string(step.row) + (step.count ? " stays blank" : " keeps text");
    }
    }
    return "unknown step";
}

void EditorRun::PointTo(int y, bool overWindow)
{
    // Only the cursor's height selects a row for a key, so keys are sent with
    // the pointer right of the window; notches need it over the value boxes,
    // where wheel messages reach the editor window. Every warp of the X
    // pointer over duotint's window comes back to duotint as a motion event,
    // which its X11 driver reports as a move to that place when it next looks
    // at X events, possibly after a later warp: a key or notch sent then would
    // get the old place. Under load that came late enough to put a session's
    // notches on the row before. So keys and notches carry their place in
    // their own input, and after a move onto the window duotint is still
    // given time to look. A warp beside the window reaches no window of
    // duotint and needs no wait.
    int x = overWindow ? ScreenX(geo_.panelLeft + 20) : geo_.left + geo_.windowWidth + 40;
    if (x == pointerX_ && y == pointerY_)
        return;
    MoveCursor(x, y);
    pointerX_ = x;
    pointerY_ = y;
    if (overWindow)
        Sleep(kSettleMs);
}

std::string EditorRun::DoAll(const std::vector<Step>& steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        std::string why = Do(steps[i]);
        if (!why.empty())
            return "step " + std::to_string(i + 1) + ": " + why;
    }
    return "";
}

std::string EditorRun::ExportWith(const char* key, const Params& expected)
{
    std::vector<uint8_t> picture = ReadWholeFile(folder_.PathOf(std::string(kPictureName) + ".bmp"));
    if (!TapAll(key))
        return "no export key";
    if (!duotint_.WaitForExit(10000))
        return "the export key did not end the program; " + Describe(duotint_.Finish(1000));
    RunEnd end = duotint_.Finish(1000);
    if (end.exitCode != 0 || !end.boxes.empty())
        return "unexpected end: " + Describe(end);
    auto files = folder_.Snapshot();
    std::string exportName = std::string(kPictureName) + "-.bmp";
    if (files.size() != 2 || files[0].first != exportName || files[1].second != picture)
        return "the folder does not hold the picture and its export alone";
    const std::vector<uint8_t>& written = files[0].second;
    std::vector<uint8_t> wanted = ExpectedExport(geo_.width, geo_.height, expected);
    if (written.size() != wanted.size())
        return "export of " + std::to_string(written.size()) + " bytes instead of " + std::to_string(wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (written[i] != wanted[i])
            return "export differs from the tint of " + ToString(expected) + " at byte " + std::to_string(i) +
                   ": " + std::to_string(written[i]) + " instead of " + std::to_string(wanted[i]);
    }
    // What the editor showed last is what was written, wherever it sampled.
    if (lastShown_.size() != static_cast<size_t>(geo_.width) * geo_.height)
        return "no preview was checked before the export";
    int32_t stride = RowStride(geo_.width);
    for (int32_t y = 0; y < geo_.height; ++y) {
        for (int32_t x = 0; x < geo_.width; ++x) {
            const uint8_t* b = &written[54 + static_cast<size_t>(geo_.height - 1 - y) * stride + 3 * x];
            uint32_t filePixel = (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
            if (filePixel != lastShown_[static_cast<size_t>(y) * geo_.width + x])
                return "export pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is not what the editor showed";
        }
    }
    return "";
}

std::string EditorRun::EscapeWithoutWriting()
{
    auto before = folder_.Snapshot();
    Tap(kEsc);
    if (!duotint_.WaitForExit(10000))
        return "Esc did not end the program";
    RunEnd end = duotint_.Finish(1000);
    if (end.exitCode != 0 || !end.boxes.empty())
        return "unexpected end: " + Describe(end);
    return folder_.Snapshot() == before ? "" : "the folder changed";
}

std::string RunSession(int32_t width, int32_t height, const std::vector<Step>& steps, const char* exportKey,
                       const Params& expected)
{
    EditorRun run(width, height);
    std::string why = run.OpenToPreview();
    if (why.empty())
        why = run.PreviewToEditor();
    if (why.empty())
        why = run.DoAll(steps);
    if (why.empty())
        why = run.ExportWith(exportKey, expected);
    return why;
}

}  // namespace e2e
