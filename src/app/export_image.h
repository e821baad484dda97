// The tinted picture at full resolution, written as the typed name plus
// "-.bmp" (or "-.png", "-.jpg"), or to the export path beside a picture
// named on the command line.
#pragma once

void ExportImage();
// The export ending: the editor window goes, the export is written, and the
// program ends.
[[noreturn]] void ExportAndEnd();
