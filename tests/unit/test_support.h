// Shared by the unit tests: a fresh program state, a scratch folder, whole
// files in and out, a named picture, the nine parameters at once, and boxes
// that go to stderr instead of blocking a run.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "editor/export_image.h"
#include "editor/layout.h"
#include "editor/picture.h"
#include "editor/preview.h"
#include "editor/program.h"
#include "editor/program_state.h"
#include "editor/error.h"
#include "test_files.h"

// An error box would wait for a click that never comes; tests read stderr.
inline void BoxToStderr(const char* text, const char* caption)
{
    fprintf(stderr, "[%s box] %s", caption, text);
    fflush(stderr);
}

// Zero program state (as at process start), extended precision, error
// output ready and boxes that do not block.
inline void ResetProgram()
{
    memset(&state, 0, sizeof state);
    memset(&errorState, 0, sizeof errorState);
    errorState.showBox = BoxToStderr;
    StartRuntimeSupport();
}

// Whole files and BMP pictures built by the test helpers, never by the
// program's own header code.
using support::BmpHeader;
using support::MakePicture;
using support::PackHeader;
using support::PictureHeader;
using support::ReadWholeFile;
using support::Rgb;
using support::TestPicturePath;
using support::ToWindowsPath;
using support::WriteWholeFile;

// The name popup's result: `typed` found as typed + ".bmp". The picture's
// bytes, if given, are written under that name in the current folder first.
inline bool TypeName(const char* typed, const std::vector<uint8_t>& picture = {})
{
    snprintf(state.fileName, sizeof state.fileName, "%s.bmp", typed);
    state.nameLength = static_cast<int32_t>(strlen(typed));
    state.fileNamePtr = state.fileName;
    return picture.empty() || WriteWholeFile(state.fileName, picture);
}

// The nine parameters, in the order TintParameters holds them.
inline void SetParameters(const TintParameters& p)
{
    memcpy(state.tintA, p.tintA, sizeof state.tintA);
    memcpy(state.tintB, p.tintB, sizeof state.tintB);
    state.dispA = p.dispA;
    state.dispB = p.dispB;
    state.distr = p.distr;
}

// The editor's picture as rows a test filled itself: sourcePicture borrows
// them (with no memory, section or view of its own it frees nothing), and
// the state describes them as LoadSourcePixels does.
inline void BorrowSourcePixels(std::vector<uint8_t>& bytes, int32_t width, int32_t height)
{
    ReleaseSourcePixels();
    const RowLayout layout = RowStride(width);
    sourcePicture.width = width;
    sourcePicture.height = height;
    sourcePicture.stride = layout.stride;
    sourcePicture.pixels = bytes.data();
    state.imageWidth = width;
    state.imageHeight = height;
    state.srcStride = layout.stride;
    state.srcPad = layout.pad;
    state.sourcePixels = bytes.data();
}

// The fixture of tests that drive the program's procedures: each test starts
// from a fresh program state and leaves none behind.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { ResetProgram(); }
    void TearDown() override { memset(&state, 0, sizeof state); }
};

// A shared scratch folder (support::TempFolder), made current while the
// object lives.
class ScratchFolder : public support::TempFolder {
public:
    ScratchFolder()
    {
        GetCurrentDirectoryA(MAX_PATH, previous_);
        SetCurrentDirectoryA(Path().c_str());
    }
    // The folder stops being current, and a picture opened in it is let go
    // (it stays open while mapped), before it is removed.
    ~ScratchFolder()
    {
        SetCurrentDirectoryA(previous_);
        ReleaseSourcePixels();
    }

private:
    char previous_[MAX_PATH];
};

// The picture `name` in the current folder as a fresh editor has it once the
// name popup named it: read, previewed, and exported in `format` untinted.
inline void OpenPreviewAndExport(const char* name, OutputFormat format = OutputFormat::bmp, uint8_t strips = 0)
{
    ResetProgram();
    snprintf(state.fileName, sizeof state.fileName, "%s", name);
    state.nameLength = static_cast<int32_t>(strchr(name, '.') - name);
    state.fileNamePtr = state.fileName;
    state.exportFormat = format;
    state.exportStripsMetadata = strips;
    ReadImageHeader();
    LoadSourcePixels();
    ComputeLayout();
    DownsamplePreview();
    SetEditingDefaults();
    ExportImage();
    pictureHeader.file.reset();  // the editor ends here, and with it the picture's file
}
