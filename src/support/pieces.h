// One ordered hand-off between threads for every writer's pieces: any
// thread makes any piece, each into a slot of a ring, and the calling thread
// readies the slots and writes the pieces in order as they are ready,
// making pieces itself while the next to write is not. Besides the source,
// only the ring's slots are held.
//
// The hand-over uses a slim lock and a condition variable, which Wine
// serves in the process itself: with semaphores every hand-over would be a
// round trip to the wine server, which costs more than some pieces' work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "support/failure.h"

class PieceWork {
public:
    virtual ~PieceWork() = default;
    // Makes piece k into ring slot `slot`, on whichever thread is free;
    // `worker` numbers the thread (0: the calling one), so that each keeps
    // memory of its own from piece to piece. Memory that cannot be had is
    // a std::bad_alloc, which becomes the export's failure.
    virtual Failure Make(size_t k, size_t slot, uint32_t worker) = 0;
    // Writes piece k from its slot, on the calling thread, in order.
    virtual Failure Write(size_t k, size_t slot) = 0;
    // Readies piece k's slot before any thread may make it, on the calling
    // thread, in order, as soon as the slot is free: a piece whose source is
    // a file is read into its slot here, and a view's pages are checked
    // here, where a fault is caught. Nothing by default.
    virtual Failure Prepare(size_t k, size_t slot) { return Failure(); }
};

// The bytes a writer's piece holds at most. A piece's size never follows
// the threads, because each piece is made on its own and the file's bytes
// must be the same on any machine: small enough that the pages they fill
// stay few (a fresh page costs the system more than the bytes written to
// it), large enough that the hand-over between threads costs nothing to
// speak of, and at least as large as the file layer's buffer, so that a
// piece goes to the platform as it stands.
enum : size_t { kPieceBytes = 1u << 20 };

// The threads a writer runs for `cores` (0: every one), up to 16.
uint32_t WriterThreads(uint32_t cores);

// How a writer cuts a picture's rows into pieces of at most a given size:
// whole rows per piece, or, for a row longer than a piece, several parts
// per row. Piece k follows from k alone.
struct PieceCut {
    size_t width;         // pixels a row holds
    size_t height;        // rows
    size_t rowsPerPiece;  // 0 when rows are cut
    size_t partPixels;    // pixels a part of a cut row holds
    size_t partsPerRow;   // 1 unless rows are cut
    size_t pieceCount;
};

// Cuts `height` rows of `width` pixels into pieces of at most `pieceBytes`,
// a row being `rowBytes` long in a piece (its padding or filter byte
// included) and a pixel `pixelBytes`.
PieceCut CutPieces(int32_t width, int32_t height, size_t rowBytes, size_t pixelBytes, size_t pieceBytes);

// Piece k of a cut: `rows` whole rows from row `row`, or, when rows are
// cut, `pixels` pixels of row `row` from pixel `firstPixel`.
struct PieceSpan {
    size_t row;
    size_t rows;
    size_t firstPixel;
    size_t pixels;
};
PieceSpan SpanOf(const PieceCut& cut, size_t k);

// The failure of a writer that cannot get the memory it writes through.
Failure NoMemoryToWrite();

// Makes and writes pieces 0 to count - 1 on up to `threads` threads (the
// caller's among them), at most `ring` made ahead of the writes; the first
// failure stops every thread and is returned, once they have all ended.
Failure RunPieces(PieceWork& work, size_t count, uint32_t threads, size_t ring);

// Up to `threads` threads (the caller's among them) for runs of pieces one
// after another, as RunPieces makes them: a writer whose pieces come in
// passes starts its threads once, as a thread's start costs the system
// more than some passes' work. Each run ends, a failure included, before
// Run returns; the threads end with the crew.
class PieceCrew {
public:
    explicit PieceCrew(uint32_t threads);
    PieceCrew(const PieceCrew&) = delete;
    PieceCrew& operator=(const PieceCrew&) = delete;
    ~PieceCrew();

    Failure Run(PieceWork& work, size_t count, size_t ring);

    struct Shared;

private:
    uint32_t threads_;
    std::unique_ptr<Shared> shared_;  // null when its memory cannot be had: the caller's thread alone
};
