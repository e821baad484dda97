// The thread group: every thread started has run to its end once the group
// is gone. The ordered hand-off: a slot is readied and made into only once
// the piece before it in that slot is written, pieces are written in order,
// and the first failure stops the making.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "support/pieces.h"
#include "support/threads.h"

TEST(ThreadGroup, EveryThreadHasEndedOnceTheGroupIsGone)
{
    volatile LONG ended = 0;
    auto work = [&ended] {
        Sleep(20);  // still running when the group goes
        InterlockedIncrement(&ended);
    };
    {
        ThreadGroup threads;
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(threads.StartWork(work));
    }
    EXPECT_EQ(ended, 4);
}

namespace {

// Records every breach of the hand-off's order. Writes are slow, so that the
// makers run ahead to the ring's end and wait there, and so are pieces past
// a failing one, so that a thread is still making one as the run fails.
class CheckedPieces : public PieceWork {
public:
    CheckedPieces(size_t ring, size_t failAt) : ring_(ring), failAt_(failAt), slots_(ring, SIZE_MAX) {}
    Failure Prepare(size_t k, size_t slot) override
    {
        Check(k < written_ + ring_ && slot == k % ring_, "prepared before its slot was free");
        prepared_ = k + 1;
        return Failure();
    }
    Failure Make(size_t k, size_t slot, uint32_t) override
    {
        ++made_;
        ++making_;
        Check(k < prepared_ && k < written_ + ring_ && slot == k % ring_, "made into a slot not ready");
        Sleep(k > failAt_ ? 5 : 0);
        if (k != failAt_)
            slots_[slot] = k;
        --making_;
        return k == failAt_ ? Refusal(kErrorRefusedPicture, "piece failed") : Failure();
    }
    Failure Write(size_t k, size_t slot) override
    {
        Sleep(k % 3 == 0 ? 1 : 0);
        Check(k == written_ && slots_[slot] == k && k < failAt_, "written out of order or unmade");
        written_ = k + 1;
        return Failure();
    }
    std::atomic<size_t> made_{0}, written_{0};
    std::atomic<int> making_{0};  // pieces being made now
    std::atomic<int> breaches_{0};

private:
    void Check(bool held, const char* what)
    {
        if (!held && breaches_++ == 0)
            ADD_FAILURE() << what;
    }
    const size_t ring_, failAt_;
    std::atomic<size_t> prepared_{0};
    std::vector<size_t> slots_;
};

}  // namespace

TEST(RunPieces, SlotsAreMadeOnlyOnceFreeAndAFailureStopsTheMaking)
{
    // `runs` 0: RunPieces; more: one crew's runs, one after another.
    static const struct {
        const char* label;
        size_t count, ring;
        uint32_t threads;
        size_t failAt;
        int runs;
    } kCases[] = {
        {"four threads, a ring of two", 200, 2, 4, SIZE_MAX, 0},
        {"two threads, a ring of three", 200, 3, 2, SIZE_MAX, 0},
        {"one thread", 50, 2, 1, SIZE_MAX, 0},
        {"piece 20 of 200 fails", 200, 4, 4, 20, 0},
        {"a crew of four threads, three runs", 200, 2, 4, SIZE_MAX, 3},
        {"a crew of four threads, piece 20 failing in each of three runs", 200, 4, 4, 20, 3},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        PieceCrew crew(c.threads);
        for (int run = 0; run < std::max(c.runs, 1); ++run) {
            CheckedPieces work(c.ring, c.failAt);
            const Failure failure =
                c.runs == 0 ? RunPieces(work, c.count, c.threads, c.ring) : crew.Run(work, c.count, c.ring);
            EXPECT_EQ(work.breaches_, 0);
            EXPECT_EQ(work.making_, 0) << "a piece still being made once its run has ended";
            const bool fails = c.failAt < c.count;
            EXPECT_EQ(failure.sentence, fails ? "piece failed" : "");
            EXPECT_EQ(work.written_ == c.count, !fails);
            // After a failure only the pieces already claimed are made: at
            // most a ring's worth past the last written.
            EXPECT_LE(work.made_, fails ? c.failAt + c.ring + 1 : c.count);
        }
    }
}
