// The panel of nine labelled values beside the preview, drawn into paintDC.
#pragma once

#include <cstdint>

void DrawPanel();
void DrawValue(long double value, int32_t top);
