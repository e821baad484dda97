// Typed numbers and wheel notches on the panel row under the cursor.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/panel.h"

// The panel row under the cursor at the message last fetched; nullptr off
// the rows.
const PanelRow* RowUnderCursor();
// One key-down of an entry, read from the recorded words, at `row`; the loop
// calls it for key-downs only. Drawing goes into dc, prepared for the panel.
void NumericEntryStep(HDC dc, const PanelRow& row);
// Stores the finished entry into the parameter of `row`, which is no gap,
// and redraws its box.
void StoreEnteredValue(HDC dc, const PanelRow& row);
void WheelDecrease(HDC dc);
void WheelIncrease(HDC dc);
