// The full-resolution export: every pixel of sourceImage through the current
// tint, behind a freshly built 54-byte header.
//
// The file goes out through the checked file layer as a replacement: the
// bytes go to a temporary file beside the target, which takes the target's
// place only once it is complete and closed, so a failed export never
// destroys an earlier one. Rows are tinted piece by piece into a buffer of
// about a megabyte, so besides sourceImage no full-size copy of the picture
// exists; sourceImage itself is only read.
#include "image/export.h"

#include <cstring>
#include <vector>

#include "app/picture.h"
#include "app/program_state.h"
#include "image/bmp.h"
#include "image/tint.h"
#include "support/error.h"
#include "support/file_io.h"

namespace {

// Tinted bytes are gathered into pieces of about this size. A piece at least
// as large as the file layer's buffer goes to the platform as it stands, so
// the tinted bytes are written without being copied once more.
enum { kPieceBytes = 1 << 20 };

}  // namespace

void ExportImage()
{
    FillExportHeader();
    memcpy(state.fileName + state.nameLength, "-.bmp", 6);
    state.fileNamePtr = state.fileName;

    BindFile(state.imageFile, state.fileNamePtr);
    if (state.exportPath != nullptr)
        BindFileW(state.imageFile, state.exportPath);  // beside a command-line picture
    OpenForReplacing(state.imageFile);
    CheckIo();
    WriteBytes(state.imageFile, state.fileHeader, 54);
    CheckIo();

    TintTables tables;
    BuildTintTables(CurrentTintParameters(), tables);
    const size_t stride = static_cast<size_t>(state.srcStride);
    const size_t pixelBytes = 3 * static_cast<size_t>(state.imageWidth);
    // Whole rows per piece; a row longer than a piece goes in several.
    const size_t rowsPerPiece = stride < kPieceBytes ? kPieceBytes / stride : 1;
    const uint32_t piecePixels = kPieceBytes / 3;
    std::vector<uint8_t> piece(stride < kPieceBytes ? rowsPerPiece * stride : 3 * static_cast<size_t>(piecePixels) + 4);

    state.row = 0;
    while (state.row < state.imageHeight) {
        const uint8_t* line = state.sourcePixels + static_cast<size_t>(state.row) * stride;
        if (stride < kPieceBytes) {
            int32_t rows = state.imageHeight - state.row;
            if (static_cast<size_t>(rows) > rowsPerPiece)
                rows = static_cast<int32_t>(rowsPerPiece);
            // The padding is written as zeros whatever sourceImage holds there.
            TintRows(line, piece.data(), state.imageWidth, rows, state.srcStride, tables);
            WriteBytes(state.imageFile, piece.data(), static_cast<uint32_t>(rows * stride));
            CheckIo();
            state.row += rows;
            continue;
        }
        size_t done = 0;
        while (done < pixelBytes) {
            uint32_t n = static_cast<uint32_t>((pixelBytes - done) / 3);
            if (n > piecePixels)
                n = piecePixels;
            TintPixels(line + done, piece.data(), n, tables);
            size_t bytes = 3 * static_cast<size_t>(n);
            done += bytes;
            if (done == pixelBytes) {
                memset(piece.data() + bytes, 0, state.srcPad);
                bytes += state.srcPad;
            }
            WriteBytes(state.imageFile, piece.data(), static_cast<uint32_t>(bytes));
            CheckIo();
        }
        ++state.row;
    }
    CloseFile(state.imageFile);
    CheckIo();
}
