// The one record of the editor's state, which every procedure of duotint
// reads and writes by these names. All fields are zero when the process
// starts. A few files keep a global of their own, out of sight of the rest:
// the runtime support its error output (which has to outlive everything),
// the command line its paths, and the picture reader its decoding child and
// the picture that sourceImage shows. The procedures run on the editor's
// one window thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "picture/bmp_header.h"  // kBmpHeaderSize
#include "picture/tint.h"  // kRed, kGreen, kBlue index tintA and tintB
#include "options/tint_text.h"
#include "support/file_io.h"
#include "editor/panel.h"
#include "editor/recorded_input.h"

// The recorded input (lastMessage, lastKeyCode, ...) is part of the record;
// the window procedures write it through the RecordedInput they are given.
struct ProgramState : RecordedInput {
    uint8_t step;            // wheel increment: 10 or 1
    uint8_t outPad;          // row padding of the preview buffers
    uint8_t srcPad;          // row padding of sourceImage and of the export file
    uint8_t panelShown;
    uint8_t entryState;      // 0 nothing typed, 1 a digit or minus typed
    uint8_t entryBoxDrawn;
    uint8_t wheelMode;
    uint8_t entryNegative;
    int32_t outStride;
    int32_t srcStride;
    int32_t entryDigits;
    int32_t entryValue;
    int32_t imageHeight;
    int32_t previewHeight;
    int32_t windowHeight;
    int32_t panelLeft;
    int32_t row;
    int32_t imageWidth;
    int32_t previewWidth;
    int32_t windowWidth;
    int32_t nameLength;
    int32_t distr;
    int32_t dispA;
    int32_t dispB;
    int32_t windowLeft;
    int32_t screenRight;
    int32_t windowTop;
    int32_t screenBottom;
    long double scaleFactor;
    char fileName[32];
    char* fileNamePtr;
    int32_t tintA[3];        // red, green, blue
    int32_t tintB[3];        // red, green, blue
    HGLOBAL sourceHandle;
    HGLOBAL previewSourceHandle;
    HGLOBAL previewHandle;
    uint8_t* sourcePixels;
    uint8_t* previewSourcePixels;
    uint8_t* previewPixels;
    BITMAPINFOHEADER previewHeader;
    BITMAPINFO previewInfo;
    FileRecord imageFile;
    uint8_t fileHeader[kBmpHeaderSize];
    MSG msg;
    WNDCLASSA editorClass;
    WNDCLASSA nameClass;
    HWND editorWindow;
    HWND nameWindow;
    HBRUSH namePanelBrush;
    HBRUSH nameBackBrush;
    LOGBRUSH namePanelLogBrush;
    LOGBRUSH nameBackLogBrush;
    HPEN nullPen;
    HFONT smallFont;
    HFONT largeFont;
    RECT screenRect;

    // Beyond the fixed header fields: where the pixel rows start in the
    // picture file, and whether they are stored top-down.
    uint32_t pixelDataOffset;
    uint8_t topDown;
    // The factor the preview's rows are sampled with: scaleFactor, except
    // where that would miss rows of a very thin picture.
    long double rowScaleFactor;
    // The digit characters typed so far in numeric entry, which its echo
    // shows as typed (leading zeros included); entryDigits of them are valid.
    char entryText[9];
    // A picture named on the command line: its full path and its export's.
    // Both are null when the name popup named the picture in fileName.
    const wchar_t* picturePath;
    const wchar_t* exportPath;
    // The section sourceImage is a view of when the decoding child filled
    // it; null when our own reader read the picture into sourceHandle.
    HANDLE sourceSection;
    // The look, the export's format, a JPEG's quality and chroma and a PNG's
    // level the command line gave (--tint, --format, --quality, --chroma):
    // null, a BMP, 0, automatic and 0 when it gave none, and the editor
    // starts with its defaults and writes a 24-bit BMP, as without them; a
    // JPEG at quality 0 is written at 92, a PNG at level 0 at 6.
    const TintParameters* startLook;
    OutputFormat exportFormat;
    int32_t exportQuality;
    JpegChroma exportChroma;
    int32_t exportPngLevel;
    // The cores a BMP export's tint and a PNG export's compression may use:
    // 0 for every one.
    uint32_t exportCores;
    // Non-zero: a PNG or JPEG export carries none of the picture's EXIF,
    // colour profile, XMP or text.
    uint8_t exportStrips;
};

extern ProgramState state;

// The panel's rows with the parameters of `state` they act on: the one table
// the drawing, the wheel and numeric entry go by.
extern const PanelRow kPanelRows[kPanelRowCount];

// The parameters as the program state holds them now.
TintParameters CurrentTintParameters();
// The nine values into the state, as the editor holds them.
void SetTintParameters(const TintParameters& p);
