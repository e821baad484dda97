#include "support/system.h"

#include "support/failure.h"  // kLongPathCapacity

uint32_t CoresToUse(uint32_t cores)
{
    if (cores != 0)
        return cores;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors;
}

std::wstring RunningProgramPath()
{
    wchar_t own[kLongPathCapacity];
    const DWORD n = GetModuleFileNameW(nullptr, own, kLongPathCapacity);
    return std::wstring(own, n < kLongPathCapacity ? n : 0);
}

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

uint64_t ThreadCpu(HANDLE thread)
{
    FILETIME created, ended, kernel, user;
    return GetThreadTimes(thread, &created, &ended, &kernel, &user) ? Ticks(kernel) + Ticks(user) : 0;
}

void UseExtendedPrecision()
{
    // x87 control word: precision control 11 (64-bit significand), rounding
    // control 00 (to nearest, ties to even).
    unsigned short controlWord;
    __asm__ volatile("fnstcw %0" : "=m"(controlWord));
    controlWord = static_cast<unsigned short>((controlWord & ~0x0F00u) | 0x0300u);
    __asm__ volatile("fldcw %0" : : "m"(controlWord));
}
