// Writing a tinted picture, the one way out of the picture library: a
// picture, a look, the settings and a target in; the written file, or the
// Failure that says why not. Both programs call here and nowhere else in
// this room: it holds the settings and their defaults, what each format
// cannot hold, the picture's alpha, what the output keeps of the picture's
// metadata, and whether the rows come from the picture's file or from
// memory.
//
// Every format is written by our own code (BMP, PNG, JPEG; writer.h), so
// that a file's bytes depend only on the picture, the look and the
// options, never on the platform or the number of cores; pictures are read
// in a process of their own (read.h).
//
// The file goes out as a replacement: the bytes go to a temporary file
// beside the target, which takes the target's place only once it is
// complete and closed, so a failed export never destroys an earlier one
// and leaves nothing half-written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "export/output_format.h"
#include "export/writer.h"
#include "formats/jpeg_format.h"
#include "formats/tint.h"
#include "read/read.h"
#include "support/failure.h"
#include "support/file_io.h"

struct ExportSettings {
    OutputFormat format = OutputFormat::bmp;
    int32_t quality = kDefaultJpegQuality;      // a JPEG's, 1 to 100
    JpegChroma chroma = JpegChroma::automatic;  // a JPEG's
    int32_t pngLevel = kDefaultPngLevel;        // a PNG's, zlib's 1 to 9; 1 to 6 match runs only
    // What a PNG or JPEG leaves out of the picture's own metadata.
    MetadataStrip strip = MetadataStrip::none;
    // duotint's record of how the output was made (LookRecord), which a PNG
    // or JPEG carries.
    std::string record;
    ExportThreads threads;
    // The filtered bytes a PNG's piece holds at most; 0: kPieceBytes,
    // whatever the cores. Smaller pieces let a test cut a small picture.
    size_t pngPieceBytes = 0;
    // Called once the picture is ready to go out, just before the target's
    // temporary file is made (duotint-cli makes the output's folders
    // there); a failure it gives is the export's, and nothing is written.
    std::function<Failure()> onBegin;
};

// Whether `format` keeps a picture's alpha. A picture for any other is read
// flattened onto white (PictureRequest::keepAlpha); one that was not is
// refused, as it would go out with the colour of its transparent pixels.
bool KeepsAlpha(OutputFormat format);

// The refusal of a picture `width` x `height` that `format`'s common
// readers cannot open (a JPEG's sides, at most 65500), naming the picture
// as `shownName` (UTF-8); no failure for a size the format holds. Asked
// before any work: by ExportPicture itself, and by the editor as it reads
// the picture's header, before any editing the export would then lose.
Failure RefuseExport(OutputFormat format, int32_t width, int32_t height, const std::string& shownName);

// Writes `picture`, loaded from `header`'s file and found a size the format
// holds (RefuseExport), through `look` to `target`, bound to the export's
// path. A PNG or JPEG carries what `settings` keeps of the picture's
// metadata, read from the header's file, and the record.
Failure WritePicture(const PictureHeader& header, const SourcePicture& picture, const TintParameters& look,
                     const ExportSettings& settings, FileRecord& target);

// Reads the picture of `header` (ReadPictureHeader's, with `request`) and
// writes it as WritePicture does, once RefuseExport has passed it. A BMP
// whose rows stand in its file goes to a BMP or JPEG straight from the
// file, a piece or strip at a time, and brings no metadata to keep; any
// other picture is loaded by `decoder` first. `notes` gets what of the
// picture's metadata was left out, each as the end of a line that names
// the picture.
Failure ExportPicture(const PictureRequest& request, const PictureHeader& header, DecoderProcess& decoder,
                      const TintParameters& look, const ExportSettings& settings, FileRecord& target,
                      std::vector<std::string>& notes);
