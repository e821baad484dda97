// The ordered hand-off (see pieces.h): a slim lock and a condition
// variable guard which pieces are claimed, made and written.
#include "support/pieces.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <vector>

#include "support/system.h"
#include "support/threads.h"

namespace {

struct Pipeline {
    Pipeline(PieceWork& w, size_t n, size_t slots) : work(w), count(n), ring(slots) {}
    PieceWork& work;
    size_t count;
    size_t ring;
    std::vector<size_t> holds;  // the piece each slot holds made; SIZE_MAX: none
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    size_t prepared = 0;  // pieces whose slots are ready to be made into
    size_t claimed = 0;  // pieces taken by a thread so far
    size_t written = 0;  // pieces written so far
    bool stop = false;   // a piece failed, or the writer has left
    Failure failure;     // the first failed piece's
};

// Moves one of the pipeline's counts on and wakes every thread waiting on it.
void Advance(Pipeline& p, size_t& count, size_t value)
{
    AcquireSRWLockExclusive(&p.lock);
    count = value;
    ReleaseSRWLockExclusive(&p.lock);
    WakeAllConditionVariable(&p.changed);
}

bool CanClaim(const Pipeline& p) { return p.claimed < p.prepared && p.claimed < p.written + p.ring; }

// Makes piece k and hands it over, or its failure.
void Finish(Pipeline& p, size_t k, uint32_t worker)
{
    Failure failure;
    try {
        failure = p.work.Make(k, k % p.ring, worker);
    } catch (const std::bad_alloc&) {
        failure = NoMemoryToWrite();
    }
    AcquireSRWLockExclusive(&p.lock);
    if (!failure) {
        p.holds[k % p.ring] = k;
    } else {
        if (!p.failure)
            p.failure = std::move(failure);
        p.stop = true;
    }
    ReleaseSRWLockExclusive(&p.lock);
    WakeAllConditionVariable(&p.changed);
}

// Makes pieces of `p` on a crew's thread while any can be claimed.
void Help(Pipeline& p, uint32_t worker)
{
    for (;;) {
        AcquireSRWLockExclusive(&p.lock);
        while (!p.stop && p.claimed < p.count && !CanClaim(p))
            SleepConditionVariableSRW(&p.changed, &p.lock, INFINITE, 0);
        if (p.stop || !CanClaim(p)) {
            ReleaseSRWLockExclusive(&p.lock);
            return;
        }
        const size_t k = p.claimed++;
        ReleaseSRWLockExclusive(&p.lock);
        Finish(p, k, worker);
    }
}

}  // namespace

Failure NoMemoryToWrite()
{
    return NoMemoryFor("the memory to write the picture");
}

PieceCut CutPieces(int32_t width, int32_t height, size_t rowBytes, size_t pixelBytes, size_t pieceBytes)
{
    PieceCut cut{static_cast<size_t>(width), static_cast<size_t>(height), 0, 0, 1, 0};
    if (rowBytes <= pieceBytes) {
        cut.rowsPerPiece = pieceBytes / rowBytes;
        cut.pieceCount = (cut.height + cut.rowsPerPiece - 1) / cut.rowsPerPiece;
    } else {
        cut.partPixels = pieceBytes / pixelBytes;
        cut.partsPerRow = (cut.width + cut.partPixels - 1) / cut.partPixels;
        cut.pieceCount = cut.partsPerRow * cut.height;
    }
    return cut;
}

PieceSpan SpanOf(const PieceCut& cut, size_t k)
{
    if (cut.rowsPerPiece != 0) {
        const size_t first = k * cut.rowsPerPiece;
        return {first, std::min(cut.rowsPerPiece, cut.height - first), 0, cut.width};
    }
    const size_t firstPixel = k % cut.partsPerRow * cut.partPixels;
    return {k / cut.partsPerRow, 1, firstPixel, std::min(cut.partPixels, cut.width - firstPixel)};
}

uint32_t WriterThreads(uint32_t cores) { return std::min<uint32_t>(CoresToUse(cores), 16); }

// The crew's threads, each waiting for the next run's pipeline, helping
// with it, and waiting again, until the crew ends.
struct PieceCrew::Shared {
    struct Member {
        Shared* shared;
        uint32_t worker;
        void operator()();
    };
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    Pipeline* pipeline = nullptr;  // the run's, while it runs
    uint64_t run = 0;              // runs started so far
    uint32_t helping = 0;          // threads at work on the pipeline
    bool ending = false;
    // Room for every member is reserved first, so that a started thread's never moves.
    std::vector<Member> members;
    bool startFailed = false;
    ThreadGroup threads;
};

void PieceCrew::Shared::Member::operator()()
{
    Shared& s = *shared;
    uint64_t seen = 0;
    AcquireSRWLockExclusive(&s.lock);
    for (;;) {
        while (!s.ending && s.run == seen)
            SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
        if (s.ending)
            break;
        seen = s.run;
        Pipeline* p = s.pipeline;
        if (p == nullptr)
            continue;  // the run ended before this thread woke
        ++s.helping;
        ReleaseSRWLockExclusive(&s.lock);
        Help(*p, worker);
        AcquireSRWLockExclusive(&s.lock);
        --s.helping;
        WakeAllConditionVariable(&s.changed);
    }
    ReleaseSRWLockExclusive(&s.lock);
}

PieceCrew::PieceCrew(uint32_t threads) : threads_(threads), shared_(new (std::nothrow) Shared)
{
    if (!shared_)
        return;
    try {
        shared_->members.reserve(threads);
    } catch (const std::bad_alloc&) {
        shared_->startFailed = true;
    }
}

PieceCrew::~PieceCrew()
{
    if (!shared_)
        return;
    AcquireSRWLockExclusive(&shared_->lock);
    shared_->ending = true;
    ReleaseSRWLockExclusive(&shared_->lock);
    WakeAllConditionVariable(&shared_->changed);
    shared_->threads.Join();
}

namespace {

// Ends a run however the writer leaves it, a failure included: the
// pipeline stops, and is let go of once no thread is at work on it.
struct RunEnded {
    Pipeline& p;
    PieceCrew::Shared* shared;
    void End()
    {
        AcquireSRWLockExclusive(&p.lock);
        p.stop = true;
        ReleaseSRWLockExclusive(&p.lock);
        WakeAllConditionVariable(&p.changed);
        if (shared == nullptr)
            return;
        AcquireSRWLockExclusive(&shared->lock);
        shared->pipeline = nullptr;
        while (shared->helping != 0)
            SleepConditionVariableSRW(&shared->changed, &shared->lock, INFINITE, 0);
        ReleaseSRWLockExclusive(&shared->lock);
        shared = nullptr;
    }
    ~RunEnded() { End(); }
};

}  // namespace

Failure PieceCrew::Run(PieceWork& work, size_t count, size_t ring)
{
    Pipeline p(work, count, ring < 1 ? 1 : ring);
    try {
        p.holds.assign(p.ring, SIZE_MAX);
    } catch (const std::bad_alloc&) {
        return NoMemoryToWrite();
    }
    RunEnded ended{p, shared_.get()};
    if (shared_) {
        AcquireSRWLockExclusive(&shared_->lock);
        shared_->pipeline = &p;
        ++shared_->run;
        ReleaseSRWLockExclusive(&shared_->lock);
        WakeAllConditionVariable(&shared_->changed);
        // Threads start as a run has pieces for them, and stay for the next.
        std::vector<Shared::Member>& members = shared_->members;
        while (!shared_->startFailed && members.size() + 1 < threads_ && members.size() + 1 < count) {
            members.push_back({shared_.get(), static_cast<uint32_t>(members.size() + 1)});
            if (!shared_->threads.StartWork(members.back())) {
                members.pop_back();
                shared_->startFailed = true;  // fewer threads; the calling one makes pieces too
            }
        }
    }
    for (;;) {
        // Every free slot is readied before the next piece is awaited.
        for (size_t j = p.prepared; j < count && j < p.written + p.ring; j = p.prepared) {
            if (Failure failure = work.Prepare(j, j % p.ring))
                return failure;  // the threads stop helping on the way out
            Advance(p, p.prepared, j + 1);
        }
        AcquireSRWLockExclusive(&p.lock);
        while (!p.failure && p.written < count && p.holds[p.written % p.ring] != p.written && !CanClaim(p))
            SleepConditionVariableSRW(&p.changed, &p.lock, INFINITE, 0);
        if (p.failure || p.written == count) {
            ReleaseSRWLockExclusive(&p.lock);
            break;
        }
        if (p.holds[p.written % p.ring] != p.written) {
            // Nothing to write yet: this thread makes the next piece itself.
            const size_t k = p.claimed++;
            ReleaseSRWLockExclusive(&p.lock);
            Finish(p, k, 0);
            continue;
        }
        ReleaseSRWLockExclusive(&p.lock);
        const size_t k = p.written;
        if (Failure failure = work.Write(k, k % p.ring))
            return failure;  // the threads stop helping on the way out
        Advance(p, p.written, k + 1);
    }
    ended.End();
    return p.failure;
}

Failure RunPieces(PieceWork& work, size_t count, uint32_t threads, size_t ring)
{
    PieceCrew crew(threads);
    return crew.Run(work, count, ring);
}
