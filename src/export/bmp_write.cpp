// The BMP writer (writer.h): a fresh 54-byte header, then every pixel of
// the source through the tint, piece by piece.
//
// Threads on the other cores tint the next pieces while this one writes the
// previous ones (the ordered hand-off of pieces.h), so the tint's time hides
// behind the writes. The ring of pieces is the only buffer besides the
// source: no full-size copy of the picture exists, and the source itself is
// only read; rows still in their file are read into the ring instead. Reads
// and writes stay on the calling thread, which stops at the first failure
// and returns it; the tinting threads only read the source and fill the
// pieces they are handed. A view's pages are read on this thread too, a
// byte a page through GuardedCopy, before the tint may read them in place.
#include "export/writer.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "export/write.h"
#include "formats/bmp_header.h"
#include "support/guarded_read.h"
#include "support/pieces.h"
#include "support/system.h"

namespace {

// How the picture is cut (pieces.h): a row in a piece is the source's,
// its padding included.
struct PiecePlan {
    const TintedSource& source;
    size_t stride;
    PieceCut cut;
};

PiecePlan PlanPieces(const TintedSource& source)
{
    const size_t stride = static_cast<size_t>(source.stride);
    return {source, stride, CutPieces(source.width, source.height, stride, 3, kPieceBytes)};
}

// Where piece k's source bytes start among the rows, how many bytes it is,
// padding included, and for a part of a cut row, its pixels. The rows are
// contiguous, so the pieces are too.
struct Piece {
    size_t start;
    size_t bytes;
    size_t pixels;
};

Piece PieceAt(const PiecePlan& plan, size_t k)
{
    const PieceSpan span = SpanOf(plan.cut, k);
    if (plan.cut.rowsPerPiece != 0)
        return {span.row * plan.stride, span.rows * plan.stride, 0};
    const size_t pixelBytes = 3 * plan.cut.width;
    const size_t pad = span.firstPixel + span.pixels == plan.cut.width ? plan.stride - pixelBytes : 0;
    return {span.row * plan.stride + 3 * span.firstPixel, 3 * span.pixels + pad, span.pixels};
}

// Tints piece k into `out` (room for kPieceBytes + 3) and returns its size.
// With no pixels in the source, `out` holds the piece's source bytes already
// and is tinted in place.
size_t TintPiece(const PiecePlan& plan, size_t k, uint8_t* out)
{
    const Piece piece = PieceAt(plan, k);
    const TintedSource& source = plan.source;
    const uint8_t* from = source.pixels != nullptr ? source.pixels + piece.start : out;
    if (plan.cut.rowsPerPiece != 0) {
        TintRows(from, out, source.width, static_cast<int32_t>(piece.bytes / plan.stride), source.stride,
                 source.tables);
        return piece.bytes;
    }
    TintPixels(from, out, static_cast<uint32_t>(piece.pixels), source.tables);
    // A row's last part ends with its padding.
    memset(out + 3 * piece.pixels, 0, piece.bytes - 3 * piece.pixels);
    return piece.bytes;
}

// The caller's block of pieces, at least `bytes` long; null when the memory
// cannot be had. Left uninitialised: every byte written out is tinted or
// padding first. Kept for the caller's next export, whose pages are then
// mapped already.
uint8_t* PieceBlock(WriteScratch& scratch, size_t bytes)
{
    if (scratch.size < bytes) {
        free(scratch.block);
        scratch.size = 0;
        scratch.block = static_cast<uint8_t*>(malloc(bytes));
        if (scratch.block == nullptr)
            return nullptr;
        scratch.size = bytes;
    }
    return scratch.block;
}

// Whether every page of piece k of a view can be read now. The tint then
// reads the view in place, sparing a copy of every piece.
bool PieceReadable(const PiecePlan& plan, size_t k)
{
    const Piece piece = PieceAt(plan, k);
    return PagesReadable(plan.source.pixels + piece.start, piece.bytes);
}

// The plan's pieces through the ordered hand-off: tinted on any thread,
// each into a slot of the caller's block; their source bytes read from
// `rows` into the slot first when the source has no pixels, and a view's
// pages checked first, on the writing thread.
class PieceWriter : public PieceWork {
public:
    PieceWriter(FileRecord& file, const PiecePlan& plan, FileRecord* rows, uint8_t* block)
        : file_(file), plan_(plan), rows_(rows), block_(block)
    {
    }

    Failure Prepare(size_t k, size_t slot) override
    {
        if (rows_ != nullptr && !ReadBytes(*rows_, Slot(slot), static_cast<uint32_t>(PieceAt(plan_, k).bytes)))
            return FailureOf(*rows_);
        if (plan_.source.view && !PieceReadable(plan_, k))
            return plan_.source.viewFault;
        return Failure();
    }

    Failure Make(size_t k, size_t slot, uint32_t) override
    {
        sizes_[slot] = TintPiece(plan_, k, Slot(slot));
        return Failure();
    }

    Failure Write(size_t, size_t slot) override
    {
        return WriteBytes(file_, Slot(slot), static_cast<uint32_t>(sizes_[slot])) ? Failure() : FailureOf(file_);
    }

    static constexpr size_t kSlotBytes = static_cast<size_t>(kPieceBytes) + 4;
    std::vector<size_t> sizes_;

private:
    uint8_t* Slot(size_t slot) { return block_ + slot * kSlotBytes; }

    FileRecord& file_;
    const PiecePlan& plan_;
    FileRecord* rows_;
    uint8_t* block_;
};

// Writes the plan's pieces to `file`, tinted, on the cores given: two
// slots for each thread, so that no thread waits for the writes.
Failure WritePieces(FileRecord& file, const TintedSource& source, FileRecord* rows, const ExportThreads& use)
{
    const PiecePlan plan = PlanPieces(source);
    const uint32_t cores = CoresToUse(use.cores);
    const size_t ring = 2 * static_cast<size_t>(cores);
    WriteScratch ownScratch;
    uint8_t* block = PieceBlock(use.scratch != nullptr ? *use.scratch : ownScratch, ring * PieceWriter::kSlotBytes);
    if (block == nullptr)
        return NoMemoryToWrite();
    PieceWriter writer(file, plan, rows, block);
    writer.sizes_.assign(ring, 0);
    return RunPieces(writer, plan.cut.pieceCount, cores, ring);
}

}  // namespace

Failure WriteBmp(const WriteContext& out)
{
    uint8_t header[kBmpHeaderSize];
    PackExportHeader(header, out.source.width, out.source.height, RowStride(out.source.width).stride);
    if (!WriteBytes(out.file, header, kBmpHeaderSize))
        return FailureOf(out.file);
    return WritePieces(out.file, out.source, out.rows, out.settings.threads);
}

WriteScratch::~WriteScratch() { free(block); }
