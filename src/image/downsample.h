// The reduced, untinted copy of the picture that the editor shows and re-tints.
#pragma once

void DownsamplePreview();
