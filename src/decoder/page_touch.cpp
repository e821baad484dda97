#include "decoder/page_touch.h"

void TouchPagesDown(uint8_t* first, size_t bytes, const volatile LONG* stop)
{
    if (bytes == 0)
        return;
    const uintptr_t page = 4096;
    const uintptr_t start = reinterpret_cast<uintptr_t>(first);
    // The first whole 4-byte word of each page, and the block's own first
    // word for its first page, which may begin inside the page.
    uintptr_t at = (start + bytes - 4) & ~(page - 1);
    for (; at > start && *stop == 0; at -= page)
        InterlockedAdd(reinterpret_cast<volatile LONG*>(at), 0);
    if (*stop == 0 && bytes >= 8)
        InterlockedAdd(reinterpret_cast<volatile LONG*>((start + 3) & ~uintptr_t{3}), 0);
}
