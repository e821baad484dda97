// The tinted picture as a JPEG file by our own baseline encoder
// (jpeg_format.h), written to the file as it is coded: strips of whole MCU
// rows are coded on the cores at once and go out in order.
#pragma once

#include <cstdint>

#include "export/output_format.h"
#include "export/tinted_source.h"
#include "formats/jpeg_format.h"
#include "formats/metadata.h"
#include "support/failure.h"
#include "support/file_io.h"

struct JpegEncoding {
    int quality = kDefaultJpegQuality;  // 1 to 100
    JpegChroma chroma = JpegChroma::automatic;
    uint32_t cores = 0;  // 0: every one
};

// Writes the rows of `source` through its tint to `file`, open for
// writing, as a whole JPEG file carrying `kept` (its EXIF, profile and XMP
// segments after the JFIF one). The bytes depend only on the picture, the
// look, `kept` and the quality and chroma, never on the cores. The first
// failure, of a write or of memory (exit code 8), ends the writing and is
// returned; a size no JPEG holds is refused (JpegSizeRefusal) before
// anything is written.
Failure WriteTintedJpeg(FileRecord& file, const TintedSource& source, const PictureMetadata& kept,
                        const JpegEncoding& encoding);

// As WriteTintedJpeg, for a source without pixels whose rows are read from
// `rows`, a file open for reading at the first of them, bottom-up: this
// thread reads each strip's rows, in the file's order, into the ring, where
// they are transformed; no copy of the whole picture is ever held.
Failure WriteTintedJpegFrom(FileRecord& file, FileRecord& rows, const TintedSource& source,
                            const PictureMetadata& kept, const JpegEncoding& encoding);

// The refusal of a picture `width` x `height` as a JPEG, whose sides are
// 16-bit, with `shownName` (the picture's, UTF-8) in its sentence; no
// failure for a size a JPEG holds.
Failure JpegSizeRefusal(int32_t width, int32_t height, const std::string& shownName);
