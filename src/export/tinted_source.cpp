// The value every writer of an export reads (see tinted_source.h).
#include "export/tinted_source.h"

TintedSource::TintedSource(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                           const TintParameters& look, const uint8_t* alpha, int32_t alphaStride)
    : pixels(pixels), width(width), height(height), stride(stride), alpha(alpha), alphaStride(alphaStride)
{
    BuildTintTables(look, tables);
}
