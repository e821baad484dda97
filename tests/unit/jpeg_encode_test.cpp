// Our JPEG encoder: its files decode through the platform's decoder to the
// tinted picture within a bound for each quality, carry the standard's
// tables scaled by the quality asked for, and come out byte for byte the
// same on any number of cores, their restart markers in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "decoder/picture_decode.h"
#include "picture/jpeg_encode.h"
#include "support/file_io.h"
#include "test_support.h"

namespace {

const TintParameters kLook = {{200, 100, 50}, {30, 240, 90}, 60, 40, 30};

// A smooth picture, bottom-up, its row padding 0xAA.
std::vector<uint8_t> Gradient(int32_t w, int32_t h, int32_t stride)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stride) * h, 0xAA);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &bytes[static_cast<size_t>(h - 1 - y) * stride + 3 * x];
            p[0] = static_cast<uint8_t>(40 + 150 * x / std::max(w, 2));
            p[1] = static_cast<uint8_t>(60 + 120 * y / std::max(h, 2));
            p[2] = static_cast<uint8_t>(200 - 100 * (x + y) / std::max(w + h, 2));
        }
    }
    return bytes;
}

bool EncodeToFile(const char* name, const std::vector<uint8_t>& pixels, int32_t w, int32_t h, int32_t stride,
                  const JpegEncoding& encoding)
{
    static FileRecord file;
    BindFile(file, name);
    if (!OpenForReplacing(file))
        return false;
    const Failure failure =
        WriteTintedJpeg(file, TintedSource(pixels.data(), w, h, stride, kLook), PictureMetadata(), encoding);
    if (failure) {
        Abandon(file);
        return false;
    }
    return CloseFile(file);
}

// A DQT segment's entry at zigzag place k of table t (0 luminance).
int QuantEntry(const std::vector<uint8_t>& jpeg, int t, int k)
{
    for (size_t at = 2; at + 4 <= jpeg.size(); at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3])) {
        if (jpeg[at] != 0xFF || jpeg[at + 1] == 0xDA)
            break;
        if (jpeg[at + 1] == 0xDB && at + 4 + 65 * (t + 1) <= jpeg.size())
            return jpeg[at + 4 + 65 * t + 1 + k];
    }
    return -1;
}

// With DUOTINT_JPEG_KEEP naming a folder, each file is copied there as
// q<quality>-<width>x<height>.jpg for tests/jpegcheck.sh, which has djpeg
// and identify read it.
TEST(JpegEncode, DecodesToTheTintedPictureAtTheQualityAsked)
{
    static const struct { int32_t w, h; } kSizes[] = {{1, 1},   {1, 17},  {17, 1},  {8, 8},
                                                      {9, 9},   {16, 16}, {33, 17}, {3000, 7}};
    // The luminance's sampling (0x22: the chroma at half size each way),
    // the least and greatest entries of the standard's tables (16 and 99
    // luminance, 17 and 99 chrominance) as the quality scales them, and the
    // mean difference a smooth picture may decode with.
    static const struct {
        int quality;
        JpegChroma chroma;
        int sampling;
        int first[2], last[2];
        double mostMeanError;
    } kModes[] = {
        {92, JpegChroma::half, 0x22, {3, 3}, {16, 16}, 2.0},   {92, JpegChroma::full, 0x11, {3, 3}, {16, 16}, 1.0},
        {50, JpegChroma::half, 0x22, {16, 17}, {99, 99}, 3.5}, {50, JpegChroma::full, 0x11, {16, 17}, {99, 99}, 3.5},
        {30, JpegChroma::automatic, 0x22, {27, 28}, {164, 164}, 3.5},
        {76, JpegChroma::automatic, 0x22, {8, 8}, {48, 48}, 2.0},
        {90, JpegChroma::automatic, 0x11, {3, 3}, {20, 20}, 1.0},
        {100, JpegChroma::automatic, 0x11, {1, 1}, {1, 1}, 0.6},
    };
    TintTables tables;
    BuildTintTables(kLook, tables);
    ASSERT_TRUE(PrepareDecoders());
    const char* keep = getenv("DUOTINT_JPEG_KEEP");
    ScratchFolder folder;
    for (const auto& mode : kModes) {
        for (const auto& size : kSizes) {
            // Every size in both samplings; the other qualities once.
            if (mode.chroma == JpegChroma::automatic && size.w != 33)
                continue;
            const std::string label = "q" + std::to_string(mode.quality) + "-" + std::to_string(size.w) + "x" +
                                      std::to_string(size.h) + (mode.chroma == JpegChroma::half ? "-420" : "");
            SCOPED_TRACE(label);
            const int32_t stride = RowStride(size.w).stride;
            const std::vector<uint8_t> source = Gradient(size.w, size.h, stride);
            JpegEncoding encoding;
            encoding.quality = mode.quality;
            encoding.chroma = mode.chroma;
            ASSERT_TRUE(EncodeToFile("t.jpg", source, size.w, size.h, stride, encoding));

            const std::vector<uint8_t> jpeg = ReadWholeFile("t.jpg");
            const uint8_t sof[2] = {0xFF, 0xC0};
            const auto frame = std::search(jpeg.begin(), jpeg.end(), sof, sof + 2);
            ASSERT_LT(frame + 11, jpeg.end());
            EXPECT_EQ(frame[11], mode.sampling);
            for (int t = 0; t < 2; ++t) {
                EXPECT_EQ(QuantEntry(jpeg, t, 0), mode.first[t]) << "table " << t;
                EXPECT_EQ(QuantEntry(jpeg, t, 63), mode.last[t]) << "table " << t;
            }
            std::vector<uint8_t> expected(source.size());
            TintRows(source.data(), expected.data(), size.w, size.h, stride, tables);
            DecodedPicture decoded;
            ASSERT_TRUE(decoded.Open(L"t.jpg", 1));
            ASSERT_EQ(decoded.Width(), size.w);
            ASSERT_EQ(decoded.Height(), size.h);
            std::vector<uint8_t> pixels(source.size(), 0x55);
            ASSERT_TRUE(decoded.CopyInto(pixels.data(), stride));
            decoded.Close();
            double sum = 0;
            for (int32_t y = 0; y < size.h; ++y)
                for (int32_t i = 0; i < 3 * size.w; ++i)
                    sum += std::abs(pixels[static_cast<size_t>(y) * stride + i] -
                                    expected[static_cast<size_t>(y) * stride + i]);
            EXPECT_LE(sum / (3.0 * size.w * size.h), mode.mostMeanError);
            if (keep != nullptr)
                CopyFileA("t.jpg", (std::string(keep) + "\\" + label + ".jpg").c_str(), FALSE);
        }
    }
}

// Strips are coded on whichever thread takes them; the file is the same.
TEST(JpegEncode, BytesDoNotDependOnTheCoresAndRestartsRunInOrder)
{
    const int32_t w = 24, h = 1100, stride = RowStride(w).stride;
    std::vector<uint8_t> source = Gradient(w, h, stride);
    for (size_t i = 0; i < source.size(); i += 7)
        source[i] = static_cast<uint8_t>(i * 2654435761u >> 24);  // detail, so that strips differ
    ScratchFolder folder;
    std::vector<uint8_t> files[3];
    const uint32_t cores[3] = {1, 2, 8};
    for (int i = 0; i < 3; ++i) {
        JpegEncoding encoding;
        encoding.cores = cores[i];
        ASSERT_TRUE(EncodeToFile("t.jpg", source, w, h, stride, encoding));
        files[i] = ReadWholeFile("t.jpg");
    }
    EXPECT_TRUE(files[0] == files[1]);
    EXPECT_TRUE(files[0] == files[2]);

    // 4:4:4 at quality 92: 8 rows an MCU row, 64 a strip, so 18 strips.
    const std::vector<uint8_t>& jpeg = files[0];
    const uint8_t sos[2] = {0xFF, 0xDA};
    auto at = std::search(jpeg.begin(), jpeg.end(), sos, sos + 2);
    ASSERT_NE(at, jpeg.end());
    std::vector<int> restarts;
    for (at += 2 + (at[2] << 8 | at[3]); at + 1 < jpeg.end(); ++at)
        if (at[0] == 0xFF && at[1] != 0x00)
            restarts.push_back(at[1]);
    ASSERT_EQ(restarts.size(), 18u);
    for (size_t i = 0; i + 1 < restarts.size(); ++i)
        EXPECT_EQ(restarts[i], static_cast<int>(0xD0 + i % 8)) << "marker " << i;
    EXPECT_EQ(restarts.back(), 0xD9);  // the end
}

}  // namespace
