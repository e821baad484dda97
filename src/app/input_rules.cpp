// The loops' rules. Each test below is one rule, in the order the loop
// applies them; the first that matches decides.
#include "app/input_rules.h"

#include "support/keys.h"
#include "ui/panel.h"

namespace {

// US layout of scan-code set 1, lower case, from scan code 0 to 53.
// Zero marks a code that adds nothing.
const char kNameCharacters[54] = {
    0,   0,   '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 0,   0,   //  0-13
    0,   0,   'q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p', 0,   0,   // 14-27
    0,   0,   'a', 's', 'd', 'f', 'g', 'h', 'j', 'k', 'l', 0,   0,   0,   // 28-41
    0,   0,   'z', 'x', 'c', 'v', 'b', 'n', 'm', 0,   0,   '-',           // 42-53
};

const int32_t kMaxNameLength = 16;
const int32_t kWheelNotchAway = 120;
const int32_t kWheelNotchToward = 0x10000 - 120;  // -120 as an unsigned word

// The character a scan code adds to the name, or 0 for none.
char NameCharacter(int32_t scanCode)
{
    if (scanCode < 0 || scanCode > scan::kSlash)
        return 0;
    return kNameCharacters[scanCode];
}

bool IsKey(const Input& in, int32_t code) { return in.kind == Input::kKeyDown && in.scanCode == code; }

}  // namespace

Input DecodeInput(const RecordedInput& r)
{
    Input in = {Input::kOther, 0, 0};
    if (!r.recorded)
        in.kind = Input::kNothing;
    else if (r.lastMessage == WM_KEYDOWN)
        in = {Input::kKeyDown, r.lastKeyCode, r.lastWParamLow};
    else if (r.lastMessage == WM_MOUSEWHEEL && r.lastWheelDelta == kWheelNotchAway)
        in.kind = Input::kWheelAway;
    else if (r.lastMessage == WM_MOUSEWHEEL && r.lastWheelDelta == kWheelNotchToward)
        in.kind = Input::kWheelToward;
    else if (r.lastMessage == WM_LBUTTONDOWN || r.lastMessage == WM_RBUTTONDOWN)
        in.kind = Input::kButtonDown;
    else if (r.lastMessage == WM_PAINT)
        in.kind = Input::kPaint;
    return in;
}

EditorAction DecideEditor(const Input& in, bool panelShown, bool wheelMode)
{
    const bool toggle = IsKey(in, scan::kLeftShift);
    if (in.kind == Input::kNothing)
        return {EditorStep::fetch, false};
    if (IsKey(in, scan::kEsc))
        return {EditorStep::end, false};
    if (in.kind == Input::kPaint)
        return {EditorStep::refresh, false};
    if (in.kind == Input::kButtonDown)
        return {EditorStep::recreate, false};
    if (in.kind == Input::kKeyDown && IsEditorExportKey(in.scanCode))
        return {EditorStep::exportAndEnd, false};
    if (!panelShown)
        return {EditorStep::drawPanel, toggle};
    if (!wheelMode)
        return {EditorStep::startEntry, toggle};
    if (in.kind == Input::kKeyDown && IsDigitRowKey(in.scanCode))
        return {EditorStep::leaveWheelMode, false};
    if (in.kind == Input::kWheelAway)
        return {EditorStep::decrease, false};
    if (in.kind == Input::kWheelToward)
        return {EditorStep::increase, false};
    return {EditorStep::fetch, toggle};
}

EntryAction DecideEntry(const Input& in, bool typed, const PanelRow* row, bool first)
{
    const bool key = in.kind == Input::kKeyDown;
    if (first) {
        // Esc, buttons, export keys, Shift and notches were the editor's to
        // act on; what is left is what the key types.
        const bool typing = key && (in.virtualKey == VK_OEM_MINUS || (in.virtualKey >= '0' && in.virtualKey <= '9') ||
                                    in.scanCode == scan::kBackspace || in.scanCode == scan::kEnter);
        if (!typing)
            return {EntryStep::ignore, false};
    }
    const bool toggle = IsKey(in, scan::kLeftShift);
    const bool enter = IsKey(in, scan::kEnter);
    if (in.kind == Input::kNothing)
        return {EntryStep::ignore, false};
    if (IsKey(in, scan::kEsc))
        return {EntryStep::end, false};
    if (in.kind == Input::kButtonDown)
        return {EntryStep::recreate, false};
    if (enter && !typed)
        return {EntryStep::emptyEnter, false};
    if (key && IsEntryExportKey(in.scanCode))
        return {EntryStep::exportAndEnd, false};
    if (in.kind == Input::kWheelAway || in.kind == Input::kWheelToward)
        return {EntryStep::wheelMode, false};
    if (!key)
        return {EntryStep::ignore, false};
    if (enter && (row == nullptr || row->label == nullptr))
        return {EntryStep::discard, false};
    if (row != nullptr)
        return {EntryStep::type, toggle};
    return {EntryStep::ignore, toggle};
}

NameAction DecideName(const Input& in, int32_t nameLength)
{
    if (IsKey(in, scan::kEsc))
        return {NameStep::end, 0};
    if (IsKey(in, scan::kBackspace))
        return {NameStep::erase, 0};
    if (IsKey(in, scan::kEnter))
        return {NameStep::lookup, 0};
    char c = in.kind == Input::kKeyDown ? NameCharacter(in.scanCode) : 0;
    if (c != 0 && nameLength < kMaxNameLength)
        return {NameStep::add, c};
    return {NameStep::ignore, 0};
}
