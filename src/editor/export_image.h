// The tinted picture at full resolution, written as the typed name plus
// "-.bmp" (or "-.png", "-.jpg"), or to the export path beside a picture
// named on the command line.
#pragma once

#include "support/file_io.h"

// With `rows`, the picture's file open at its first pixel row (see
// OpenPixelRows), a BMP export reads the rows from it rather than from
// sourceImage, which need not be loaded at all.
void ExportImage(FileRecord* rows = nullptr);
