// duotint-decode: decodes one picture for duotint with the field's own
// libraries or the platform's decoders, in a process of its own (see
// read/decode_process.h).
//
// Its own operator new and delete: libheif takes its whole-picture planes
// with new, one picture converted into the next, and fills each from its
// start on one thread. A block of kLarge bytes or more is touched from its
// end, on a thread of its own, as it is filled, so the two meet in the
// middle with half its first touches each (decoder/page_touch.h). The
// block's delete stops the thread and waits for it before the block goes.
// They are this program's alone: the tests link the decoder's code without
// them.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "decoder/child.h"
#include "decoder/page_touch.h"

namespace {

const size_t kLarge = size_t{1} << 20;

// A block being touched. Slots are claimed without a lock, since delete
// runs inside the libraries' own locks and under any of them; the few
// blocks past the slots' count are left untouched.
struct Touching {
    void* volatile block;
    size_t bytes;
    volatile LONG stop;
    HANDLE thread;
};
Touching touching[8];

DWORD WINAPI Touch(void* argument)
{
    auto* job = static_cast<Touching*>(argument);
    TouchPagesDown(static_cast<uint8_t*>(job->block), job->bytes, &job->stop);
    return 0;
}

void StartTouching(void* block, size_t bytes)
{
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

}  // namespace

void* operator new(size_t bytes)
{
    void* block = malloc(bytes != 0 ? bytes : 1);
    if (block == nullptr)
        throw std::bad_alloc();
    if (bytes >= kLarge)
        StartTouching(block, bytes);
    return block;
}

void operator delete(void* block) noexcept
{
    if (block == nullptr)
        return;
    StopTouching(block);
    free(block);
}

void operator delete(void* block, size_t) noexcept { operator delete(block); }

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunDecoderChild(GetCommandLineW()); }
