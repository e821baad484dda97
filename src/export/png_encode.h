// The tinted picture as a PNG file (8-bit RGB, or RGBA with its alpha), by
// our own encoder over zlib, written to the file as it is compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "export/output_format.h"
#include "export/tinted_source.h"
#include "formats/png_chunk.h"
#include "support/file_io.h"

struct PngEncoding {
    int level = kDefaultPngLevel;  // zlib's, 1 to 9; 1 to 6 match runs only
    uint32_t cores = 0;     // 0: every one
    size_t pieceBytes = 0;  // filtered bytes a piece holds at most; 0: 1 MiB, whatever the cores
};

// Writes the rows of `source` through its tint to `file`, open for
// writing, as a whole PNG file with `chunks` between its header and its
// pixel data. A source with alpha makes the file RGBA: the tint goes to the
// straight colour, and the alpha goes out as it is.
//
// The rows are filtered and compressed in pieces on the cores at once; each
// piece goes to the file as an IDAT chunk as soon as those before it have,
// so besides the source only a few pieces are held (at most 64 MiB). The
// first failure, of a write, of memory (exit code 8) or of the compressor,
// ends the writing and is returned.
Failure WriteTintedPng(FileRecord& file, const TintedSource& source, const std::vector<PngChunk>& chunks,
                       const PngEncoding& encoding);
