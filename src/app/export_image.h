// The tinted picture at full resolution, written as the typed name plus "-.bmp".
#pragma once

void ExportImage();
// The export ending: the editor window goes, the export is written, and the
// program ends.
[[noreturn]] void ExportAndEnd();
