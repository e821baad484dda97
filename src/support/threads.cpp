// Threads over the platform's own: a thread made by CreateThread, waited for
// and closed by its group.
#include "support/threads.h"

#include <new>

bool ThreadGroup::Start(LPTHREAD_START_ROUTINE procedure, void* argument)
{
    // The handle's room first: a thread that runs must be waited for.
    try {
        if (threads_.size() == threads_.capacity())
            threads_.reserve(2 * threads_.size() + 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, procedure, argument, 0, nullptr);
    if (thread == nullptr)
        return false;
    threads_.push_back(thread);
    return true;
}

void ThreadGroup::Join()
{
    for (HANDLE thread : threads_) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    threads_.clear();
}
