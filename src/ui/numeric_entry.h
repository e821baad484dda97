// Typed numbers and wheel notches on the panel row under the cursor.
#pragma once

#include <cstdint>

// How a numeric entry ended, when it hands control back to the editor loop.
enum class EntryEnd {
    returned,  // Enter (with or without a number) or a wheel notch: see the state fields
    recreate,  // a mouse button was pressed: the editor window is to be re-created
};

int32_t RowUnderCursor();
EntryEnd RunNumericEntry();
void NumericEntryStep(int32_t row);
void StoreEnteredValue();
void WheelDecrease();
void WheelIncrease();
