// Row strides, header parsing and the export header.
#include <gtest/gtest.h>

#include <cstring>

#include "image/bmp.h"

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
}

namespace {

struct HeaderFields {
    uint32_t dataOffset = 54, infoSize = 40;
    int32_t width = 3, height = 2;
    uint16_t planes = 1, bits = 24;
    uint32_t compression = 0;
    const char* magic = "BM";
};

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Pack(const HeaderFields& f, uint8_t* h)
{
    memset(h, 0xAA, 54);
    h[0] = static_cast<uint8_t>(f.magic[0]);
    h[1] = static_cast<uint8_t>(f.magic[1]);
    Put32(h + 10, f.dataOffset);
    Put32(h + 14, f.infoSize);
    Put32(h + 18, static_cast<uint32_t>(f.width));
    Put32(h + 22, static_cast<uint32_t>(f.height));
    h[26] = static_cast<uint8_t>(f.planes);
    h[27] = static_cast<uint8_t>(f.planes >> 8);
    h[28] = static_cast<uint8_t>(f.bits);
    h[29] = static_cast<uint8_t>(f.bits >> 8);
    Put32(h + 30, f.compression);
}

uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

TEST(ImageHeader, AcceptsPlainTopDownAndOffsetPictures)
{
    uint8_t h[54];
    ImageHeaderFacts facts{};
    char sentence[256] = "";

    HeaderFields plain;
    Pack(plain, h);
    ASSERT_TRUE(ParseImageHeader(h, "cat.bmp", facts, sentence, sizeof sentence)) << sentence;
    EXPECT_EQ(facts.width, 3);
    EXPECT_EQ(facts.height, 2);
    EXPECT_EQ(facts.topDown, 0);
    EXPECT_EQ(facts.dataOffset, 54u);

    HeaderFields topDown;
    topDown.height = -7;
    topDown.infoSize = 124;
    topDown.dataOffset = 138;
    Pack(topDown, h);
    ASSERT_TRUE(ParseImageHeader(h, "cat.bmp", facts, sentence, sizeof sentence)) << sentence;
    EXPECT_EQ(facts.height, 7);
    EXPECT_EQ(facts.topDown, 1);
    EXPECT_EQ(facts.dataOffset, 138u);
}

TEST(ImageHeader, RefusesWhatCannotBeTintedWithAPlainSentence)
{
    static const struct {
        const char* label;
        HeaderFields fields;
        const char* reason;
    } kCases[] = {
        {"not BM", {54, 40, 3, 2, 1, 24, 0, "XX"}, "does not begin as a BMP file does"},
        {"info header of 39 bytes", {54, 39, 3, 2, 1, 24, 0}, "39-byte picture header"},
        {"OS/2 header", {54, 12, 3, 2, 1, 24, 0}, "12-byte"},
        {"two planes", {54, 40, 3, 2, 2, 24, 0}, "2 colour planes"},
        {"32 bits", {54, 40, 3, 2, 1, 32, 0}, "32 bits per pixel"},
        {"8 bits", {54, 40, 3, 2, 1, 8, 0}, "8 bits per pixel"},
        {"RLE", {54, 40, 3, 2, 1, 24, 1}, "compressed"},
        {"bit fields", {54, 40, 3, 2, 1, 24, 3}, "compressed"},
        {"width 0", {54, 40, 0, 2, 1, 24, 0}, "width of 0"},
        {"negative width", {54, 40, -127, 2, 1, 24, 0}, "width of -127"},
        {"height 0", {54, 40, 3, 0, 1, 24, 0}, "height of 0"},
        {"offset inside the header", {53, 40, 3, 2, 1, 24, 0}, "byte 53"},
        {"too large", {54, 40, 3000000, 2000000, 1, 24, 0}, "too large"},
        {"INT_MIN rows", {54, 40, 1, INT32_MIN, 1, 24, 0}, "too large"},
        {"bytes past 2^63", {54, 40, INT32_MAX, INT32_MAX, 1, 24, 0}, "too large"},
        {"just over 2^31 - 1 bytes", {54, 40, 1, 536870912, 1, 24, 0}, "too large"},
    };
    for (const auto& c : kCases) {
        uint8_t h[54];
        Pack(c.fields, h);
        ImageHeaderFacts facts{};
        char sentence[256] = "";
        EXPECT_FALSE(ParseImageHeader(h, "pic.bmp", facts, sentence, sizeof sentence)) << c.label;
        std::string text(sentence);
        EXPECT_EQ(text.rfind("pic.bmp ", 0), 0u) << c.label << ": " << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << c.label << ": " << text;
        EXPECT_EQ(text.back(), '.') << c.label;
    }
}

TEST(ImageHeader, LargestPictureThatFitsIsAccepted)
{
    // 536870911 rows of 4 bytes: 2^31 - 4 bytes of pixels.
    HeaderFields f;
    f.width = 1;
    f.height = 536870911;
    uint8_t h[54];
    Pack(f, h);
    ImageHeaderFacts facts{};
    char sentence[256] = "";
    EXPECT_TRUE(ParseImageHeader(h, "tall.bmp", facts, sentence, sizeof sentence)) << sentence;
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
