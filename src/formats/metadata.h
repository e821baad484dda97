// What a picture's file says besides its pixels, and what of it a PNG or
// JPEG output keeps: the EXIF block, the colour profile, the XMP packet and,
// from a PNG, its text and pixel-size chunks.
//
// Plain C++ and zlib over bytes a source hands out at offsets, so that the
// walk runs and is fuzzed natively; the platform's file is one such source
// (metadata_file.h). Every length is checked against the file's size before
// it is followed, nothing larger than kMostMetadataBytes is read, and what
// cannot be read is left out rather than guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/byte_source.h"
#include "formats/png_chunk.h"

// The most bytes one item (the EXIF block, the profile, the XMP packet, a
// PNG chunk) may have, and all of them together.
enum : size_t { kMostMetadataBytes = 16u << 20 };

struct PictureMetadata {
    std::vector<uint8_t> exif;        // a TIFF header and its directories, without "Exif\0\0"
    std::vector<uint8_t> icc;         // the colour profile, whole and uncompressed
    std::string iccName;              // a PNG's name for its profile; empty from a JPEG
    std::vector<uint8_t> xmp;         // the XMP packet, with a JPEG's Extended XMP joined to it
    std::vector<PngChunk> pngExtras;  // a PNG's tEXt, zTXt, iTXt (but XMP's) and pHYs, in file order
    // duotint's record of the look and options an output was made with
    // (LookRecord, options/words.h): read from a file's XMP property
    // duotint:look or PNG text chunk "duotint look", and taken out of the
    // XMP; written into an output's. Printable ASCII, at most 512 bytes;
    // empty when there is none.
    std::string look;
    // Read from a PNG or a WebP, whose pixels are shown as stored: the
    // EXIF orientation is not applied as they are decoded (a JPEG's and a
    // TIFF's are, see probe.h, and a HEIF's own turn stands for it).
    bool shownAsStored = false;
    // What was left out on the way, each said as the end of a line that
    // names the picture: "its EXIF (70 KB) does not fit a JPEG segment and
    // is left out". The program prints them; the editor has nowhere to.
    std::vector<std::string> notes;

    // Nothing of the picture's own (the record aside).
    bool Empty() const { return exif.empty() && icc.empty() && xmp.empty() && pngExtras.empty(); }
};

// A JPEG's segments before its scan (the first APP1 "Exif", the APP2
// "ICC_PROFILE" chunks, the first APP1 XMP, and duotint's record in it), a
// PNG's chunks (and the record in its text or XMP), a HEIF's EXIF and XMP
// items and its primary picture's colour profile, a WebP's ICCP, EXIF
// and XMP chunks, or a TIFF's profile and XMP and an EXIF block made of its
// directories; nothing from a file of any other kind. The walk reads the file a page at a time, so
// that it costs the same per byte however many parts the file has, and
// stops, with a note, once the parts walked pass kMostMetadataBytes.
PictureMetadata ReadPictureMetadata(ByteSource& file);

// Fits what was read to the output, a picture `width` x `height`: the EXIF
// orientation becomes 1 where the pixels were turned upright by it (not
// from a PNG, whose orientation still describes the pixels as stored), its
// stored sizes become the output's, and its thumbnail (IFD1 and its data)
// goes, since it would stay untinted and unturned. An EXIF block whose first
// directory cannot be read goes whole; so does a profile that is not an
// RGB one, as the output is always RGB.
void FitMetadataToOutput(PictureMetadata& metadata, uint32_t width, uint32_t height);

// Leaves out where the picture was taken, and keeps the rest.
// - EXIF: every GPS directory linked from any directory (the first, the
//   EXIF and Interop ones, a thumbnail's) by any pointer entry, whatever
//   its type or count: the pointers go from their directories and the GPS
//   directories and all they point to are zeroed. Another entry whose value
//   shares bytes with a GPS value goes too (with a note): those bytes may
//   be the position.
// - XMP: every property, as an element or an attribute, whose local name
//   names a position (GPS, latitude, longitude, altitude, in any case), in
//   any namespace however bound; so every exif:GPS property.
// - A PNG's text chunks that hold EXIF or XMP raw ("Raw profile type
//   exif", "APP1", "xmp", or a second "XML:com.adobe.xmp"), or whose keyword
//   names a position.
// What cannot be read with certainty (an EXIF block whose directories
// cannot be walked, an XMP packet that is not plain XML text) goes whole.
// Each thing that goes whole is noted.
void DropGps(PictureMetadata& metadata);

// Leaves out, with a note, what no JPEG can carry: an EXIF block over one
// segment (65527 bytes), a profile over 255 segments.
void FitMetadataToJpeg(PictureMetadata& metadata);

// The segments a JPEG output carries after its SOI and APP0 (JFIF), framed:
// APP1 Exif, the profile in APP2 chunks, APP1 XMP. An XMP packet over one
// segment (65504 bytes) goes whole into APP1 extension segments after a
// short packet that names it by its MD5; what cannot fit at all is left
// out (FitMetadataToJpeg notes it). The record, `look`, goes into the
// packet as a property of its first rdf:Description (into the short packet
// when extensions follow); a packet that cannot be read with certainty as
// XML text goes as it was, without the record.
std::vector<uint8_t> JpegMetadataSegments(const PictureMetadata& metadata);

// The chunks a PNG output carries between its IHDR and IDAT: iCCP, eXIf,
// the PNG source's pHYs and text as they stood, XMP in an iTXt chunk
// "XML:com.adobe.xmp", and the record in a tEXt chunk "duotint look".
std::vector<PngChunk> PngMetadataChunks(const PictureMetadata& metadata);

// Where an entry of the EXIF block's first directory or of its EXIF
// sub-directory stands: its type, its count, and the offset of its values
// in the block (inside the entry when they fit in 4 bytes).
struct ExifEntry {
    uint16_t type = 0;
    uint32_t count = 0;
    size_t valuesAt = 0;
};
// False when the block has no such entry or its values run past its end.
bool FindExifEntry(const uint8_t* exif, size_t size, uint16_t tag, ExifEntry& entry);
inline bool FindExifEntry(const std::vector<uint8_t>& exif, uint16_t tag, ExifEntry& entry)
{
    return FindExifEntry(exif.data(), exif.size(), tag, entry);
}
// The turn an EXIF block asks for (1 to 8), by the one rule the probe that
// turns a picture and the fitting that marks it upright both take: the
// Orientation entry's first value, when it is a SHORT from 1 to 8; else 1.
int ExifOrientation(const uint8_t* exif, size_t size);
// Whether the block still links a second directory (a thumbnail's).
bool ExifHasSecondDirectory(const std::vector<uint8_t>& exif);
