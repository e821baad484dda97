// The program state, the panel's rows over it, and its nine parameters as
// one look.
#include "editor/program_state.h"

#include <cstring>

ProgramState state;

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

TintParameters CurrentTintParameters()
{
    TintParameters p;
    memcpy(p.tintA, state.tintA, sizeof p.tintA);
    memcpy(p.tintB, state.tintB, sizeof p.tintB);
    p.dispA = state.dispA;
    p.dispB = state.dispB;
    p.distr = state.distr;
    return p;
}

void SetTintParameters(const TintParameters& p)
{
    memcpy(state.tintA, p.tintA, sizeof state.tintA);
    memcpy(state.tintB, p.tintB, sizeof state.tintB);
    state.dispA = p.dispA;
    state.dispB = p.dispB;
    state.distr = p.distr;
}
