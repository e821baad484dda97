// The one shape every output format's writer takes, and the three writers.
// Each is handed a WriteContext and writes a whole file into it, its own
// header and its rows; the door (write.h) chooses the writer from its table
// of formats and owns all around it: the settings, the checks, the
// metadata, the target's replacement and the memory that cannot be had.
#pragma once

#include <cstddef>
#include <cstdint>

#include "export/tinted_source.h"
#include "formats/metadata.h"
#include "support/failure.h"
#include "support/file_io.h"

struct ExportSettings;  // write.h

// The block an export's pieces go through, kept by a caller that writes
// picture after picture, so that the next one's pages are mapped already.
struct WriteScratch {
    uint8_t* block = nullptr;
    size_t size = 0;
    WriteScratch() = default;
    WriteScratch(const WriteScratch&) = delete;
    WriteScratch& operator=(const WriteScratch&) = delete;
    ~WriteScratch();
};

// The cores an export may use (0: every one) and the caller's scratch
// block (null: one of the export's own).
struct ExportThreads {
    uint32_t cores = 0;
    WriteScratch* scratch = nullptr;
};

// What a writer is handed.
struct WriteContext {
    FileRecord& file;  // open for writing, nothing written yet
    const TintedSource& source;
    // Null: the rows are source.pixels. Otherwise a file open at the first
    // of them, bottom-up, for a source without pixels: each piece or strip
    // is read as it is written or transformed, in the file's order, so no
    // copy of the whole picture is ever held (BMP and JPEG).
    FileRecord* rows;
    const ExportSettings& settings;  // the quality, chroma, level and threads
    const PictureMetadata& kept;     // what a PNG or JPEG carries besides its pixels
};

// Each writer's bytes depend only on the picture, the look, what it carries
// and its settings, never on the cores. The first failure, of a write, of a
// read of the rows or of the view, ends the writing and is returned; memory
// that cannot be had is a std::bad_alloc, which the door turns into the
// export's failure.
using FormatWriter = Failure (*)(const WriteContext& out);

// A 24-bit BMP behind a fresh 54-byte header, the rows tinted piece by piece
// on the cores given, all but one ahead of the writes (with one, each piece
// is tinted just before it is written). The padding goes out as zeros
// whatever the source holds there. A source that is a view of a file
// another program may cut short has each piece's pages read on the writing
// thread through GuardedCopy before the tint reads them, and a piece the
// view cannot serve ends the export with its viewFault; a page that faults
// later still, under the tint, is the caller's to catch (see
// EndOnFaultInView).
Failure WriteBmp(const WriteContext& out);

// A PNG by our own encoder over zlib (8-bit RGB, or RGBA with the source's
// alpha, the tint going to the straight colour), carrying `kept` as chunks
// between its header and its pixel data. The rows are filtered and
// compressed in pieces on the cores at once; each piece goes to the file as
// an IDAT chunk as soon as those before it have, so besides the source only
// a few pieces are held (at most 64 MiB). It takes no rows from a file.
Failure WritePng(const WriteContext& out);

// A JPEG by our own baseline encoder (jpeg_format.h), carrying `kept` as
// segments after its JFIF one, in strips of whole MCU rows transformed on
// the cores, its Huffman tables fitted to the counted strips
// (JpegStripCounted), or to every strip where those misfit them
// (JpegTablesMisfit). A source whose rows are all at hand has its counted
// strips transformed first, their symbols held for the tables, then each
// strip coded (the others transformed as they are) and written in order,
// so besides the counted strips only those in flight are held; a misfit
// starts the file over and codes every strip again.
// A source whose rows are still coming is read strip by strip as they come
// (TintedSource::awaitRows), each strip's symbols held until the tables
// are fitted; one whose rows stream through a ring is let go of strip by
// strip, in order, as the transform is done with them. The file is the
// same either way. A size no JPEG holds is refused before anything is
// written.
Failure WriteJpeg(const WriteContext& out);

// The rows of the ring a JPEG export of a picture `width` x `height` reads
// rows as they come through (TintedSource::ringRows): a few strips' worth,
// so that every thread has a strip and the decoding goes on a strip ahead.
// 0 for a picture no larger, or one the encoder does not write.
int32_t JpegRingRows(int32_t width, int32_t height, const ExportSettings& settings);
