// Pages touched ahead of the code that fills them. Under Wine the first
// touch of each page of fresh memory costs about as much as a decoder
// takes to fill the page; a thread of our own pays it on another core,
// beside the decoder, and leaves the decoder only its own work.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Touches each page of [first, first + bytes) once, from the last down,
// until *stop is set. A locked add of zero changes no byte, whether another
// thread has written the page already or writes it at that moment.
void TouchPagesDown(uint8_t* first, size_t bytes, const volatile LONG* stop);
