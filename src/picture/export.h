// The tinted picture at full resolution, as the pixel rows of a BMP file.
#pragma once

#include <cstdint>

#include "picture/pieces.h"  // NoMemoryToWrite
#include "picture/tint.h"
#include "support/failure.h"
#include "support/file_io.h"
#include "support/system.h"  // CoresToUse

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

// Writes `height` rows of `width` pixels from `source` (bottom-up, rows
// `stride` bytes apart) through the tint to `file`, which is open for
// writing. The padding goes out as zeros whatever the source holds there;
// `source` is only read. The first failure ends the writing and is
// returned. The tint runs on the cores given, all but one ahead of the
// writes; with one, each piece is tinted just before it is written.
Failure WriteTintedRows(FileRecord& file, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                        const TintParameters& parameters, const ExportThreads& threads);

// As WriteTintedRows, with the rows read from `rows`, a file open for
// reading at the first of them: this thread reads each piece into the ring,
// where it is tinted in place, and writes it; no copy of the whole picture
// is ever held.
Failure WriteTintedRowsFrom(FileRecord& file, FileRecord& rows, int32_t width, int32_t height, int32_t stride,
                            const TintParameters& parameters, const ExportThreads& threads);

// As WriteTintedRows, with `source` a view of a file that another program
// may cut short: each piece's pages are read on this thread through
// GuardedCopy before the tint reads them, and a piece the view cannot serve
// ends the export with `viewFault`. A page that faults later still, under
// the tint, is the caller's to catch (see EndOnFaultInView).
Failure WriteTintedRowsFromView(FileRecord& file, const uint8_t* source, int32_t width, int32_t height,
                                int32_t stride, const TintParameters& parameters, const Failure& viewFault,
                                const ExportThreads& threads);

