// Nearest-neighbour sampling of a picture into its reduced preview.
#pragma once

#include <cstdint>

#include "support/trunc.h"

// Sampling anchored at the top-left corner: preview pixel (r, c), counted
// from the top, is source pixel (Trunc(r * rowScale), Trunc(c * columnScale)),
// held inside the picture. Both buffers are bottom-up; the destination's
// padding is zeroed.
void SamplePreview(const uint8_t* source, int32_t imageWidth, int32_t imageHeight, int32_t srcStride,
                   uint8_t* destination, int32_t previewWidth, int32_t previewHeight, int32_t outStride,
                   long double columnScale, long double rowScale);

// As SamplePreview, with each sampled row's pixels (`imageRow`, counted from
// the bottom) fetched through `row`, which may copy them from where reading
// in place is not safe. The same row is not fetched twice in a row.
using SampledRowFetch = const uint8_t* (*)(void* context, int32_t imageRow);
void SamplePreviewRows(SampledRowFetch row, void* context, int32_t imageWidth, int32_t imageHeight,
                       uint8_t* destination, int32_t previewWidth, int32_t previewHeight, int32_t outStride,
                       long double columnScale, long double rowScale);
