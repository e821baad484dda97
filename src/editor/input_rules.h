// The rules of the three message loops as pure functions: each takes one
// decoded message and the loop's own state and says what the loop does.
// Nothing here touches a window or the program state.
#pragma once

#include <cstdint>

#include "editor/recorded_input.h"

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

enum class EditorStep {
    fetch, end, refresh, recreate, exportAndEnd,
    toggleStep,      // left Shift in wheel mode: the wheel step between 10 and 1
    startEntry,      // numeric entry, which takes this message as its first
    leaveWheelMode,  // a digit-row key in wheel mode; the digit is not typed
    decrease, increase,
};
struct EditorAction {
    EditorStep step;
    // The panel is drawn first: it was pending since the window was shown
    // or an Enter with nothing typed. The message is then decided as if the
    // panel had been shown, and so starts an entry.
    bool drawPanel;
};
EditorAction DecideEditor(const Input& in, bool panelShown, bool wheelMode);

// toggleStep: left Shift flips the wheel step between 10 and 1 first.
enum class EntryStep {
    ignore, end, recreate, exportAndEnd,
    emptyEnter,  // Enter with nothing typed
    notch,       // back to the editor in wheel mode
    type,        // a key for the entry at the row under the cursor
    discard,     // Enter over no parameter
};
struct EntryAction {
    EntryStep step;
    bool toggleStep;
};
// typed: a digit or minus was typed; row: the panel row under the cursor, or
// nullptr. The message that started the entry is decided as any other.
EntryAction DecideEntry(const Input& in, bool typed, const PanelRow* row);

// What a key-down of an entry does to the number being typed.
enum class EntryKey {
    nothing,
    minus,   // echo the minus: the number is negative from now on
    digit,   // add `digit` and echo the digits
    erase,   // Backspace with digits to spare: the last one goes
    clear,   // Backspace at the last digit or none: the digits and the minus go
    finish,  // Enter: the number is stored
};
struct EntryKeyAction {
    bool drawBox;  // the entry's first key-down draws its box, whatever else it does
    EntryKey key;
    char digit;    // '0' to '9' for digit
};
// digits: how many are typed; boxDrawn: whether the entry's box is drawn.
EntryKeyAction DecideEntryKey(const Input& in, int32_t digits, bool boxDrawn);

enum class NameStep { ignore, end, add, erase, lookup };
struct NameAction {
    NameStep step;
    char character;  // add: the character that goes on the end of the name
};
NameAction DecideName(const Input& in, int32_t nameLength);
