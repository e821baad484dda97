// The program state, the panel's rows over it, and the one fetch every
// message loop fills it with.
#include "app/program_state.h"

#include "support/error.h"

thread_local ProgramState state;

const PanelRow kPanelRows[kPanelRowCount] = {
    // top, parameter, label, label left, value box top
    {15, &state.tintA[kRed], "red", 25, 15},
    {35, &state.tintA[kGreen], "green", 10, 35},
    {55, &state.tintA[kBlue], "blue", 21, 55},
    {75, &state.dispA, "disp", 22, 75},
    {95, &state.dispA, nullptr, 0, 75},
    {115, &state.distr, "distr", 17, 115},
    {135, &state.distr, nullptr, 0, 115},
    {155, &state.tintB[kRed], "red", 25, 155},
    {175, &state.tintB[kGreen], "green", 10, 175},
    {195, &state.tintB[kBlue], "blue", 21, 195},
    {215, &state.dispB, "disp", 22, 215},
};

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
