// duotint-decode: decodes one picture for duotint with the field's own
// libraries or the platform's decoders, in a process of its own (see
// read/decode_process.h).
//
// Its own operator new and delete: libheif takes its whole-picture planes
// with new, one picture converted into the next, and fills each from its
// start on one thread. A large block is touched from its end, on a thread
// of its own, as it is filled, so the two meet in the middle with half its
// first touches each (decoder/page_touch.h). The block's delete stops the
// thread and waits for it before the block goes. They are this program's
// alone: the tests link the decoder's code without them.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "decoder/child.h"
#include "decoder/page_touch.h"

void* operator new(size_t bytes)
{
    void* block = malloc(bytes != 0 ? bytes : 1);
    if (block == nullptr)
        throw std::bad_alloc();
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
