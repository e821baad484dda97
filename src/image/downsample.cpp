// Builds previewSource by sampling sourceImage, and previewImage as its first,
// untinted copy.
#include "image/downsample.h"

#include <cstring>
#include <vector>

#include "app/layout.h"
#include "app/program_state.h"
#include "image/bmp.h"

namespace {

// The sampled index along one axis, kept at most `last`. A picture taller
// than wide that is fitted to the screen's height gets a truncated width and
// a scale factor that follows it, so its last preview rows would otherwise
// fall below the picture's last row.
int64_t SampledIndex(int32_t i, long double scaleFactor, int32_t last)
{
    int64_t s = Trunc(static_cast<long double>(i) * scaleFactor);
    return s > last ? last : s;
}

}  // namespace

void SamplePreview(const uint8_t* source, int32_t imageWidth, int32_t imageHeight, int32_t srcStride,
                   uint8_t* destination, int32_t previewWidth, int32_t previewHeight, int32_t outStride,
                   long double scaleFactor)
{
    if (previewWidth <= 0 || previewHeight <= 0)
        return;
    // The same products for every row: the column offsets are worked out once.
    std::vector<uint32_t> columnOffset(static_cast<size_t>(previewWidth));
    for (int32_t c = 0; c < previewWidth; ++c)
        columnOffset[c] = static_cast<uint32_t>(3 * SampledIndex(c, scaleFactor, imageWidth - 1));

    size_t pixelBytes = 3 * static_cast<size_t>(previewWidth);
    uint8_t* out = destination;
    // Memory order: the first row in the buffer is the preview's bottom row.
    for (int32_t r = previewHeight - 1; r >= 0; --r) {
        int64_t sr = SampledIndex(r, scaleFactor, imageHeight - 1);
        const uint8_t* line = source + static_cast<int64_t>(srcStride) * ((imageHeight - 1) - sr);
        for (int32_t c = 0; c < previewWidth; ++c) {
            const uint8_t* pixel = line + columnOffset[c];
            out[3 * c] = pixel[0];
            out[3 * c + 1] = pixel[1];
            out[3 * c + 2] = pixel[2];
        }
        memset(out + pixelBytes, 0, static_cast<size_t>(outStride) - pixelBytes);
        out += outStride;
    }
}

void DownsamplePreview()
{
    RowLayout layout = RowStride(state.previewWidth);
    state.outStride = layout.stride;
    state.outPad = layout.pad;
    uint32_t size = static_cast<uint32_t>(state.outStride) * static_cast<uint32_t>(state.previewHeight);

    AllocatePixelBuffer(size, state.previewSourceHandle, state.previewSourcePixels);
    SamplePreview(state.sourcePixels, state.imageWidth, state.imageHeight, state.srcStride, state.previewSourcePixels,
                  state.previewWidth, state.previewHeight, state.outStride, state.scaleFactor);

    AllocatePixelBuffer(size, state.previewHandle, state.previewPixels);
    memcpy(state.previewPixels, state.previewSourcePixels, size);

    FillBitmapRecords(state.previewHeader, state.previewInfo, state.previewWidth, state.previewHeight);
}
