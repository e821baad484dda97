// The tinted picture at full resolution, as the pixel rows of a BMP file.
#pragma once

#include <cstdint>

#include "picture/tint.h"
#include "support/file_io.h"
#include "support/system.h"  // CoresToUse

// Writes `height` rows of `width` pixels from `source` (bottom-up, rows
// `stride` bytes apart) through the tint to `file`, which is open for
// writing. The padding goes out as zeros whatever the source holds there;
// `source` is only read. A failed write ends the program through CheckIo.
// The tint runs on `cores` cores (0: every one), all but one ahead of the
// writes; with one, each piece is tinted just before it is written.
void WriteTintedRows(FileRecord& file, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                     const TintParameters& parameters, uint32_t cores = 0);

// As WriteTintedRows, with the rows read from `rows`, a file open for
// reading at the first of them: this thread reads each piece into the ring,
// where it is tinted in place, and writes it; no copy of the whole picture
// is ever held.
void WriteTintedRowsFrom(FileRecord& file, FileRecord& rows, int32_t width, int32_t height, int32_t stride,
                         const TintParameters& parameters, uint32_t cores = 0);

// As WriteTintedRows, with `source` a view of a file that another program
// may cut short: each piece's pages are read on this thread through
// GuardedCopy before the tint reads them, and a piece the view cannot serve
// ends the program through `faulted`, called on this thread, which must not
// return. A page that faults later still, under the tint, is the caller's
// to catch (see EndOnFaultInView).
void WriteTintedRowsFromView(FileRecord& file, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                             const TintParameters& parameters, void (*faulted)(), uint32_t cores = 0);
