// The write path of the picture library (see write.h).
#include "export/write.h"

#include <new>
#include <vector>

#include "export/jpeg_encode.h"
#include "export/png_encode.h"
#include "formats/bmp_header.h"

namespace {

// What became of a replacement: with a failure, nothing of it stays.
Failure Finished(FileRecord& target, Failure failure)
{
    if (failure) {
        Abandon(target);
        return failure;
    }
    return CloseFile(target) ? Failure() : FailureOf(target);
}

// The target as a sentence names it.
std::string TargetName(const FileRecord& target)
{
    if (target.wideName != nullptr)
        return ShownPath(target.wideName);
    return target.name != nullptr ? target.name : "the export";
}

// The replacement begun, once the settings' onBegin has done its part.
Failure Begin(FileRecord& target, const ExportSettings& settings)
{
    if (settings.onBegin)
        if (Failure failure = settings.onBegin())
            return failure;
    return OpenForReplacing(target) ? Failure() : FailureOf(target);
}

Failure WriteBmpHeader(FileRecord& target, const ExportSettings& settings, int32_t width, int32_t height)
{
    uint8_t header[kBmpHeaderSize];
    PackExportHeader(header, width, height, RowStride(width).stride);
    if (Failure failure = Begin(target, settings))
        return failure;
    return WriteBytes(target, header, kBmpHeaderSize) ? Failure() : FailureOf(target);
}

JpegEncoding JpegEncodingOf(const ExportSettings& settings)
{
    JpegEncoding encoding;
    encoding.quality = settings.quality != 0 ? settings.quality : kDefaultJpegQuality;
    encoding.chroma = settings.chroma;
    encoding.cores = settings.threads.cores;
    return encoding;
}

Failure WriteEncoded(const SourcePicture& picture, const TintedSource& source, const ExportSettings& settings,
                     const PictureMetadata& kept, FileRecord& target)
{
    // The encoders read a view in place, on threads of their own: a picture
    // cut since it was opened fails here, before any file is begun.
    if (Failure failure = picture.CheckPages())
        return failure;
    if (Failure failure = Begin(target, settings))
        return failure;
    // Both go to the file as they are coded, by our own encoders.
    if (settings.format == OutputFormat::jpeg)
        return WriteTintedJpeg(target, source, kept, JpegEncodingOf(settings));
    PngEncoding encoding;
    encoding.level = settings.pngLevel != 0 ? settings.pngLevel : kDefaultPngLevel;
    encoding.cores = settings.threads.cores;
    return WriteTintedPng(target, source, PngMetadataChunks(kept), encoding);
}

}  // namespace

Failure WritePicture(const SourcePicture& picture, const TintParameters& look, const ExportSettings& settings,
                     const PictureMetadata& kept, FileRecord& target)
{
    // Refused before the target is begun. Only PNG holds alpha: a picture
    // for a BMP or JPEG comes flattened onto white by its decoder, and one
    // that was not would go out with the colour of its transparent pixels.
    if (picture.alpha != nullptr && settings.format != OutputFormat::png)
        return Refusal(kErrorRefusedPicture, "duotint could not write " + TargetName(target) +
                                                 ": the picture was read with its transparency, which only PNG keeps.");
    if (settings.format == OutputFormat::jpeg)
        if (Failure failure = JpegSizeRefusal(picture.width, picture.height, TargetName(target)))
            return failure;
    Failure failure;
    try {
        // The look's tables are built here, once, for whichever writer runs.
        TintedSource source(picture.pixels, picture.width, picture.height, picture.stride, look, picture.alpha,
                            picture.alphaStride);
        if (picture.IsMapped()) {
            source.view = true;
            source.viewFault = picture.ViewFailure();
        }
        // Rows still coming are read as they come where the writer takes
        // them top first, strip by strip (JPEG); the others wait for all.
        if (picture.Arriving() && settings.format == OutputFormat::jpeg)
            source.awaitRows = [&picture](int32_t rows) { return picture.AwaitRows(rows); };
        else
            failure = picture.AwaitRows(picture.height);
        if (!failure && settings.format != OutputFormat::bmp)
            failure = WriteEncoded(picture, source, settings, kept, target);
        else if (!failure && !(failure = WriteBmpHeader(target, settings, picture.width, picture.height)))
            failure = WriteTintedRows(target, source, settings.threads);
        // Only a picture known whole is written: its decoder may find the
        // damage after its last row.
        if (!failure)
            failure = picture.AwaitRows(picture.height);
    } catch (const std::bad_alloc&) {
        failure = NoMemoryToWrite();
    }
    return Finished(target, failure);
}

Failure WritePictureFromRows(FileRecord& rows, int32_t width, int32_t height, const TintParameters& look,
                             const ExportSettings& settings, FileRecord& target, const PictureMetadata& kept)
{
    Failure failure;
    try {
        const TintedSource source(nullptr, width, height, RowStride(width).stride, look);
        if (settings.format == OutputFormat::jpeg) {
            if (!(failure = JpegSizeRefusal(width, height, TargetName(target))))
                failure = Begin(target, settings);
            if (!failure)
                failure = WriteTintedJpegFrom(target, rows, source, kept, JpegEncodingOf(settings));
        } else if (!(failure = WriteBmpHeader(target, settings, width, height))) {
            failure = WriteTintedRowsFrom(target, rows, source, settings.threads);
        }
    } catch (const std::bad_alloc&) {
        failure = NoMemoryToWrite();
    }
    return Finished(target, failure);
}
