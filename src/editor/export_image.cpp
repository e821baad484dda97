// The export from the program state: sourceImage through the current tint,
// behind a freshly built 54-byte header, written by the picture library. A
// PNG or JPEG also carries what the picture's file says besides its pixels
// (picture/metadata.h).
#include "editor/export_image.h"

#include "editor/picture.h"
#include "editor/program_state.h"
#include "picture/write.h"
#include "editor/error.h"
#include "support/file_io.h"

namespace {

// A fault in the picture's view under the tint ends the program from the
// last-resort handler: the unfinished export goes first.
void AbandonExport() { Abandon(state.imageFile); }

}  // namespace

void ExportImage()
{
    // Read while fileName still names the picture.
    const bool keep = state.exportFormat != OutputFormat::bmp && !state.exportStrips;
    const PictureMetadata kept =
        keep ? ReadKeptMetadata(PicturePath(), state.imageWidth, state.imageHeight) : PictureMetadata();
    FillExportHeader();
    // A typed name is a few letters: its ending fits the name's room.
    const std::wstring ending = OutputSuffix(state.exportFormat);
    for (size_t i = 0; i <= ending.size(); ++i)
        state.fileName[state.nameLength + i] = static_cast<char>(ending.c_str()[i]);
    state.fileNamePtr = state.fileName;

    BindFile(state.imageFile, state.fileNamePtr);
    if (state.exportPath != nullptr)
        BindFileW(state.imageFile, state.exportPath);  // beside a command-line picture

    ExportSettings settings;
    settings.format = state.exportFormat;
    settings.quality = state.exportQuality;
    settings.chroma = state.exportChroma;
    settings.pngLevel = state.exportPngLevel;
    settings.threads.cores = state.exportCores;
    // sourceImage as the state holds it: the loaded picture, or rows a
    // caller put there itself, which the export only reads.
    SourcePicture rows;
    rows.width = state.imageWidth;
    rows.height = state.imageHeight;
    rows.stride = state.srcStride;
    rows.pixels = state.sourcePixels;
    const SourcePicture& picture = SourceIsMapped() ? EditorSource() : rows;
    errorState.discardUnfinished = AbandonExport;
    const Failure failure = WritePicture(picture, CurrentTintParameters(), settings, kept, state.imageFile);
    errorState.discardUnfinished = nullptr;
    rows.pixels = nullptr;  // not the export's to free
    if (failure)
        EndWithFailure(failure);
}
