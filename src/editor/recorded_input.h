// What the recording window procedures leave for the message loops: the words
// of the last message one of them received, and whether one received any
// since the loop cleared `recorded` before its dispatch.
#pragma once

#include <windows.h>

#include <cstdint>

struct RecordedInput {
    int32_t lastMessage;     // low word of the last recorded message id
    int32_t lastWParamLow;   // virtual-key code of a key message
    int32_t lastKeyCode;     // high word of lParam: scan code and key flags
    int32_t lastWheelDelta;  // high word of wParam, unsigned
    uint8_t recorded;        // set with every recording
};

inline void Record(RecordedInput& input, UINT msg, WPARAM wParam, LPARAM lParam)
{
    input.lastMessage = static_cast<int32_t>(msg & 0xFFFF);
    input.lastWParamLow = static_cast<int32_t>(wParam & 0xFFFF);
    input.lastKeyCode = static_cast<int32_t>((static_cast<uint64_t>(lParam) >> 16) & 0xFFFF);
    input.lastWheelDelta = static_cast<int32_t>((wParam >> 16) & 0xFFFF);
    input.recorded = 1;
}
