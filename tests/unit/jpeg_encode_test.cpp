// Our JPEG encoder: its files decode, through the platform's decoder and
// through djpeg (tests/jpegcheck.sh), to the tinted picture within a bound
// for each quality, exactly where the picture allows; they carry the
// standard's tables scaled by the quality asked for and Huffman tables that
// are whole prefix codes of at most 16 bits, and come out byte for byte the
// same on any number of cores, their restart markers in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "container_bytes.h"
#include "platform_picture.h"
#include "export/write.h"
#include "support/file_io.h"
#include "test_support.h"

namespace {

using namespace support::bytes;

const TintParameters kLook = {{200, 100, 50}, {30, 240, 90}, 60, 40, 30};
// Every byte as it is: grey stays grey.
const TintParameters kUntinted = {{0, 0, 0}, {0, 0, 0}, 0, 0, 50};

enum class Picture { gradient, greyBlocks, greyNoise, noiseOnTop };

// A picture, bottom-up, its row padding 0xAA. A gradient: smooth. Grey
// blocks: flat in each 8 x 8, which a JPEG at quality 100 holds exactly;
// block b is b / 2 when even and 255 - b / 2 when odd, so black and white
// come first side by side (a DC step of 2040, the largest there is) and
// every level occurs. Grey noise: every coefficient in play; noise on top:
// in the top 64 rows alone, mid grey below.
std::vector<uint8_t> Pixels(Picture picture, int32_t w, int32_t h, int32_t stride)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stride) * h, 0xAA);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &bytes[static_cast<size_t>(h - 1 - y) * stride + 3 * x];
            const int32_t b = (y / 8 * ((w + 7) / 8) + x / 8) % 256;
            const uint32_t level = picture == Picture::greyBlocks                ? (b % 2 == 0 ? b / 2 : 255 - b / 2)
                                   : picture == Picture::noiseOnTop && y >= 64 ? 128
                                                                               : (y * 7919 + x) * 2654435761u >> 24;
            memset(p, static_cast<int>(level), 3);
            if (picture == Picture::gradient) {
                p[0] = static_cast<uint8_t>(40 + 150 * x / std::max(w, 2));
                p[1] = static_cast<uint8_t>(60 + 120 * y / std::max(h, 2));
                p[2] = static_cast<uint8_t>(200 - 100 * (x + y) / std::max(w + h, 2));
            }
        }
    }
    return bytes;
}

// The picture encoded into t.jpg, and its bytes; none when it fails.
Bytes Encoded(const std::vector<uint8_t>& pixels, int32_t w, int32_t h, int32_t stride, const ExportSettings& encoding,
              const TintParameters& look = kLook)
{
    static FileRecord file;
    BindFile(file, "t.jpg");
    if (!OpenForReplacing(file))
        return {};
    if (WriteJpeg({file, TintedSource(pixels.data(), w, h, stride, look), nullptr, encoding, PictureMetadata()})) {
        Abandon(file);
        return {};
    }
    return CloseFile(file) ? ReadWholeFile("t.jpg") : Bytes();
}

// The standard's example tables (annex K.1) in zigzag order, as DQT holds
// them at quality 50.
const int kAnnexKZigzag[2][64] = {
    {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40, 26, 24, 22, 22, 24, 49,
     35, 37, 29, 40, 58, 51, 61, 60, 57, 51, 56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56,
     80, 109, 81, 87, 95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99},
    {17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}};

// The decoded rows against the tinted ones: the mean difference at most
// `most` (0: every byte equal), and a grey picture's pixels all grey.
void ExpectDecodedNear(const std::vector<uint8_t>& decoded, const std::vector<uint8_t>& expected, int32_t w,
                       int32_t h, int32_t stride, double most, bool grey)
{
    double sum = 0;
    int32_t notGrey = 0;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = &decoded[static_cast<size_t>(y) * stride];
        const uint8_t* e = &expected[static_cast<size_t>(y) * stride];
        for (int32_t i = 0; i < 3 * w; ++i)
            sum += std::abs(p[i] - e[i]);
        for (int32_t x = 0; x < w; ++x)
            notGrey += p[3 * x] != p[3 * x + 1] || p[3 * x + 1] != p[3 * x + 2];
    }
    EXPECT_LE(sum / (3.0 * w * h), most);
    if (grey) {
        EXPECT_EQ(notGrey, 0) << "pixels with R, G and B apart";
    }
}

// Each file is decoded by the platform's decoder. With DUOTINT_JPEG_KEEP
// naming a folder, each file is copied there as <label>.jpg for
// tests/jpegcheck.sh, which has djpeg and identify read it; the label
// starts q<quality>-. With DUOTINT_JPEG_DJPEG naming a folder, each file is
// also compared as djpeg decoded it there, <label>.bmp.
TEST(JpegEncode, DecodesToTheTintedPictureAtTheQualityAsked)
{
    struct Size { int32_t w, h; };
    // 200 x 150: three strips in either sampling.
    static const Size kSizes[] = {{1, 1}, {1, 17}, {17, 1}, {8, 8}, {9, 9}, {16, 16}, {33, 17}, {3000, 7}, {200, 150}};
    // The luminance's sampling (0x22: the chroma at half size each way),
    // the least and greatest entries of the standard's tables (16 and 99
    // luminance, 17 and 99 chrominance) as the quality scales them, and the
    // mean difference the picture may decode with (0: none). A row with a
    // size of its own is that size alone; otherwise a row with the chroma
    // asked takes every size, and one left automatic 33 x 17.
    static const struct { int quality; JpegChroma chroma; int sampling, first[2], last[2]; double mostMeanError;
                          Picture picture; Size only; } kModes[] = {
        {92, JpegChroma::half, 0x22, {3, 3}, {16, 16}, 2.0, Picture::gradient, {}},
        {92, JpegChroma::full, 0x11, {3, 3}, {16, 16}, 1.0, Picture::gradient, {}},
        {50, JpegChroma::half, 0x22, {16, 17}, {99, 99}, 3.5, Picture::gradient, {}},
        {50, JpegChroma::full, 0x11, {16, 17}, {99, 99}, 3.5, Picture::gradient, {}},
        {30, JpegChroma::automatic, 0x22, {27, 28}, {164, 164}, 3.5, Picture::gradient, {}},
        {76, JpegChroma::automatic, 0x22, {8, 8}, {48, 48}, 2.0, Picture::gradient, {}},
        {90, JpegChroma::automatic, 0x11, {3, 3}, {20, 20}, 1.0, Picture::gradient, {}},
        {100, JpegChroma::automatic, 0x11, {1, 1}, {1, 1}, 0.6, Picture::gradient, {}},
        // The lowest qualities, where the scaled entries pass 255 and are held there.
        {1, JpegChroma::automatic, 0x22, {255, 255}, {255, 255}, 30, Picture::gradient, {}},
        {2, JpegChroma::automatic, 0x22, {255, 255}, {255, 255}, 30, Picture::gradient, {}},
        {3, JpegChroma::automatic, 0x22, {255, 255}, {255, 255}, 30, Picture::gradient, {}},
        {4, JpegChroma::automatic, 0x22, {200, 213}, {255, 255}, 30, Picture::gradient, {}},
        {5, JpegChroma::automatic, 0x22, {160, 170}, {255, 255}, 30, Picture::gradient, {}},
        // Grey over three strips, exactly: every level, black beside white.
        {100, JpegChroma::automatic, 0x11, {1, 1}, {1, 1}, 0, Picture::greyBlocks, {128, 136}},
        {100, JpegChroma::half, 0x22, {1, 1}, {1, 1}, 0, Picture::greyBlocks, {128, 136}},
        // Every coefficient in play, over two strips. The DCT's rounding
        // alone leaves 0.08 here; a DCT constant 30 out in 8192 leaves 0.15.
        {100, JpegChroma::full, 0x11, {1, 1}, {1, 1}, 0.1, Picture::greyNoise, {64, 72}},
        {85, JpegChroma::half, 0x22, {5, 5}, {30, 30}, 6.0, Picture::greyNoise, {64, 72}},
        // Eighteen strips, more than are counted, the top one not among
        // them: its symbols, which no counted strip has, are coded, and the
        // tables fit every strip.
        {100, JpegChroma::full, 0x11, {1, 1}, {1, 1}, 0.1, Picture::noiseOnTop, {16, 1100}},
    };
    ASSERT_TRUE(PrepareDecoders());
    const char* keep = getenv("DUOTINT_JPEG_KEEP");
    const char* djpeg = getenv("DUOTINT_JPEG_DJPEG");
    ScratchFolder folder;
    for (const auto& mode : kModes) {
        for (const Size& size : kSizes) {
            if (mode.only.w != 0 ? size.w != kSizes[0].w : mode.chroma == JpegChroma::automatic && size.w != 33)
                continue;
            const int32_t w = mode.only.w != 0 ? mode.only.w : size.w, h = mode.only.w != 0 ? mode.only.h : size.h;
            const bool grey = mode.picture != Picture::gradient;
            const std::string label = "q" + std::to_string(mode.quality) + "-" + std::to_string(w) + "x" +
                                      std::to_string(h) + (mode.chroma == JpegChroma::half ? "-420" : "") +
                                      (mode.picture == Picture::greyBlocks  ? "-blocks"
                                       : mode.picture == Picture::greyNoise ? "-noise"
                                       : mode.picture == Picture::noiseOnTop ? "-noise-on-top"
                                                                            : "");
            SCOPED_TRACE(label);
            const int32_t stride = RowStride(w).stride;
            const std::vector<uint8_t> source = Pixels(mode.picture, w, h, stride);
            const TintParameters& look = grey ? kUntinted : kLook;
            ExportSettings encoding;
            encoding.quality = mode.quality;
            encoding.chroma = mode.chroma;
            // The frame's first sampling, and each DQT entry at zigzag place k of table t.
            const Bytes jpeg = Encoded(source, w, h, stride, encoding, look);
            const std::vector<Bytes> frame = Bodies(jpeg, 0xC0), dqt = Bodies(jpeg, 0xDB), dht = Bodies(jpeg, 0xC4);
            ASSERT_TRUE(frame.size() == 1 && frame[0].size() > 7 && dqt.size() == 1 && dqt[0].size() == 130);
            ASSERT_EQ(dht.size(), 1u);
            // Grey has no chroma: fitted to every strip, each chroma table
            // codes one symbol, the DC difference 0 or the end of a block.
            for (size_t at = 0; grey && at + 17 <= dht[0].size();) {
                int symbols = 0;
                for (size_t i = 1; i <= 16; ++i)
                    symbols += dht[0][at + i];
                EXPECT_TRUE((dht[0][at] & 0x0F) == 0 || symbols == 1) << "table " << int{dht[0][at]};
                at += 17 + static_cast<size_t>(symbols);
            }
            EXPECT_EQ(frame[0][7], mode.sampling);
            for (int t = 0; t < 2; ++t) {
                EXPECT_EQ(dqt[0][65 * t + 1], mode.first[t]) << "table " << t;
                EXPECT_EQ(dqt[0][65 * t + 64], mode.last[t]) << "table " << t;
                for (int k = 0; mode.quality == 50 && k < 64; ++k)
                    EXPECT_EQ(dqt[0][65 * t + 1 + k], kAnnexKZigzag[t][k]) << "table " << t << ", place " << k;
            }
            TintTables tables;
            BuildTintTables(look, tables);
            std::vector<uint8_t> expected(source.size());
            TintRows(source.data(), expected.data(), w, h, stride, tables);
            const std::string djpegs = djpeg != nullptr ? std::string(djpeg) + "\\" + label + ".bmp" : "";
            for (const std::string& path : {std::string("t.jpg"), djpegs}) {
                if (path.empty())
                    continue;
                SCOPED_TRACE(path == "t.jpg" ? "the platform's decoder" : "djpeg");
                support::PlatformPicture decoded;
                ASSERT_TRUE(decoded.Open(path));
                ASSERT_EQ(decoded.Width(), w);
                ASSERT_EQ(decoded.Height(), h);
                std::vector<uint8_t> pixels(source.size(), 0x55);
                ASSERT_TRUE(decoded.CopyInto(pixels.data(), stride));
                decoded.Close();
                ExpectDecodedNear(pixels, expected, w, h, stride, mode.mostMeanError, grey);
            }
            if (keep != nullptr)
                CopyFileA("t.jpg", (std::string(keep) + "\\" + label + ".jpg").c_str(), FALSE);
        }
    }
}

// Strips are coded on whichever thread takes them; the file is the same.
// Each strip but the last ends with its restart marker, and DRI counts a
// strip's MCUs.
TEST(JpegEncode, BytesDoNotDependOnTheCoresAndRestartsRunInOrder)
{
    // 4:4:4 at quality 92: 8 rows an MCU row, 64 a strip. 65535 pixels are
    // 8192 MCUs a row, so a strip takes 7 MCU rows to stay within the 65535
    // MCUs of a restart interval (no libjpeg reader takes a side over 65500,
    // so this file is only looked at).
    static const struct { int32_t w, h; size_t strips; int restartInterval; } kRows[] = {
        {24, 1100, 18, 3 * 8}, {65535, 72, 2, 8192 * 7}};
    for (const auto& row : kRows) {
        SCOPED_TRACE(std::to_string(row.w) + "x" + std::to_string(row.h));
        const int32_t w = row.w, h = row.h, stride = RowStride(w).stride;
        std::vector<uint8_t> source = Pixels(Picture::gradient, w, h, stride);
        for (size_t i = 0; i < source.size(); i += 7)
            source[i] = static_cast<uint8_t>(i * 2654435761u >> 24);  // detail, so that strips differ
        ScratchFolder folder;
        Bytes files[3];
        const uint32_t cores[3] = {1, 2, 8};
        for (int i = 0; i < 3; ++i) {
            ExportSettings encoding;
            encoding.threads.cores = cores[i];
            files[i] = Encoded(source, w, h, stride, encoding);
        }
        ASSERT_FALSE(files[0].empty());
        EXPECT_TRUE(files[0] == files[1]);
        EXPECT_TRUE(files[0] == files[2]);

        Bytes scan;
        const std::vector<Bytes> dri = Bodies(files[0], 0xDD, {}, &scan);
        ASSERT_TRUE(dri.size() == 1 && dri[0].size() == 2);
        EXPECT_EQ(dri[0][0] << 8 | dri[0][1], row.restartInterval);
        std::vector<int> restarts;
        for (size_t at = 0; at + 1 < scan.size(); ++at)
            if (scan[at] == 0xFF && scan[at + 1] != 0x00)
                restarts.push_back(scan[at + 1]);
        ASSERT_EQ(restarts.size(), row.strips);
        for (size_t i = 0; i + 1 < restarts.size(); ++i)
            EXPECT_EQ(restarts[i], static_cast<int>(0xD0 + i % 8)) << "marker " << i;
        EXPECT_EQ(restarts.back(), 0xD9);  // the end
    }
}

// Grey goes in as its own level of Y and no colour at all, every level
// exactly: a weight of the colour conversion out by 1 in 65536 would turn
// no grey pixel of a picture, yet every colour one a little.
TEST(JpegEncode, GreyIsItsOwnLumaAndNoChroma)
{
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(kJpegYcc[row][0] + kJpegYcc[row][1] + kJpegYcc[row][2], row == 0 ? 65536 : 0) << "row " << row;
}

// Mid grey, untinted, is 0 in every sample: each block is a DC difference
// of 0 and an end of block, each the one symbol of its table, coded "0",
// six bits an MCU. What follows SOS is those bits, each strip's last byte
// filled with one bits, its restart marker, and the end.
TEST(JpegEncode, StripsEndInOneBits)
{
    static const struct { int32_t w, h; Bytes coded; } kRows[] = {
        {1, 1, {0x03, 0xFF, 0xD9}},
        {8, 72, {0, 0, 0, 0, 0, 0, 0xFF, 0xD0, 0x03, 0xFF, 0xD9}},  // 8 MCUs, then 1
    };
    ScratchFolder folder;
    for (const auto& row : kRows) {
        SCOPED_TRACE(std::to_string(row.w) + "x" + std::to_string(row.h));
        const int32_t stride = RowStride(row.w).stride;
        ExportSettings encoding;
        encoding.quality = 92;
        Bytes scan;
        Bodies(Encoded(Bytes(static_cast<size_t>(stride) * row.h, 128), row.w, row.h, stride, encoding, kUntinted), 0xDA,
               {}, &scan);
        EXPECT_EQ(scan, row.coded);
    }
}

// Tables fitted to skewed and tied counts: every symbol counted, and no
// other, has a code of at most 16 bits; the codes fill the code space but
// for one code of the longest length, the all-ones one, which no code may
// be. Where the row says, the counts of each length and the symbols in
// order, as annex K.2 builds them: on a tie, the later symbol is joined first.
TEST(JpegEncode, FittedTablesCodeEachSymbolCountedInAtMost16Bits)
{
    struct Row {
        const char* label;
        int table;  // 0: DC, 1: AC
        std::vector<uint64_t> counts;  // of symbols 0, 1, 2...
        std::vector<int> lengths;      // the codes of each length from 1; empty: unchecked
        std::vector<int> symbols;
    };
    std::vector<uint64_t> fibonacci(60, 1);
    for (size_t i = 2; i < fibonacci.size(); ++i)
        fibonacci[i] = fibonacci[i - 1] + fibonacci[i - 2];
    const Row kRows[] = {
        {"one symbol", 0, {7}, {1}, {0}},
        {"five tied", 1, {1, 1, 1, 1, 1}, {0, 2, 3}, {0, 1, 2, 3, 4}},
        {"Fibonacci over 60, past 2^32: 59 bits unlimited", 1, fibonacci, {}, {}},
        {"every DC size, 11 once", 0, {900, 800, 700, 600, 500, 400, 300, 200, 100, 50, 20, 1}, {}, {}},
        {"all 256 tied", 1, std::vector<uint64_t>(256, 3), {}, {}},
        {"none", 1, {}, {}, {}},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.label);
        JpegSymbolCounts counts;
        for (size_t i = 0; i < row.counts.size(); ++i)
            counts.count[row.table][i] = row.counts[i];
        const JpegHuffmanTable table = FittedJpegTables(counts).table[row.table];

        int codes = 0, longest = 0;
        uint32_t space = 0;  // in units of a 16-bit code
        for (int length = 1; length <= 16; ++length) {
            codes += table.counts[length - 1];
            space += table.counts[length - 1] * (1u << (16 - length));
            if (table.counts[length - 1] != 0)
                longest = length;
        }
        std::vector<int> coded(table.symbols, table.symbols + table.symbolCount), counted;
        for (size_t i = 0; i < row.counts.size(); ++i)
            if (row.counts[i] != 0)
                counted.push_back(static_cast<int>(i));
        EXPECT_EQ(codes, table.symbolCount);
        std::sort(coded.begin(), coded.end());
        EXPECT_EQ(coded, counted);
        if (codes != 0) {
            EXPECT_EQ(space + (1u << (16 - longest)), 1u << 16) << "the code space, one all-ones code left";
        }
        if (!row.lengths.empty()) {
            std::vector<int> lengths(table.counts, table.counts + row.lengths.size());
            EXPECT_EQ(lengths, row.lengths);
            EXPECT_EQ(std::vector<int>(table.symbols, table.symbols + table.symbolCount), row.symbols);
        }
    }
}

}  // namespace
