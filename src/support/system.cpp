#include "support/system.h"

#include "support/error.h"  // kLongPathCapacity

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
