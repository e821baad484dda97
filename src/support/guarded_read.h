// Reading from a mapped view of a file without trusting the view to stay
// readable: another program may shorten the file, or its disk may go away,
// and the pages past the new end then fault on the next touch. A fault while
// copying through GuardedCopy ends the copy early instead of the process.
#pragma once

#include <cstddef>

// Copies count bytes from `from` (inside a mapped view) to `to`; returns how
// many arrived: count, or fewer when the view faulted at that byte. A fault
// on `to` is the caller's fault and is not caught.
size_t GuardedCopy(void* to, const void* from, size_t count);

// Whether every page of `count` bytes from `from` can be read now: a byte
// of each, and the last, through GuardedCopy. A reader that is not ours may
// then read them in place.
bool PagesReadable(const void* from, size_t count);
