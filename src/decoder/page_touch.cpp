#include "decoder/page_touch.h"

#include <windows.h>

#include <cstdint>

namespace {

const size_t kAtLeast = size_t{1} << 20;

// A block being touched. Slots are claimed without a lock, since
// StopTouching runs in operator delete, inside the libraries' own locks.
struct Touching {
    void* volatile block;
    size_t bytes;
    volatile LONG stop;
    HANDLE thread;
};
Touching touching[8];

// The first whole 4-byte word of each page, from the last page down, and
// the block's own first word for its first page, which may begin inside it.
DWORD WINAPI Touch(void* argument)
{
    const auto* job = static_cast<Touching*>(argument);
    const uintptr_t page = 4096;
    const uintptr_t start = reinterpret_cast<uintptr_t>(job->block);
    for (uintptr_t at = (start + job->bytes - 4) & ~(page - 1); at > start && job->stop == 0; at -= page)
        InterlockedAdd(reinterpret_cast<volatile LONG*>(at), 0);
    if (job->stop == 0)
        InterlockedAdd(reinterpret_cast<volatile LONG*>((start + 3) & ~uintptr_t{3}), 0);
    return 0;
}

}  // namespace

void StartTouching(void* block, size_t bytes)
{
    if (block == nullptr || bytes < kAtLeast)
        return;
    for (Touching& job : touching) {
        if (InterlockedCompareExchangePointer(&job.block, block, nullptr) != nullptr)
            continue;
        job.bytes = bytes;
        job.stop = 0;
        job.thread = CreateThread(nullptr, 64 * 1024, Touch, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (job.thread == nullptr)
            InterlockedExchangePointer(&job.block, nullptr);
        return;
    }
}

void StopTouching(void* block)
{
    if (block == nullptr)
        return;
    for (Touching& job : touching) {
        if (job.block != block)
            continue;
        job.stop = 1;
        WaitForSingleObject(job.thread, INFINITE);
        CloseHandle(job.thread);
        job.thread = nullptr;
        InterlockedExchangePointer(&job.block, nullptr);
        return;
    }
}
