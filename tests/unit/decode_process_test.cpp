// The decoding process's budgets, and one child serving pictures in turn:
// hostile ones (test-only faults of the child) between good ones, each good
// one with the pixels the platform's decoder gives in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "image/decode_process.h"
#include "image/picture_decode.h"
#include "support/picture_names.h"
#include "test_support.h"

namespace {

const uint64_t kMiB = 1024 * 1024;

TEST(DecodeBudget, GrowsWithTheDeclaredPixels)
{
    static const struct {
        const char* label;
        int64_t width, height;
        uint32_t cpuMilliseconds, wallMilliseconds;
        uint64_t memoryBytes;
    } kCases[] = {
        {"unknown size", 0, 0, 5000, 60000, 256 * kMiB},
        {"10000 x 10000", 10000, 10000, 6500, 60000, 600000000 + 256 * kMiB},
        {"18000 x 18000", 18000, 18000, 9860, 60000, 1944000000 + 256 * kMiB},
        {"40000 x 20000: the clock at four times the work", 40000, 20000, 17000, 68000, 4800000000 + 256 * kMiB},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        const DecodeBudget budget = BudgetFor(c.width, c.height);
        EXPECT_EQ(budget.cpuMilliseconds, c.cpuMilliseconds);
        EXPECT_EQ(budget.wallMilliseconds, c.wallMilliseconds);
        EXPECT_EQ(budget.memoryBytes, c.memoryBytes);
    }
}

// Bottom-up rows of the picture at path, as the platform decodes it here.
std::vector<uint8_t> DecodedHere(const std::wstring& path, int32_t stride, int64_t& height)
{
    DecodedPicture picture;
    if (!picture.Open(path.c_str(), 1))
        return {};
    height = picture.Height();
    std::vector<uint8_t> rows(static_cast<size_t>(stride * picture.Height()));
    return picture.CopyInto(rows.data(), stride) ? rows : std::vector<uint8_t>();
}

// With the time limits scaled to a twentieth, a picture of unknown size may
// take 0.25 s of work and one declared 18000 x 18000 0.49 s; the clock stops
// a child 3 s after its last sign of progress.
TEST(DecoderProcess, ServesPicturesInTurnWithinTheirBudgets)
{
    using O = DecodeOutcome;
    static const struct {
        const char* label;
        const char* picture;  // rows.bmp: 5 x 100, made here
        int64_t declaredWidth, declaredHeight;
        const char* fault;
        int busyThreads;
        DecodeOutcome wanted;
    } kCases[] = {
        {"a good picture", "rgb16.png", 0, 0, nullptr, 0, O::decoded},
        {"a crash", "rgb16.png", 0, 0, "crash", 0, O::crashed},
        {"a good picture after the crash", "alpha.png", 0, 0, nullptr, 0, O::decoded},
        {"slow rows within a large picture's work, past the clock's limit", "rows.bmp", 18000, 18000,
         "slow:370:3700", 0, O::decoded},
        {"rows that go on past the work the picture may take", "rows.bmp", 0, 0, "slow:1500:1500", 0, O::tooSlow},
        {"a good picture while two busy threads eat both cores", "rgb16.png", 0, 0, nullptr, 2, O::decoded},
        {"a good picture after the slow one", "rows.bmp", 0, 0, nullptr, 0, O::decoded},
    };
    ScratchFolder folder;
    ASSERT_TRUE(WriteWholeFile("rows.bmp", MakePicture(5, 100, [](int32_t x, int32_t y) {
                                   return Rgb{static_cast<uint8_t>(40 * x), static_cast<uint8_t>(y), 7};
                               })));
    const std::string data = ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\";
    SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", "0.05");
    DecoderProcess decoder;
    int row = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        // Each picture under a name of its own, deleted once it is served: the
        // child must have let go of the file.
        const std::string name = "row" + std::to_string(++row) + "-" + c.picture;
        ASSERT_TRUE(CopyFileA(strcmp(c.picture, "rows.bmp") == 0 ? "rows.bmp" : (data + c.picture).c_str(),
                              name.c_str(), FALSE));
        const std::wstring path = FullPath(std::wstring(name.begin(), name.end()).c_str());
        std::atomic<bool> busy(true);
        std::vector<std::thread> eaters;
        for (int i = 0; i < c.busyThreads; ++i)
            eaters.emplace_back([&busy] {
                while (busy) {
                }
            });
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", c.fault);
        const DecodeRequest request = {path.c_str(), 1, c.declaredWidth, c.declaredHeight, 0};
        DecodeOutcome outcome = decoder.Open(request);
        const int64_t height = decoder.Height();
        const int32_t stride = static_cast<int32_t>((3 * decoder.Width() + 3) & ~3);
        HANDLE section = nullptr;
        uint8_t* pixels = nullptr;
        if (outcome == O::decoded)
            outcome = decoder.CopyInto(stride, section, pixels);
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", nullptr);
        busy = false;
        for (std::thread& eater : eaters)
            eater.join();
        EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(c.wanted));
        if (outcome == O::decoded) {
            int64_t expectedHeight = 0;
            const std::vector<uint8_t> expected = DecodedHere(path, stride, expectedHeight);
            ASSERT_FALSE(expected.empty());
            ASSERT_EQ(height, expectedHeight);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), pixels)) << "other pixels than the platform's";
            EXPECT_TRUE(DeleteFileA(name.c_str())) << "the child still holds the picture";
        }
        if (pixels != nullptr)
            UnmapViewOfFile(pixels);
        if (section != nullptr)
            CloseHandle(section);
    }
    decoder.Close();
    SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", nullptr);
}

}  // namespace
