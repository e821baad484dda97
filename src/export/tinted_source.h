// What every writer of an export reads: the picture's rows and the look,
// its tint tables built once for the whole export, whichever format the
// file takes and however many threads tint it.
#pragma once

#include <cstdint>
#include <functional>

#include "formats/tint.h"
#include "support/failure.h"

struct TintedSource {
    // Bottom-up rows of blue, green and red, `stride` bytes apart; null
    // when the rows are read from their file as they are written.
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    // A byte a pixel, rows as the pixels' but `alphaStride` bytes apart;
    // null: every pixel is opaque.
    const uint8_t* alpha = nullptr;
    int32_t alphaStride = 0;
    // The pixels are a view of a file that another program may cut short;
    // a read of it that fails ends the export with `viewFault`.
    bool view = false;
    Failure viewFault;
    // The rows are still coming from the decoding process: a writer that
    // reads them top first waits here for the top `rows` of them, and a
    // failure of the decoding ends the export. Empty: every row is there.
    std::function<Failure(int32_t rows)> awaitRows;
    // Not 0: the pixels hold only this many rows, a ring the decoding
    // process fills as the top rows are let go of: shown row y in slot
    // y % ringRows, the slots bottom-up. A writer that takes such a source
    // lets go of the rows in order as it is done with them, or the rows
    // below never come.
    int32_t ringRows = 0;
    std::function<void(int32_t rows)> letGo;
    TintTables tables;

    TintedSource(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, const TintParameters& look,
                 const uint8_t* alpha = nullptr, int32_t alphaStride = 0);
    // One per export, built before any writer starts; the writers read it in place.
    TintedSource(const TintedSource&) = delete;
    TintedSource& operator=(const TintedSource&) = delete;
};
