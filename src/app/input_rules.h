// The rules of the three message loops as pure functions: each takes one
// decoded message and the loop's own state and says what the loop does.
// Nothing here touches a window or the program state.
#pragma once

#include <cstdint>

#include "ui/recorded_input.h"

struct PanelRow;

// One message as the loops see it.
struct Input {
    enum Kind : uint8_t {
        kNothing,      // no recording procedure received the message
        kKeyDown,
        kWheelAway,    // one notch, delta +120
        kWheelToward,  // one notch, delta -120
        kButtonDown,   // left or right
        kPaint,
        kOther,        // anything else, wheel deltas other than one notch included
    } kind;
    int32_t scanCode;    // key-down: scan code and key flags
    int32_t virtualKey;  // key-down: virtual-key code
};
Input DecodeInput(const RecordedInput& recorded);

// toggleStep: left Shift flips the wheel step between 10 and 1 first.
enum class EditorStep {
    fetch, end, refresh, recreate, exportAndEnd,
    drawPanel,       // the first message after the window was shown
    startEntry,      // numeric entry, which takes this message as its first
    leaveWheelMode,  // a digit-row key in wheel mode; the digit is not typed
    decrease, increase,
};
struct EditorAction {
    EditorStep step;
    bool toggleStep;
};
EditorAction DecideEditor(const Input& in, bool panelShown, bool wheelMode);

enum class EntryStep {
    ignore, end, recreate, exportAndEnd,
    emptyEnter,  // Enter with nothing typed
    wheelMode,   // a notch: back to the editor in wheel mode
    type,        // a key for the entry at the row under the cursor
    discard,     // Enter over no parameter
};
struct EntryAction {
    EntryStep step;
    bool toggleStep;
};
// typed: a digit or minus was typed; row: the panel row under the cursor, or
// nullptr; first: the message that started the entry, which the editor has
// acted on already, so only what it types is left.
EntryAction DecideEntry(const Input& in, bool typed, const PanelRow* row, bool first);

enum class NameStep { ignore, end, add, erase, lookup };
struct NameAction {
    NameStep step;
    char character;  // add: the character that goes on the end of the name
};
NameAction DecideName(const Input& in, int32_t nameLength);
