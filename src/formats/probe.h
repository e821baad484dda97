// What a picture file's own container declares, read from its bytes before
// any decoder sees them: its kind, its size, its EXIF orientation, whether
// every chunk or segment length stays inside the file, and whether the file
// holds at least the fewest bytes its declared picture can be coded in.
//
// Plain C++ over a ByteSource and nothing else (no platform calls), so that
// it runs and is fuzzed natively. Lengths are checked against the source's
// size, never trusted. Only headers and lengths are read, at most 64 MiB of
// a file whatever its size; see probe.cpp for what happens past that.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/byte_source.h"

// heif: HEIC and AVIF alike, the ISO base media files libheif reads.
enum class ContainerKind { unknown, bmp, png, jpeg, gif, tiff, webp, heif };

enum class ProbeVerdict {
    fine,         // a kind we know, its size read, its structure inside the file
    damaged,      // a length runs past the end, or a part every such file has is missing
    unsupported,  // a real picture of a kind the platform's decoders lack
    unknown,      // no signature we know: the platform may still recognise it
    unreadable,   // a read failed: the file shrank or its disk went away while it was read
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
    // When the file is too short for the picture it declares, width and
    // height are that picture's.
    const char* what = "";
};

ProbeResult ProbeContainer(ByteSource& file);
ProbeResult ProbeContainer(const uint8_t* bytes, size_t size);

// The clause of a file too short for the picture it declares.
extern const char kTooShortForPicture[];

// The EXIF orientation (1 to 8) of a JPEG held in bytes[0, size): the first
// APP1 "Exif" segment before the scan, wherever it stands; 1 when there is
// none or it cannot be read.
int JpegExifOrientation(const uint8_t* bytes, size_t size);
