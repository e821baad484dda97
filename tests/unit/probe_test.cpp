// The container probe on headers built here byte by byte: one row per rule
// it enforces, each asserting kind, verdict, declared size and orientation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container_bytes.h"
#include "image/probe.h"

namespace {

using namespace support::bytes;

struct Tag {
    uint16_t tag, value, count;
};

// A TIFF whose first directory holds SHORT entries, each of `count` copies
// of its value; more than two stand after the directory, as TIFF has them.
Bytes Tiff(bool big, std::initializer_list<Tag> tags)
{
    Bytes b = Text(big ? "MM\0*" : "II*\0", 4) + Int(8, 4, big) + Int(tags.size(), 2, big), after;
    for (const auto& t : tags) {
        Bytes field = Int(t.value, 2, big) + Bytes(2);
        if (t.count > 2)
            field = Int(8 + 2 + 12 * tags.size() + 4 + after.size(), 4, big);
        for (int i = 0; t.count > 2 && i < t.count; ++i)
            after = after + Int(t.value, 2, big);
        b = b + Int(t.tag, 2, big) + Int(3, 2, big) + Int(t.count, 4, big) + field;
    }
    return b + Bytes(4) + after;
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
        {"PNG of 37840 x 37840", Png(37840, 37840, Chunk("IDAT", 0, {})), K::png, V::fine, 37840, 37840, 1, ""},
        {"PNG tEXt past the end", Png(5, 3, Chunk("tEXt", 0x7FFFFFF0, Bytes(600))), K::png, V::damaged, 0, 0, 1,
         "past"},
        {"PNG without IDAT", Png(5, 3, Chunk("IEND", 0, {})), K::png, V::damaged, 0, 0, 1, ""},
        {"PNG width over 2^31 - 1", Png(0x80000000u, 3, Chunk("IDAT", 0, {})), K::png, V::damaged, 0, 0, 1, ""},
        {"JPEG without EOI", kSoi + Sof(0xC0, 8) + kSos, K::jpeg, V::fine, 16, 8, 1, ""},
        {"JPEG EXIF after 64 KB, fill bytes",
         kSoi + Segment(0xE2, Bytes(65533, 0xFF)) + Exif(6) + Bytes{0xFF, 0xFF} + Sof(0xC2, 8) + kSos, K::jpeg,
         V::fine, 16, 8, 6, ""},
        {"JPEG 12-bit", kSoi + Sof(0xC1, 12) + kSos, K::jpeg, V::unsupported, 0, 0, 1, "a 12-bit JPEG"},
        {"JPEG lossless", kSoi + Sof(0xC3, 8) + kSos, K::jpeg, V::unsupported, 0, 0, 1, "a lossless JPEG"},
        {"JPEG segment past the end", kSoi + Exif(3) + Bytes{0xFF, 0xE0, 0x10, 0}, K::jpeg, V::damaged, 0, 0, 3,
         "past"},
        {"JPEG scan before frame", kSoi + kSos, K::jpeg, V::damaged, 0, 0, 1, "frame header"},
        {"GIF frame past the screen", Gif(Bytes{0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x2C, 2, 0, 1, 0, 4, 0, 4, 0, 0}),
         K::gif, V::fine, 6, 5, 1, ""},
        {"GIF without frames", Gif(Bytes{0x21, 0xFE, 1, 'x', 0, 0x3B}), K::gif, V::damaged, 0, 0, 1, ""},
        {"GIF sub-block past the end", Gif(Bytes{0x21, 0xFE, 9, 'x', 0}), K::gif, V::damaged, 0, 0, 1, "past"},
        {"TIFF big-endian", Tiff(true, {{256, 5, 1}, {257, 3, 1}}), K::tiff, V::fine, 5, 3, 1, ""},
        {"TIFF CMYK", Tiff(false, {{256, 5, 1}, {257, 3, 1}, {262, 5, 1}}), K::tiff, V::unsupported, 0, 0, 1,
         "a CMYK TIFF"},
        {"TIFF float, per sample", Tiff(false, {{256, 5, 1}, {257, 3, 1}, {339, 3, 3}}), K::tiff, V::unsupported, 0, 0,
         1, "floating-point"},
        {"TIFF without height", Tiff(false, {{256, 5, 1}}), K::tiff, V::damaged, 0, 0, 1, ""},
        {"BMP V3 top-down", Bmp(40, 54, 127, -64, 0), K::bmp, V::fine, 127, 64, 1, ""},
        {"BMP OS/2 core header", Bmp(12, 26, 40000, 3, 0), K::bmp, V::fine, 40000, 3, 1, ""},
        {"BMP INT_MIN rows", Bmp(40, 54, 1, INT32_MIN, 0), K::bmp, V::fine, 1, 2147483648, 1, ""},
        {"BMP JPEG compression", Bmp(124, 138, 127, 64, 4), K::bmp, V::unsupported, 0, 0, 1, "JPEG compression"},
        {"BMP OS/2 RLE24 is left to the decoder", Bmp(64, 78, 127, 64, 4), K::bmp, V::fine, 127, 64, 1, ""},
        {"BMP offset 53", Bmp(40, 53, 127, 64, 0), K::bmp, V::damaged, 0, 0, 1, "inside"},
        {"BMP V5 header cut at 54 bytes", Cut(Bmp(124, 138, 127, 64, 0), 54), K::bmp, V::damaged, 0, 0, 1,
         "shorter"},
        {"unknown", Text("RIFF\0\0\0\0WEBP", 12), K::unknown, V::unknown, 0, 0, 1, ""},
    };
    for (const auto& c : kCases) {
        const ProbeResult got = ProbeContainer(c.file.data(), c.file.size());
        EXPECT_EQ(got.kind, c.kind) << c.label;
        EXPECT_EQ(got.verdict, c.verdict) << c.label << ": " << got.what;
        EXPECT_EQ(got.width, c.width) << c.label;
        EXPECT_EQ(got.height, c.height) << c.label;
        EXPECT_EQ(got.orientation, c.orientation) << c.label;
        EXPECT_NE(std::string(got.what).find(c.what), std::string::npos) << c.label << ": " << got.what;
        if (c.kind == K::jpeg) {
            EXPECT_EQ(JpegExifOrientation(c.file.data(), c.file.size()), c.orientation) << c.label;
        }
    }
}
