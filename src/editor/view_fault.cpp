// The editor's last resort for a view of its picture: a read fault inside
// the view by code that does not read through GuardedCopy ends the program
// as a failed read.
#include "editor/view_fault.h"

#include <windows.h>

#include "editor/program_state.h"

EndingView endingView;

namespace {

// Where a thread that faulted in the view resumes, as if the faulting
// instruction had called it.
[[noreturn]] void EndAfterViewFault(const void* where)
{
    // Threads that tint the picture together may fault in it together: the
    // first to arrive reports and ends the program, and the others wait for
    // that end rather than show a second box or clean up twice.
    static volatile LONG ending = 0;
    if (InterlockedExchange(&ending, 1) != 0)
        for (;;)
            Sleep(INFINITE);
    StartRuntimeSupport();  // this thread may never have reported anything
    errorState.exitHook = nullptr;
    errorState.fileInUse = endingView.file;
    if (errorState.discardUnfinished != nullptr)
        errorState.discardUnfinished();
    RaiseRuntimeError(kErrorShortRead, where);
}

// Last in line, after GuardedCopy's handler: a fault GuardedCopy takes never
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
