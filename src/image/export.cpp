// The full-resolution export: every pixel of sourceImage through the current
// tint, behind a freshly built 54-byte header.
//
// The file goes out through the checked file layer as a replacement: the
// bytes go to a temporary file beside the target, which takes the target's
// place only once it is complete and closed, so a failed export never
// destroys an earlier one. Rows are tinted piece by piece into a small buffer
// on the stack, so besides sourceImage no full-size copy of the picture
// exists; sourceImage itself is only read.
#include "image/export.h"

#include <cstring>

#include "app/program_state.h"
#include "image/bmp.h"
#include "image/tint.h"
#include "support/error.h"
#include "support/file_io.h"

namespace {

// Pixels tinted per write: whole rows of ordinary pictures, pieces of
// extremely wide ones. 3 bytes each, plus room for a row's padding.
enum { kPiecePixels = 16384 };

}  // namespace

void ExportImage()
{
    FillExportHeader();
    memcpy(state.fileName + state.nameLength, "-.bmp", 6);
    state.fileNamePtr = state.fileName;

    BindFile(state.imageFile, state.fileNamePtr);
    OpenForReplacing(state.imageFile);
    CheckIo();
    WriteBytes(state.imageFile, state.fileHeader, 54);
    CheckIo();

    TintTables tables;
    BuildTintTables(CurrentTintParameters(), tables);
    uint8_t piece[3 * kPiecePixels + 4];
    for (state.row = 0; state.row < state.imageHeight; ++state.row) {
        const uint8_t* line =
            state.sourcePixels + static_cast<size_t>(state.row) * static_cast<size_t>(state.srcStride);
        int32_t done = 0;
        do {
            int32_t n = state.imageWidth - done;
            if (n > kPiecePixels)
                n = kPiecePixels;
            TintPixels(line + 3 * static_cast<size_t>(done), piece, static_cast<uint32_t>(n), tables);
            uint32_t bytes = 3 * static_cast<uint32_t>(n);
            done += n;
            if (done == state.imageWidth) {
                // The row's padding is always written as zeros.
                memset(piece + bytes, 0, state.srcPad);
                bytes += state.srcPad;
            }
            WriteBytes(state.imageFile, piece, bytes);
            CheckIo();
        } while (done < state.imageWidth);
    }
    CloseFile(state.imageFile);
    CheckIo();
}
