// The export from the program state: sourceImage through the current tint,
// behind a freshly built 54-byte header. A PNG or JPEG also carries what
// the picture's file says besides its pixels (picture/metadata.h).
//
// The file goes out through the checked file layer as a replacement: the
// bytes go to a temporary file beside the target, which takes the target's
// place only once it is complete and closed, so a failed export never
// destroys an earlier one.
#include "editor/export_image.h"

#include <cstring>
#include <vector>

#include "editor/picture.h"
#include "editor/program_state.h"
#include "picture/bmp.h"
#include "picture/encode.h"
#include "picture/export.h"
#include "picture/metadata.h"
#include "picture/png_encode.h"
#include "support/error.h"
#include "support/file_io.h"

namespace {

// A PNG goes to the file as it is compressed, by our own encoder; a JPEG is
// encoded whole in memory by the platform's, then written as a BMP export is.
// Both carry the metadata kept from the picture.
void ExportEncoded(const PictureMetadata& kept)
{
    // The encoders read sourceImage in place, on threads of their own: a
    // picture cut since it was opened ends here, before any file is begun.
    CheckSourcePages();
    if (state.exportFormat == OutputFormat::png) {
        PngEncoding encoding;
        encoding.level = state.exportPngLevel != 0 ? state.exportPngLevel : 6;
        encoding.cores = state.exportCores;
        OpenForReplacing(state.imageFile);
        CheckIo();
        WriteTintedPng(state.imageFile, state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                       CurrentTintParameters(), PngMetadataChunks(kept), encoding);
        CloseFile(state.imageFile);
        CheckIo();
        return;
    }
    std::vector<uint8_t> bytes;
    if (!EncodeTinted(state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                      CurrentTintParameters(), EncodedKind::jpeg, state.exportQuality != 0 ? state.exportQuality : 92,
                      bytes))
        EndWithSentence(kErrorRefusedPicture,
                        "duotint could not encode the picture as JPEG: the platform's encoder failed.");
    SpliceJpegMetadata(bytes, kept);
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
    // Read while fileName still names the picture.
    const bool keep = state.exportFormat != OutputFormat::bmp && !state.exportStrips;
    const PictureMetadata kept = keep ? ReadKeptMetadata() : PictureMetadata();
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
        ExportEncoded(kept);
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
