// The export from the program state: sourceImage through the current tint,
// behind a freshly built 54-byte header.
//
// The file goes out through the checked file layer as a replacement: the
// bytes go to a temporary file beside the target, which takes the target's
// place only once it is complete and closed, so a failed export never
// destroys an earlier one.
#include "app/export_image.h"

#include <cstring>

#include "app/picture.h"
#include "app/preview.h"
#include "app/program_state.h"
#include "image/bmp.h"
#include "image/export.h"
#include "support/error.h"
#include "support/file_io.h"

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
    WriteTintedRows(state.imageFile, state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                    CurrentTintParameters());
    CloseFile(state.imageFile);
    CheckIo();
}

void ExportAndEnd()
{
    // The window goes before the file is written, and with it the preview,
    // whose memory the export's pieces can then use.
    DestroyWindow(state.editorWindow);
    ReleasePreview();
    ExportImage();
    Terminate();
}
