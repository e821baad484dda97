// The rules of the three message loops, as pure functions: each takes one
// decoded message and the loop's own state and says what the loop does.
// The loops (name popup, editor, numeric entry) fetch, decode, ask here and
// act; nothing in here touches a window or the program state.
#pragma once

#include <cstdint>

#include "ui/recorded_input.h"

// One message as the loops see it.
struct Input {
    enum Kind : uint8_t {
        kNothing,     // no recording procedure received the message
        kKeyDown,
        kWheelAway,   // one notch, delta +120
        kWheelToward, // one notch, delta -120
        kButtonDown,  // left or right
        kPaint,
        kOther,       // anything else, a wheel event of another delta included
    } kind;
    int32_t scanCode;    // key-down: scan code and key flags
    int32_t virtualKey;  // key-down: virtual-key code
};

Input DecodeInput(const RecordedInput& recorded);

// The editor loop.
enum class EditorStep {
    fetch,           // nothing more: the next message
    end,             // Esc
    refresh,         // the window painted itself
    recreate,        // a mouse button: rebuild the window
    exportAndEnd,
    drawPanel,       // the first message after the window was shown
    startEntry,      // numeric entry, which takes this message as its first
    leaveWheelMode,  // a digit-row key in wheel mode; the digit is not typed
    decrease,        // a notch away in wheel mode
    increase,        // a notch toward in wheel mode
};
struct EditorAction {
    EditorStep step;
    bool toggleStep;  // left Shift: the wheel step flips between 10 and 1 first
};
EditorAction DecideEditor(const Input& in, bool panelShown, bool wheelMode);

// Numeric entry, nested in the editor loop.
enum class EntryStep {
    ignore,        // the next message
    end,           // Esc
    recreate,      // a mouse button: back to the editor to rebuild the window
    emptyEnter,    // Enter with nothing typed: back to the editor, which redraws the panel
    exportAndEnd,
    wheelMode,     // a notch: back to the editor in wheel mode
    type,          // a key for the entry at the row under the cursor
    discard,       // Enter over no parameter: the typed number is dropped
};
struct EntryAction {
    EntryStep step;
    bool toggleStep;
};
// `typed`: a digit or minus has been typed; `row`: the panel row under the
// cursor; `first`: the message that started the entry, which the editor has
// already acted on, so only its meaning to the entry is left.
EntryAction DecideEntry(const Input& in, bool typed, int32_t row, bool first);

// The name popup.
enum class NameStep {
    ignore,  // the name is redrawn as it is
    end,     // Esc
    add,     // `character` goes on the end of the name
    erase,   // Backspace
    lookup,  // Enter: look for the named picture
};
struct NameAction {
    NameStep step;
    char character;
};
NameAction DecideName(const Input& in, int32_t nameLength);

// The character a scan code adds to the name, or 0 for none.
char NameCharacter(int32_t scanCode);
