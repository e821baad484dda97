// Fuzzes the metadata walk, then fits what it read to an output (which must
// read back without a thumbnail, upright but from a PNG) and writes it as JPEG segments and
// PNG chunks with duotint's record (which reads back as written or not at all, never as
// a record the input held), then without GPS. An input that begins 0xFF, 0x89, RIFF or a
// TIFF header, or a box of type ftyp, is a whole file; any other, less its first byte, is an
// EXIF block, to reach its directories as they stand.
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemorySource source(data, size);
    PictureMetadata metadata;
    const bool whole = size > 0 && (data[0] == 0xFF || data[0] == 0x89 ||
                                    (size >= 4 && memcmp(data, "RIFF", 4) == 0) ||
                                    (size >= 4 && memcmp(data, "II*\0", 4) == 0) ||
                                    (size >= 4 && memcmp(data, "MM\0*", 4) == 0) ||
                                    (size >= 8 && memcmp(data + 4, "ftyp", 4) == 0));
    if (whole)
        metadata = ReadPictureMetadata(source);
    else if (size > 0)
        metadata.exif.assign(data + 1, data + size);
    // A JPEG's Extended XMP joined to its packet keeps within the cap.
    if (metadata.xmp.size() > kMostMetadataBytes)
        abort();
    FitMetadataToOutput(metadata, 70000, 3);
    const std::vector<uint8_t>& exif = metadata.exif;
    const bool upright = metadata.shownAsStored || ExifOrientation(exif.data(), exif.size()) == 1;
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 2};
    metadata.look = "--tint 1,2,3,4,5,6,7,8,9 --format jpeg --quality 92 --chroma 444";
    if (!upright || ExifHasSecondDirectory(exif))
        abort();
    const std::vector<uint8_t> segments = JpegMetadataSegments(metadata);
    jpeg.insert(jpeg.end(), segments.begin(), segments.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0, 2});
    MemorySource spliced(jpeg.data(), jpeg.size());
    const std::string back = ReadPictureMetadata(spliced).look;
    if (!back.empty() && back != metadata.look)
        abort();
    PngMetadataChunks(metadata);
    // Left without GPS: no pointer to its directory, and nothing that a
    // second pass would take out.
    PictureMetadata gps = metadata;
    DropGps(gps);
    PictureMetadata again = gps;
    again.notes.clear();
    DropGps(again);
    ExifEntry o;
    if (FindExifEntry(gps.exif, 0x8825, o) || again.exif != gps.exif || again.xmp != gps.xmp || !again.notes.empty())
        abort();
    FitMetadataToJpeg(gps);
    return 0;
}
