// The tinted picture at full resolution, written as the typed name plus "-.bmp".
#pragma once

void ExportImage();
