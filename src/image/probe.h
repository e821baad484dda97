// What a picture file's own container declares, read from its bytes before
// any decoder sees them: its kind, its size, its EXIF orientation, and
// whether every chunk or segment length stays inside the file.
//
// Plain C++ over a byte range and nothing else (no platform calls), so that
// it runs and is fuzzed natively. The bytes are the whole file: lengths are
// checked against `size`, never trusted.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ContainerKind { unknown, bmp, png, jpeg, gif, tiff };

enum class ProbeVerdict {
    fine,         // a kind we know, its size read, its structure inside the file
    damaged,      // a length runs past the end, or a part every such file has is missing
    unsupported,  // a real picture of a kind the platform's decoders lack
    unknown,      // no signature we know: the platform may still recognise it
};

struct ProbeResult {
    ContainerKind kind = ContainerKind::unknown;
    ProbeVerdict verdict = ProbeVerdict::unknown;
    // The declared size, as stored (before an EXIF turn); 0 when not read.
    int64_t width = 0;
    int64_t height = 0;
    // A JPEG's EXIF orientation, 1 to 8, from an APP1 segment anywhere
    // before the scan; 1 when there is none or it cannot be read.
    int orientation = 1;
    // unsupported: what the picture is, as a sentence's object ("a CMYK
    // TIFF", "a 12-bit JPEG", "a BMP with JPEG compression").
    // damaged: why, as a clause ("a chunk runs past the end of the file").
    const char* what = "";
    // A GIF's: the length of the file up to the end of its first frame's
    // data, when the frame can be walked; 0 otherwise. The platform decodes
    // every frame of a GIF, so its decoder is handed only these bytes.
    uint64_t firstFrameEnd = 0;
};

ProbeResult ProbeContainer(const uint8_t* bytes, size_t size);

// The EXIF orientation (1 to 8) of a JPEG held in bytes[0, size): the first
// APP1 "Exif" segment before the scan, wherever it stands; 1 when there is
// none or it cannot be read.
int JpegExifOrientation(const uint8_t* bytes, size_t size);
