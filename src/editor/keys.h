// The keys duotint's loops listen for, by their scan codes (set 1, as the
// high word of a key message's lParam carries them), and the groups of keys
// the loops test. A key message whose lParam also carries flags (an extended
// key, an auto-repeat) never equals a plain scan code, so a held key acts
// once and the right-hand twins of Enter and Ctrl act as nothing.
#pragma once

#include <cstdint>

namespace scan {
constexpr int32_t kEsc = 1;
constexpr int32_t kDigit1 = 2;   // the digit row runs 1 ... 9, 0
constexpr int32_t kDigit0 = 11;
constexpr int32_t kBackspace = 14;
constexpr int32_t kQ = 16;       // first letter key: the export keys start here
constexpr int32_t kEnter = 28;
constexpr int32_t kLeftShift = 42;
constexpr int32_t kSlash = 53;   // exports from the editor, not from numeric entry
}  // namespace scan

inline bool IsDigitRowKey(int32_t code) { return code >= scan::kDigit1 && code <= scan::kDigit0; }

// Letters and punctuation from Q to "/" end the editor with an export,
// except Enter and left Shift, which sit among them.
inline bool IsEditorExportKey(int32_t code)
{
    return code >= scan::kQ && code <= scan::kSlash && code != scan::kEnter && code != scan::kLeftShift;
}

// The same keys without "/".
inline bool IsEntryExportKey(int32_t code) { return code != scan::kSlash && IsEditorExportKey(code); }
