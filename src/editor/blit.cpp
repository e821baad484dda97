// The buffer goes to the platform as it stands (SetDIBitsToDevice), without
// a device bitmap made of it first: under Wine making that bitmap takes most
// of a render's time.
//
// It goes in bands of rows. Wine converts each call's rows into the window
// surface's format in a temporary buffer as large as the rows given; one as
// large as a whole preview is fresh memory on every call, and each of its
// pages faults in as it is filled. Bands fit in memory the heap already has,
// which makes a render faster than one call for the whole preview, or than a
// DIB section the tint writes into, blitted with BitBlt.
#include "editor/blit.h"

#include <cstring>

namespace {

enum { kBandBytes = 1 << 17 };  // of the source buffer per call

}  // namespace

void BlitRows(HDC dc, int32_t x, int32_t y, const BITMAPINFO& info, const uint8_t* pixels, int32_t width,
              int32_t height, int32_t stride)
{
    int32_t band = stride > 0 && stride < kBandBytes ? kBandBytes / stride : 1;
    BITMAPINFO bandInfo;
    memcpy(&bandInfo, &info, sizeof bandInfo);
    // Memory row 0 is the bottom row: band after band from the bottom up.
    for (int32_t first = 0; first < height; first += band) {
        int32_t rows = height - first < band ? height - first : band;
        bandInfo.bmiHeader.biHeight = rows;
        SetDIBitsToDevice(dc, x, y + (height - first - rows), static_cast<DWORD>(width), static_cast<DWORD>(rows), 0, 0,
                          0, static_cast<UINT>(rows), pixels + static_cast<size_t>(first) * stride, &bandInfo,
                          DIB_RGB_COLORS);
    }
}
