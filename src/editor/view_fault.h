// The editor's last resort for reads of its picture's view that cannot go
// through GuardedCopy.
#pragma once

#include <cstddef>

#include "editor/error.h"

// The last resort for reads that cannot go through GuardedCopy (the
// platform's encoders read what they are given on threads of their own):
// while a view is registered, a read fault inside it by any other code ends
// the program on the faulting thread with runtime error 100 on `file`, as a
// failed read does, instead of a crash. One view at a time; `file`'s names
// must outlive the registration. Not for threads whose runtime errors
// unwind through an exit hook: nothing of ours lies below a fault to unwind.
void EndOnFaultInView(const void* start, size_t size, const FileInUse& file);
void ForgetView();
