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
// EndOnFaultInView's handler, last in line, takes what GuardedCopy's does
// not: a read fault inside the registered view by any other code.
#include "support/guarded_read.h"

#include <windows.h>

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

// The view a fault ends the program in; start null when none.
struct EndingView {
    const char* volatile start;
    volatile size_t size;
    FileInUse file;
};
EndingView endingView;

// Where a thread that faulted in the view resumes, as if the faulting
// instruction had called it.
[[noreturn]] void EndAfterViewFault(const void* where)
{
    StartRuntimeSupport();  // this thread may never have reported anything
    errorState.exitHook = nullptr;
    errorState.fileInUse = endingView.file;
    if (errorState.discardUnfinished != nullptr)
        errorState.discardUnfinished();
    RaiseRuntimeError(kErrorShortRead, where);
}

// Last in line, after ResumeAfterViewFault: a fault GuardedCopy takes never
// reaches it.
LONG CALLBACK EndOnViewFault(EXCEPTION_POINTERS* e)
{
    const EXCEPTION_RECORD& r = *e->ExceptionRecord;
    const bool pageFault = r.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || r.ExceptionCode == EXCEPTION_IN_PAGE_ERROR;
    const char* start = endingView.start;
    if (!pageFault || r.NumberParameters < 2 || r.ExceptionInformation[0] != 0 || start == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto at = reinterpret_cast<const char*>(r.ExceptionInformation[1]);
    if (at < start || static_cast<size_t>(at - start) >= endingView.size)
        return EXCEPTION_CONTINUE_SEARCH;
    // The handler cannot end the program itself: it runs inside the
    // platform's fault dispatch, where showing a box is not safe. So the
    // thread resumes in EndAfterViewFault on its own stack, below the frame
    // that faulted, aligned as at a function's entry; it never returns.
    CONTEXT& c = *e->ContextRecord;
    c.Rcx = c.Rip;
    c.Rsp = ((c.Rsp - 256) & ~DWORD64{15}) - 8;
    c.Rip = reinterpret_cast<DWORD64>(EndAfterViewFault);
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

void EndOnFaultInView(const void* start, size_t size, const FileInUse& file)
{
    static const PVOID handler = AddVectoredExceptionHandler(0, EndOnViewFault);
    (void)handler;
    endingView.file = file;
    endingView.size = size;
    MemoryBarrier();
    endingView.start = static_cast<const char*>(start);
}

void ForgetView()
{
    endingView.start = nullptr;
    MemoryBarrier();
}
