// A library the end-to-end harness loads into a running duotint.exe to count
// its GDI objects, as the unit leak test counts its own: GetGuiResources is a
// stub under Wine, so the count is the number of regions that can still be
// made before the process runs out of GDI handles. That number goes down by
// exactly one for every object the process keeps.
//
// The harness starts CountFreeRegions as a thread of the process while the
// program sits idle, and reads the number as the thread's exit code.
#include <windows.h>

extern "C" __declspec(dllexport) DWORD WINAPI CountFreeRegions(void*)
{
    const DWORD kMost = 1000000;
    HRGN* regions = static_cast<HRGN*>(VirtualAlloc(nullptr, kMost * sizeof(HRGN), MEM_COMMIT, PAGE_READWRITE));
    if (regions == nullptr)
        return 0;
    DWORD count = 0;
    while (count < kMost && (regions[count] = CreateRectRgn(0, 0, 1, 1)) != nullptr)
        ++count;
    for (DWORD i = 0; i < count; ++i)
        DeleteObject(regions[i]);
    VirtualFree(regions, 0, MEM_RELEASE);
    return count;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*) { return TRUE; }
