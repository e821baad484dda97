// Reading from a mapped view of a file without trusting the view to stay
// readable: another program may shorten the file, or its disk may go away,
// and the pages past the new end then fault on the next touch. A fault while
// copying through GuardedCopy ends the copy early instead of the process.
#pragma once

#include <cstddef>

#include "support/error.h"

// Copies count bytes from `from` (inside a mapped view) to `to`; returns how
// many arrived: count, or fewer when the view faulted at that byte. A fault
// on `to` is the caller's fault and is not caught.
size_t GuardedCopy(void* to, const void* from, size_t count);

// The last resort for reads that cannot go through GuardedCopy (the
// platform's encoders read what they are given on threads of their own):
// while a view is registered, a read fault inside it by any other code ends
// the program on the faulting thread with runtime error 100 on `file`, as a
// failed read does, instead of a crash. One view at a time; `file`'s names
// must outlive the registration. Not for threads whose runtime errors
// unwind through an exit hook: nothing of ours lies below a fault to unwind.
void EndOnFaultInView(const void* start, size_t size, const FileInUse& file);
void ForgetView();
