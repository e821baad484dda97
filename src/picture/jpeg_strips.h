// One JPEG from the JPEGs of a picture's horizontal strips, so that the
// strips can be encoded side by side. Each strip's coded data becomes a
// restart interval of the whole: a restart begins the coding afresh, as a
// new file does, so the strips' data stands unchanged, and the picture
// decodes to exactly what one encoding of it would.
#pragma once

#include <cstdint>
#include <vector>

// `strips`, top first, must come from one encoder with the same settings:
// baseline, one scan, no restarts, the same tables; every strip but the
// last of the same height, a whole number of MCU rows, the last no taller.
// False, with `joined` empty, when they are not such.
bool JoinJpegStrips(const std::vector<std::vector<uint8_t>>& strips, std::vector<uint8_t>& joined);
