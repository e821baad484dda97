// The full-resolution export's pixel rows: every pixel of the source through
// the tint, piece by piece.
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
#include "picture/export.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/pieces.h"
#include "support/guarded_read.h"

namespace {

// Tinted bytes are gathered into pieces of about this size. A piece at least
// as large as the file layer's buffer goes to the platform as it stands, so
// the tinted bytes are written without being copied once more.
enum { kPieceBytes = 1 << 20 };

// How the picture is cut: whole rows per piece, or, for a row longer than a
// piece, several pieces per row. Piece k's bytes follow from k alone.
struct PiecePlan {
    const uint8_t* source;
    int32_t width;
    int32_t height;
    size_t stride;
    size_t pixelBytes;
    size_t rowsPerPiece;   // 0 when rows are cut
    size_t piecesPerRow;   // 1 unless rows are cut
    uint32_t partPixels;   // pixels per piece of a cut row
    size_t pieceCount;
    bool view;             // the source is a view of a file that may fault
    TintTables tables;
};

PiecePlan PlanPieces(const uint8_t* source, int32_t width, int32_t height, int32_t stride)
{
    PiecePlan plan{};
    plan.source = source;
    plan.width = width;
    plan.height = height;
    plan.stride = static_cast<size_t>(stride);
    plan.pixelBytes = 3 * static_cast<size_t>(width);
    plan.piecesPerRow = 1;
    if (plan.stride <= kPieceBytes) {
        plan.rowsPerPiece = kPieceBytes / plan.stride;
        plan.pieceCount = (static_cast<size_t>(height) + plan.rowsPerPiece - 1) / plan.rowsPerPiece;
    } else {
        plan.partPixels = kPieceBytes / 3;
        plan.piecesPerRow = (static_cast<size_t>(width) + plan.partPixels - 1) / plan.partPixels;
        plan.pieceCount = plan.piecesPerRow * static_cast<size_t>(height);
    }
    return plan;
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
    if (plan.rowsPerPiece != 0) {
        const size_t first = k * plan.rowsPerPiece;
        const size_t rows = std::min(plan.rowsPerPiece, static_cast<size_t>(plan.height) - first);
        return {first * plan.stride, rows * plan.stride, 0};
    }
    const size_t row = k / plan.piecesPerRow, firstPixel = (k % plan.piecesPerRow) * plan.partPixels;
    const size_t n = std::min<size_t>(plan.partPixels, static_cast<size_t>(plan.width) - firstPixel);
    const size_t pad = firstPixel + n == static_cast<size_t>(plan.width) ? plan.stride - plan.pixelBytes : 0;
    return {row * plan.stride + 3 * firstPixel, 3 * n + pad, n};
}

// Tints piece k into `out` (room for kPieceBytes + 3) and returns its size.
// With no source in the plan, `out` holds the piece's source bytes already
// and is tinted in place.
size_t TintPiece(const PiecePlan& plan, size_t k, uint8_t* out)
{
    const Piece piece = PieceAt(plan, k);
    const uint8_t* from = plan.source != nullptr ? plan.source + piece.start : out;
    if (plan.rowsPerPiece != 0) {
        TintRows(from, out, plan.width, static_cast<int32_t>(piece.bytes / plan.stride),
                 static_cast<int32_t>(plan.stride), plan.tables);
        return piece.bytes;
    }
    TintPixels(from, out, static_cast<uint32_t>(piece.pixels), plan.tables);
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
bool PagesReadable(const PiecePlan& plan, size_t k)
{
    const Piece piece = PieceAt(plan, k);
    return ::PagesReadable(plan.source + piece.start, piece.bytes);
}

// The plan's pieces through the ordered hand-off: tinted on any thread,
// each into a slot of the caller's block; their source bytes read from
// `rows` into the slot first when the plan has no source, and a view's
// pages checked first, on the writing thread.
class PieceWriter : public PieceWork {
public:
    PieceWriter(FileRecord& file, const PiecePlan& plan, FileRecord* rows, const Failure& viewFault, uint8_t* block)
        : file_(file), plan_(plan), rows_(rows), viewFault_(viewFault), block_(block)
    {
    }

    Failure Prepare(size_t k, size_t slot) override
    {
        if (rows_ != nullptr && !ReadBytes(*rows_, Slot(slot), static_cast<uint32_t>(PieceAt(plan_, k).bytes)))
            return FailureOf(*rows_);
        if (plan_.view && !PagesReadable(plan_, k))
            return viewFault_;
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
    const Failure& viewFault_;
    uint8_t* block_;
};

// Writes the plan's pieces to `file`, tinted, on the cores given: two
// slots for each thread, so that no thread waits for the writes.
Failure WritePieces(FileRecord& file, const PiecePlan& plan, FileRecord* rows, const ExportThreads& use,
                    const Failure& viewFault = Failure())
{
    const uint32_t cores = CoresToUse(use.cores);
    const size_t ring = 2 * static_cast<size_t>(cores);
    WriteScratch ownScratch;
    uint8_t* block = PieceBlock(use.scratch != nullptr ? *use.scratch : ownScratch, ring * PieceWriter::kSlotBytes);
    if (block == nullptr)
        return NoMemoryToWrite();
    PieceWriter writer(file, plan, rows, viewFault, block);
    writer.sizes_.assign(ring, 0);
    return RunPieces(writer, plan.pieceCount, cores, ring);
}

}  // namespace

Failure WriteTintedRows(FileRecord& file, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                        const TintParameters& parameters, const ExportThreads& threads)
{
    PiecePlan plan = PlanPieces(source, width, height, stride);
    BuildTintTables(parameters, plan.tables);
    return WritePieces(file, plan, nullptr, threads);
}

Failure WriteTintedRowsFrom(FileRecord& file, FileRecord& rows, int32_t width, int32_t height, int32_t stride,
                            const TintParameters& parameters, const ExportThreads& threads)
{
    PiecePlan plan = PlanPieces(nullptr, width, height, stride);
    BuildTintTables(parameters, plan.tables);
    return WritePieces(file, plan, &rows, threads);
}

Failure WriteTintedRowsFromView(FileRecord& file, const uint8_t* source, int32_t width, int32_t height,
                                int32_t stride, const TintParameters& parameters, const Failure& viewFault,
                                const ExportThreads& threads)
{
    PiecePlan plan = PlanPieces(source, width, height, stride);
    plan.view = true;
    BuildTintTables(parameters, plan.tables);
    return WritePieces(file, plan, nullptr, threads, viewFault);
}

WriteScratch::~WriteScratch() { free(block); }
