// What a PNG or JPEG export keeps of its picture's metadata: camera.jpg
// (make_pictures.py) through the editor's export, EXIF fitted to the output,
// and the metadata as PNG chunks and JPEG segments.
#include <algorithm>

#include "container_bytes.h"
#include "counting_source.h"
#include "formats/jpeg_format.h"
#include "formats/metadata.h"
#include "formats/png_format.h"
#include "test_support.h"

namespace {

using namespace support::bytes;

PictureMetadata MetadataOf(const Bytes& file)
{
    MemorySource source(file.data(), file.size());
    return ReadPictureMetadata(source);
}

// An entry's text, or its one SHORT or LONG value as a number.
std::string ExifValue(const Bytes& exif, uint16_t tag)
{
    ExifEntry e;
    if (!FindExifEntry(exif, tag, e))
        return "none";
    const uint8_t* v = &exif[e.valuesAt];
    if (e.type == 2)
        return std::string(v, v + e.count - 1);
    uint32_t value = 0;
    for (int i = 0, n = e.type == 3 ? 2 : 4; i < n; ++i)
        value |= static_cast<uint32_t>(v[exif[0] == 'M' ? n - 1 - i : i]) << 8 * i;
    return (e.type == 3 ? "SHORT " : "LONG ") + std::to_string(value);
}

TEST(Metadata, CameraJpegKeepsItsMetadataInAJpegExportOnly)
{
    const Bytes camera = ReadWholeFile(TestPicturePath("camera.jpg"));
    const PictureMetadata source = MetadataOf(camera);
    ASSERT_FALSE(source.icc.empty() || source.xmp.empty());
    for (uint8_t strips : {0, 1}) {
        SCOPED_TRACE(strips ? "JPEG, --strip" : "JPEG");
        ScratchFolder folder;
        ASSERT_TRUE(WriteWholeFile("cam.jpg", camera));
        OpenPreviewAndExport("cam.jpg", OutputFormat::jpeg, strips);
        const PictureMetadata out = MetadataOf(ReadWholeFile("cam-.jpg"));
        ASSERT_EQ(out.Empty(), strips != 0);
        EXPECT_EQ(out.look, "--tint 128,128,128,0,0,128,128,128,0 --format jpeg --quality 92 --chroma 444" +
                                std::string(strips ? " --strip" : "")) << "the export records its look";
        if (strips)
            continue;
        static const struct { uint16_t tag; const char* value; } kTags[] = {
            {0x10F, "Duotint Optical"}, {0x110, "DT-6 Mark II"}, {0x9003, "2024:05:17 09:30:00"},
            {0x13B, "Ada Photographer"}, {274, "SHORT 1"}, {0xA002, "SHORT 16"}, {0xA003, "SHORT 32"},
        };
        for (const auto& t : kTags)
            EXPECT_EQ(ExifValue(out.exif, t.tag), t.value) << "tag " << t.tag;
        EXPECT_EQ(out.exif.size(), 232u) << "the thumbnail's directory and picture, at the end, are cut off";
        EXPECT_EQ(out.icc, source.icc);
        EXPECT_EQ(out.xmp, source.xmp);
    }
}

TEST(Metadata, BigEndianExifIsFittedAndItsThumbnailZeroedWhereItStoodBeforeOtherValues)
{
    // Directories at 8 and 50 (the thumbnail's, its picture at 80) before the make's text at 84.
    auto entry = [](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        return Int(tag, 2, true) + Int(type, 2, true) + Int(count, 4, true) +
               (type == 3 ? Int(value, 2, true) + Bytes(2) : Int(value, 4, true));
    };
    PictureMetadata m;
    m.exif = Text("MM\0*", 4) + Int(8, 4, true) + Int(3, 2, true) + entry(256, 3, 1, 9) + entry(0x10F, 2, 8, 84) +
             entry(274, 3, 1, 8) + Int(50, 4, true) + Int(2, 2, true) + entry(513, 4, 1, 80) + entry(514, 4, 1, 4) +
             Bytes(4) + Bytes{0xFF, 0xD8, 0xFF, 0xD9} + Text("Make 01\0", 8);
    FitMetadataToOutput(m, 70000, 3);
    ASSERT_EQ(m.exif.size(), 92u);
    EXPECT_EQ(ExifValue(m.exif, 256), "LONG 70000") << "a SHORT too small for the width";
    EXPECT_EQ(ExifValue(m.exif, 274), "SHORT 1");
    EXPECT_EQ(ExifValue(m.exif, 0x10F), "Make 01");
    EXPECT_FALSE(ExifHasSecondDirectory(m.exif));
    EXPECT_EQ(Bytes(m.exif.begin() + 50, m.exif.begin() + 84), Bytes(34)) << "the thumbnail's bytes";
}

// A GPS position as bytes no output may hold: the latitude's three
// rationals, then the longitude's.
const Bytes kLatitude = Text("N48.8584 deg lat 0123456", 24), kLongitude = Text("E02.2945 deg lon 0123456", 24);

// The same position in XMP, bound every way XML allows, beside a make.
const std::string kPositionXmp =
    Xmp(" xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:Make='Duotint Optical'\n"
        " xmlns:e = \"http://ns.adobe.com/exif/1.0/\" e:GPSLatitude = \"N48.8584 deg\"\n"
        " xmlns:drone-dji='http://www.dji.com/drone-dji/1.0/' drone-dji:GpsLongitude='E02.2945 deg'"
        " drone-dji:AbsoluteAltitude='+35.5 m'",
        "\n <GPSLongitude xmlns='http://ns.adobe.com/exif/1.0/'>E02.2945 deg</GPSLongitude>\n"
        " <aux:gpsaltitude xmlns:aux='http://ns.adobe.com/exif/1.0/aux/'>+35.5 m</aux:gpsaltitude>\n");

// --strip gps over every layout a GPS directory hides in, in either byte
// order, as the program runs it (fitted to the output first, which drops
// the thumbnail): the GPS pointer goes from whichever directory holds it,
// no coordinate's bytes are left anywhere, and the make, artist and date
// stay but where a layout cannot keep them with certainty, which a note
// says. DUOTINT_GPS_KEEP keeps each row as a JPEG for exiftool_readback.sh:
// gps0.jpg to gps8.jpg little-endian, gps9.jpg to gps17.jpg big-endian.
TEST(Metadata, StripGpsLeavesNoPositionInAnyLayout)
{
    const TiffEntry make = {0x10F, 2, Text("Duotint Optical", 16)}, artist = {0x13B, 2, Text("Ada Photographer", 17)};
    const TiffEntry date = {0x9003, 2, Text("2024:05:17 09:30:00", 20)}, exif = {0x8769, 4, {}, {1}};
    const TiffDirectory gps = {{{1, 2, Text("N", 2)}, {2, 5, kLatitude}}}, gps2 = {{{4, 5, kLongitude}}};
    auto first = [&](std::vector<TiffEntry> more, int next = -1) {
        std::vector<TiffEntry> entries = {make, artist, exif};
        entries.insert(entries.end(), more.begin(), more.end());
        return TiffDirectory{entries, next};
    };
    static const struct { const char* label; bool artistKept, whole; } kCases[] = {
        {"pointed to from the first directory", true, false}, {"from the EXIF directory", true, false},
        {"from the Interop directory", true, false},          {"two GPSInfo entries", true, false},
        {"a SHORT pointer", true, false},                     {"a pointer of count 2", true, false},
        {"from the thumbnail's directory", true, false},      {"a latitude that is also the artist", false, false},
        {"a GPS directory that is the EXIF one", false, true},
    };
    const Bytes camera = ReadWholeFile(TestPicturePath("camera.jpg"));
    const char* keep = getenv("DUOTINT_GPS_KEEP");
    for (bool big : {false, true}) {
        const std::vector<std::vector<TiffDirectory>> layouts = {
            {first({{0x8825, 4, {}, {2}}}), {{date}}, gps},
            {first({}), {{date, {0x8825, 4, {}, {2}}}}, gps},
            {first({}), {{date, {0xA005, 4, {}, {2}}}}, {{{1, 2, Text("R98", 4)}, {0x8825, 4, {}, {3}}}}, gps},
            {first({{0x8825, 4, {}, {2}}, {0x8825, 4, {}, {3}}}), {{date}}, gps, gps2},
            {first({{0x8825, 3, {}, {2}}}), {{date}}, gps},
            {first({{0x8825, 4, {}, {2, 3}}}), {{date}}, gps, gps2},
            {first({}, 2), {{date}}, {{{0x103, 3, Int(6, 2, big)}, {0x8825, 4, {}, {3}}}}, gps},
            {{{make, {0x13B, 2, kLatitude}, exif, {0x8825, 4, {}, {2}}}}, {{date}}, {{{2, 5, kLatitude, {}, 1}}}},
            {first({{0x8825, 4, {}, {1}}}), {{date, {2, 5, kLatitude}}}},
        };
        for (size_t i = 0; i < layouts.size(); ++i) {
            const auto& c = kCases[i];
            SCOPED_TRACE(std::string(c.label) + (big ? ", big-endian" : ", little-endian"));
            PictureMetadata m;
            m.exif = LaidOut(layouts[i], big);
            m.xmp = Text(kPositionXmp);
            if (keep != nullptr)
                WriteWholeFile(std::string(keep) + "\\gps" + std::to_string(i + (big ? layouts.size() : 0)) + ".jpg",
                               kSoi + ExifSegment(m.exif) + XmpSegment(kPositionXmp) + Bytes(camera.begin() + 2, camera.end()));
            FitMetadataToOutput(m, 16, 32);
            DropGps(m);
            for (const Bytes& position : {kLatitude, kLongitude})
                EXPECT_EQ(std::search(m.exif.begin(), m.exif.end(), position.begin(), position.end()), m.exif.end());
            EXPECT_EQ(m.notes.size(), c.artistKept ? 0u : 1u);
            const std::string xmp = AsText(m.xmp);
            for (const char* position : {"48.8584", "02.2945", "35.5", "Latitude", "Longitude", "ltitude"})
                EXPECT_EQ(xmp.find(position), std::string::npos) << position;
            EXPECT_NE(xmp.find("tiff:Make='Duotint Optical'"), std::string::npos);
            ASSERT_EQ(m.exif.empty(), c.whole);
            if (c.whole)
                continue;
            ExifEntry e;
            EXPECT_FALSE(FindExifEntry(m.exif, 0x8825, e));
            EXPECT_EQ(ExifValue(m.exif, 0x10F), "Duotint Optical");
            EXPECT_EQ(ExifValue(m.exif, 0x9003), "2024:05:17 09:30:00");
            EXPECT_EQ(ExifValue(m.exif, 0x13B), c.artistKept ? "Ada Photographer" : "none");
        }
    }
}

// A TIFF's profile and XMP come from its first directory, and its EXIF
// block is made of that directory's descriptive entries (never the layout
// of its pixels) and copies of its EXIF and GPS directories, each directory
// once, every value in a place of its own: what --strip gps leaves holds no
// coordinate's byte.
TEST(Metadata, ATiffsDirectoriesBecomeAnExifBlock)
{
    const TiffEntry make = {0x10F, 2, Text("Duotint Optical", 16)}, strips = {273, 4, Bytes(8, 1)};
    const TiffEntry profile = {34675, 7, Text("a profile")}, xmp = {700, 1, Text(Xmp(""))};
    const TiffDirectory exif = {{{0x9003, 2, Text("2024:05:17 09:30:00", 20)}}}, gps = {{{2, 5, kLatitude}}};
    static const struct { const char* label; int exifTo, gpsTo; const char* date; bool gps; } kCases[] = {
        {"EXIF and GPS directories", 1, 2, "2024:05:17 09:30:00", true},
        {"an EXIF pointer to the first directory", 0, 2, "none", true},
        {"EXIF and GPS pointers to one directory", 1, 1, "2024:05:17 09:30:00", false},
    };
    for (bool big : {false, true}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.label) + (big ? ", big-endian" : ", little-endian"));
            const TiffDirectory first = {{{256, 3, Int(7, 2, big)}, make, strips, xmp, {0x8769, 4, {}, {c.exifTo}},
                                          {0x8825, 4, {}, {c.gpsTo}}, profile}};
            const Bytes tiff = LaidOut({first, exif, gps}, big);
            PictureMetadata m = MetadataOf(tiff);
            EXPECT_EQ(m.icc, profile.value);
            EXPECT_EQ(m.xmp, xmp.value);
            for (uint16_t tag : {256, 273})
                EXPECT_EQ(ExifValue(m.exif, tag), "none") << tag;
            EXPECT_EQ(ExifValue(m.exif, 0x10F), "Duotint Optical");
            EXPECT_EQ(ExifValue(m.exif, 0x9003), c.date);
            ExifEntry e;
            EXPECT_EQ(FindExifEntry(m.exif, 0x8825, e), c.gps);
            DropGps(m);
            EXPECT_EQ(std::search(m.exif.begin(), m.exif.end(), kLatitude.begin(), kLatitude.end()), m.exif.end());
            EXPECT_EQ(ExifValue(m.exif, 0x10F), "Duotint Optical");
            EXPECT_TRUE(MetadataOf(Cut(tiff, 20)).Empty()) << "a first directory past the end";
        }
    }
}

// An XMP packet over one JPEG segment goes whole, unwrapped, into
// extension segments after a packet that names it by its MD5 (for 65505
// bytes, the digest md5sum gives), which read back join it again; one
// byte less goes as it is. An EXIF
// block over one segment is left out with a note. DUOTINT_GPS_KEEP keeps
// a PNG of such metadata for exiftool_readback.sh.
TEST(Metadata, XmpOverOneSegmentGoesOutAsAnExtension)
{
    static const struct { size_t xmp, exif, extensions; const char* guid; } kCases[] = {
        {65504, 65527, 0, ""}, {65505, 65528, 1, "85152340E8CE849D89AF48B7DCA0EB76"}, {200000, 70000, 4, nullptr}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.xmp);
        const std::string whole = DescribedXmp(std::string(c.xmp - Wrapped(DescribedXmp("")).size(), 'a'));
        PictureMetadata m;
        m.xmp = Text(Wrapped(whole));
        m.exif = Bytes(c.exif);
        FitMetadataToJpeg(m);
        EXPECT_EQ(m.notes, c.exif > 65527 ? std::vector<std::string>{"its EXIF (" + std::to_string((c.exif + 512) / 1024) +
                                                                     " KB) does not fit a JPEG segment and is left out"}
                                          : std::vector<std::string>{});
        const Bytes jpeg = kSoi + JpegMetadataSegments(m) + kSos;
        const std::vector<Bytes> xmp = Bodies(jpeg, 0xE1, kXmpSignature), extensions = Bodies(jpeg, 0xE1, kXmpExtensionSignature);
        ASSERT_EQ(xmp.size(), 1u);
        ASSERT_EQ(extensions.size(), c.extensions);
        if (c.extensions == 0) {
            EXPECT_EQ(xmp[0], m.xmp);
            continue;
        }
        const std::string guid = AsText(extensions[0]).substr(0, 32);
        EXPECT_NE(AsText(xmp[0]).find("xmpNote:HasExtendedXMP=\"" + guid + "\""), std::string::npos);
        if (c.guid != nullptr) {
            EXPECT_EQ(guid, c.guid);
        }
        std::string joined;
        for (const Bytes& e : extensions) {
            EXPECT_EQ(AsText(e).substr(0, 32), guid);
            EXPECT_EQ(Bytes(e.begin() + 32, e.begin() + 40), Int(whole.size(), 4, true) + Int(joined.size(), 4, true));
            joined += AsText(e).substr(40);
        }
        EXPECT_EQ(joined, whole);
        const PictureMetadata back = MetadataOf(jpeg);  // joined again
        EXPECT_TRUE(back.notes.empty());
        const size_t from = whole.find("<rdf:Description");
        EXPECT_NE(AsText(back.xmp).find(whole.substr(from, whole.find("</rdf:RDF>") - from)), std::string::npos);
    }
    const char* keep = getenv("DUOTINT_GPS_KEEP");
    if (keep == nullptr)
        return;
    // grey.png with a 70 KB EXIF block and a description of 20,000 words.
    std::string words;
    for (int i = 0; i < 20000; ++i)
        words += "word" + std::to_string(i) + " ";
    const Bytes grey = ReadWholeFile(TestPicturePath("grey.png"));
    const Bytes exif = LaidOut({{{{0x10F, 2, Text("Duotint Optical", 16)}, {0x927C, 7, Bytes(70000, 0x5A)}}}});
    const Bytes xmp = Text("XML:com.adobe.xmp\0\0\0\0\0", 22) + Text(DescribedXmp(words + "END"));
    Bytes chunks;
    AppendPngChunk(chunks, "eXIf", exif.data(), exif.size());
    AppendPngChunk(chunks, "iTXt", xmp.data(), xmp.size());
    WriteWholeFile(std::string(keep) + "\\large.png", Cut(grey, 33) + chunks + Bytes(grey.begin() + 33, grey.end()));
}

// A JPEG's Extended XMP is joined to the packet that names it, its parts
// in any order, and the whole goes out, in one packet or extended again;
// --strip gps takes from the whole. Parts that do not make the whole leave
// it out with a note, and so do parts of a packet it does not name.
// DUOTINT_GPS_KEEP keeps the reversed row as a JPEG for exiftool_readback.sh.
TEST(Metadata, ExtendedXmpIsJoinedToItsPacket)
{
    const std::string g = "0123456789ABCDEF0123456789ABCDEF", o = "F" + g.substr(1);
    const std::string packet = Wrapped(Xmp(" xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmpNote:HasExtendedXMP='" + g +
                                           "' xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:Make='Duotint Optical'"));
    // The description's namespace bound on the elements around it, as the packet's are.
    const std::string whole =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' "
        "xmlns:dc='http://purl.org/dc/elements/1.1/'><rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
        "exif:GPSLatitude='48,51N'><dc:source>only in the extension</dc:source></rdf:Description></rdf:RDF></x:xmpmeta>";
    const size_t w = whole.size(), c = w / 2;
    struct Part { const std::string& guid; size_t offset, size, length; };
    const struct { const char* label; std::vector<Part> parts; bool joined; const char* note; } kCases[] = {
        {"in order", {{g, 0, c, w}, {g, c, w - c, w}}, true, nullptr},
        {"reversed", {{g, c, w - c, w}, {g, 0, c, w}}, true, nullptr},
        {"after a part of another", {{o, 0, w, w}, {g, 0, w, w}}, true, "segments that its packet does not name are left out"},
        {"a part missing", {{g, 0, c, w}}, false, "cannot be joined whole to its packet and is left out"},
        {"parts that overlap", {{g, 0, c + 1, w}, {g, c, w - c, w}}, false, "cannot be joined whole"},
        {"lengths that disagree", {{g, 0, c, w}, {g, c, w - c, w + 1}}, false, "cannot be joined whole"},
        {"of another", {{o, 0, w, w}}, false, "cannot be joined whole"},
    };
    const char* keep = getenv("DUOTINT_GPS_KEEP");
    for (const auto& row : kCases) {
        SCOPED_TRACE(row.label);
        Bytes jpeg = kSoi + XmpSegment(packet);
        for (const Part& p : row.parts)
            jpeg = jpeg + XmpExtension(p.guid, p.length, p.offset, whole.substr(std::min(p.offset, w), p.size));
        PictureMetadata m = MetadataOf(jpeg + kSos);
        ASSERT_EQ(m.notes.size(), row.note != nullptr ? 1u : 0u);
        if (row.note != nullptr) {
            EXPECT_NE(m.notes[0].find(row.note), std::string::npos) << m.notes[0];
        }
        const std::string xmp = AsText(m.xmp);
        EXPECT_NE(xmp.find("tiff:Make='Duotint Optical'"), std::string::npos);
        EXPECT_EQ(xmp.find("<dc:source>only in the extension</dc:source>") != std::string::npos &&
                      xmp.find("xmlns:dc='http://purl.org/dc/elements/1.1/'") != std::string::npos,
                  row.joined);
        EXPECT_EQ(xmp.find("HasExtendedXMP") == std::string::npos, row.joined);
        if (!row.joined)
            continue;
        if (keep != nullptr && std::string(row.label) == "reversed") {
            const Bytes turned = ReadWholeFile(TestPicturePath("turned6.jpg"));
            WriteWholeFile(std::string(keep) + "\\extended.jpg", jpeg + Bytes(turned.begin() + 2, turned.end()));
        }
        EXPECT_EQ(MetadataOf(kSoi + JpegMetadataSegments(m) + kSos).xmp, m.xmp);
        m.notes.clear();
        DropGps(m);
        EXPECT_EQ(m.notes, std::vector<std::string>{});
        EXPECT_EQ(AsText(m.xmp).find("GPSLatitude"), std::string::npos);
        EXPECT_NE(AsText(m.xmp).find("<dc:source>only in the extension</dc:source>"), std::string::npos);
    }
}

// The walk costs the same per byte however many parts a file has: a
// megabyte of 250,000 empty segments, or of 100,000 text chunks, takes a
// read a page, not a read a part (each a call into the system). Past 16 MiB
// of parts it stops, with a note, and what follows is not read.
TEST(Metadata, ReadingCostsTheSamePerByteWhateverThePartsCount)
{
    static const struct { const char* label; size_t extras; bool past; } kCases[] = {
        {"250,000 empty segments", 0, false}, {"100,000 text chunks", 100000, false}, {"257 full segments", 0, true}};
    const Bytes files[] = {kSoi + Repeated({0xFF, 0xEF, 0, 2}, 250000) + XmpSegment("<x/>") + kSos,
                           Png(300, 200, Repeated(Chunk("tEXt", Text("k\0v", 3)), 100000)) + XmpChunk("<x/>") + Chunk("IDAT", {}),
                           kSoi + Repeated(Segment(0xEF, Bytes(65533)), 257) + XmpSegment("<x/>") + kSos};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(kCases[i].label);
        support::CountingSource source(files[i]);
        const PictureMetadata m = ReadPictureMetadata(source);
        EXPECT_EQ(m.pngExtras.size(), kCases[i].extras);
        EXPECT_EQ(m.xmp.empty(), kCases[i].past);
        EXPECT_EQ(m.notes, kCases[i].past ? std::vector<std::string>{"its metadata past 16 MiB is left out"}
                                          : std::vector<std::string>{});
        const uint64_t walked = std::min<uint64_t>(files[i].size(), 16u << 20);
        EXPECT_LE(source.reads, walked / 65536 + 4);
        EXPECT_LE(source.read, walked + 2 * 65536);
    }
}

// --strip gps in an XMP packet: every GPS property of the EXIF namespace,
// as an attribute or an element, whatever its prefix; the rest as it was. A
// packet that cannot be walked, or names one still, goes whole.
TEST(Metadata, StripGpsLeavesTheXmpGpsPropertiesOut)
{
    static const struct { const char* label; const char* in; const char* out; size_t size = 0; } kCases[] = {
        {"attributes", "<d xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='48,51N'\n exif:Flash=\"a>b\" "
                       "exif:GPSLongitude = \"2E\"/>",
         "<d xmlns:exif='http://ns.adobe.com/exif/1.0/'\n exif:Flash=\"a>b\"/>"},
        {"elements, nested and empty", "<d>\n <exif:GPSAltitude><x>3</x><exif:GPSAltitude>1</exif:GPSAltitude><exif:GPSAltitude/>"
                                       "</exif:GPSAltitude>\n "
                                       "<exif:GPSVersionID/><exif:GPSx>1</exif:GPSx><!-- a > --><exif:Fnumber>2</exif:Fnumber></d>",
         "<d><!-- a > --><exif:Fnumber>2</exif:Fnumber></d>"},
        {"another prefix", "<?xpacket?><d xmlns:e=\"http://ns.adobe.com/exif/1.0/\" e:GPSTrack='1'><e:GPSSpeed>2</e:GPSSpeed></d>",
         "<?xpacket?><d xmlns:e=\"http://ns.adobe.com/exif/1.0/\"></d>"},
        {"no GPS", "<d tiff:Make='GPS'>exif:GPX</d>", "<d tiff:Make='GPS'>exif:GPX</d>"},
        {"GPS in a comment", "<d><!-- exif:GPSLatitude='1' --></d>", ""},
        {"an element left open", "<d><exif:GPSLatitude>1</d>", ""},
        {"a tag left open", "<d exif:GPSLatitude='1'", ""},
        {"a quote read as inside another", "<d x\"y='z\">1</d>", ""},
        {"UTF-16", "<\0d\0>\0", "", 6},
    };
    for (const auto& c : kCases) {
        PictureMetadata m;
        m.xmp = Text(c.in, c.size != 0 ? c.size : strlen(c.in));
        m.pngExtras = {{"zTXt", Text("Raw profile type exif\0\0x", 24)}, {"tEXt", Text("Title\0GPS", 9)},
                       {"iTXt", Text("Raw profile type xmp\0\0\0\0\0x", 26)}, {"tEXt", Text("XML:com.adobe.xmp\0<x/>", 22)},
                       {"tEXt", Text("GPSLatitude\0" "1", 13)}};
        DropGps(m);
        EXPECT_EQ(AsText(m.xmp), c.out) << c.label;
        ASSERT_EQ(m.pngExtras.size(), 1u) << "a PNG's raw EXIF and XMP in text go, its title stays";
        EXPECT_EQ(m.pngExtras[0].type, "tEXt");
    }
    // A hostile packet binds the namespace hundreds of thousands of times
    // (16 MB come from a small compressed chunk): a walk that looks back over
    // the packet, or through every prefix, for each binding never ends.
    std::string bound;
    for (int i = 0; i < 300000; ++i)
        bound += "<x xmlns:e" + std::to_string(i % 1000) + "='http://ns.adobe.com/exif/1.0/'/>";
    PictureMetadata m;
    m.xmp = Text(bound + "<d e7:GPSSpeed='1' e7:Speed='2'/>");
    DropGps(m);
    EXPECT_EQ(AsText(m.xmp), bound + "<d e7:Speed='2'/>");
}

// camera.jpg's metadata, with a PNG's text and pixel size, as PNG chunks;
// then in a PNG of those chunks, read back and fitted; and in JPEG segments,
// its profile made long enough for three.
TEST(Metadata, PngChunksAndJpegSegmentsCarryItAll)
{
    auto m = MetadataOf(ReadWholeFile(TestPicturePath("camera.jpg")));
    m.pngExtras = {{"tEXt", Text("Title\0Cat", 9)}, {"pHYs", Bytes{0, 0, 11, 19, 0, 0, 11, 19, 1}}};
    const std::vector<PngChunk> chunks = PngMetadataChunks(m);
    Bytes png = Png(1, 1, {});
    std::string types;
    for (const PngChunk& c : chunks) {
        png = png + Chunk(c.type.c_str(), c.data);
        types += c.type + " ";
    }
    EXPECT_EQ(types, "iCCP eXIf tEXt pHYs iTXt ");
    EXPECT_EQ(Cut(chunks[4].data, 22), Text("XML:com.adobe.xmp\0\0\0\0\0", 22));
    PictureMetadata back = MetadataOf(png + Chunk("IDAT", {}));
    EXPECT_EQ(back.icc, m.icc);
    EXPECT_EQ(back.exif, m.exif);
    EXPECT_EQ(back.xmp, m.xmp);
    ASSERT_EQ(back.pngExtras.size(), 2u);
    EXPECT_EQ(back.pngExtras[0].data, m.pngExtras[0].data);
    FitMetadataToOutput(back, 32, 16);
    EXPECT_EQ(ExifValue(back.exif, 274), "SHORT 6") << "a PNG is shown as stored: its orientation still holds";

    m.icc.resize(150000, 0x5A);
    m.exif.resize(65528);  // one byte more than an APP1 segment holds
    const Bytes app0 = Segment(0xE0, Text("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
    JpegLayout layout;
    ASSERT_TRUE(PlanJpeg(1, 1, 92, JpegChroma::automatic, layout));
    const Bytes jpeg = JpegHeadBytes(layout, StandardJpegTables(), JpegMetadataSegments(m));
    EXPECT_EQ(Cut(jpeg, 20), kSoi + app0) << "after SOI and JFIF";
    const PictureMetadata spliced = MetadataOf(jpeg);
    EXPECT_TRUE(spliced.exif.empty());
    EXPECT_EQ(spliced.icc, m.icc);
    EXPECT_EQ(spliced.xmp, m.xmp);
    // The profile's chunks stand in any order; their numbers put them together.
    const Bytes first = Segment(0xE2, Text("ICC_PROFILE\0\1\2", 14) + Bytes{'a', 'b'});
    const Bytes second = Segment(0xE2, Text("ICC_PROFILE\0\2\2", 14) + Bytes{'c'});
    EXPECT_EQ(MetadataOf(kSoi + second + first + kSos).icc, (Bytes{'a', 'b', 'c'}));
    // Stray bytes between segments are stepped over, as the probe and decoders do.
    EXPECT_EQ(MetadataOf(kSoi + app0 + Bytes{0x12, 0x34} + Bytes(jpeg.begin() + 20, jpeg.end())).xmp, m.xmp);
}

// duotint's record of an output's look goes into the XMP packet it carries
// (the first rdf:Description, or a new one) and is read back out of it with
// any earlier record, so an output of an output carries its own alone; a
// packet the walk cannot read goes as it was, without one. Past one segment
// the record goes in the short packet. A PNG holds it in a text chunk.
TEST(Metadata, TheRecordedLookGoesIntoTheXmpAndComesBackOut)
{
    const std::string rdf = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/"
                            "22-rdf-syntax-ns#'>",
                      end = "</rdf:RDF></x:xmpmeta>", old = "<duotint:look>--tint 1</duotint:look>";
    const struct { const char* label; std::string in, out; bool recorded; } kCases[] = {
        {"no packet", "", "", true},
        {"a description", rdf + "<rdf:Description rdf:about='' tiff:Make='X'/>" + end, "=", true},
        {"an earlier record", rdf + "<rdf:Description>\n " + old + "<a>1</a></rdf:Description>" + end,
         rdf + "<rdf:Description><a>1</a></rdf:Description>" + end, true},
        {"no description", rdf + end, rdf + "<rdf:Description rdf:about=\"\"/>" + end, true},
        {"no rdf:RDF", "<x:xmpmeta/>", "=", false},
        {"a packet the walk cannot read", "<d " + old + "<x>", "=", false},
        {"over one segment", rdf + "<rdf:Description>" + std::string(70000, 'a') + "</rdf:Description>" + end, "", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        PictureMetadata m;
        m.xmp = Text(c.in.data(), c.in.size());
        const std::string out = c.out == "=" ? c.in : c.out;
        for (const char* look : {"--tint 2 --format jpeg", "--tint 3 --format jpeg"}) {  // an output's output
            m.look = look;
            m = MetadataOf(kSoi + JpegMetadataSegments(m) + kSos);
            EXPECT_EQ(m.look, c.recorded ? look : "");
            EXPECT_TRUE(c.in.size() > 65000 || std::string(m.xmp.begin(), m.xmp.end()) == out);
        }
    }
    PictureMetadata m;
    m.xmp.assign(kCases[2].in.begin(), kCases[2].in.end());
    m.look = "--tint 2 --format png";
    Bytes png = Png(1, 1, {});
    for (const PngChunk& c : PngMetadataChunks(m))
        png = png + Chunk(c.type.c_str(), static_cast<uint32_t>(c.data.size()), c.data);
    m = MetadataOf(png + Chunk("IDAT", 0, {}));
    EXPECT_EQ(m.look + "|" + std::string(m.xmp.begin(), m.xmp.end()) + "|" + std::to_string(m.pngExtras.size()),
              "--tint 2 --format png|" + kCases[2].out + "|0") << "the record's chunk is no text of the picture's";
}

// A PNG's text chunks go to the output only as PNG defines them, so that a
// strict reader takes it.
TEST(Metadata, OnlyValidTextChunksAreCarried)
{
    static const struct { const char* label; const char* type; Bytes body; bool kept; } kCases[] = {
        {"tEXt", "tEXt", Text("Title\0Cat", 9), true},
        {"zTXt, method 0", "zTXt", Text("Title\0\0x", 8), true},
        {"iTXt, uncompressed", "iTXt", Text("Title\0\0\0en\0\0Cat", 15), true},
        {"an empty keyword", "tEXt", Text("\0Cat", 4), false},
        {"a keyword of 80 characters", "tEXt", Bytes(80, 'k') + Text("\0Cat", 4), false},
        {"a leading space", "tEXt", Text(" Title\0Cat", 10), false},
        {"two spaces in a row", "tEXt", Text("A  B\0Cat", 8), false},
        {"zTXt, an unknown method", "zTXt", Text("Title\0\1x", 8), false},
        {"iTXt, an unknown method", "iTXt", Text("Title\0\1\1en\0\0x", 13), false},
        {"iTXt, no end to its translated keyword", "iTXt", Text("Title\0\0\0en\0Cat", 14), false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(MetadataOf(Png(1, 1, Chunk(c.type, c.body) + Chunk("IDAT", {}))).pngExtras.size(), c.kept ? 1u : 0u)
            << c.label;
}

}  // namespace
