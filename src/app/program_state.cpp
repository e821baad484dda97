// The program state, and the one fetch every message loop fills it with.
#include "app/program_state.h"

#include "support/error.h"

ProgramState state;

void FetchMessage()
{
    // 0 is WM_QUIT and -1 a failed fetch: either way nothing more will come.
    if (GetMessageA(&state.msg, nullptr, 0, 0) <= 0)
        Terminate();
    // Messages sent while GetMessageA waited are recorded too; only what the
    // dispatched message itself leaves counts.
    state.recorded = 0;
    DispatchMessageA(&state.msg);
}
