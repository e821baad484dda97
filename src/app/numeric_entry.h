// Typed numbers and wheel notches on the panel row under the cursor.
#pragma once

#include <windows.h>

#include <cstdint>

// The panel's grid rows, 0 to 10, from y 15 down.
const int32_t kPanelRowCount = 11;
// Whether a grid row stores into a parameter; rows 4 and 6 are gaps.
bool IsParameterRow(int32_t row);

int32_t RowUnderCursor();
// One key-down of an entry, read from the recorded words; the loop calls it
// for key-downs only. Drawing goes into dc, prepared for the panel.
void NumericEntryStep(HDC dc, int32_t row);
// Stores the finished entry into the parameter of the row under the cursor
// and redraws that parameter's box; over a row without one it does nothing.
void StoreEnteredValue(HDC dc);
void WheelDecrease(HDC dc);
void WheelIncrease(HDC dc);
