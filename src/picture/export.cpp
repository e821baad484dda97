// The full-resolution export's pixel rows: every pixel of the source through
// the tint, piece by piece.
//
// Threads on the other cores tint the next pieces while this one writes the
// previous ones, so the tint's time hides behind the writes. The ring of
// pieces is the only buffer besides the source: no full-size copy of the
// picture exists, and the source itself is only read; rows still in their
// file are read into the ring instead. Reads and writes stay on the calling
// thread, which stops at the first failure and returns it; the tinting
// threads only read the source and fill the pieces they are handed. A
// view's pages are read on this thread too, a byte a page through
// GuardedCopy, before the tint may read them in place.
#include "picture/export.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/guarded_read.h"
#include "support/threads.h"

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

// Pieces in a ring, tinted ahead by one thread per core but one (the
// writer's) while this thread writes them in order; rows from a file are
// read into their slots by the writer too, ahead of the tint. The hand-over
// uses a slim lock and a condition variable, which Wine serves in the
// process itself: with semaphores every hand-over would be a round trip to
// the wine server, which costs more than the tint the second thread saves.
struct Pipeline {
    const PiecePlan* plan;
    size_t threads;
    size_t ring;                   // slots: two for each tinting thread
    std::vector<uint8_t*> slot;
    std::vector<size_t> size;
    std::vector<size_t> holds;     // the piece a slot holds, tinted; SIZE_MAX: none
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
    size_t written = 0;            // pieces written so far
    size_t read = 0;               // pieces read into their slots so far; all of them for rows in memory
    bool stop = false;             // the writer has failed and left
};

struct Tinter {
    Pipeline* p;
    size_t first;  // this thread tints pieces first, first + threads, ...
};

DWORD WINAPI TintAhead(void* parameter)
{
    const Tinter& t = *static_cast<Tinter*>(parameter);
    Pipeline& p = *t.p;
    for (size_t k = t.first; k < p.plan->pieceCount; k += p.threads) {
        AcquireSRWLockExclusive(&p.lock);
        while ((k >= p.written + p.ring || k >= p.read) && !p.stop)
            SleepConditionVariableSRW(&p.changed, &p.lock, INFINITE, 0);
        const bool stop = p.stop;
        ReleaseSRWLockExclusive(&p.lock);
        if (stop)
            return 0;
        const size_t at = k % p.ring;
        p.size[at] = TintPiece(*p.plan, k, p.slot[at]);
        AcquireSRWLockExclusive(&p.lock);
        p.holds[at] = k;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
    }
    return 0;
}

// Ends the tinting threads however the writer leaves, a failure included.
struct TintersJoined {
    Pipeline& p;
    ThreadGroup& threads;
    ~TintersJoined()
    {
        AcquireSRWLockExclusive(&p.lock);
        p.stop = true;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
        threads.Join();
    }
};

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

// Writes the plan's pieces to `file`, tinted; their source bytes come from
// `rows` when the plan has no source. A view's page that cannot be read
// ends the export with `viewFault`.
Failure WritePieces(FileRecord& file, const PiecePlan& plan, FileRecord* rows, const ExportThreads& use,
                    const Failure& viewFault = Failure())
{
    const uint32_t cores = CoresToUse(use.cores);
    Pipeline p;
    p.plan = &plan;
    p.threads = cores - 1;
    p.ring = 2 * (p.threads > 0 ? p.threads : 1);
    p.read = rows != nullptr || plan.view ? 0 : plan.pieceCount;
    const size_t slotBytes = static_cast<size_t>(kPieceBytes) + 4;
    WriteScratch ownScratch;
    uint8_t* pieces = PieceBlock(use.scratch != nullptr ? *use.scratch : ownScratch, p.ring * slotBytes);
    if (pieces == nullptr)
        return NoMemoryToWrite();
    for (size_t i = 0; i < p.ring; ++i)
        p.slot.push_back(pieces + i * slotBytes);
    p.size.assign(p.ring, 0);
    p.holds.assign(p.ring, SIZE_MAX);
    InitializeSRWLock(&p.lock);
    InitializeConditionVariable(&p.changed);
    std::vector<Tinter> tinters(p.threads);
    ThreadGroup threads;
    TintersJoined joined{p, threads};
    for (size_t i = 0; i < p.threads; ++i) {
        tinters[i] = {&p, i};
        if (!threads.Start(TintAhead, &tinters[i]))
            break;
    }
    // Tinted ahead only when every thread could be had; otherwise each piece
    // is tinted here, just before it is written.
    const bool ahead = p.threads != 0 && threads.Count() == p.threads;
    if (!ahead) {
        AcquireSRWLockExclusive(&p.lock);
        p.stop = true;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
        threads.Join();  // none may still fill a slot
    }

    for (size_t k = 0; k < plan.pieceCount; ++k) {
        const size_t at = k % p.ring;
        if (!ahead) {
            if (rows != nullptr && !ReadBytes(*rows, p.slot[at], static_cast<uint32_t>(PieceAt(plan, k).bytes)))
                return FailureOf(*rows);
            if (plan.view && !PagesReadable(plan, k))
                return viewFault;
            p.size[at] = TintPiece(plan, k, p.slot[at]);
        } else {
            // Every free slot gets its piece's rows before this one is awaited.
            for (size_t j = p.read; j < plan.pieceCount && j < p.written + p.ring; j = p.read) {
                if (rows != nullptr) {
                    if (!ReadBytes(*rows, p.slot[j % p.ring], static_cast<uint32_t>(PieceAt(plan, j).bytes)))
                        return FailureOf(*rows);
                } else if (!PagesReadable(plan, j)) {
                    return viewFault;
                }
                AcquireSRWLockExclusive(&p.lock);
                p.read = j + 1;
                ReleaseSRWLockExclusive(&p.lock);
                WakeAllConditionVariable(&p.changed);
            }
            AcquireSRWLockExclusive(&p.lock);
            while (p.holds[at] != k)
                SleepConditionVariableSRW(&p.changed, &p.lock, INFINITE, 0);
            ReleaseSRWLockExclusive(&p.lock);
        }
        if (!WriteBytes(file, p.slot[at], static_cast<uint32_t>(p.size[at])))
            return FailureOf(file);
        AcquireSRWLockExclusive(&p.lock);
        p.written = k + 1;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
    }
    return Failure();
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

Failure NoMemoryToWrite()
{
    return Refusal(kErrorOutOfMemory,
                   "duotint could not get the memory to write the picture; close other programs and try again.");
}
