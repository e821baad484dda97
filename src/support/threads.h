// The program's own threads: each runs a procedure on its argument, and the
// group waits for every one of them before it goes, however its owner
// leaves. The system may give fewer threads than asked for, and every
// caller goes on with those it got.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

class ThreadGroup {
public:
    ThreadGroup() = default;
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;
    ~ThreadGroup() { Join(); }

    // Starts procedure(argument) on a thread of its own; false when no thread
    // can be had. The argument outlives the thread: the group's owner keeps it.
    bool Start(LPTHREAD_START_ROUTINE procedure, void* argument);

    // Starts work() on a thread of its own, as Start does.
    template <typename Work>
    bool StartWork(Work& work)
    {
        return Start(RunWork<Work>, &work);
    }

    size_t Count() const { return threads_.size(); }

    // Waits for every thread to end; the group is then empty.
    void Join();

private:
    template <typename Work>
    static DWORD WINAPI RunWork(void* work)
    {
        (*static_cast<Work*>(work))();
        return 0;
    }

    std::vector<HANDLE> threads_;
};
