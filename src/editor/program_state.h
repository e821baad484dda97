// The one record of the editor's state, which every procedure of duotint
// reads and writes by these names, and beside it every other global of the
// editor, each with why it stands apart from the record. All of them are
// zero (or empty) when the process starts. The procedures run on the
// editor's one window thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>

#include "editor/error_state.h"
#include "editor/panel.h"
#include "editor/recorded_input.h"
#include "formats/tint.h"  // kRed, kGreen, kBlue index tintA and tintB
#include "options/tint_text.h"
#include "read/read.h"
#include "support/file_io.h"

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
    // Non-zero: a PNG or JPEG export carries none of the picture's EXIF,
    // colour profile, XMP or text.
    uint8_t exportStripsMetadata;
};

extern ProgramState state;

// The editor's other globals. Why none is a field: a reset (the tests) zeroes
// the record whole, which only plain data the procedures name survives.

// Reports a failure of any procedure; it outlives every reset of the record.
extern RuntimeErrorState errorState;
// Read by the fault handler on whichever thread faults, not the window thread.
extern EndingView endingView;
// Strings that state.picturePath and state.exportPath point into.
extern std::wstring commandLinePath;
extern std::wstring commandLineExportPath;
// Where state.fileNamePtr points for a command-line name, longer than fileName.
extern char displayName[4 * MAX_PATH];
// The --format and --chroma words as typed, for the look's line; strings.
extern std::string formatWord;
extern std::string chromaWord;
// Standard output as the process got it (null: none); only the look's line uses it.
extern HANDLE standardOutput;
// The look --tint gave; the record points to it, null when none was given.
extern TintParameters commandLineLook;
// Owns a child process and the handles to it: it is ended, never zeroed.
extern DecoderProcess pictureDecoder;
// The library's account of what ReadImageHeader found, handed to LoadSourcePixels whole.
extern PictureHeader pictureHeader;
// Owns sourceImage's pixels and frees them; the record keeps their address and handles.
extern SourcePicture sourcePicture;
// Input kept from a replaced window, oldest first: a queue of any length.
extern std::deque<MSG> keptInput;

// The panel's rows with the parameters of `state` they act on: the one table
// the drawing, the wheel and numeric entry go by.
extern const PanelRow kPanelRows[kPanelRowCount];

// The parameters as the program state holds them now.
TintParameters CurrentTintParameters();
// The nine values into the state, as the editor holds them.
void SetTintParameters(const TintParameters& p);
