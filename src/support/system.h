// What the program asks of the machine it runs on: its cores, its own file,
// a thread's work so far.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The cores a count asks for: 0 means every one of the machine's.
uint32_t CoresToUse(uint32_t cores);

// The running program's full path; duotint-decode.exe stands in its folder.
std::wstring RunningProgramPath();

// 100 ns units of a FILETIME span.
uint64_t Ticks(const FILETIME& time);

// A thread's CPU time, user and kernel, in 100 ns units; 0 when the system
// does not say.
uint64_t ThreadCpu(HANDLE thread);

// The x87 unit to a 64-bit significand and rounding to nearest, as all the
// long double arithmetic of the tint relies on: for the calling thread.
void UseExtendedPrecision();
