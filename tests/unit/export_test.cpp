// The full-resolution export: file layout, the tint at full size, the bmpsuite
// 24-bit files, and failed exports that must leave an earlier export alone;
// the PNG encoder's filter choice and files, and the JPEG's quality as the
// platform's encoder receives it.
#include <gtest/gtest.h>

#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform_picture.h"
#include "editor/export_image.h"
#include "editor/picture.h"
#include "editor/preview.h"
#include "editor/program.h"
#include "export/write.h"
#include "formats/png_format.h"
#include "read/pixels.h"
#include "support/com.h"
#include "test_support.h"

namespace {

// A picture in memory as LoadSourcePixels leaves it, except that the padding
// may be set to something other than 0 to show that the export writes zeros.
struct MemoryPicture {
    std::vector<uint8_t> bytes;

    MemoryPicture(int32_t w, int32_t h, uint8_t padValue = 0)
    {
        RowLayout layout = RowStride(w);
        bytes.assign(static_cast<size_t>(layout.stride) * h, padValue);
        for (int32_t row = 0; row < h; ++row)
            for (int32_t i = 0; i < 3 * w; ++i)
                bytes[static_cast<size_t>(row) * layout.stride + i] = static_cast<uint8_t>(row * 71 + i * 13 + 5);
        BorrowSourcePixels(bytes, w, h);
    }
};

// What an export of `source` must contain when the tint changes nothing.
std::vector<uint8_t> UnchangedExport(int32_t w, int32_t h, const std::vector<uint8_t>& source)
{
    const size_t stride = static_cast<size_t>(RowStride(w).stride);
    return MakePicture(w, h, [&](int32_t x, int32_t y) {
        const uint8_t* p = &source[(h - 1 - y) * stride + 3 * x];
        return Rgb{p[2], p[1], p[0]};
    });
}

uint32_t Read32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class ExportTest : public ProgramTest {};

TEST_F(ExportTest, DefaultTintWritesTheSourceBehindANewHeader)
{
    static const struct { int32_t w, h; size_t fileSize; } kSizes[] = {
        {1, 1, 58}, {3, 2, 78}, {4, 1, 66}, {2, 3, 78}, {5, 2, 86}, {6, 1, 74}, {7, 4, 150},
        {350001, 2, 2100062},  // rows longer than the export's pieces
        {1001, 700, 2102854},  // three pieces of whole rows, the last one short
    };
    for (const auto& s : kSizes) {
        SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
        ResetProgram();
        ScratchFolder folder;
        MemoryPicture source(s.w, s.h, 0xAA);
        std::vector<uint8_t> before = source.bytes;
        SetEditingDefaults();
        TypeName("pic");
        ExportImage();

        std::vector<uint8_t> file = ReadWholeFile("pic-.bmp");
        ASSERT_EQ(file.size(), s.fileSize);
        EXPECT_EQ(file, UnchangedExport(s.w, s.h, source.bytes));
        EXPECT_EQ(Read32(file, 2), s.fileSize);
        EXPECT_EQ(Read32(file, 18), static_cast<uint32_t>(s.w));
        EXPECT_EQ(Read32(file, 22), static_cast<uint32_t>(s.h));
        EXPECT_EQ(source.bytes, before) << "the export changed sourceImage";
        EXPECT_EQ(folder.Files(), std::vector<std::string>{"pic-.bmp"});

        // The same rows read from their file a piece at a time, as
        // duotint-cli writes a BMP: the same export.
        std::vector<uint8_t> picture = PictureHeader(s.w, s.h);
        picture.insert(picture.end(), source.bytes.begin(), source.bytes.end());
        ResetProgram();
        SetEditingDefaults();
        TypeName("pic", picture);
        PictureRequest request;
        request.path = L"pic.bmp";
        request.name = "pic.bmp";
        DecoderProcess decoder;
        struct PictureHeader header;
        ASSERT_FALSE(ReadPictureHeader(request, decoder, header));
        static FileRecord target;
        BindFile(target, "pic-.bmp");
        std::vector<std::string> notes;
        EXPECT_FALSE(ExportPicture(request, header, decoder, CurrentTintParameters(), ExportSettings(), target, notes));
        header.file.reset();
        EXPECT_EQ(ReadWholeFile("pic-.bmp"), file);
    }
}

TEST_F(ExportTest, TintGoesToEachChannelWithItsOwnComponents)
{
    ScratchFolder folder;
    MemoryPicture source(5, 3);
    SetEditingDefaults();
    SetParameters({{200, 100, 50}, {300, -7, 9}, 100, 100, 75});
    TypeName("pic");
    ExportImage();

    // Blue 0.25 * 50 + 0.75 * 9 = 19.25; green 0.25 * 100 - 5.25 = 19.75;
    // red 0.25 * 200 + 0.75 * 300 = 275, which clamps.
    std::vector<uint8_t> file = ReadWholeFile("pic-.bmp");
    ASSERT_EQ(file.size(), 54u + 3 * 16);
    for (int32_t row = 0; row < 3; ++row) {
        const uint8_t* p = file.data() + 54 + row * 16;
        for (int32_t col = 0; col < 5; ++col) {
            EXPECT_EQ(p[3 * col], 19) << "blue at " << col << ", " << row;
            EXPECT_EQ(p[3 * col + 1], 20) << "green at " << col << ", " << row;
            EXPECT_EQ(p[3 * col + 2], 255) << "red at " << col << ", " << row;
        }
        EXPECT_EQ(p[15], 0);
    }
}

TEST_F(ExportTest, ExportMatchesWhatThePreviewShows)
{
    // 40 x 20 reduced to 20 x 10: each preview pixel samples a source pixel,
    // and the export must hold the same tinted bytes there.
    ScratchFolder folder;
    MemoryPicture source(40, 20);
    SetParameters({{10, 128, 128}, {128, 128, 250}, 35, 80, 40});
    state.previewWidth = 20;
    state.previewHeight = 10;
    state.scaleFactor = 2.0L;
    state.rowScaleFactor = 2.0L;
    DownsamplePreview();
    TintPreview();
    TypeName("pic");
    ExportImage();

    std::vector<uint8_t> file = ReadWholeFile("pic-.bmp");
    ASSERT_EQ(file.size(), 54u + 120 * 20);
    for (int32_t r = 0; r < 10; ++r) {
        for (int32_t c = 0; c < 20; ++c) {
            const uint8_t* shown = state.previewPixels + (9 - r) * state.outStride + 3 * c;
            const uint8_t* saved = file.data() + 54 + (19 - 2 * r) * 120 + 3 * (2 * c);
            ASSERT_EQ(0, memcmp(shown, saved, 3)) << "preview pixel " << c << ", " << r;
        }
    }
}

TEST_F(ExportTest, NameIsTheTypedNameWithADashAndAnExistingExportIsReplaced)
{
    static const char* kNames[] = {"photo", "sixteen-chars-ab"};
    for (const char* typed : kNames) {
        SCOPED_TRACE(typed);
        ResetProgram();
        ScratchFolder folder;
        std::string exportName = std::string(typed) + "-.bmp";
        ASSERT_TRUE(WriteWholeFile(exportName, std::vector<uint8_t>(1000, 0x55)));
        MemoryPicture source(3, 2);
        SetEditingDefaults();
        TypeName(typed);
        ExportImage();

        EXPECT_STREQ(state.fileName, exportName.c_str());
        EXPECT_EQ(state.fileNamePtr, state.fileName);
        EXPECT_EQ(ReadWholeFile(exportName), UnchangedExport(3, 2, source.bytes));
        EXPECT_EQ(folder.Files(), std::vector<std::string>{exportName});
    }
}

TEST_F(ExportTest, TwentyFourBitSuiteFilesExportTheirStoredPixels)
{
    const char* suite = getenv("DUOTINT_BMPSUITE");
    ASSERT_NE(suite, nullptr) << "DUOTINT_BMPSUITE is not set";
    // One picture stored six ways: plain, with a palette that 24-bit data
    // does not use, with a long palette, and with a 124-byte header and an
    // embedded or linked colour profile. Pixels are taken as stored, with no
    // colour management: rgb24prof2 stores red and green swapped, and only
    // its profile swaps them back, so its export keeps them swapped.
    static const struct { const char* name; bool redGreenSwapped; } kFiles[] = {
        {"g/rgb24.bmp", false},     {"g/rgb24pal.bmp", false},   {"q/rgb24largepal.bmp", false},
        {"q/rgb24prof.bmp", false}, {"q/rgb24prof2.bmp", true}, {"q/rgb24lprof.bmp", false},
    };
    std::vector<uint8_t> plain = ReadWholeFile(ToWindowsPath(suite) + "\\g\\rgb24.bmp");
    ASSERT_EQ(plain.size(), 54u + 384 * 64);
    std::vector<uint8_t> pixels(plain.begin() + 54, plain.end());
    std::vector<uint8_t> swapped = pixels;
    for (int32_t row = 0; row < 64; ++row)
        for (int32_t col = 0; col < 127; ++col)
            std::swap(swapped[row * 384 + 3 * col + 1], swapped[row * 384 + 3 * col + 2]);

    for (const auto& f : kFiles) {
        SCOPED_TRACE(f.name);
        ResetProgram();
        ScratchFolder folder;
        std::string path = ToWindowsPath(suite) + "\\" + f.name;
        std::replace(path.begin(), path.end(), '/', '\\');
        std::vector<uint8_t> original = ReadWholeFile(path);
        ASSERT_FALSE(original.empty());
        ASSERT_TRUE(TypeName("pic", original));
        ReadImageHeader();
        LoadSourcePixels();
        SetEditingDefaults();
        ExportImage();
        EXPECT_EQ(ReadWholeFile("pic-.bmp"), UnchangedExport(127, 64, f.redGreenSwapped ? swapped : pixels));
        EXPECT_EQ(ReadWholeFile("pic.bmp"), original) << "the source file changed";
    }
}

TEST(PngFilter, EachRowTakesTheFilterOfTheLeastSignedSum)
{
    // Two pixels under two above, after the zeros left of a row's start. The
    // last three rows pick another filter if the bytes are summed unsigned.
    static const struct { const char* label; uint8_t up[9], cur[9]; PngFilter filter; } kCases[] = {
        {"a flat row: Sub, ahead of Paeth on a tie", {0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 10, 20, 30, 10, 20, 30}, kFilterSub},
        {"the row above again: Up", {0, 0, 0, 90, 30, 200, 17, 250, 4}, {0, 0, 0, 90, 30, 200, 17, 250, 4}, kFilterUp},
        {"signed: None, not Paeth", {0, 0, 0, 127, 200, 100, 2, 129, 200}, {0, 0, 0, 255, 200, 1, 200, 0, 255},
         kFilterNone},
        {"signed: Average, not Sub", {0, 0, 0, 0, 254, 2, 127, 0, 255}, {0, 0, 0, 200, 100, 254, 100, 127, 0},
         kFilterAverage},
        {"signed: Paeth, not Average", {0, 0, 0, 127, 129, 0, 128, 200, 2}, {0, 0, 0, 129, 100, 200, 200, 1, 127},
         kFilterPaeth},
    };
    for (const auto& c : kCases) {
        uint64_t costs[kFilterCount] = {};
        AddFilterCosts(c.up + 3, c.cur + 3, 6, 3, costs);
        EXPECT_EQ(CheapestFilter(costs), c.filter) << c.label;
    }
    // 48 bytes, which the SSE2 sums take 16 at a time: each byte the floor of
    // the mean of its left neighbour and the byte above, so Average costs nothing.
    uint8_t up[51] = {}, cur[51] = {};
    for (int i = 3; i < 51; ++i) {
        up[i] = static_cast<uint8_t>(i * 97 + 31);
        cur[i] = static_cast<uint8_t>((cur[i - 3] + up[i]) >> 1);
    }
    uint64_t costs[kFilterCount] = {};
    AddFilterCosts(up + 3, cur + 3, 48, 3, costs);
    EXPECT_EQ(CheapestFilter(costs), kFilterAverage) << "48 bytes";
}

// With DUOTINT_PNG_KEEP naming a folder, each PNG is copied there for
// tests/pngcheck.sh, which has a strict reader check it.
TEST_F(ExportTest, PngDecodesToTheTintedPixelsHoweverItIsCut)
{
    static const struct {
        const char* label;
        int32_t w, h;
        size_t pieceBytes;  // 0: the export's own
        uint32_t cores;
        int level;
        bool text;          // a tEXt chunk between the header and the pixels
        bool flat;          // every byte the same: runs of 258 bytes, across blocks and pieces
        bool alpha;         // RGBA: 4 bytes a pixel, the filters' left neighbour 4 bytes back
    } kCases[] = {
        {"one pixel", 1, 1, 0, 0, 6, false, false, false},
        {"whole rows, two a piece, three threads", 7, 50, 44, 3, 6, true, false, false},
        {"a window of many short rows", 2, 3000, 4096, 2, 9, false, false, false},
        {"rows cut in four, one thread", 1000, 5, 1000, 1, 1, false, false, false},
        {"rows cut, pieces shorter than the window", 5001, 4, 3000, 4, 6, true, false, false},
        {"the export's own pieces", 1500, 1000, 0, 0, 6, false, false, false},
        {"flat rows, pieces of three blocks", 3000, 40, 200000, 2, 6, false, true, false},
        {"with alpha, rows cut in three, two threads", 1001, 9, 1500, 2, 9, false, false, true},
    };
    const TintParameters look = {{200, 100, 50}, {30, 240, 90}, 60, 40, 30};
    TintTables tables;
    BuildTintTables(look, tables);
    ASSERT_TRUE(PrepareDecoders());
    const char* keep = getenv("DUOTINT_PNG_KEEP");
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        ResetProgram();
        ScratchFolder folder;
        // Noise repeating every 97 bytes, so that the compressor's matches
        // reach back across the cuts, into each piece's dictionary.
        MemoryPicture source(c.w, c.h, 0xAA);
        uint32_t noise[97];
        for (uint32_t i = 0, x = 12345; i < 97; ++i, x = x * 1103515245 + 12345)
            noise[i] = x >> 24;
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t i = 0; i < 3 * c.w; ++i)
                source.bytes[static_cast<size_t>(y) * state.srcStride + i] =
                    static_cast<uint8_t>(c.flat ? 0x40 : noise[(i + 7 * y) % 97]);
        // Alpha rises along each row and differs from row to row, 0 and 255 included.
        const int32_t alphaStride = (c.w + 3) & ~3;
        std::vector<uint8_t> alpha(static_cast<size_t>(alphaStride) * c.h, 0xAA);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x)
                alpha[static_cast<size_t>(y) * alphaStride + x] = static_cast<uint8_t>(x / 3 + 40 * y);
        static FileRecord file;
        BindFile(file, "pic-.png");
        OpenForReplacing(file);
        CheckIo();
        PictureMetadata kept;
        if (c.text)
            kept.pngExtras.push_back({"tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'd', 'u', 'o'}});
        ExportSettings settings;
        settings.pngLevel = c.level;
        settings.threads.cores = c.cores;
        settings.pngPieceBytes = c.pieceBytes;
        WritePng({file,
                  TintedSource(source.bytes.data(), c.w, c.h, state.srcStride, look, c.alpha ? alpha.data() : nullptr,
                               alphaStride),
                  nullptr, settings, kept});
        CloseFile(file);
        CheckIo();
        if (c.pieceBytes == 0) {  // the export's own pieces, whatever the cores
            const std::vector<uint8_t> written = ReadWholeFile("pic-.png");
            OpenForReplacing(file);
            settings.threads.cores = 1;
            WritePng(
                {file, TintedSource(source.bytes.data(), c.w, c.h, state.srcStride, look), nullptr, settings, kept});
            CloseFile(file);
            EXPECT_TRUE(ReadWholeFile("pic-.png") == written) << "other bytes on one core";
        }

        std::vector<uint8_t> expected(source.bytes.size());
        TintRows(source.bytes.data(), expected.data(), c.w, c.h, state.srcStride, tables);
        support::PlatformPicture decoded;
        ASSERT_TRUE(decoded.Open("pic-.png"));
        ASSERT_EQ(decoded.Width(), c.w);
        ASSERT_EQ(decoded.Height(), c.h);
        std::vector<uint8_t> pixels(source.bytes.size(), 0x55), decodedAlpha(alpha.size(), 0x55);
        ASSERT_TRUE(decoded.CopyInto(pixels.data(), state.srcStride, nullptr, decodedAlpha.data(), alphaStride));
        EXPECT_EQ(decoded.Translucent(), c.alpha);
        decoded.Close();
        EXPECT_TRUE(pixels == expected);
        if (c.alpha) {
            for (int32_t y = 0; y < c.h; ++y)
                std::fill_n(alpha.begin() + static_cast<ptrdiff_t>(y) * alphaStride + c.w, alphaStride - c.w, 0);
            EXPECT_TRUE(decodedAlpha == alpha);
        }
        const std::vector<uint8_t> png = ReadWholeFile("pic-.png");
        ASSERT_GT(png.size(), 45u);
        EXPECT_EQ(std::string(png.begin() + 37, png.begin() + 41), c.text ? "tEXt" : "IDAT");
        if (keep != nullptr)
            CopyFileA("pic-.png", (std::string(keep) + "\\" + std::to_string(&c - kCases) + ".png").c_str(), FALSE);
    }
}

// A failed export ends the process, so it runs in a child: this test binary
// started again with only ExportFailureChild.Run and the folder to work in.
const char kChildFolderVariable[] = "DUOTINT_EXPORT_CHILD";

void ExportThreeByTwo(int32_t dispA)
{
    MemoryPicture* source = new MemoryPicture(3, 2);  // lives until the export ends
    (void)source;
    SetEditingDefaults();
    state.dispA = dispA;
    TypeName("out");
    ExportImage();
}

// A JPEG to a JPEG as duotint-cli writes it, its rows through a ring of
// strips as they come, gives the bytes the whole picture gives.
TEST(JpegExport, RowsThroughARingGiveTheWholePicturesBytes)
{
    static const struct {
        const char* label;
        int32_t w, h;
        JpegChroma chroma;
        uint32_t cores;
    } kCases[] = {
        {"4:4:4, 11 strips", 37, 700, JpegChroma::full, 0},
        {"4:2:0, the last strip short", 50, 650, JpegChroma::half, 0},
        {"one thread", 37, 700, JpegChroma::full, 1},
    };
    const TintParameters look = {{250, 120, 30}, {90, 240, 60}, 45, 60, 35};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        ScratchFolder folder;
        std::vector<uint8_t> bmp = PictureHeader(c.w, c.h);
        const size_t stride = static_cast<size_t>(RowStride(c.w).stride);
        for (size_t i = 0; i < stride * c.h; ++i)
            bmp.push_back(static_cast<uint8_t>(i % stride < 3u * c.w ? (i / stride) * 71 + i * 13 + i % 7 : 0));
        ASSERT_TRUE(WriteWholeFile("pic.bmp", bmp));
        ExportSettings settings;
        settings.format = OutputFormat::jpeg;
        settings.chroma = c.chroma;
        settings.threads.cores = c.cores;
        const int32_t ring = JpegRingRows(c.w, c.h, settings);
        EXPECT_TRUE(ring > 0 && ring < c.h) << ring;
        DecoderProcess decoder;
        auto Export = [&](const char* from, const char* to, bool asTheyCome) {
            PictureRequest request;
            request.path = std::wstring(from, from + strlen(from));
            request.name = from;
            request.rowsAsTheyCome = asTheyCome;
            struct PictureHeader header;
            auto target = NewFileRecord();
            BindFile(*target, to);
            std::vector<std::string> notes;
            Failure failure = ReadPictureHeader(request, decoder, header);
            if (!failure)
                failure = ExportPicture(request, header, decoder, look, settings, *target, notes);
            EXPECT_FALSE(failure) << failure.sentence;
        };
        Export("pic.bmp", "pic.jpg", false);
        Export("pic.jpg", "whole.jpg", false);
        Export("pic.jpg", "ring.jpg", true);
        EXPECT_TRUE(ReadWholeFile("ring.jpg") == ReadWholeFile("whole.jpg"));
    }
}

TEST(ExportFailureChild, Run)
{
    const char* folder = getenv(kChildFolderVariable);
    if (folder == nullptr)
        GTEST_SKIP() << "runs only as the child of ExportFailure tests";
    ResetProgram();
    SetCurrentDirectoryA(folder);
    ExportThreeByTwo(100);
}

// This test program again, running only ExportFailureChild.Run in `folder`.
support::ConsoleRun RunExportChild(const std::string& folder)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    SetEnvironmentVariableA(kChildFolderVariable, folder.c_str());
    support::ConsoleRun run = support::RunConsole(
        L"\"" + std::wstring(exe) + L"\" --gtest_filter=ExportFailureChild.Run", folder, 120000);
    SetEnvironmentVariableA(kChildFolderVariable, nullptr);
    run.out += run.err;
    return run;
}

TEST(ExportFailure, LeavesTheEarlierExportAndNoTemporaryFile)
{
    enum Hold { kReadOnly, kHeldOpen };
    static const struct { const char* label; Hold hold; } kCases[] = {
        {"read-only target", kReadOnly},
        {"target held open without sharing", kHeldOpen},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        ResetProgram();
        ScratchFolder folder;
        ExportThreeByTwo(0);  // the earlier export, untinted
        std::vector<uint8_t> earlier = ReadWholeFile("out-.bmp");
        ASSERT_EQ(earlier.size(), 78u);

        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.hold == kReadOnly)
            ASSERT_TRUE(SetFileAttributesA("out-.bmp", FILE_ATTRIBUTE_READONLY));
        else
            held = CreateFileA("out-.bmp", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const support::ConsoleRun child = RunExportChild(folder.Path());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);

        EXPECT_EQ(child.exitCode, 5u) << child.out;
        EXPECT_NE(child.out.find("[Error box] Runtime error 5 at 0x"), std::string::npos) << child.out;
        EXPECT_EQ(ReadWholeFile("out-.bmp"), earlier);
        EXPECT_EQ(folder.Files(), std::vector<std::string>{"out-.bmp"});
    }
}

}  // namespace
