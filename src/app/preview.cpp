// The preview's buffers live in the program state: previewSource is the
// untinted sample of the picture, previewImage the tinted copy the window
// shows, both bottom-up 24-bit rows outStride bytes apart.
#include "app/preview.h"

#include <cstring>
#include <initializer_list>

#include "app/program_state.h"
#include "image/blit.h"
#include "image/bmp.h"
#include "image/downsample.h"

void DownsamplePreview()
{
    RowLayout layout = RowStride(state.previewWidth);
    state.outStride = layout.stride;
    state.outPad = layout.pad;
    uint32_t size = static_cast<uint32_t>(state.outStride) * static_cast<uint32_t>(state.previewHeight);

    AllocatePixelBuffer(size, state.previewSourceHandle, state.previewSourcePixels);
    SamplePreview(state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride, state.previewSourcePixels,
                  state.previewWidth, state.previewHeight, state.outStride, state.scaleFactor,
                  state.rowScaleFactor);

    AllocatePixelBuffer(size, state.previewHandle, state.previewPixels);
    memcpy(state.previewPixels, state.previewSourcePixels, size);

    FillBitmapRecords(state.previewHeader, state.previewInfo, state.previewWidth, state.previewHeight);
}

void TintPreview()
{
    TintTables tables;
    BuildTintTables(CurrentTintParameters(), tables);
    TintRows(state.previewSourcePixels, state.previewPixels, state.previewWidth, state.previewHeight, state.outStride,
             tables);
}

void BlitPreview(HDC dc)
{
    BlitRows(dc, 6, 6, state.previewInfo, state.previewPixels, state.previewWidth, state.previewHeight,
             state.outStride);
}

void RenderPreview(HDC dc)
{
    TintPreview();
    BlitPreview(dc);
}

void ReleasePreview()
{
    for (HGLOBAL* handle : {&state.previewSourceHandle, &state.previewHandle}) {
        if (*handle != nullptr) {
            GlobalUnlock(*handle);
            GlobalFree(*handle);
            *handle = nullptr;
        }
    }
    state.previewSourcePixels = nullptr;
    state.previewPixels = nullptr;
}
