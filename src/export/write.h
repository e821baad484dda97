// Writing a tinted picture: a picture, a look, a format and a target in;
// the written file, or the Failure that says why not.
//
// Every format is written by our own code (BMP, PNG, JPEG), so that a
// file's bytes depend only on the picture, the look and the options, never
// on the platform or the number of cores; pictures are read through the
// platform's decoders, in a process of their own (read.h).
//
// The file goes out as a replacement: the bytes go to a temporary file
// beside the target, which takes the target's place only once it is
// complete and closed, so a failed export never destroys an earlier one
// and leaves nothing half-written.
#pragma once

#include <cstdint>
#include <functional>

#include "export/bmp_write.h"
#include "export/output_format.h"
#include "formats/jpeg_format.h"
#include "formats/metadata.h"
#include "formats/tint.h"
#include "read/read.h"
#include "support/failure.h"
#include "support/file_io.h"

struct ExportSettings {
    OutputFormat format = OutputFormat::bmp;
    int32_t quality = 0;   // a JPEG's, 1 to 100; 0: kDefaultJpegQuality
    JpegChroma chroma = JpegChroma::automatic;
    int32_t pngLevel = 0;  // a PNG's, 1 to 9; 0: kDefaultPngLevel
    ExportThreads threads;
    // Called once the picture is ready to go out, just before the target's
    // temporary file is made (duotint-cli makes the output's folders
    // there); a failure it gives is the export's, and nothing is written.
    std::function<Failure()> onBegin;
};

// Writes `picture` through `look` to `target`, bound to the export's path:
// a 24-bit BMP behind a fresh 54-byte header, or a PNG or JPEG carrying
// `kept` (see ReadKeptMetadata). A PNG keeps the picture's alpha, if it has
// one; a picture with alpha is refused as a BMP or JPEG (read it without).
Failure WritePicture(const SourcePicture& picture, const TintParameters& look, const ExportSettings& settings,
                     const PictureMetadata& kept, FileRecord& target);

// A BMP or JPEG export of a picture whose rows stand in its file: `rows`
// is open at the first of them (SeekToPictureRows), and each piece or strip
// is read as it is written or transformed, so no copy of the whole picture
// is ever held. A JPEG carries `kept`.
Failure WritePictureFromRows(FileRecord& rows, int32_t width, int32_t height, const TintParameters& look,
                             const ExportSettings& settings, FileRecord& target,
                             const PictureMetadata& kept = PictureMetadata());
