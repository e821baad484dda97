// The preview's buffers live in the program state: previewSourcePixels is
// the untinted sample of the picture, previewPixels the tinted copy the
// window shows, both bottom-up 24-bit rows outStride bytes apart.
#include "editor/preview.h"

#include <cstring>
#include <initializer_list>
#include <vector>

#include "editor/blit.h"
#include "editor/downsample.h"
#include "editor/error.h"
#include "editor/picture.h"
#include "editor/program_state.h"
#include "read/pixels.h"

namespace {

// A sampled row of a picture mapped from its file, copied out of the view
// first: a page that faults is then a failed read.
const uint8_t* CopySampledRow(void* row, int32_t imageRow)
{
    auto& bytes = *static_cast<std::vector<uint8_t>*>(row);
    CopySource(static_cast<size_t>(state.srcStride) * static_cast<uint32_t>(imageRow), bytes.data(), bytes.size());
    return bytes.data();
}

}  // namespace

void DownsamplePreview()
{
    RowLayout layout = RowStride(state.previewWidth);
    state.outStride = layout.stride;
    state.outPad = layout.pad;
    uint32_t size = static_cast<uint32_t>(state.outStride) * static_cast<uint32_t>(state.previewHeight);

    if (Failure failure = AllocatePixelBuffer(size, state.previewSourceHandle, state.previewSourcePixels))
        EndWithFailure(failure);
    if (SourceIsMapped()) {
        std::vector<uint8_t> row(3 * static_cast<size_t>(state.imageWidth));
        SamplePreviewRows(CopySampledRow, &row, state.imageWidth, state.imageHeight, state.previewSourcePixels,
                          state.previewWidth, state.previewHeight, state.outStride, state.scaleFactor,
                          state.rowScaleFactor);
    } else {
        SamplePreview(state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride,
                      state.previewSourcePixels, state.previewWidth, state.previewHeight, state.outStride,
                      state.scaleFactor, state.rowScaleFactor);
    }

    if (Failure failure = AllocatePixelBuffer(size, state.previewHandle, state.previewPixels))
        EndWithFailure(failure);
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
