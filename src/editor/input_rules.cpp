// The loops' rules. Each test below is one rule, in the order the loop
// applies them; the first that matches decides.
#include "editor/input_rules.h"

#include "editor/keys.h"
#include "editor/panel.h"

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
const int32_t kMaxEntryDigits = 9;
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
    // Drawing the panel leaves wheel mode, and the message is not spent on it.
    if (!panelShown || !wheelMode)
        return {EditorStep::startEntry, !panelShown};
    if (IsKey(in, scan::kLeftShift))
        return {EditorStep::toggleStep, false};
    if (in.kind == Input::kKeyDown && IsDigitRowKey(in.scanCode))
        return {EditorStep::leaveWheelMode, false};
    if (in.kind == Input::kWheelAway)
        return {EditorStep::decrease, false};
    if (in.kind == Input::kWheelToward)
        return {EditorStep::increase, false};
    return {EditorStep::fetch, false};
}

EntryAction DecideEntry(const Input& in, bool typed, const PanelRow* row)
{
    const bool key = in.kind == Input::kKeyDown;
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
        return {EntryStep::notch, false};
    if (!key)
        return {EntryStep::ignore, false};
    if (enter && (row == nullptr || row->label == nullptr))
        return {EntryStep::discard, false};
    if (row != nullptr)
        return {EntryStep::type, toggle};
    return {EntryStep::ignore, toggle};
}

EntryKeyAction DecideEntryKey(const Input& in, int32_t digits, bool boxDrawn)
{
    if (in.kind != Input::kKeyDown)
        return {false, EntryKey::nothing, 0};
    EntryKeyAction action = {!boxDrawn, EntryKey::nothing, 0};
    // Digits and the minus go by their virtual keys, so a held digit repeats;
    // Backspace and Enter by their scan codes, so they act once.
    const int32_t vk = in.virtualKey;
    if (vk == VK_OEM_MINUS)
        action.key = EntryKey::minus;
    else if (vk >= '0' && vk <= '9' && digits < kMaxEntryDigits)
        action = {action.drawBox, EntryKey::digit, static_cast<char>(vk)};
    else if (in.scanCode == scan::kBackspace)
        action.key = digits > 1 ? EntryKey::erase : EntryKey::clear;
    else if (in.scanCode == scan::kEnter)
        action.key = EntryKey::finish;
    return action;
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
