// The thread group: every thread started has run to its end once the group is gone.
#include <gtest/gtest.h>

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
