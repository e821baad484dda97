// The tinted picture at full resolution, as the pixel rows of a BMP file.
#pragma once

#include <cstdint>

#include "export/tinted_source.h"
#include "support/failure.h"
#include "support/file_io.h"
#include "support/pieces.h"  // NoMemoryToWrite
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

// Writes the rows of `source` through its tint to `file`, which is open
// for writing. The padding goes out as zeros whatever the source holds
// there; the source is only read. The first failure ends the writing and is
// returned. The tint runs on the cores given, all but one ahead of the
// writes; with one, each piece is tinted just before it is written.
//
// A source that is a view of a file another program may cut short has each
// piece's pages read on this thread through GuardedCopy before the tint
// reads them, and a piece the view cannot serve ends the export with its
// viewFault. A page that faults later still, under the tint, is the
// caller's to catch (see EndOnFaultInView).
Failure WriteTintedRows(FileRecord& file, const TintedSource& source, const ExportThreads& threads);

// As WriteTintedRows, for a source without pixels whose rows are read from
// `rows`, a file open for reading at the first of them: this thread reads
// each piece into the ring, where it is tinted in place, and writes it; no
// copy of the whole picture is ever held.
Failure WriteTintedRowsFrom(FileRecord& file, FileRecord& rows, const TintedSource& source,
                            const ExportThreads& threads);
