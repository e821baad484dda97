// The preview's sampling: one source pixel per preview pixel, the offsets
// of the columns worked out once for all rows.
#include "editor/downsample.h"

#include <cstring>
#include <vector>

namespace {

// The sampled index along one axis, kept at most `last`. The layout's
// factors never reach past the picture; the bound keeps any other factor
// inside the source buffer too.
int64_t SampledIndex(int32_t i, long double scaleFactor, int32_t last)
{
    int64_t s = Trunc(static_cast<long double>(i) * scaleFactor);
    return s > last ? last : s;
}

// Rows of a picture in memory, read where they stand.
struct InPlace {
    const uint8_t* source;
    int32_t stride;
};

const uint8_t* RowInPlace(void* context, int32_t imageRow)
{
    const InPlace& rows = *static_cast<const InPlace*>(context);
    return rows.source + static_cast<int64_t>(rows.stride) * imageRow;
}

}  // namespace

void SamplePreview(const uint8_t* source, int32_t imageWidth, int32_t imageHeight, int32_t srcStride,
                   uint8_t* destination, int32_t previewWidth, int32_t previewHeight, int32_t outStride,
                   long double columnScale, long double rowScale)
{
    InPlace rows = {source, srcStride};
    SamplePreviewRows(RowInPlace, &rows, imageWidth, imageHeight, destination, previewWidth, previewHeight, outStride,
                      columnScale, rowScale);
}

void SamplePreviewRows(SampledRowFetch row, void* context, int32_t imageWidth, int32_t imageHeight,
                       uint8_t* destination, int32_t previewWidth, int32_t previewHeight, int32_t outStride,
                       long double columnScale, long double rowScale)
{
    if (previewWidth <= 0 || previewHeight <= 0)
        return;
    // The same products for every row: the column offsets are worked out once.
    std::vector<uint32_t> columnOffset(static_cast<size_t>(previewWidth));
    for (int32_t c = 0; c < previewWidth; ++c)
        columnOffset[c] = static_cast<uint32_t>(3 * SampledIndex(c, columnScale, imageWidth - 1));

    size_t pixelBytes = 3 * static_cast<size_t>(previewWidth);
    uint8_t* out = destination;
    int32_t fetched = -1;
    const uint8_t* line = nullptr;
    // Memory order: the first row in the buffer is the preview's bottom row.
    for (int32_t r = previewHeight - 1; r >= 0; --r) {
        const auto imageRow = static_cast<int32_t>((imageHeight - 1) - SampledIndex(r, rowScale, imageHeight - 1));
        if (imageRow != fetched) {
            line = row(context, imageRow);
            fetched = imageRow;
        }
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
