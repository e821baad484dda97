// Row strides, header parsing and the export header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "read/pixels.h"
#include "test_files.h"

TEST(RowStride, PadsEveryRowToFourBytes)
{
    static const struct { int32_t width, stride, pad; } kCases[] = {
        {1, 4, 1}, {2, 8, 2}, {3, 12, 3}, {4, 12, 0}, {5, 16, 1},
    };
    for (const auto& c : kCases) {
        RowLayout got = RowStride(c.width);
        EXPECT_EQ(got.stride, c.stride) << "width " << c.width;
        EXPECT_EQ(got.pad, c.pad) << "width " << c.width;
    }
    EXPECT_EQ(RowBytes(INT32_MAX), 6442450944) << "a row longer than 2^31 bytes";
}

namespace {

using support::BmpHeader;

// The 54 bytes of a header, built by the test helpers.
std::vector<uint8_t> Pack(const BmpHeader& f) { return support::PackHeader(f, 0); }

uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

TEST(ImageHeader, AcceptsPlainTopDownAndOffsetPictures)
{
    ImageHeaderFacts facts{};
    char sentence[256] = "";

    ASSERT_TRUE(ParseImageHeader(Pack({3, 2}).data(), "cat.bmp", facts, sentence, sizeof sentence)) << sentence;
    EXPECT_EQ(facts.width, 3);
    EXPECT_EQ(facts.height, 2);
    EXPECT_EQ(facts.topDown, 0);
    EXPECT_EQ(facts.dataOffset, 54u);

    BmpHeader topDown{3, -7};
    topDown.infoSize = 124;
    topDown.dataOffset = 138;
    ASSERT_TRUE(ParseImageHeader(Pack(topDown).data(), "cat.bmp", facts, sentence, sizeof sentence)) << sentence;
    EXPECT_EQ(facts.height, 7);
    EXPECT_EQ(facts.topDown, 1);
    EXPECT_EQ(facts.dataOffset, 138u);
}

TEST(ImageHeader, RefusesWhatCannotBeTintedWithAPlainSentence)
{
    static const struct {
        const char* label;
        BmpHeader fields;  // width, height, planes, bits, compression, info size, data offset
        const char* reason;
    } kCases[] = {
        {"not BM", {3, 2, 1, 24, 0, 40, 54, "XX"}, "does not begin as a BMP file does"},
        {"info header of 39 bytes", {3, 2, 1, 24, 0, 39, 54}, "39-byte picture header"},
        {"OS/2 header", {3, 2, 1, 24, 0, 12, 54}, "12-byte"},
        {"two planes", {3, 2, 2, 24, 0, 40, 54}, "2 colour planes"},
        {"32 bits", {3, 2, 1, 32, 0, 40, 54}, "32 bits per pixel"},
        {"8 bits", {3, 2, 1, 8, 0, 40, 54}, "8 bits per pixel"},
        {"RLE", {3, 2, 1, 24, 1, 40, 54}, "compressed"},
        {"bit fields", {3, 2, 1, 24, 3, 40, 54}, "compressed"},
        {"width 0", {0, 2, 1, 24, 0, 40, 54}, "width of 0"},
        {"negative width", {-127, 2, 1, 24, 0, 40, 54}, "width of -127"},
        {"height 0", {3, 0, 1, 24, 0, 40, 54}, "height of 0"},
        {"offset inside the header", {3, 2, 1, 24, 0, 40, 53}, "byte 53"},
        {"too large", {3000000, 2000000, 1, 24, 0, 40, 54}, "too large"},
        {"INT_MIN rows", {1, INT32_MIN, 1, 24, 0, 40, 54}, "-2147483648 pixels, which no picture has; the file is damaged"},
        {"bytes past 2^63", {INT32_MAX, INT32_MAX, 1, 24, 0, 40, 54}, "too large"},
        {"just over 2^31 - 1 bytes", {1, 536870912, 1, 24, 0, 40, 54}, "too large"},
    };
    for (const auto& c : kCases) {
        ImageHeaderFacts facts{};
        char sentence[256] = "";
        EXPECT_FALSE(ParseImageHeader(Pack(c.fields).data(), "pic.bmp", facts, sentence, sizeof sentence)) << c.label;
        std::string text(sentence);
        EXPECT_EQ(text.rfind("pic.bmp ", 0), 0u) << c.label << ": " << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << c.label << ": " << text;
        EXPECT_EQ(text.back(), '.') << c.label;
    }
}

TEST(ImageHeader, LargestPictureThatFitsIsAccepted)
{
    // 536870911 rows of 4 bytes: 2^31 - 4 bytes of pixels.
    BmpHeader f;
    f.height = 536870911;
    ImageHeaderFacts facts{};
    char sentence[256] = "";
    EXPECT_TRUE(ParseImageHeader(Pack(f).data(), "tall.bmp", facts, sentence, sizeof sentence)) << sentence;
}

TEST(BmpHeaderFields, StandWhereTheInfoHeaderSizeLaysThemOut)
{
    // Windows' layout holds 7 x -5, 1 plane, 24 bits, compression 3; OS/2
    // 1.x's 40000 x 3, 1 plane, 8 bits. Bytes past the info header are 0xAA,
    // so a field read from them shows.
    static const struct {
        const char* label;
        uint32_t infoSize;
        size_t size;  // bytes given
        BmpHeaderFields expected;
    } kCases[] = {
        {"Windows V3", 40, 54, {true, 54, 40, 7, -5, 1, 24, 3}},
        {"OS/2 1.x", 12, 54, {true, 54, 12, 40000, 3, 1, 8, 0}},
        {"OS/2 2.x of 16 bytes, too short for a compression", 16, 54, {true, 54, 16, 7, -5, 1, 24, 0}},
        {"only the file header and the info header's size", 40, 18, {true, 54, 40, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : kCases) {
        std::vector<uint8_t> b = Pack({7, -5, 1, 24, 3, c.infoSize, 54});
        if (c.infoSize == 12) {
            const uint32_t os2[][2] = {{18, 40000}, {20, 3}, {22, 1}, {24, 8}};
            for (const auto& field : os2)
                support::PutLittleEndian(b, field[0], field[1], 2);
        }
        std::fill(b.begin() + 14 + c.infoSize, b.end(), 0xAA);
        auto all = [](const BmpHeaderFields& f) {
            return std::make_tuple(f.magic, f.dataOffset, f.infoSize, f.width, f.height, f.planes, f.bitsPerPixel,
                                   f.compression);
        };
        EXPECT_EQ(all(ReadBmpHeaderFields(b.data(), c.size)), all(c.expected)) << c.label;
    }
}

TEST(ExportHeader, ThreeByTwoPicture)
{
    uint8_t h[54];
    memset(h, 0xAA, sizeof h);
    PackExportHeader(h, 3, 2, RowStride(3).stride);
    static const uint8_t kExpected[54] = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
        24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    };
    for (int i = 0; i < 54; ++i)
        EXPECT_EQ(h[i], kExpected[i]) << "byte " << i;
}

TEST(ExportHeader, SizesFollowTheRowPadding)
{
    // Widths 1, 4, 5 and 7 leave 1, 0, 1 and 3 padding bytes a row.
    static const struct { int32_t width, height; uint32_t fileSize, pixelBytes; } kCases[] = {
        {1, 1, 58, 4}, {4, 3, 90, 36}, {5, 7, 166, 112}, {7, 5, 174, 120},
    };
    for (const auto& c : kCases) {
        uint8_t h[54];
        memset(h, 0xAA, sizeof h);
        PackExportHeader(h, c.width, c.height, RowStride(c.width).stride);
        EXPECT_EQ(Get32(h + 2), c.fileSize) << c.width << " x " << c.height;
        EXPECT_EQ(Get32(h + 18), static_cast<uint32_t>(c.width));
        EXPECT_EQ(Get32(h + 22), static_cast<uint32_t>(c.height));
        EXPECT_EQ(Get32(h + 34), c.pixelBytes) << c.width << " x " << c.height;
    }
}
