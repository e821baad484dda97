// Typed numbers and wheel notches on the panel row under the cursor.
#pragma once

#include <windows.h>

#include <cstdint>

#include "editor/input_rules.h"
#include "editor/panel.h"

// How an entry ended, for the editor to go on from; Esc and the export keys
// end the program instead.
enum class EntryEnd {
    stored,      // Enter stored the number into the row under the cursor
    emptyEnter,  // Enter with nothing typed
    notch,       // a wheel notch, which changes nothing itself
    discarded,   // Enter over no parameter
    recreate,    // a button press: the window is rebuilt
};
// One numeric entry in a message loop of its own; `first` is the message
// that started it.
EntryEnd RunNumericEntry(Input first);

// The panel row under the cursor at the message last fetched; nullptr off
// the rows.
const PanelRow* RowUnderCursor();
// Carries out what one key-down does to the entry at `row`, drawing into dc,
// prepared for the panel.
void NumericEntryStep(HDC dc, const EntryKeyAction& action, const PanelRow& row);
// Stores the finished entry into the parameter of `row`, which is no gap,
// and redraws its box.
void StoreEnteredValue(HDC dc, const PanelRow& row);
void WheelDecrease(HDC dc);
void WheelIncrease(HDC dc);
// Left Shift: the wheel step between 10 and 1.
void ToggleStep();
