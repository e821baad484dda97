// Pages touched ahead of the code that fills them. Under Wine the first
// touch of each page of fresh memory costs about as much as a decoder
// takes to fill the page; a thread of our own pays it on another core,
// beside the decoder, and leaves the decoder only its own work.
#pragma once

#include <cstddef>

// Starts a thread that touches each page of [block, block + bytes) once,
// from the last down, for a block of 1 MiB or more: below that the thread
// costs more than the pages. A locked add of zero changes no byte, whether
// the block's owner has written the page already or writes it at that
// moment. A few blocks are touched at once; any more are left alone.
void StartTouching(void* block, size_t bytes);
// Stops the thread touching `block`, if any, and waits for it: called
// before the block goes. Safe from any thread, inside any lock.
void StopTouching(void* block);
