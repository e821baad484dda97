// The tinted picture at full resolution, written as the typed name plus
// "-.bmp" (or "-.png", "-.jpg"), or to the export path beside a picture
// named on the command line.
#pragma once

void ExportImage();
