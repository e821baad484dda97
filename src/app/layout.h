// Where the preview and editor windows stand, how large the preview is, and
// the decorative frame image every paint of those windows starts from.
#pragma once

void ComputeLayout();
void BuildFrameImage();
