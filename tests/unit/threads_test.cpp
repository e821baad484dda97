// The thread group: every thread started has run to its end once the group
// is joined or gone.
#include <gtest/gtest.h>

#include "support/threads.h"

TEST(ThreadGroup, EveryThreadHasEndedWhenJoinedOrGone)
{
    static const struct { const char* label; bool joinFirst; } kCases[] = {{"joined", true}, {"gone", false}};
    for (const auto& c : kCases) {
        volatile LONG ended = 0;
        auto work = [&ended] {
            Sleep(20);  // still running when the group is told to wait
            InterlockedIncrement(&ended);
        };
        {
            ThreadGroup threads;
            for (int i = 0; i < 4; ++i)
                ASSERT_TRUE(threads.StartWork(work)) << c.label;
            EXPECT_EQ(threads.Count(), 4u) << c.label;
            if (c.joinFirst)
                threads.Join();
        }
        EXPECT_EQ(ended, 4) << c.label;
    }
}
