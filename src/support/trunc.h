// Extended values to integers, toward zero: the one conversion the layout
// rule, the preview's sampling and the panel's digits all count with.
#pragma once

#include <cstdint>

// The conversion is defined only inside the 64-bit range; no value of ours
// comes near its edge, and 0 stands in beyond it.
inline int64_t Trunc(long double value)
{
    if (!(value > -9.2e18L && value < 9.2e18L))
        return 0;
    return static_cast<int64_t>(value);
}
