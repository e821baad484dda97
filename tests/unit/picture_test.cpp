// Opening pictures other than 24-bit BMPs: the corpus's good BMPs and small
// PNG and JPEG files, each against a reference made without the platform.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "decoder/picture_decode.h"
#include "editor/export_image.h"
#include "editor/picture.h"
#include "editor/program.h"
#include "read/pixels.h"
#include "support/picture_names.h"
#include "test_support.h"

namespace {

std::string DataPath(const char* name)
{
    const char* data = getenv("DUOTINT_TEST_DATA");
    return data == nullptr ? std::string() : ToWindowsPath(data) + "\\pictures\\" + name;
}

// Opens path as the program does; the test ends if the program would.
void Open(const std::string& path)
{
    ResetProgram();
    static std::string held;
    held = path;
    state.fileNamePtr = &held[0];
    ReadImageHeader();
    LoadSourcePixels();
}

// Blue, green, red of picture pixel (x, y), y counted from the top.
const uint8_t* Pixel(int32_t x, int32_t y)
{
    return state.sourcePixels + static_cast<size_t>(state.imageHeight - 1 - y) * state.srcStride + 3 * x;
}

// FNV-1a 64 over sourceImage without its padding, as make_pictures.py hashes.
uint64_t SourceHash()
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (int32_t row = 0; row < state.imageHeight; ++row)
        for (int32_t i = 0; i < 3 * state.imageWidth; ++i)
            h = (h ^ state.sourcePixels[static_cast<size_t>(row) * state.srcStride + i]) * 0x100000001b3ULL;
    return h;
}

TEST(OpenPictureDeathTest, EveryGoodCorpusBmpHasTheReferencePixels)
{
    // From make_pictures.py's own BMP reader.
    static const struct {
        const char* name;
        int32_t width, height;
        uint64_t hash;
        bool refused = false;  // the platform's decoder under Wine cannot read 32-bit bit fields
    } kCases[] = {
        {"pal1.bmp", 127, 64, 0x91D2EAC19077C851ULL},
        {"pal1bg.bmp", 127, 64, 0x0D5E7EE67CEE4C55ULL},
        {"pal1wb.bmp", 127, 64, 0x91D2EAC19077C851ULL},
        {"pal4.bmp", 127, 64, 0x0C8146269702D429ULL},
        {"pal4gs.bmp", 127, 64, 0xAC66B235B8E89B9AULL},
        {"pal4rle.bmp", 127, 64, 0x0C8146269702D429ULL},
        {"pal8-0.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8gs.bmp", 127, 64, 0x5734EFB3781E15E7ULL},
        {"pal8nonsquare.bmp", 127, 32, 0xDF46C34FBA6F27E2ULL},
        {"pal8os2.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8rle.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8topdown.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8v4.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8v5.bmp", 127, 64, 0x1B9F7A1DBD252172ULL},
        {"pal8w124.bmp", 124, 61, 0x81A57DBE93724AC5ULL},
        {"pal8w125.bmp", 125, 62, 0xF31FCB29FCAB7AAFULL},
        {"pal8w126.bmp", 126, 63, 0x11EBEE6303E029E9ULL},
        {"rgb16-565.bmp", 127, 64, 0x4E7D6B389981FC4CULL},
        {"rgb16-565pal.bmp", 127, 64, 0x4E7D6B389981FC4CULL},
        {"rgb16.bmp", 127, 64, 0x1FAD7A2B6A4870C2ULL},
        {"rgb16bfdef.bmp", 127, 64, 0x1FAD7A2B6A4870C2ULL},
        {"rgb24.bmp", 127, 64, 0x7E411D45A17D6037ULL},
        {"rgb24pal.bmp", 127, 64, 0x7E411D45A17D6037ULL},
        {"rgb32.bmp", 127, 64, 0x7E411D45A17D6037ULL},
        {"rgb32bf.bmp", 127, 64, 0x7E411D45A17D6037ULL, true},
        {"rgb32bfdef.bmp", 127, 64, 0x7E411D45A17D6037ULL},
    };
    const char* suite = getenv("DUOTINT_BMPSUITE");
    ASSERT_NE(suite, nullptr) << "DUOTINT_BMPSUITE is not set";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string path = ToWindowsPath(suite) + "\\g\\" + c.name;
        if (c.refused) {
            EXPECT_EXIT(Open(path), testing::ExitedWithCode(13), "with bit fields, a kind duotint cannot read\\.");
            continue;
        }
        Open(path);
        EXPECT_EQ(state.imageWidth, c.width);
        EXPECT_EQ(state.imageHeight, c.height);
        EXPECT_EQ(SourceHash(), c.hash);
    }
}

TEST(OpenPicture, TransparencyIsFlattenedOntoWhite)
{
    Open(DataPath("alpha.png"));
    ASSERT_EQ(state.imageWidth, 5);
    ASSERT_EQ(state.imageHeight, 3);
    static const uint8_t kAlpha[5] = {0, 255, 1, 128, 254};
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            // make_pictures.py's alpha_pixel, red, green, blue. Blue 127 at
            // alpha 1, at (0, 1), lies just below a half: rounding by adding
            // 128 instead of 127 would take it to 255.
            const int rgb[3] = {(x * 53 + y * 91) % 256, (x * 29 + y * 7 + 40) % 256, (x * 17 + y * 113 + 14) % 256};
            const int a = kAlpha[(x + 2 * y) % 5];
            for (int k = 0; k < 3; ++k) {
                auto want = static_cast<int>(std::lround((rgb[k] * a + 255.0 * (255 - a)) / 255.0));
                EXPECT_EQ(Pixel(x, y)[2 - k], want) << x << "," << y << " component " << k;
            }
        }
}

void ColourPixel(int32_t x, int32_t y, int out[3])
{
    out[0] = (x * 33 + y * 71 + 100) % 256;
    out[1] = (x * 7 + y * 90 + 5) % 256;
    out[2] = (x * 60 + y * 20) % 256;
}

void PalettePixel(int32_t x, int32_t y, int out[3])
{
    static const int kPalette[4][3] = {{20, 10, 250}, {50, 240, 30}, {230, 70, 60}, {0, 190, 200}};
    for (int k = 0; k < 3; ++k)
        out[k] = kPalette[(x + y) % 4][k];
}

TEST(OpenPicture, PngVariantsGifTiffAndIconOpen)
{
    // Blue, green, red of each pixel by make_pictures.py's formulas.
    static const struct {
        const char* name;
        int32_t width, height;
        void (*expected)(int32_t x, int32_t y, int out[3]);
    } kCases[] = {
        {"rgb16.png", 5, 3, ColourPixel},
        {"grey.png", 7, 2, [](int32_t x, int32_t y, int out[3]) { out[0] = out[1] = out[2] = (x * 37 + y * 101) % 256; }},
        {"palette.png", 3, 3, PalettePixel},
        {"palette.gif", 3, 3, PalettePixel},
        {"frames.gif", 3, 3, PalettePixel},  // a second frame the platform could never decode
        {"rgb.tif", 5, 3, ColourPixel},
        {"sizes.ico", 48, 48, ColourPixel},  // after a 16 x 16 image of one colour
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        Open(DataPath(c.name));
        ASSERT_EQ(state.imageWidth, c.width);
        ASSERT_EQ(state.imageHeight, c.height);
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                int want[3];
                c.expected(x, y, want);
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(Pixel(x, y)[k], want[k]) << x << "," << y;
            }
        for (int32_t row = 0; row < c.height; ++row)
            for (int32_t i = 3 * c.width; i < state.srcStride; ++i)
                EXPECT_EQ(state.sourcePixels[row * state.srcStride + i], 0) << "padding";
    }
}

TEST(OpenPicture, EveryExifOrientationIsAppliedInThePreviewAndTheExport)
{
    // turned6.jpg is stored 32 x 16, the left half red above green, the
    // right half blue, so that no mirror is a turn. With each orientation
    // written into it, what is shown is the stored picture (orientation 1)
    // transposed or not, then mirrored, as EXIF defines each value.
    static const struct { int orientation; const char* label; bool transposed, mirroredX, mirroredY; } kCases[] = {
        {1, "upright", false, false, false},
        {2, "mirrored left to right", false, true, false},
        {3, "turned half round", false, true, true},
        {4, "mirrored top to bottom", false, false, true},
        {5, "transposed", true, false, false},
        {6, "turned a quarter clockwise", true, true, false},
        {7, "transposed the other way", true, true, true},
        {8, "turned a quarter anticlockwise", true, false, true},
    };
    ScratchFolder folder;
    std::vector<uint8_t> jpeg = ReadWholeFile(DataPath("turned6.jpg"));
    std::vector<uint8_t> stored;  // orientation 1's pixels, top row first
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        jpeg[30] = static_cast<uint8_t>(c.orientation);  // past SOI, APP1's head, the TIFF's and the entry's
        ASSERT_TRUE(WriteWholeFile("pic.jpg", jpeg));
        OpenPreviewAndExport("pic.jpg");
        const int32_t w = c.transposed ? 16 : 32, h = c.transposed ? 32 : 16;
        ASSERT_TRUE(state.imageWidth == w && state.imageHeight == h);
        ASSERT_TRUE(state.previewWidth == w && state.previewHeight == h);
        const std::vector<uint8_t> exported = ReadWholeFile("pic-.bmp");
        ASSERT_EQ(exported.size(), 54u + static_cast<size_t>(state.srcStride) * h);
        for (int32_t y = 0; c.orientation == 1 && y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int want[3] = {x < 16 ? 20 : 220, x < 16 && y >= 8 ? 220 : 20, x < 16 && y < 8 ? 220 : 20};
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(Pixel(x, y)[k], want[k], 6) << x << "," << y;
                stored.insert(stored.end(), Pixel(x, y), Pixel(x, y) + 3);
            }
        int previewWrong = 0, exportWrong = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int32_t mx = c.mirroredX ? w - 1 - x : x, my = c.mirroredY ? h - 1 - y : y;
                const uint8_t* want = &stored[3 * (c.transposed ? mx * 32 + my : my * 32 + mx)];
                const size_t row = static_cast<size_t>(h - 1 - y);
                previewWrong += memcmp(state.previewSourcePixels + row * state.outStride + 3 * x, want, 3) != 0;
                exportWrong += memcmp(&exported[54 + row * state.srcStride + 3 * x], want, 3) != 0;
            }
        EXPECT_EQ(previewWrong, 0) << "pixels of the preview";
        EXPECT_EQ(exportWrong, 0) << "pixels of the export";
    }
}

// The popup's path in a current folder more than 260 characters deep: found,
// read and exported beside it by relative name. Wine cannot start a process
// in such a folder, so the folder is made current here.
TEST(OpenPicture, TypedNameInAFolderBeyondMaxPathOpensAndExportsBesideIt)
{
    ScratchFolder scratch;
    std::wstring deep = L"\\\\?\\" + std::wstring(scratch.Path().begin(), scratch.Path().end());
    std::vector<std::wstring> levels;
    for (wchar_t c = L'a'; c < L'f'; ++c) {
        levels.push_back(deep += L"\\" + std::wstring(60, c));
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    const std::string png = DataPath("grey.png");
    ASSERT_TRUE(CopyFileW(std::wstring(png.begin(), png.end()).c_str(), (deep + L"\\cat.png").c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryW(deep.c_str()));

    ResetProgram();
    strcpy(state.fileName, "cat");
    state.nameLength = 3;
    state.fileNamePtr = state.fileName;
    EXPECT_TRUE(FindPictureFile(state.fileName, state.nameLength));
    ReadImageHeader();
    LoadSourcePixels();
    SetEditingDefaults();
    ExportImage();
    std::vector<uint8_t> exported = ReadWholeFile("cat-.bmp");
    EXPECT_EQ(state.imageWidth, 7);
    EXPECT_EQ(exported.size(), 54u + 2 * 24);
    ReleaseSourcePixels();

    SetCurrentDirectoryA(scratch.Path().c_str());
    DeleteFileW((deep + L"\\cat-.bmp").c_str());
    DeleteFileW((deep + L"\\cat.png").c_str());
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        EXPECT_TRUE(RemoveDirectoryW(level->c_str())) << "something was left beside the picture";
}

TEST(OpenPictureDeathTest, RandomBytesNamedPngAreRefusedWithASentence)
{
    ScratchFolder folder;
    std::vector<uint8_t> bytes(300);
    uint32_t seed = 12345;
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<uint8_t>(seed >> 16);
    }
    ASSERT_TRUE(WriteWholeFile("noise.png", bytes));
    EXPECT_EXIT(Open("noise.png"), testing::ExitedWithCode(13), "noise.png is not a picture duotint can read\\.");
}

// A header that promises 715827881 x 1 pixels (2 GB) in a 54-byte file ends
// with runtime error 100; that it does so before the memory is asked for is
// the bench's to time (tools/bench.sh, "refusal of a short file").
TEST(OpenPictureDeathTest, FileShorterThanItsRowsEndsWith100BeforeAllocating)
{
    ScratchFolder folder;
    std::vector<uint8_t> header = PictureHeader(715827881, 1);
    ASSERT_TRUE(WriteWholeFile("short.bmp", header));
    EXPECT_EXIT(Open("short.bmp"), testing::ExitedWithCode(100), "Runtime error 100");
}

}  // namespace
