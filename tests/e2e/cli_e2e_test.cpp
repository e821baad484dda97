// duotint-cli on real pictures: the look the editor shows and prints gives
// the editor's export byte for byte; a folder of mixed pictures gives each
// its output and the first failure's exit code; a tree is walked and run
// again; --strip gps; PNG and JPEG outputs decode to the tinted pixels, and
// a transparent picture's PNG keeps its alpha.
#include <gtest/gtest.h>

#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "container_bytes.h"
#include "editor_session.h"

using namespace e2e;

namespace {

const wchar_t kLook[] = L"250,120,30,45,35,20,90,240,60";
const Params kLookParams = {250, 120, 30, 45, 35, 20, 90, 240, 60};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string CliExe()
{
    const std::string exe = DuotintExe();
    return exe.substr(0, exe.find_last_of('\\') + 1) + "duotint-cli.exe";
}

std::wstring CliCommand(const std::wstring& arguments) { return L"\"" + Wide(CliExe()) + L"\" " + arguments; }

// The pixels of a PNG or JPEG as the platform decodes them, top row first,
// blue, green, red, and with `alpha` a straight alpha after them.
std::vector<uint8_t> Decode(const std::string& path, int& width, int& height, bool alpha = false)
{
    const UINT bytes = alpha ? 4 : 3;
    std::vector<uint8_t> pixels;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    UINT w = 0, h = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&w, &h)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR,
                                        WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
        pixels.resize(bytes * static_cast<size_t>(w) * h);
        if (FAILED(converter->CopyPixels(nullptr, bytes * w, static_cast<UINT>(pixels.size()), pixels.data())))
            pixels.clear();
    }
    for (IUnknown* p : {static_cast<IUnknown*>(converter), static_cast<IUnknown*>(frame),
                        static_cast<IUnknown*>(decoder), static_cast<IUnknown*>(factory)})
        if (p != nullptr)
            p->Release();
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return pixels;
}

TEST(Cli, SameLookGivesTheEditorsExportByteForByte)
{
    const int32_t width = 61, height = 41;
    TempFolder editorFolder, cliFolder;
    const std::vector<uint8_t> picture = MakePicture(width, height, SessionPixel, 0x5A);
    ASSERT_TRUE(editorFolder.Write("pic.bmp", picture));
    ASSERT_TRUE(cliFolder.Write("pic.bmp", picture));

    // The editor shows the look from its first paint on, and after the export
    // writes it as duotint-cli's words to standard output, which duotint-cli
    // then takes as they are. The JPEG's words ride along with a BMP, unused.
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE output = CreateFileA(editorFolder.PathOf("look.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                CREATE_ALWAYS, 0, nullptr);
    Duotint editor;
    ASSERT_TRUE(editor.StartWith(editorFolder.Path(),
                                 std::wstring(L"--tint ") + kLook + L" --format bmp --quality 80 --chroma 444 pic.bmp",
                                 DuotintExe(), output));
    CloseHandle(output);
    HWND window = editor.WaitForWindow(kEditorClassName, 10000);
    ASSERT_NE(window, nullptr) << "the editor did not open with the look";
    const Geometry g = GeometryFor(width, height);
    EXPECT_TRUE(PollUntil(10000, [&] {
        ScreenShot shot(g.left + 6, g.top + 6, width, height);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const Rgb c = TintedPixel(x, y, kLookParams);
                if (shot.At(g.left + 6 + x, g.top + 6 + y) != RGB(c.r, c.g, c.b))
                    return false;
            }
        return true;
    })) << "the preview does not show the look";
    ASSERT_TRUE(MakeForeground(window));
    ASSERT_TRUE(TypeText("q"));
    ASSERT_TRUE(editor.WaitForExit(10000));
    const std::vector<uint8_t> edited = ReadWholeFile(editorFolder.PathOf("pic-.bmp"));
    EXPECT_EQ(edited, ExpectedExport(width, height, kLookParams));
    const std::vector<uint8_t> line = ReadWholeFile(editorFolder.PathOf("look.txt"));
    const std::string words = "--tint 250,120,30,45,35,20,90,240,60 --format bmp --quality 80 --chroma 444";
    EXPECT_EQ(std::string(line.begin(), line.end()), words + "\r\n");

    support::ConsoleRun run = support::RunConsole(CliCommand(Wide(words) + L" pic.bmp"), cliFolder.Path(), 20000);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(ReadWholeFile(cliFolder.PathOf("pic-.bmp")), edited);
    EXPECT_NE(run.out.find("pic.bmp -> pic-.bmp  61 x 41  "), std::string::npos) << run.out;
}

TEST(Cli, MixedFolderWritesEachPictureAndEndsWithTheFirstFailure)
{
    TempFolder folder, out;
    const std::string data = ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\";
    ASSERT_TRUE(folder.Write("a.bmp", MakePicture(7, 5, GradientPixel)));
    ASSERT_TRUE(folder.CopyIn(data + "grey.png", "b.png"));
    ASSERT_TRUE(folder.CopyIn(data + "turned6.jpg", "c.JPG"));
    ASSERT_TRUE(folder.Write("d.gif", std::vector<uint8_t>(300, 0x47)));
    ASSERT_TRUE(folder.Write("notes.txt", std::vector<uint8_t>(10, 'x')));
    const auto before = folder.Snapshot();

    support::ConsoleRun run = support::RunConsole(
        CliCommand(std::wstring(L"--tint ") + kLook + L" --jobs 2 --out \"" + Wide(out.Path()) + L"\" \"" +
                   Wide(folder.Path()) + L"\""),
        folder.Path(), 30000);
    EXPECT_EQ(run.exitCode, 13u) << run.out << run.err;
    EXPECT_EQ(out.Files(), (std::vector<std::string>{"a-.bmp", "b-.bmp", "c-.bmp"})) << run.out << run.err;
    EXPECT_EQ(ReadWholeFile(out.PathOf("a-.bmp")), ExpectedExport(7, 5, kLookParams, GradientPixel));
    EXPECT_NE(run.err.find("d.gif "), std::string::npos) << run.err;
    EXPECT_EQ(folder.Snapshot(), before) << "the pictures' folder changed";
}

// A camera's tree: without -r the way in is named; with it the outputs keep
// their folders, so equal names never meet, with the separator typed; the
// run again, one picture added beside an earlier output of another, writes
// it and skips the rest in silence; a third run, not quiet, names the
// earlier output and counts it and what it left alone in one line; a fourth
// with another look has --update write every output again, saying why.
TEST(Cli, TreeRunsWithRecursiveAndRunsAgain)
{
    TempFolder folder;
    for (const char* name : {"tree", "tree\\100CANON", "tree\\101CANON"})
        ASSERT_TRUE(CreateDirectoryA(folder.PathOf(name).c_str(), nullptr));
    const std::vector<uint8_t> picture = MakePicture(5, 3, GradientPixel);
    for (const char* name : {"tree\\100CANON\\IMG_0001.bmp", "tree\\101CANON\\IMG_0001.bmp", "tree\\x.jxl"})
        ASSERT_TRUE(folder.Write(name, picture));
    auto run = [&](const std::wstring& arguments) {
        return support::RunConsole(CliCommand(std::wstring(L"--tint ") + kLook + L" " + arguments), folder.Path(),
                                   30000);
    };
    support::ConsoleRun first = run(L"tree");
    EXPECT_EQ(first.exitCode, 2u);
    EXPECT_NE(first.err.find("tree: 2 subfolders not entered; -r enters them"), std::string::npos) << first.err;

    first = run(L"-r --format jpg --out out tree/");
    EXPECT_EQ(first.exitCode, 0u) << first.err;
    EXPECT_EQ(first.err, "");
    for (const char* line : {"skipped: tree/x.jxl: no decoder on this machine for .jxl\r\n",
                             "tree/100CANON/IMG_0001.bmp -> out/100CANON/IMG_0001-.jpg  5 x 3  ",
                             "tree/101CANON/IMG_0001.bmp -> out/101CANON/IMG_0001-.jpg  5 x 3  "})
        EXPECT_NE(first.out.find(line), std::string::npos) << first.out;

    ASSERT_TRUE(folder.Write("tree\\101CANON\\IMG_0002.bmp", picture));
    ASSERT_TRUE(folder.Write("tree\\100CANON\\IMG_0001-.bmp", picture));
    const support::ConsoleRun again = run(L"-r --format jpg --out out --quiet tree/");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(again.out + again.err, "");
    EXPECT_EQ(ReadWholeFile(folder.PathOf("out\\101CANON\\IMG_0002-.jpg")),
              ReadWholeFile(folder.PathOf("out\\101CANON\\IMG_0001-.jpg")));

    const support::ConsoleRun third = run(L"-r --format jpg --out out --update tree/");
    EXPECT_EQ(third.exitCode, 0u);
    const std::string upToDate = " up to date (newer than their picture and, where recorded, made with this look; "
                                 "--force writes them again), 1 left out\r\n";
    EXPECT_EQ(third.out, "skipped: tree/x.jxl: no decoder on this machine for .jxl\r\n"
                         "left out: tree/100CANON/IMG_0001-.bmp, an earlier output of tree/100CANON/IMG_0001.bmp\r\n"
                         "4 pictures: 0 written, 3" + upToDate);
    EXPECT_EQ(third.err, "");

    const support::ConsoleRun fourth = support::RunConsole(
        CliCommand(L"--tint 1,2,3,4,5,6,7,8,9 -r --format jpg --out out --update --verbose tree/"), folder.Path(), 30000);
    EXPECT_NE(fourth.out.find("redo: out/101CANON/IMG_0002-.jpg was made with another look: --tint 250,120,30,45,35,"
                              "20,90,240,60 --format jpeg --quality 92 --chroma 444\r\n"), std::string::npos) << fourth.out;
    EXPECT_NE(fourth.out.find("4 pictures: 3 written, 0" + upToDate), std::string::npos) << fourth.out;
}

// --strip gps on a JPEG whose EXIF has the artist and a GPS directory (a
// latitude of 0x77 bytes), and whose XMP has a GPS property beside another.
TEST(Cli, StripGpsLeavesOutWhereAndKeepsTheRest)
{
    using namespace support::bytes;
    TempFolder folder;
    const Bytes turned = ReadWholeFile(support::TestPicturePath("turned6.jpg"));
    const Bytes exif = LaidOut({{{{0x13B, 2, Text("Ada", 4)}, {0x8825, 4, {}, {1}}}}, {{{2, 5, Bytes(24, 0x77)}}}}, true);
    ASSERT_TRUE(folder.Write("gps.jpg", kSoi + ExifSegment(exif) +
                                            XmpSegment("<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' "
                                                       "exif:GPSLatitude='48,51N' exif:Flash='0'/>") +
                                            Bytes(turned.begin() + 4 + (turned[4] << 8 | turned[5]), turned.end())));
    const support::ConsoleRun run = support::RunConsole(
        CliCommand(std::wstring(L"--tint ") + kLook + L" --format jpeg --strip gps gps.jpg"), folder.Path(), 20000);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const Bytes out = ReadWholeFile(folder.PathOf("gps-.jpg"));
    const std::string text(out.begin(), out.end());
    EXPECT_NE(text.find("Ada"), std::string::npos);
    EXPECT_NE(text.find("exif:Flash='0'"), std::string::npos);
    EXPECT_EQ(text.find("GPS"), std::string::npos);
    EXPECT_EQ(text.find(std::string(8, '\x77')), std::string::npos);
}

// JPEG outputs have at most 65500 pixels a side, the most the common
// readers open: one more, either way, is refused before any work.
TEST(Cli, JpegOutputsHaveSidesTheCommonReadersOpen)
{
    static const struct { int32_t width, height; uint32_t exitCode; const char* line; } kCases[] = {
        {65500, 1, 0, "p.bmp -> p-.jpg  65500 x 1  "},
        {65501, 1, 13, "p.bmp as a JPEG: it is 65501 x 1 pixels, and the common JPEG readers open at most 65500 in "
                       "either direction.\r\n"},
        {2, 65501, 13, "it is 2 x 65501 pixels"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        TempFolder folder;
        ASSERT_TRUE(folder.Write("p.bmp", MakePicture(c.width, c.height, GradientPixel)));
        const support::ConsoleRun run = support::RunConsole(
            CliCommand(std::wstring(L"--tint ") + kLook + L" --format jpeg p.bmp"), folder.Path(), 60000);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE((run.out + run.err).find(c.line), std::string::npos) << run.out << run.err;
        EXPECT_EQ(GetFileAttributesA(folder.PathOf("p-.jpg").c_str()) != INVALID_FILE_ATTRIBUTES, c.exitCode == 0);
    }
}

// A run killed while it writes an output leaves no part of it behind: the
// temporary file the output is written to goes with the process, or at the
// latest with the next run into its folder.
TEST(Cli, AKilledRunLeavesNoTemporaryFile)
{
    TempFolder folder;
    ASSERT_TRUE(support::WritePictureByRows(folder.PathOf("big.bmp"), 3000, 2000, [](int32_t y, uint8_t* row) {
        for (int32_t x = 0; x < 3 * 3000; ++x)
            row[x] = static_cast<uint8_t>(x * 7 + y * 13 + (x >> 5));
    }));
    std::wstring command = CliCommand(std::wstring(L"--tint ") + kLook + L" --format png --png-level 9 big.bmp");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(support::StartProcess(nullptr, &command[0], FALSE, CREATE_NO_WINDOW, Wide(folder.Path()).c_str(), si,
                                      pi));
    auto writing = [&] {
        for (const std::string& name : folder.Files())
            if (name.rfind("dt~", 0) == 0)
                return true;
        return false;
    };
    const bool caught = support::PollUntil(60000, writing, 1);
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(caught) << "the run ended before its output was seen being written";
    ASSERT_TRUE(folder.Write("small.bmp", MakePicture(3, 2, GradientPixel)));
    const support::ConsoleRun next =
        support::RunConsole(CliCommand(std::wstring(L"--tint ") + kLook + L" small.bmp"), folder.Path(), 30000);
    EXPECT_EQ(next.exitCode, 0u) << next.err;
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"big.bmp", "small-.bmp", "small.bmp"}));
}

// Without the decoding process beside it, a picture for the platform's
// decoders is refused with a sentence that says where that belongs. Every
// sentence begins with the program's name and names its file as typed.
TEST(Cli, MissingDecoderIsNamed)
{
    TempFolder folder;
    ASSERT_TRUE(folder.CopyIn(CliExe(), "duotint-cli.exe"));
    ASSERT_TRUE(folder.CopyIn(ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\grey.png", "b.png"));
    ASSERT_TRUE(folder.Write("short.bmp", support::PictureHeader(3, 2)));  // and none of its rows
    support::ConsoleRun run = support::RunConsole(L"\"" + Wide(folder.PathOf("duotint-cli.exe")) + L"\" --tint " +
                                                      kLook + L" b.png short.bmp",
                                                  folder.Path(), 20000);
    EXPECT_EQ(run.exitCode, 13u) << run.err;
    EXPECT_NE(run.err.find("duotint-cli could not start duotint-decode.exe to read b.png; it belongs beside "
                           "duotint-cli.exe."),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("duotint-cli could not read short.bmp: it ends before all of the picture could be read."),
              std::string::npos)
        << run.err;
}

// Smooth in every channel, so that a JPEG of it is close.
Rgb SmoothPixel(int32_t x, int32_t y)
{
    return {static_cast<uint8_t>(4 * x), static_cast<uint8_t>(5 * y), static_cast<uint8_t>(2 * (x + y))};
}

TEST(Cli, PngDecodesToTheTintExactlyAndJpegClosely)
{
    // Three JPEG strips, the last short: a BMP's rows go to the encoder
    // from the file, the picture's last strip first.
    const int32_t width = 64, height = 136;
    TempFolder folder;
    ASSERT_TRUE(folder.Write("pic.bmp", MakePicture(width, height, SmoothPixel)));
    const std::vector<uint8_t> expected = ExpectedExport(width, height, kLookParams, SmoothPixel);
    static const struct {
        const char* arguments;
        const char* output;
        double meanError;    // at most, over every byte
        uint8_t zlibLevel;   // a PNG's: the second byte of its zlib stream, which names the level's class
    } kCases[] = {{"png", "pic-.png", 0.0, 0x9C}, {"png --png-level 1", "pic-.png", 0.0, 0x01},
                  {"jpeg", "pic-.jpg", 3.0, 0}, {"jpeg --chroma 420", "pic-.jpg", 3.0, 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.arguments);
        support::ConsoleRun run = support::RunConsole(
            CliCommand(std::wstring(L"--tint ") + kLook + L" --force --format " + Wide(c.arguments) + L" pic.bmp"),
            folder.Path(), 20000);
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        if (c.zlibLevel != 0) {
            // The first IDAT's type, then the stream (after the record's text chunk).
            const std::vector<uint8_t> png = ReadWholeFile(folder.PathOf(c.output));
            const char idat[] = "IDAT";
            const auto at = std::search(png.begin(), png.end(), idat, idat + 4) - png.begin();
            ASSERT_GT(png.size(), at + 5u);
            EXPECT_EQ(png[at + 5], c.zlibLevel);
        }
        int w = 0, h = 0;
        const std::vector<uint8_t> decoded = Decode(folder.PathOf(c.output), w, h);
        ASSERT_EQ(w, width);
        ASSERT_EQ(h, height);
        double error = 0;
        const int32_t stride = RowStride(width);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t i = 0; i < 3 * width; ++i)
                error += std::abs(decoded[3 * width * y + i] - expected[54 + stride * (height - 1 - y) + i]);
        EXPECT_LE(error / (3.0 * width * height), c.meanError);
    }
}

// make_pictures.py's alpha_pixel: alpha.png's straight colour, and its alpha.
Rgb AlphaPictureColour(int32_t x, int32_t y)
{
    return {static_cast<uint8_t>((x * 53 + y * 91) % 256), static_cast<uint8_t>((x * 29 + y * 7 + 40) % 256),
            static_cast<uint8_t>((x * 17 + y * 113 + 14) % 256)};
}

// A transparent PNG stays one: each pixel's alpha as it was, its straight
// colour tinted as a BMP's is, nothing flattened onto white.
TEST(Cli, PngKeepsThePicturesAlpha)
{
    TempFolder folder;
    ASSERT_TRUE(folder.CopyIn(ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\alpha.png", "logo.png"));
    support::ConsoleRun run = support::RunConsole(
        CliCommand(std::wstring(L"--tint ") + kLook + L" --format png logo.png"), folder.Path(), 20000);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const std::vector<uint8_t> png = ReadWholeFile(folder.PathOf("logo-.png"));
    ASSERT_GT(png.size(), 25u);
    EXPECT_EQ(png[25], 6) << "the colour type: RGBA";
    int w = 0, h = 0;
    const std::vector<uint8_t> decoded = Decode(folder.PathOf("logo-.png"), w, h, true);
    ASSERT_EQ(w, 5);
    ASSERT_EQ(h, 3);
    static const uint8_t kAlpha[5] = {0, 255, 1, 128, 254};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const Rgb tinted = TintedPixel(x, y, kLookParams, AlphaPictureColour);
            const uint8_t expected[4] = {tinted.b, tinted.g, tinted.r, kAlpha[(x + 2 * y) % 5]};
            EXPECT_EQ(0, memcmp(&decoded[4 * (5 * y + x)], expected, 4)) << "pixel " << x << ", " << y;
        }
}

}  // namespace
