#include "options/settings.h"

ExportSettings LookExportSettings(const TintParameters& look, OutputFormat format, int quality, JpegChroma chroma,
                                  int pngLevel, MetadataStrip strip)
{
    ExportSettings settings;
    settings.format = format;
    if (quality != 0)
        settings.quality = quality;
    settings.chroma = chroma;
    if (pngLevel != 0)
        settings.pngLevel = pngLevel;
    settings.strip = strip;
    settings.record = LookRecord(look, format, settings.quality, chroma, settings.pngLevel, strip);
    return settings;
}
