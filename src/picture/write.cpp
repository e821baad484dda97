// The write path of the picture library (see write.h).
#include "picture/write.h"

#include <new>
#include <vector>

#include "picture/bmp_header.h"
#include "picture/encode.h"
#include "picture/png_encode.h"

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

Failure WriteBmpHeader(FileRecord& target, int32_t width, int32_t height)
{
    uint8_t header[kBmpHeaderSize];
    PackExportHeader(header, width, height, RowStride(width).stride);
    if (!OpenForReplacing(target) || !WriteBytes(target, header, kBmpHeaderSize))
        return FailureOf(target);
    return Failure();
}

// A JPEG is encoded in memory by the platform's encoder, in strips side by
// side, then written as a BMP export is.
Failure WriteJpeg(const SourcePicture& picture, const TintParameters& look, const ExportSettings& settings,
                  const PictureMetadata& kept, FileRecord& target)
{
    std::vector<uint8_t> bytes;
    if (!EncodeTinted(picture.pixels, picture.width, picture.height, picture.stride, look, EncodedKind::jpeg,
                      settings.quality != 0 ? settings.quality : 92, bytes, settings.threads.cores))
        return Refusal(kErrorRefusedPicture,
                       "duotint could not encode the picture as JPEG: the platform's encoder failed.");
    SpliceJpegMetadata(bytes, kept);
    if (!OpenForReplacing(target))
        return FailureOf(target);
    for (size_t done = 0; done < bytes.size();) {
        const uint32_t piece = bytes.size() - done < (1u << 30) ? static_cast<uint32_t>(bytes.size() - done) : 1u << 30;
        if (!WriteBytes(target, bytes.data() + done, piece))
            return FailureOf(target);
        done += piece;
    }
    return Failure();
}

Failure WriteEncoded(const SourcePicture& picture, const TintParameters& look, const ExportSettings& settings,
                     const PictureMetadata& kept, FileRecord& target)
{
    // The encoders read a view in place, on threads of their own: a picture
    // cut since it was opened fails here, before any file is begun.
    if (Failure failure = picture.CheckPages())
        return failure;
    if (settings.format == OutputFormat::jpeg)
        return WriteJpeg(picture, look, settings, kept, target);
    // A PNG goes to the file as it is compressed, by our own encoder.
    PngEncoding encoding;
    encoding.level = settings.pngLevel != 0 ? settings.pngLevel : 6;
    encoding.cores = settings.threads.cores;
    if (!OpenForReplacing(target))
        return FailureOf(target);
    return WriteTintedPng(target, picture.pixels, picture.width, picture.height, picture.stride, look,
                          PngMetadataChunks(kept), encoding);
}

}  // namespace

Failure WritePicture(const SourcePicture& picture, const TintParameters& look, const ExportSettings& settings,
                     const PictureMetadata& kept, FileRecord& target)
{
    Failure failure;
    try {
        if (settings.format != OutputFormat::bmp) {
            failure = WriteEncoded(picture, look, settings, kept, target);
        } else if (!(failure = WriteBmpHeader(target, picture.width, picture.height))) {
            if (picture.IsMapped())
                failure = WriteTintedRowsFromView(target, picture.pixels, picture.width, picture.height,
                                                  picture.stride, look, picture.ViewFailure(), settings.threads);
            else
                failure = WriteTintedRows(target, picture.pixels, picture.width, picture.height, picture.stride, look,
                                          settings.threads);
        }
    } catch (const std::bad_alloc&) {
        failure = NoMemoryToWrite();
    }
    return Finished(target, failure);
}

Failure WritePictureFromRows(FileRecord& rows, int32_t width, int32_t height, const TintParameters& look,
                             const ExportSettings& settings, FileRecord& target)
{
    Failure failure = WriteBmpHeader(target, width, height);
    if (!failure)
        failure = WriteTintedRowsFrom(target, rows, width, height, RowStride(width).stride, look, settings.threads);
    return Finished(target, failure);
}
