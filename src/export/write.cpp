// The write path of the picture library (see write.h): the table of
// formats, the checks before any work, the metadata policy, and the one
// place a writer runs.
#include "export/write.h"

#include <new>

#include "formats/bmp_header.h"
#include "support/pieces.h"

namespace {

// What the door must know of a format besides its writer.
struct OutputKind {
    FormatWriter write;
    const char* name;       // as a sentence names the format
    int32_t mostSide;       // the longest side its common readers open; 0: any the picture has
    bool keepsAlpha;        // RGBA: the picture's alpha goes out as it is
    bool carriesMetadata;   // the picture's metadata and the record
    // Leaves out, each with a note, what of the kept metadata it cannot carry.
    void (*fitMetadata)(PictureMetadata& kept);
    bool rowsFromFile;      // takes a BMP's rows from its file as it writes them
    bool rowsAsTheyCome;    // reads the rows top first, strip by strip, while they are decoded
    // The rows of the ring it reads rows as they come through, letting go
    // of them in order; null: it holds the whole picture.
    int32_t (*ringRows)(int32_t width, int32_t height, const ExportSettings& settings);
    // Reads a view in place on threads of its own, so its pages are checked
    // before the file is begun; BMP's writer checks each piece's itself.
    bool readsViewInPlace;
};

// In OutputFormat's order.
const OutputKind kKinds[] = {
    // writer   name    mostSide           alpha  metadata  fitMetadata        file   coming ring          view
    {WriteBmp,  "BMP",  0,                 false, false,    nullptr,           true,  false, nullptr,      false},
    {WritePng,  "PNG",  0,                 true,  true,     nullptr,           false, false, nullptr,      true},
    {WriteJpeg, "JPEG", kMostReadJpegSide, false, true,     FitMetadataToJpeg, true,  true,  JpegRingRows, true},
};

const OutputKind& KindOf(OutputFormat format) { return kKinds[static_cast<size_t>(format)]; }

// The target as a sentence names it.
std::string TargetName(const FileRecord& target)
{
    if (target.wideName != nullptr)
        return ShownPath(target.wideName);
    return target.name != nullptr ? target.name : "the export";
}

// What the output carries besides its pixels, decided here for every
// export: nothing in a format that holds none. Otherwise the picture's own
// metadata, read from `header`'s file (none without one) unless all of it
// is left out, without where it was taken when that is left out, less what
// the format cannot carry; and the record.
Failure KeptMetadata(const OutputKind& kind, const ExportSettings& settings, const PictureHeader* header,
                     PictureMetadata& kept)
{
    kept = PictureMetadata();
    if (!kind.carriesMetadata)
        return Failure();
    if (header != nullptr && settings.strip != MetadataStrip::all)
        if (Failure failure = ReadKeptMetadata(*header, kept))
            return failure;
    if (settings.strip == MetadataStrip::gps)
        DropGps(kept);
    if (kind.fitMetadata != nullptr)
        kind.fitMetadata(kept);
    kept.look = settings.record;
    return Failure();
}

// Runs `work` for a replacement of `target`, and keeps what it wrote or,
// with a failure, drops all of it. The one place memory that cannot be had
// becomes the export's failure.
template <typename Work>
Failure Replacing(FileRecord& target, Work work)
{
    Failure failure;
    try {
        failure = work();
    } catch (const std::bad_alloc&) {
        failure = NoMemoryToWrite();
    }
    if (failure) {
        Abandon(target);
        return failure;
    }
    return CloseFile(target) ? Failure() : FailureOf(target);
}

// The replacement begun, once the settings' onBegin has done its part, and
// the format's writer run into it.
Failure BeginAndWrite(const OutputKind& kind, const TintedSource& source, FileRecord* rows,
                      const ExportSettings& settings, const PictureMetadata& kept, FileRecord& target)
{
    if (settings.onBegin)
        if (Failure failure = settings.onBegin())
            return failure;
    if (!OpenForReplacing(target))
        return FailureOf(target);
    return kind.write({target, source, rows, settings, kept});
}

Failure WriteLoaded(const OutputKind& kind, const SourcePicture& picture, const TintParameters& look,
                    const ExportSettings& settings, const PictureMetadata& kept, FileRecord& target)
{
    if (picture.alpha != nullptr && !kind.keepsAlpha)
        return Refusal(kErrorRefusedPicture, "duotint could not write " + TargetName(target) +
                                                 ": the picture was read with its transparency, which only PNG keeps.");
    return Replacing(target, [&] {
        // The look's tables are built here, once, for whichever writer runs.
        TintedSource source(picture.pixels, picture.width, picture.height, picture.stride, look, picture.alpha,
                            picture.alphaStride);
        if (picture.IsMapped()) {
            source.view = true;
            source.viewFault = picture.ViewFailure();
        }
        Failure failure;
        // Rows still coming are read as they come by a writer that takes
        // them top first; the others wait for all.
        if (picture.Arriving() && kind.rowsAsTheyCome)
            source.awaitRows = [&picture](int32_t rows) { return picture.AwaitRows(rows); };
        else
            failure = picture.AwaitRows(picture.height);
        // Only a writer that reads through a ring is given a picture in one.
        if (picture.ringRows != 0) {
            source.ringRows = picture.ringRows;
            source.letGo = [&picture](int32_t rows) { picture.LetGo(rows); };
        }
        // A picture cut since it was opened fails here, before any file is begun.
        if (!failure && kind.readsViewInPlace)
            failure = picture.CheckPages();
        if (!failure)
            failure = BeginAndWrite(kind, source, nullptr, settings, kept, target);
        // Only a picture known whole is written: its decoder may find the
        // damage after its last row.
        if (!failure)
            failure = picture.AwaitRows(picture.height);
        return failure;
    });
}

}  // namespace

bool KeepsAlpha(OutputFormat format) { return KindOf(format).keepsAlpha; }

Failure RefuseExport(OutputFormat format, int32_t width, int32_t height, const std::string& shownName)
{
    const OutputKind& kind = KindOf(format);
    if (kind.mostSide == 0 || (width <= kind.mostSide && height <= kind.mostSide))
        return Failure();
    const std::string name = kind.name, most = std::to_string(kind.mostSide);
    return Refusal(kErrorRefusedPicture, "duotint cannot write " + shownName + " as a " + name + ": it is " +
                                             std::to_string(width) + " x " + std::to_string(height) +
                                             " pixels, and the common " + name + " readers open at most " + most +
                                             " in either direction.");
}

Failure WritePicture(const PictureHeader& header, const SourcePicture& picture, const TintParameters& look,
                     const ExportSettings& settings, FileRecord& target)
{
    const OutputKind& kind = KindOf(settings.format);
    PictureMetadata kept;
    if (Failure failure = KeptMetadata(kind, settings, &header, kept))
        return failure;
    return WriteLoaded(kind, picture, look, settings, kept, target);
}

Failure ExportPicture(const PictureRequest& request, const PictureHeader& header, DecoderProcess& decoder,
                      const TintParameters& look, const ExportSettings& settings, FileRecord& target,
                      std::vector<std::string>& notes)
{
    const OutputKind& kind = KindOf(settings.format);
    if (Failure failure = RefuseExport(settings.format, header.width, header.height, request.name))
        return failure;
    PictureMetadata kept;
    if (kind.rowsFromFile && header.RowsStandInFile()) {
        FileRecord* rows = nullptr;
        if (Failure failure = SeekToPictureRows(header, rows))
            return failure;
        KeptMetadata(kind, settings, nullptr, kept);
        return Replacing(target, [&] {
            const TintedSource source(nullptr, header.width, header.height, RowStride(header.width).stride, look);
            return BeginAndWrite(kind, source, rows, settings, kept, target);
        });
    }
    SourcePicture picture;
    PictureRequest load = request;
    if (kind.ringRows != nullptr)
        load.ringRows = kind.ringRows(header.width, header.height, settings);
    if (Failure failure = LoadPicture(load, header, decoder, picture))
        return failure;
    if (Failure failure = KeptMetadata(kind, settings, &header, kept))
        return failure;
    notes = std::move(kept.notes);
    return WriteLoaded(kind, picture, look, settings, kept, target);
}
