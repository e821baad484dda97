// The container probe on headers built here byte by byte: one row per rule
// it enforces, each asserting kind, verdict, declared size and orientation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "container_bytes.h"
#include "counting_source.h"
#include "formats/metadata.h"
#include "formats/probe.h"
#include "read/refusals.h"

namespace {

using namespace support::bytes;

struct Tag {
    uint16_t tag, value, count;
};

// A TIFF whose first directory holds SHORT entries, each of `count` copies
// of its value; more than two stand after the directory, as TIFF has them.
Bytes Tiff(bool big, std::initializer_list<Tag> tags)
{
    TiffDirectory d;
    for (const auto& t : tags)
        d.entries.push_back({t.tag, 3, Repeated(Int(t.value, 2, big), t.count)});
    return LaidOut({d}, big);
}

Bytes Bmp(uint32_t infoSize, uint32_t offset, int32_t width, int32_t height, uint32_t compression)
{
    // OS/2's 12-byte header has 16-bit sizes and no compression field.
    const int n = infoSize == 12 ? 2 : 4;
    Bytes info = Int(infoSize, 4, false) + Int(static_cast<uint32_t>(width), n, false) +
                 Int(static_cast<uint32_t>(height), n, false) + Bytes{1, 0, 24, 0} + Int(compression, 4, false);
    info.resize(infoSize, 0);
    return Text("BM", 2) + Bytes(8) + Int(offset, 4, false) + info;
}

Bytes Bits(Bytes bmp, uint16_t bits)
{
    bmp[28] = static_cast<uint8_t>(bits);
    bmp[29] = static_cast<uint8_t>(bits >> 8);
    return bmp;
}

// A frame of 64 x 64: Y sampled 2 x 2, Cb and Cr 1 x 1.
const Bytes kYcc420 = Segment(0xC0, Bytes{8, 0, 64, 0, 64, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});

// An EXIF block of one orientation entry: `count` SHORTs held in the
// entry, the first `value`.
Bytes ExifOrientationOf(uint32_t count, uint16_t value)
{
    return Segment(0xE1, Text("Exif\0\0MM\0*", 10) + Int(8, 4, true) + Int(1, 2, true) + Int(274, 2, true) +
                             Int(3, 2, true) + Int(count, 4, true) + Int(value, 2, true) + Bytes(6));
}

// A WebP: the RIFF head declaring `extra` bytes more than it holds, then
// the chunks, each declaring `declared` bytes and holding `held`.
struct RiffPart {
    const char* type;
    uint32_t declared;
    Bytes held;
};
Bytes Webp(std::initializer_list<RiffPart> chunks, uint32_t extra = 0)
{
    Bytes body = Text("WEBP", 4);
    for (const auto& c : chunks)
        body = body + Text(c.type, 4) + Int(c.declared, 4, false) + c.held;
    return Text("RIFF", 4) + Int(body.size() + extra, 4, false) + body;
}
// A lossy key frame's header: tag, start code, 14-bit width and height.
Bytes Vp8(uint16_t width, uint16_t height, uint8_t tag = 0x10)
{
    return Bytes{tag, 0, 0, 0x9D, 0x01, 0x2A} + Int(width, 2, false) + Int(height, 2, false);
}
// A lossless header: signature, then width - 1 and height - 1 in 14 bits each, alpha, version.
Bytes Vp8l(uint32_t width, uint32_t height, uint32_t version = 0)
{
    return Bytes{0x2F} + Int((width - 1) | (height - 1) << 14 | version << 29, 4, false);
}
// A VP8X chunk's flags, reserved bytes and canvas less 1, 24 bits each.
Bytes Vp8x(uint32_t width, uint32_t height) { return Bytes(4) + Int(width - 1, 3, false) + Int(height - 1, 3, false); }

// An ISO box, and a full box (version, 3 bytes of flags, then the body).
Bytes Box(const char* type, const Bytes& body) { return Int(8 + body.size(), 4, true) + Text(type, 4) + body; }
Bytes FullBox(const char* type, uint8_t version, const Bytes& body) { return Box(type, Bytes{version, 0, 0, 0} + body); }
// A HEIC of one item of `type` and its size, whose data, `length` bytes by
// its location, is followed by `held` bytes of media data.
Bytes Heic(uint32_t width, uint32_t height, uint32_t length, size_t held, const char* type = "hvc1")
{
    const Bytes ftyp = Box("ftyp", Text("heic", 4) + Int(0, 4, true) + Text("mif1heic", 8));
    const Bytes iinf = FullBox("iinf", 0, Int(1, 2, true) + FullBox("infe", 2, Int(1, 2, true) + Int(0, 2, true) + Text(type, 4)));
    const Bytes iprp = Box("iprp", Box("ipco", FullBox("ispe", 0, Int(width, 4, true) + Int(height, 4, true))) +
                                       FullBox("ipma", 0, Int(1, 4, true) + Int(1, 2, true) + Bytes{1, 0x81}));
    // iloc: 4-byte offsets and lengths, one item of one extent.
    auto meta = [&](uint64_t offset) {
        const Bytes item = Int(1, 2, true) + Int(0, 2, true) + Int(1, 2, true) + Int(offset, 4, true) + Int(length, 4, true);
        return FullBox("meta", 0, FullBox("pitm", 0, Int(1, 2, true)) + iinf +
                                      FullBox("iloc", 0, Bytes{0x44, 0} + Int(1, 2, true) + item) + iprp);
    };
    return ftyp + meta(ftyp.size() + meta(0).size() + 8) + Box("mdat", Bytes(held));
}

using K = ContainerKind;
using V = ProbeVerdict;

}  // namespace

TEST(ProbeContainer, ReadsEachKindsHeadersAndRefusesWhatRunsPastTheEnd)
{
    static const struct {
        const char* label;
        Bytes file;
        ContainerKind kind;
        ProbeVerdict verdict;
        int64_t width, height;
        int orientation;
        const char* what;
    } kCases[] = {
        {"PNG", Png(5, 3, Chunk("IDAT", 2, {1, 2}) + Chunk("IEND", 0, {})), K::png, V::fine, 5, 3, 1, ""},
        {"PNG of 37840 x 37840, IDAT of 0", Png(37840, 37840, Chunk("IDAT", 0, {})), K::png, V::damaged, 37840, 37840,
         1, "too short"},
        // 1032 rows of a filter byte and 3 samples: 4128 bytes, at least 4 coded.
        {"PNG IDATs summed to the least", Png(1, 1032, Chunk("IDAT", 2, Bytes(2)) + Chunk("IDAT", 2, Bytes(2))), K::png,
         V::fine, 1, 1032, 1, ""},
        {"PNG IDATs a byte short", Png(1, 1032, Chunk("IDAT", 1, Bytes(1)) + Chunk("IDAT", 2, Bytes(2))), K::png,
         V::damaged, 1, 1032, 1, "too short"},
        {"PNG tEXt past the end", Png(5, 3, Chunk("tEXt", 0x7FFFFFF0, Bytes(600))), K::png, V::damaged, 0, 0, 1,
         "past"},
        {"PNG without IDAT", Png(5, 3, Chunk("IEND", 0, {})), K::png, V::damaged, 0, 0, 1, ""},
        {"PNG width over 2^31 - 1", Png(0x80000000u, 3, Chunk("IDAT", 0, {})), K::png, V::damaged, 0, 0, 1, ""},
        {"JPEG without EOI", kSoi + Sof(0xC0, 8) + kSos, K::jpeg, V::fine, 16, 8, 1, ""},
        {"JPEG EXIF after 64 KB, fill bytes",
         kSoi + Segment(0xE2, Bytes(65533, 0xFF)) + Exif(6) + Bytes{0xFF, 0xFF} + Sof(0xC2, 8) + kSos, K::jpeg,
         V::fine, 16, 8, 6, ""},
        // 32 x 32 blocks: 2 bits each when sequential, 1 when progressive.
        {"JPEG baseline a byte short", kSoi + Sof(0xC0, 8, 256, 256) + kSos + Bytes(255), K::jpeg, V::damaged, 256,
         256, 1, "too short"},
        {"JPEG progressive a byte short", kSoi + Sof(0xC2, 8, 256, 256) + kSos + Bytes(127), K::jpeg, V::damaged, 256,
         256, 1, "too short"},
        {"JPEG progressive at the least", kSoi + Sof(0xC2, 8, 256, 256) + kSos + Bytes(128), K::jpeg, V::fine, 256, 256,
         1, ""},
        {"JPEG stray bytes between segments", kSoi + Bytes{1, 2, 3} + Exif(8) + Bytes{0x55} + Sof(0xC0, 8) + kSos,
         K::jpeg, V::fine, 16, 8, 8, ""},
        // Y 8 x 8 blocks, Cb and Cr 4 x 4 each: 96 blocks, 24 bytes.
        {"JPEG 4:2:0 at the least", kSoi + kYcc420 + kSos + Bytes(24), K::jpeg, V::fine, 64, 64, 1, ""},
        {"JPEG 4:2:0 a byte short", kSoi + kYcc420 + kSos + Bytes(23), K::jpeg, V::damaged, 64, 64, 1, "too short"},
        {"JPEG EXIF orientation of count 0", kSoi + ExifOrientationOf(0, 6) + Sof(0xC0, 8) + kSos, K::jpeg, V::fine,
         16, 8, 1, ""},
        {"JPEG EXIF orientation of two values", kSoi + ExifOrientationOf(2, 6) + Sof(0xC0, 8) + kSos, K::jpeg,
         V::fine, 16, 8, 6, ""},
        {"JPEG 12-bit", kSoi + Sof(0xC1, 12) + kSos, K::jpeg, V::unsupported, 0, 0, 1, "a 12-bit JPEG"},
        {"JPEG lossless", kSoi + Sof(0xC3, 8) + kSos, K::jpeg, V::unsupported, 0, 0, 1, "a lossless JPEG"},
        {"JPEG segment past the end", kSoi + Exif(3) + Bytes{0xFF, 0xE0, 0x10, 0}, K::jpeg, V::damaged, 0, 0, 3,
         "past"},
        {"JPEG scan before frame", kSoi + kSos, K::jpeg, V::damaged, 0, 0, 1, "frame header"},
        {"GIF frame past the screen", Gif(Bytes{0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x2C, 2, 0, 1, 0, 4, 0, 4, 0, 0}),
         K::gif, V::fine, 6, 5, 1, ""},
        // 5458 pixels: at least 2 bytes of LZW data.
        {"GIF frame data short", Gif(Bytes{0x2C, 0, 0, 0, 0, 0xA9, 0x0A, 2, 0, 0, 2}), K::gif, V::damaged, 2729, 3, 1,
         "too short"},
        // A screen of 6000 x 6000 and a frame of 2 x 2 with 1 byte of data: the frame's least.
        {"GIF least from the frame, not the screen",
         Text("GIF89a", 6) + Int(6000, 2, false) + Int(6000, 2, false) + Bytes{0, 0, 0} +
             Bytes{0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 1, 0, 0, 0x3B},
         K::gif, V::fine, 6000, 6000, 1, ""},
        {"GIF without frames", Gif(Bytes{0x21, 0xFE, 1, 'x', 0, 0x3B}), K::gif, V::damaged, 0, 0, 1, ""},
        {"GIF sub-block past the end", Gif(Bytes{0x21, 0xFE, 9, 'x', 0}), K::gif, V::damaged, 0, 0, 1, "past"},
        {"TIFF big-endian", Tiff(true, {{256, 5, 1}, {257, 3, 1}}), K::tiff, V::fine, 5, 3, 1, ""},
        {"TIFF CMYK", Tiff(false, {{256, 5, 1}, {257, 3, 1}, {262, 5, 1}}), K::tiff, V::fine, 5, 3, 1, ""},
        {"TIFF float, per sample", Tiff(false, {{256, 5, 1}, {257, 3, 1}, {339, 3, 3}}), K::tiff, V::unsupported, 0, 0,
         1, "floating-point"},
        {"TIFF uncompressed short", Tiff(false, {{256, 4000, 1}, {257, 4000, 1}, {258, 8, 1}}), K::tiff, V::damaged,
         4000, 4000, 1, "too short"},
        {"TIFF deflate short", Tiff(false, {{256, 4000, 1}, {257, 4000, 1}, {258, 8, 1}, {259, 8, 1}}), K::tiff,
         V::damaged, 4000, 4000, 1, "too short"},
        {"TIFF JPEG has no least", Tiff(false, {{256, 4000, 1}, {257, 4000, 1}, {258, 8, 1}, {259, 7, 1}}), K::tiff,
         V::fine, 4000, 4000, 1, ""},
        {"TIFF without height", Tiff(false, {{256, 5, 1}}), K::tiff, V::damaged, 0, 0, 1, ""},
        {"BMP V3 top-down", Bmp(40, 54, 127, -64, 0) + Bytes(384 * 64), K::bmp, V::fine, 127, 64, 1, ""},
        {"BMP rows a byte short", Bmp(40, 54, 127, 64, 0) + Bytes(384 * 64 - 1), K::bmp, V::damaged, 127, 64, 1,
         "too short"},
        {"BMP RLE8 a byte short", Bmp(40, 54, 255, 255, 1) + Bytes(509), K::bmp, V::damaged, 255, 255, 1, "too short"},
        {"BMP OS/2 core header", Bmp(12, 26, 40000, 3, 0) + Bytes(120000 * 3), K::bmp, V::fine, 40000, 3, 1, ""},
        {"BMP INT_MIN rows", Bmp(40, 54, 1, INT32_MIN, 0), K::bmp, V::damaged, 0, 0, 1, "-2147483648"},
        {"BMP of 0 bits", Bits(Bmp(40, 54, 1, 1, 0), 0), K::bmp, V::damaged, 0, 0, 1, "no BMP has"},
        {"BMP of 65535 bits", Bits(Bmp(40, 54, 1, 1, 0), 65535), K::bmp, V::damaged, 0, 0, 1, "no BMP has"},
        {"BMP JPEG compression", Bmp(124, 138, 127, 64, 4), K::bmp, V::unsupported, 0, 0, 1, "JPEG compression"},
        {"BMP OS/2 RLE24 is left to the decoder", Bmp(64, 78, 127, 64, 4) + Bytes(62), K::bmp, V::fine, 127, 64, 1, ""},
        {"BMP offset 53", Bmp(40, 53, 127, 64, 0), K::bmp, V::damaged, 0, 0, 1, "inside"},
        {"BMP V5 header cut at 54 bytes", Cut(Bmp(124, 138, 127, 64, 0), 54), K::bmp, V::damaged, 0, 0, 1,
         "shorter"},
        {"WebP lossy", Webp({{"VP8 ", 10, Vp8(7, 9)}}), K::webp, V::fine, 7, 9, 1, ""},
        {"WebP lossless", Webp({{"VP8L", 5, Vp8l(5, 3)}}), K::webp, V::fine, 5, 3, 1, ""},
        {"WebP extended, after ICC and ALPH",
         Webp({{"VP8X", 10, Vp8x(16384, 2)}, {"ICCP", 1, Bytes(2)}, {"ALPH", 0, {}}, {"VP8 ", 10, Vp8(1, 2)}}),
         K::webp, V::fine, 16384, 2, 1, ""},
        {"WebP canvas of 2^24 x 2^24", Webp({{"VP8X", 10, Vp8x(1u << 24, 1u << 24)}, {"ANMF", 0, {}}}), K::webp,
         V::fine, 1 << 24, 1 << 24, 1, ""},
        {"WebP width 0", Webp({{"VP8 ", 10, Vp8(0, 9)}}), K::webp, V::damaged, 0, 0, 1, "of 0"},
        {"WebP frame past the end", Webp({{"VP8 ", 11, Vp8(7, 9)}}), K::webp, V::damaged, 7, 9, 1, "too short"},
        {"WebP RIFF past the end", Webp({{"VP8L", 5, Vp8l(5, 3)}}, 2), K::webp, V::damaged, 5, 3, 1, "too short"},
        {"WebP ICC past the end before the picture", Webp({{"VP8X", 10, Vp8x(4, 4)}, {"ICCP", 9, Bytes(8)}}),
         K::webp, V::damaged, 4, 4, 1, "too short"},
        {"WebP extended without a picture", Webp({{"VP8X", 10, Vp8x(4, 4)}, {"EXIF", 0, {}}}), K::webp, V::damaged, 0,
         0, 1, "no picture"},
        {"WebP lossy not a key frame", Webp({{"VP8 ", 10, Vp8(7, 9, 0x11)}}), K::webp, V::damaged, 0, 0, 1,
         "key frame"},
        {"WebP lossless version 1", Webp({{"VP8L", 5, Vp8l(5, 3, 1)}}), K::webp, V::damaged, 0, 0, 1, "version"},
        {"WebP head alone", Text("RIFF\4\0\0\0WEBP", 12), K::webp, V::damaged, 0, 0, 1, "shorter"},
        {"WebP of an unknown chunk", Webp({{"VP9 ", 0, {}}}), K::webp, V::damaged, 0, 0, 1, "picture chunk"},
        {"HEIC", Heic(37, 23, 10, 10), K::heif, V::fine, 37, 23, 1, ""},
        {"HEIC of 2^32 - 1 x 2", Heic(0xFFFFFFFF, 2, 10, 10), K::heif, V::fine, 0xFFFFFFFF, 2, 1, ""},
        {"HEIC height 0", Heic(37, 0, 10, 10), K::heif, V::damaged, 0, 0, 1, "of 0"},
        {"HEIC data past the end", Heic(37, 23, 10, 9), K::heif, V::damaged, 37, 23, 1, "too short"},
        {"HEIC meta past the end", Cut(Heic(37, 23, 10, 10), 100), K::heif, V::damaged, 0, 0, 1, "past the end"},
        {"HEIC of a JPEG", Heic(37, 23, 10, 10, "jpeg"), K::heif, V::unsupported, 0, 0, 1, "HEIF"},
        {"MP4", Text("\0\0\0\x10" "ftypisom\0\0\0\0", 16), K::unknown, V::unknown, 0, 0, 1, ""},
        {"unknown", Text("RIFF\0\0\0\0WAVE", 12), K::unknown, V::unknown, 0, 0, 1, ""},
    };
    for (const auto& c : kCases) {
        const ProbeResult got = ProbeContainer(c.file.data(), c.file.size());
        EXPECT_EQ(got.kind, c.kind) << c.label;
        const std::string words = ProbeClauseWords(got.clause);
        EXPECT_EQ(got.verdict, c.verdict) << c.label << ": " << words;
        EXPECT_EQ(got.width, c.width) << c.label;
        EXPECT_EQ(got.height, c.height) << c.label;
        EXPECT_EQ(got.orientation, c.orientation) << c.label;
        EXPECT_NE(words.find(c.what), std::string::npos) << c.label << ": " << words;
        if (c.kind == K::jpeg) {
            EXPECT_EQ(JpegExifOrientation(c.file.data(), c.file.size()), c.orientation) << c.label;
            // The output's EXIF says upright whatever turn the probe read: a
            // viewer turns it once, not twice.
            MemorySource source(c.file.data(), c.file.size());
            PictureMetadata metadata = ReadPictureMetadata(source);
            FitMetadataToOutput(metadata, 1, 1);
            EXPECT_EQ(ExifOrientation(metadata.exif.data(), metadata.exif.size()), 1) << c.label;
        }
    }
}

TEST(ProbeContainer, ReadsAtMost64MiBAndEndsOnAFailedRead)
{
    const uint64_t k3GB = 3ull << 30;
    static const struct {
        const char* label;
        Bytes start;
        uint64_t size, failFrom;
        ProbeVerdict verdict;
        const char* what;
    } kCases[] = {
        {"JPEG start, then zeros", kSoi, k3GB, UINT64_MAX, V::damaged, "64 MiB"},
        {"PNG of one 3 GB IDAT", Png(65535, 65535, Int(k3GB - 45, 4, true) + Text("IDAT", 4)), k3GB, UINT64_MAX,
         V::fine, ""},
        {"JPEG cut short under the probe", kSoi + Sof(0xC0, 8) + kSos, 1 << 20, 2, V::unreadable, ""},
    };
    for (const auto& c : kCases) {
        support::CountingSource file(c.start, c.size, c.failFrom);
        const ProbeResult got = ProbeContainer(file);
        const std::string words = ProbeClauseWords(got.clause);
        EXPECT_EQ(got.verdict, c.verdict) << c.label << ": " << words;
        EXPECT_NE(words.find(c.what), std::string::npos) << c.label << ": " << words;
        EXPECT_LE(file.read, 64u << 20) << c.label;
    }
}
