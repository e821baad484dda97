// An export's settings as both programs fill them from their words, with
// the record of how the output was made that its PNG or JPEG carries, so
// that duotint-cli --update takes an editor's export of the same look as
// its own.
#pragma once

#include "export/write.h"
#include "options/words.h"

// A quality or PNG level of 0 is the default.
ExportSettings LookExportSettings(const TintParameters& look, OutputFormat format, int quality, JpegChroma chroma,
                                  int pngLevel, MetadataStrip strip);
