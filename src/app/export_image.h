// The tinted picture at full resolution, written as the typed name plus
// "-.bmp" (or "-.png", "-.jpg"), or to the export path beside a picture
// named on the command line.
#pragma once

#include <cstdint>

// The kinds state.exportFormat names, and their names' endings.
enum ExportFormat : uint8_t { kExportBmp, kExportPng, kExportJpeg };
extern const char* const kExportEndings[3];

void ExportImage();
