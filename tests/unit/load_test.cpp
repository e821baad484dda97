// Loading a picture's pixels into sourceImage.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "editor/picture.h"
#include "formats/bytes.h"
#include "read/pixels.h"
#include "read/read.h"
#include "test_support.h"

namespace {

TEST(LoadSourcePixels, BottomUpAndTopDownFilesGiveTheSameBufferWithZeroPadding)
{
    // 5 x 3, 1 padding byte a row, set to 0xEE in the files: rows read into
    // memory have zeros there, rows mapped where they stand the file's bytes.
    const int32_t w = 5, h = 3, stride = 16;
    std::vector<uint8_t> bottomUp(static_cast<size_t>(stride) * h, 0xEE);
    for (int32_t row = 0; row < h; ++row)
        for (int32_t i = 0; i < 3 * w; ++i)
            bottomUp[static_cast<size_t>(row) * stride + i] = static_cast<uint8_t>(row * 40 + i + 1);
    std::vector<uint8_t> expected = bottomUp;
    for (int32_t row = 0; row < h; ++row)
        expected[static_cast<size_t>(row) * stride + 15] = 0;

    static const struct { const char* label; bool topDown; bool mapped; } kCases[] = {{"bottom-up", false, true},
                                                                                     {"top-down", true, false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        ResetProgram();
        ScratchFolder folder;
        std::vector<uint8_t> file = PictureHeader(w, c.topDown ? -h : h);
        for (int32_t i = 0; i < h; ++i) {
            int32_t row = c.topDown ? h - 1 - i : i;
            file.insert(file.end(), bottomUp.begin() + row * stride, bottomUp.begin() + (row + 1) * stride);
        }
        ASSERT_TRUE(TypeName("pic", file));
        ReadImageHeader();
        LoadSourcePixels();
        ASSERT_EQ(state.imageWidth, w);
        ASSERT_EQ(state.imageHeight, h);
        EXPECT_EQ(state.srcStride, stride);
        EXPECT_EQ(state.srcPad, 1);
        EXPECT_EQ(SourceIsMapped(), c.mapped);
        EXPECT_EQ(std::vector<uint8_t>(state.sourcePixels, state.sourcePixels + stride * h),
                  c.mapped ? bottomUp : expected);
        // Let go of, the picture's file is closed: it can be deleted.
        ReleaseSourcePixels();
        EXPECT_TRUE(DeleteFileA("pic.bmp"));
    }
}

// Read into memory, a picture of three of the read's pieces (4 MiB each)
// comes whole and in order, whichever thread touched each piece's pages.
// Its rows, and a JPEG's metadata, come through the file the header opened:
// read by name again, they would be looked for in another folder.
TEST(LoadPicture, ABottomUpPictureReadIntoMemoryInPiecesIsWholeFromTheFileOpenedOnce)
{
    ScratchFolder folder;
    std::vector<uint8_t> file = PictureHeader(1000, 3000);
    for (size_t i = 0; i < size_t{3000} * 3000; ++i)
        file.push_back(static_cast<uint8_t>(i + i / 4096 * 7));
    ASSERT_TRUE(WriteWholeFile("big.bmp", file));
    PictureRequest request;
    request.path = L"big.bmp";
    request.name = "big.bmp";
    request.intoMemory = true;
    DecoderProcess decoder;
    struct PictureHeader header;
    SourcePicture picture;
    ASSERT_FALSE(ReadPictureHeader(request, decoder, header));
    ASSERT_TRUE(SetCurrentDirectoryA(".."));
    const Failure failure = LoadPicture(request, header, decoder, picture);
    SetCurrentDirectoryA(folder.Path().c_str());
    ASSERT_FALSE(failure);
    EXPECT_FALSE(picture.IsMapped());
    EXPECT_TRUE(std::equal(file.begin() + 54, file.end(), picture.pixels));

    const std::string camera = ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\camera.jpg";
    ASSERT_TRUE(CopyFileA(camera.c_str(), "camera.jpg", FALSE));
    request.path = L"camera.jpg";
    ASSERT_FALSE(ReadPictureHeader(request, decoder, header));
    ASSERT_TRUE(SetCurrentDirectoryA(".."));
    PictureMetadata kept;
    const Failure keptFailure = ReadKeptMetadata(header, kept);
    SetCurrentDirectoryA(folder.Path().c_str());
    ASSERT_FALSE(keptFailure);
    EXPECT_FALSE(kept.exif.empty());
}

// Read through a header that no longer holds its file (let go of, as the
// editor does with the pixels) or never did, the rows and the metadata fail
// as a file that is not open (103), never as a crash.
TEST(LoadPicture, AHeaderWithoutItsOpenFileFailsAsAFileNotOpen)
{
    ScratchFolder folder;
    std::vector<uint8_t> file = PictureHeader(2, 2);
    file.resize(file.size() + 16, 0x40);
    ASSERT_TRUE(WriteWholeFile("pic.bmp", file));
    PictureRequest request;
    request.path = L"pic.bmp";
    request.name = "pic.bmp";
    DecoderProcess decoder;
    struct PictureHeader letGo, never;
    ASSERT_FALSE(ReadPictureHeader(request, decoder, letGo));
    Abandon(*letGo.file->record);
    never.ours = true;
    never.width = never.height = 2;
    const struct { const char* label; const struct PictureHeader& header; const wchar_t* file; } kCases[] = {
        {"let go", letGo, L"pic.bmp"}, {"never read", never, L""}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        SourcePicture picture;
        const Failure load = LoadPicture(request, c.header, decoder, picture);
        EXPECT_EQ(load.code, kErrorNotOpen);
        EXPECT_EQ(load.file, c.file);
        EXPECT_EQ(picture.pixels, nullptr);
        PictureMetadata kept;
        EXPECT_EQ(ReadKeptMetadata(c.header, kept).code, kErrorNotOpen);
        FileRecord* rows = &state.imageFile;
        EXPECT_EQ(SeekToPictureRows(c.header, rows).code, kErrorNotOpen);
        EXPECT_EQ(rows, nullptr);
    }
}

// The picture corpus tests/picture_corpus.sh makes with Debian's cjpeg,
// cwebp, img2webp and convert, and its table: each picture gives the rows of
// the BMP its library's tool (djpeg, dwebp; convert for PNG) writes of it,
// byte for byte, or a refusal holding the row's words. dwebp writes a picture with alpha as
// straight 32-bit rows: "dwebp-alpha" keeps the alpha and must give that
// colour and that alpha, the others are flattened onto white. Skipped when
// run without it.
TEST(LoadPicture, PictureCorpusGivesItsLibrarysToolPixelsOrItsRefusal)
{
    const char* corpus = getenv("DUOTINT_PICTURE_CORPUS");
    if (corpus == nullptr)
        GTEST_SKIP() << "tests/picture_corpus.sh runs it with its corpus";
    const std::vector<uint8_t> table = ReadWholeFile(std::string(corpus) + "\\cases.txt");
    std::istringstream lines(std::string(table.begin(), table.end()));
    DecoderProcess decoder;
    int rows = 0;
    for (std::string line; std::getline(lines, line); ++rows) {
        const std::string file = line.substr(0, line.find('\t')), wanted = line.substr(line.find('\t') + 1);
        SCOPED_TRACE(file);
        const std::string path = std::string(corpus) + "\\" + file;
        PictureRequest request;
        request.path = std::wstring(path.begin(), path.end());
        request.name = file;
        // The tool whose BMP holds the pixels; -alpha: the alpha is kept, not flattened.
        const bool pixels = wanted == "djpeg" || wanted.compare(0, 5, "dwebp") == 0 ||
                            wanted.compare(0, 12, "heif-convert") == 0 || wanted.compare(0, 7, "convert") == 0 ||
                            wanted == "tiff2rgba";
        request.keepAlpha = wanted.size() > 6 && wanted.compare(wanted.size() - 6, 6, "-alpha") == 0;
        // As duotint-cli reads: a refusal found at the last row still comes.
        request.rowsAsTheyCome = true;
        struct PictureHeader header;
        SourcePicture picture;
        Failure failure = ReadPictureHeader(request, decoder, header);
        if (!failure)
            failure = LoadPicture(request, header, decoder, picture);
        // Awaited once the decoder has likely ended, as an export that reads
        // metadata first does: its word after the last row must still count.
        if (!failure && picture.Arriving())
            Sleep(100);
        if (!failure)
            failure = picture.AwaitRows(picture.height);
        if (!pixels) {
            EXPECT_NE(failure.sentence.find(wanted), std::string::npos) << failure.sentence;
            continue;
        }
        ASSERT_FALSE(failure) << failure.sentence;
        const std::vector<uint8_t> bmp = ReadWholeFile(path + ".bmp");
        ASSERT_GE(bmp.size(), 54u);
        int32_t size[2];  // the tool's width and height
        memcpy(size, &bmp[18], sizeof size);
        ASSERT_TRUE(size[0] == picture.width && size[1] == picture.height);
        const size_t at = Read32(&bmp[10]), bytes = bmp[28] / 8, toolStride = (bytes * size[0] + 3) / 4 * 4;
        ASSERT_EQ(bmp.size(), at + toolStride * size[1]);
        ASSERT_EQ(picture.alpha != nullptr, request.keepAlpha);
        size_t differ = 0;
        for (int32_t y = 0; y < size[1]; ++y) {
            const uint8_t* row = picture.pixels + static_cast<size_t>(y) * picture.stride;
            const uint8_t* in = &bmp[at + y * toolStride];
            // 24 bits: the rows with their padding, as they stand.
            for (size_t i = 0; bytes == 3 && i < toolStride; ++i)
                differ += in[i] != row[i];
            for (int32_t x = 0; bytes == 4 && x < size[0]; ++x, in += 4) {
                const unsigned a = in[3];
                for (int c = 0; c < 3; ++c) {
                    const unsigned flat = (in[c] * a + 255 * (255 - a) + 127) / 255;
                    differ += row[3 * x + c] != (request.keepAlpha ? in[c] : flat);
                }
                if (request.keepAlpha)
                    differ += picture.alpha[static_cast<size_t>(y) * picture.alphaStride + x] != a;
            }
        }
        EXPECT_EQ(differ, 0u) << "bytes unlike the tool's";
    }
    EXPECT_GE(rows, 100);
}

}  // namespace
