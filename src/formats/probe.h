// What a picture file's own container declares, read from its bytes before
// any decoder sees them: its kind, its size, its orientation, whether
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

// Why a file is refused, one value a clause; src/read words each
// (ProbeClauseWords). unsupported: what the picture is, as a sentence's
// object ("a 12-bit JPEG"); damaged: why, as a clause ("a chunk runs past
// the end of the file").
enum class ProbeClause : uint8_t {
    none,
    // Damage any kind may have.
    tooShortForPicture,  // the file holds fewer bytes than its declared picture can be coded in
    shortHeader,
    zeroSize,
    budgetSpent,  // 64 MiB of reading went by before the picture's header
    // PNG.
    pngNoHeaderChunk,
    pngSizeOver31Bits,
    pngDepthNotOfColourType,
    chunkPastEnd,
    pngNoData,
    // JPEG.
    segmentPastEnd,
    jpegFrameShorterThanFields,
    jpegScanBeforeFrame,
    jpegSecondStart,
    segmentShorterThanLength,
    jpegTooManySegments,
    jpegEndsBeforeData,
    jpegEndsBeforeFrame,
    jpegPrecision,  // neither 8, 12 nor 16 bits
    jpegLossless,
    jpeg12Bit,
    jpeg16Bit,
    // GIF.
    colourTablePastEnd,
    gifFrameHeaderPastEnd,
    gifBlockOfNoKind,
    gifExtensionPastEnd,
    gifNoFrames,
    // TIFF.
    tiffDirectoryPastEnd,
    tiffValuesPastEnd,
    tiffNoSize,  // no width or height, or one of 0
    tiffZeroBits,
    tiffFloat,
    // WebP.
    webpNoPictureAfterExtended,
    webpNotKeyFrame,
    webpNoStartCode,
    webpNoLosslessSignature,
    webpLosslessVersion,
    webpNoPictureChunk,  // its first chunk is none of VP8X, VP8 and VP8L
    // HEIF.
    boxPastEnd,
    boxFieldsPastEnd,
    heifLocationFieldSize,
    heifLocationVersion,
    heifNoMeta,
    heifNoPrimary,  // or the boxes that describe it are missing
    heifNoSize,
    heifCoding,     // its primary picture is coded as neither HEVC nor AV1
    // BMP.
    bmpHeaderSize,
    bmpPixelsInHeader,
    bmpWidthUnder1,
    bmpHeightIntMin,
    bmpBitCount,
    bmpJpeg,
    bmpPng,
};

struct ProbeResult {
    ContainerKind kind = ContainerKind::unknown;
    ProbeVerdict verdict = ProbeVerdict::unknown;
    // The declared size, as stored (before an EXIF turn); 0 when not read.
    int64_t width = 0;
    int64_t height = 0;
    // How the picture is turned to be shown, 1 to 8: a JPEG's EXIF
    // orientation, from an APP1 segment anywhere before the scan, or a
    // TIFF's own Orientation tag in its first directory; 1 when there is
    // none or it cannot be read.
    int orientation = 1;
    // unsupported: what the picture is; damaged: why. When the file is too
    // short for the picture it declares, width and height are that
    // picture's.
    ProbeClause clause = ProbeClause::none;
};

ProbeResult ProbeContainer(ByteSource& file);
ProbeResult ProbeContainer(const uint8_t* bytes, size_t size);

// The EXIF orientation (1 to 8) of a JPEG held in bytes[0, size): the first
// APP1 "Exif" segment before the scan, wherever it stands; 1 when there is
// none or it cannot be read.
int JpegExifOrientation(const uint8_t* bytes, size_t size);
