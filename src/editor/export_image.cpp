// The export from the program state: sourceImage through the current tint,
// written by the picture library (a BMP behind a freshly built 54-byte
// header). A PNG or JPEG also carries what the picture's file says besides
// its pixels (formats/metadata.h), unless the state strips it.
#include "editor/export_image.h"

#include "editor/error.h"
#include "editor/picture.h"
#include "editor/program_state.h"
#include "export/write.h"
#include "options/settings.h"
#include "options/words.h"
#include "support/file_io.h"

namespace {

// A fault in the picture's view under the tint ends the program from the
// last-resort handler: the unfinished export goes first.
void AbandonExport() { Abandon(state.imageFile); }

}  // namespace

void ExportImage()
{
    // A typed name is a few letters: its ending fits the name's room.
    const std::wstring ending = OutputSuffix(state.exportFormat);
    for (size_t i = 0; i <= ending.size(); ++i)
        state.fileName[state.nameLength + i] = static_cast<char>(ending.c_str()[i]);
    state.fileNamePtr = state.fileName;

    BindFile(state.imageFile, state.fileNamePtr);
    if (state.exportPath != nullptr)
        BindFileW(state.imageFile, state.exportPath);  // beside a command-line picture

    // A quality or PNG level of 0: none given.
    ExportSettings settings =
        LookExportSettings(CurrentTintParameters(), state.exportFormat, state.exportQuality, state.exportChroma,
                           state.exportPngLevel, state.exportStripsMetadata ? MetadataStrip::all : MetadataStrip::none);
    errorState.discardUnfinished = AbandonExport;
    const Failure failure =
        WritePicture(pictureHeader, sourcePicture, CurrentTintParameters(), settings, state.imageFile);
    errorState.discardUnfinished = nullptr;
    if (failure)
        EndWithFailure(failure);
}
