// GuardedCopy: one `rep movsb` in a routine of its own, and a vectored
// exception handler that recognises a read fault at exactly that instruction
// and resumes at the routine's end.
//
// Why so: the compiler has no __try, and a handler that unwinds C++ frames
// would have to cross the platform's fault dispatch, which Wine does not
// promise for frames of ours. A fault in a `rep movsb` is precise: rcx holds
// the bytes still to copy, rsi and rdi where the copy stood. So the handler
// only moves rip to the routine's last lines, which return rcx as the count
// not copied; no stack is unwound. Under Wine a page past a shortened file's
// end arrives as an access violation, under Windows as an in-page error;
// both are taken, and only for a read by that one instruction.
//
// The editor's last-resort handler (editor/view_fault.h), last in line,
// takes what GuardedCopy's does not.
#include "support/guarded_read.h"

#include <windows.h>

#include <cstdint>

#if !defined(__x86_64__)
#error "GuardedCopy's copy routine is written for x86-64"
#endif

// size_t GuardedMove(void* to /* rcx */, const void* from /* rdx */, size_t count /* r8 */):
// returns the bytes not copied. rdi and rsi belong to the caller in this ABI.
asm(R"(
    .text
    .p2align 4
    .def GuardedMove; .scl 3; .type 32; .endef
GuardedMove:
    pushq %rdi
    pushq %rsi
    movq %rcx, %rdi
    movq %rdx, %rsi
    movq %r8, %rcx
    .globl GuardedMoveCopy
GuardedMoveCopy:
    rep movsb
    .globl GuardedMoveResume
GuardedMoveResume:
    movq %rcx, %rax
    popq %rsi
    popq %rdi
    ret
)");

extern "C" {
size_t GuardedMoveEntry(void* to, const void* from, size_t count) asm("GuardedMove");
extern const char GuardedMoveCopy[];
extern const char GuardedMoveResume[];
}

namespace {

LONG CALLBACK ResumeAfterViewFault(EXCEPTION_POINTERS* e)
{
    const EXCEPTION_RECORD& r = *e->ExceptionRecord;
    const bool pageFault = r.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || r.ExceptionCode == EXCEPTION_IN_PAGE_ERROR;
    // Information[0] is 0 for a read; a write fault is on the destination.
    if (!pageFault || r.NumberParameters < 2 || r.ExceptionInformation[0] != 0)
        return EXCEPTION_CONTINUE_SEARCH;
    if (e->ContextRecord->Rip != reinterpret_cast<DWORD64>(GuardedMoveCopy))
        return EXCEPTION_CONTINUE_SEARCH;
    e->ContextRecord->Rip = reinterpret_cast<DWORD64>(GuardedMoveResume);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

size_t GuardedCopy(void* to, const void* from, size_t count)
{
    // Installed once, first in line, and never removed: it answers only for
    // the one instruction above.
    static const PVOID handler = AddVectoredExceptionHandler(1, ResumeAfterViewFault);
    if (handler == nullptr)
        return 0;
    return count - GuardedMoveEntry(to, from, count);
}

bool PagesReadable(const void* from, size_t count)
{
    const auto* start = static_cast<const uint8_t*>(from);
    uint8_t byte;
    for (size_t at = 0; at < count; at += 4096)
        if (GuardedCopy(&byte, start + at, 1) != 1)
            return false;
    return count == 0 || GuardedCopy(&byte, start + count - 1, 1) == 1;
}
