// The export from the program state: sourceImage through the current tint,
// behind a freshly built 54-byte header.
//
// The file goes out through the checked file layer as a replacement: the
// bytes go to a temporary file beside the target, which takes the target's
// place only once it is complete and closed, so a failed export never
// destroys an earlier one.
#include "app/export_image.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/picture.h"
#include "app/program_state.h"
#include "image/bmp.h"
#include "image/encode.h"
#include "image/export.h"
#include "support/error.h"
#include "support/file_io.h"

namespace {

// A PNG or JPEG is encoded whole in memory, then written as a BMP export is.
void ExportEncoded()
{
    const bool png = state.exportFormat == OutputFormat::png;
    std::vector<uint8_t> bytes;
    if (!EncodeTinted(state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                      CurrentTintParameters(), png ? EncodedKind::png : EncodedKind::jpeg,
                      state.exportQuality != 0 ? state.exportQuality : 92, bytes)) {
        char sentence[160];
        snprintf(sentence, sizeof sentence, "duotint could not encode the picture as %s: the platform's encoder failed.",
                 png ? "PNG" : "JPEG");
        EndWithSentence(kErrorRefusedPicture, sentence);
    }
    OpenForReplacing(state.imageFile);
    CheckIo();
    for (size_t done = 0; done < bytes.size();) {
        const uint32_t piece = bytes.size() - done < (1u << 30) ? static_cast<uint32_t>(bytes.size() - done) : 1u << 30;
        WriteBytes(state.imageFile, bytes.data() + done, piece);
        CheckIo();
        done += piece;
    }
    CloseFile(state.imageFile);
    CheckIo();
}

}  // namespace

void ExportImage(FileRecord* rows)
{
    FillExportHeader();
    // A typed name is a few letters: its ending fits the name's room.
    const std::wstring ending = OutputSuffix(state.exportFormat);
    for (size_t i = 0; i <= ending.size(); ++i)
        state.fileName[state.nameLength + i] = static_cast<char>(ending.c_str()[i]);
    state.fileNamePtr = state.fileName;

    BindFile(state.imageFile, state.fileNamePtr);
    if (state.exportPath != nullptr)
        BindFileW(state.imageFile, state.exportPath);  // beside a command-line picture
    if (state.exportFormat != OutputFormat::bmp) {
        ExportEncoded();
        return;
    }
    OpenForReplacing(state.imageFile);
    CheckIo();
    WriteBytes(state.imageFile, state.fileHeader, kBmpHeaderSize);
    CheckIo();
    if (rows != nullptr)
        WriteTintedRowsFrom(state.imageFile, *rows, state.imageWidth, state.imageHeight, state.srcStride,
                            CurrentTintParameters(), state.exportCores);
    else if (SourceIsMapped())
        WriteTintedRowsFromView(state.imageFile, state.sourcePixels, state.imageWidth, state.imageHeight,
                                state.srcStride, CurrentTintParameters(), FailSourceRead, state.exportCores);
    else
        WriteTintedRows(state.imageFile, state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                        CurrentTintParameters(), state.exportCores);
    CloseFile(state.imageFile);
    CheckIo();
}
