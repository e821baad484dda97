// The full-resolution export's pixel rows: every pixel of the source through
// the tint, piece by piece.
//
// A second thread tints the next piece while this one writes the previous
// one, so the tint's time hides behind the writes. The two pieces are the
// only buffers besides the source: no full-size copy of the picture exists,
// and the source itself is only read. Writes stay on the calling thread,
// where a failure ends the program through CheckIo; the worker only reads
// the source and fills the piece it was handed.
#include "image/export.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "support/error.h"

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

// Tints piece k into `out` (room for kPieceBytes + 3) and returns its size.
size_t TintPiece(const PiecePlan& plan, size_t k, uint8_t* out)
{
    if (plan.rowsPerPiece != 0) {
        size_t first = k * plan.rowsPerPiece;
        size_t rows = plan.rowsPerPiece;
        if (first + rows > static_cast<size_t>(plan.height))
            rows = static_cast<size_t>(plan.height) - first;
        TintRows(plan.source + first * plan.stride, out, plan.width, static_cast<int32_t>(rows),
                 static_cast<int32_t>(plan.stride), plan.tables);
        return rows * plan.stride;
    }
    size_t row = k / plan.piecesPerRow;
    size_t firstPixel = (k % plan.piecesPerRow) * plan.partPixels;
    uint32_t n = plan.partPixels;
    if (firstPixel + n > static_cast<size_t>(plan.width))
        n = static_cast<uint32_t>(plan.width - firstPixel);
    TintPixels(plan.source + row * plan.stride + 3 * firstPixel, out, n, plan.tables);
    size_t bytes = 3 * static_cast<size_t>(n);
    if (firstPixel + n == static_cast<size_t>(plan.width)) {
        size_t pad = plan.stride - plan.pixelBytes;
        memset(out + bytes, 0, pad);
        bytes += pad;
    }
    return bytes;
}

// Two pieces in turn. The hand-over uses a slim lock and a condition
// variable, which Wine serves in the process itself: with semaphores every
// hand-over was a round trip to the wine server, and the export measured
// slower than with no second thread at all.
struct Pipeline {
    const PiecePlan* plan;
    uint8_t* piece[2];
    size_t size[2];
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
    size_t filled;   // pieces tinted so far
    size_t written;  // pieces written so far
};

DWORD WINAPI TintAhead(void* parameter)
{
    Pipeline& p = *static_cast<Pipeline*>(parameter);
    for (size_t k = 0; k < p.plan->pieceCount; ++k) {
        AcquireSRWLockExclusive(&p.lock);
        while (k >= p.written + 2)
            SleepConditionVariableSRW(&p.changed, &p.lock, INFINITE, 0);
        ReleaseSRWLockExclusive(&p.lock);
        p.size[k & 1] = TintPiece(*p.plan, k, p.piece[k & 1]);
        AcquireSRWLockExclusive(&p.lock);
        p.filled = k + 1;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
    }
    return 0;
}

}  // namespace

void WriteTintedRows(FileRecord& file, const uint8_t* source, int32_t width, int32_t height, int32_t stride,
                     const TintParameters& parameters)
{
    PiecePlan plan = PlanPieces(source, width, height, stride);
    BuildTintTables(parameters, plan.tables);
    // Left uninitialised: every byte written out is tinted or padding first.
    std::unique_ptr<uint8_t[]> pieces(new uint8_t[2 * (static_cast<size_t>(kPieceBytes) + 4)]);

    Pipeline p{};
    p.plan = &plan;
    p.piece[0] = pieces.get();
    p.piece[1] = pieces.get() + kPieceBytes + 4;
    InitializeSRWLock(&p.lock);
    InitializeConditionVariable(&p.changed);
    HANDLE worker = CreateThread(nullptr, 0, TintAhead, &p, 0, nullptr);

    for (size_t k = 0; k < plan.pieceCount; ++k) {
        size_t bytes;
        if (worker != nullptr) {
            AcquireSRWLockExclusive(&p.lock);
            while (p.filled <= k)
                SleepConditionVariableSRW(&p.changed, &p.lock, INFINITE, 0);
            ReleaseSRWLockExclusive(&p.lock);
            bytes = p.size[k & 1];
        } else {
            // No second thread to be had: tint each piece before writing it.
            bytes = TintPiece(plan, k, p.piece[k & 1]);
        }
        WriteBytes(file, p.piece[k & 1], static_cast<uint32_t>(bytes));
        CheckIo();
        AcquireSRWLockExclusive(&p.lock);
        p.written = k + 1;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
    }
    if (worker != nullptr) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
}
