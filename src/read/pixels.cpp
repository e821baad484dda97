// Pixel buffers and the GDI records that describe them.
#include "read/pixels.h"

#include <cstdio>
#include <cstring>

Failure AllocatePixelBuffer(uint32_t size, HGLOBAL& handle, uint8_t*& pixels)
{
    // A block of size 0 would come back discarded and unlockable; an empty
    // picture gets one spare byte instead.
    handle = GlobalAlloc(GMEM_MOVEABLE, size == 0 ? 1 : size);
    pixels = handle != nullptr ? static_cast<uint8_t*>(GlobalLock(handle)) : nullptr;
    if (pixels != nullptr)
        return Failure();
    if (handle != nullptr)
        GlobalFree(handle);
    handle = nullptr;
    char sentence[160];
    snprintf(sentence, sizeof sentence,
             "duotint could not get %u bytes of memory for the picture; close other programs and try again.", size);
    return Refusal(kErrorOutOfMemory, sentence);
}

void FillBitmapRecords(BITMAPINFOHEADER& header, BITMAPINFO& info, int32_t width, int32_t height)
{
    memset(&header, 0, sizeof header);
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    memset(&info, 0, sizeof info);
    memcpy(&info.bmiHeader, &header, sizeof header);
}
