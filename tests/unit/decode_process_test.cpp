// The decoding process's budgets, and one child serving pictures in turn: test-only
// faults between good pictures, which must have the pixels the platform gives here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "platform_picture.h"
#include "read/decode_process.h"
#include "support/picture_names.h"
#include "test_support.h"

namespace {

const uint64_t kMiB = 1 << 20;

TEST(DecodeBudget, GrowsWithTheDeclaredPixels)
{
    static const struct {
        const char* label;
        int64_t width, height;
        DecodeBudget wanted;  // work and clock in ms, memory in bytes
        ContainerKind kind = ContainerKind::unknown;
    } kCases[] = {
        {"unknown size", 0, 0, {5000, 60000, 256 * kMiB}},
        {"10000 x 10000", 10000, 10000, {6500, 60000, 600000000 + 256 * kMiB}},
        {"18000 x 18000", 18000, 18000, {9860, 60000, 1944000000 + 256 * kMiB}},
        {"40000 x 20000: the clock at four times the work", 40000, 20000, {17000, 68000, 4800000000 + 256 * kMiB}},
        {"a HEIF of 12000 x 8000, decoded whole by libheif", 12000, 8000, {22280, 89120, 576000000 + 256 * kMiB},
         ContainerKind::heif},
    };
    for (const auto& c : kCases) {
        const DecodeBudget got = BudgetFor(c.width, c.height, false, c.kind);
        EXPECT_EQ(std::make_tuple(got.cpuMilliseconds, got.wallMilliseconds, got.memoryBytes),
                  std::make_tuple(c.wanted.cpuMilliseconds, c.wanted.wallMilliseconds, c.wanted.memoryBytes))
            << c.label;
    }
}

// With the time limits scaled to a twentieth: 0.25 s of work for a picture
// of unknown size, 0.49 s for one declared 18000 x 18000, 3 s of the clock
// without progress; two threads eat both cores all along.
TEST(DecoderProcess, ServesPicturesInTurnWithinTheirBudgets)
{
    using O = DecodeOutcome;
    static const struct {
        const char* label;
        const char* picture;  // under the test data
        int64_t declaredSide;
        const char* fault;
        DecodeOutcome wanted;
        bool ends;  // the child is gone once the row is served
        // Put under the picture's name once it is opened: the opened file is
        // still the one decoded.
        const char* replacement = nullptr;
    } kCases[] = {
        {"a good PNG", "pictures\\rgb16.png", 0, nullptr, O::decoded, false},
        {"a crash", "pictures\\rgb16.png", 0, "crash", O::crashed, true},
        {"after it, slow rows within a large picture's work, past the clock's limit", "bmpsuite\\g\\pal8.bmp", 18000,
         "slow:370:3700", O::decoded, false},
        {"rows that go on past the work the picture may take", "bmpsuite\\g\\pal8.bmp", 0, "slow:1500:1500",
         O::tooSlow, true},
        {"a good PNG after the stop", "pictures\\alpha.png", 0, nullptr, O::decoded, false},
        {"a decoder that keeps 80 MiB past its picture (declared large for the work of touching them)",
         "pictures\\rgb16.png", 40000, "keep", O::decoded, true},
        {"a good PNG from the next child", "pictures\\alpha.png", 0, nullptr, O::decoded, false},
        {"a PNG replaced under its name once opened", "pictures\\alpha.png", 0, nullptr, O::decoded, false,
         "pictures\\rgb16.png"},
    };
    ScratchFolder folder;
    const std::string data = ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\";
    SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", "0.05");
    DecoderProcess decoder;
    static std::atomic<bool> busy;
    busy = true;
    for (int i = 0; i < 2; ++i)
        std::thread([] {
            while (busy) {
            }
        }).detach();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        // A copy of its own, deleted once served: the child must let go of it.
        const std::string name = "row" + std::to_string(&c - kCases);
        ASSERT_TRUE(CopyFileA((data + c.picture).c_str(), name.c_str(), FALSE));
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        const std::string opened = c.replacement != nullptr ? name + "-moved" : name;
        if (c.replacement != nullptr) {
            ASSERT_TRUE(MoveFileA(name.c_str(), opened.c_str()) &&
                        CopyFileA((data + c.replacement).c_str(), name.c_str(), FALSE));
        }
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", c.fault);
        DecodeOutcome outcome = decoder.Open({file, 1, c.declaredSide, c.declaredSide, 0});
        CloseHandle(file);
        const int64_t height = decoder.Height();
        const int32_t stride = static_cast<int32_t>((3 * decoder.Width() + 3) & ~3);
        HANDLE section = nullptr;
        uint8_t* pixels = nullptr;
        if (outcome == O::decoded)
            outcome = decoder.CopyInto(stride, section, pixels);
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", nullptr);
        EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(c.wanted));
        EXPECT_EQ(decoder.ChildId() == 0, c.ends);
        if (outcome == O::decoded) {
            support::PlatformPicture own;
            std::vector<uint8_t> expected(static_cast<size_t>(stride * height), 0xAA);
            ASSERT_TRUE(own.Open(data + c.picture) && own.Height() == height &&
                        own.CopyInto(expected.data(), stride));
            own.Close();
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), pixels)) << "other pixels than the platform's";
            EXPECT_TRUE(DeleteFileA(opened.c_str())) << "the child still holds the picture";
        }
        UnmapViewOfFile(pixels);
        CloseHandle(section);
    }
    busy = false;
    decoder.Close();
    SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", nullptr);
}

// A copy through a ring of 4 rows of camera.jpg's 16, read 4 rows at a
// time and let go of: the child waits for each slot until the row before it
// there is let go of. The watch's clock (3 s, scaled) stands still while
// the child waits for slots its rows fill, and runs for one that stops.
TEST(DecoderProcess, RowsThroughARingWaitForTheirSlotsUnderTheWatch)
{
    using O = DecodeOutcome;
    static const struct {
        const char* label;
        const char* fault;
        // The first rows held so long while a second thread waits for more,
        // and its answer is the copy's.
        DWORD holdMs;
        DecodeOutcome wanted;
    } kCases[] = {
        {"rows held past the clock's limit", nullptr, 4000, O::decoded},
        {"a child that ends while it waits for a slot", "ring-end", 1000, O::crashed},
        {"a child that stops with room, saying it waits", "ring-stop", 0, O::stalled},
    };
    const int64_t kRing = 4;
    const std::string camera = ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\camera.jpg";
    SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", "0.05");
    DecoderProcess decoder;
    auto Open = [&] {
        HANDLE file = CreateFileA(camera.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        const DecodeOutcome outcome = decoder.Open({file, 1, 0, 0, false, ContainerKind::jpeg});
        CloseHandle(file);
        return outcome;
    };
    // The rows as a copy of the whole picture gives them.
    ASSERT_EQ(Open(), O::decoded);
    const int64_t height = decoder.Height();
    const int32_t stride = static_cast<int32_t>((3 * decoder.Width() + 3) & ~3);
    HANDLE section = nullptr;
    uint8_t* pixels = nullptr;
    ASSERT_EQ(decoder.CopyInto(stride, section, pixels), O::decoded);
    const std::vector<uint8_t> whole(pixels, pixels + stride * height);
    UnmapViewOfFile(pixels);
    CloseHandle(section);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", c.fault);
        ASSERT_EQ(Open(), O::decoded);
        ASSERT_TRUE(decoder.RowsInOrder());
        DecodeOutcome outcome = decoder.BeginCopy(stride, section, pixels, 0, kRing);
        SetEnvironmentVariableA("DUOTINT_DECODER_FAULT", nullptr);
        for (int64_t top = 0; top < height && outcome == O::decoded; top += kRing) {
            outcome = decoder.AwaitRows(top + kRing);
            DecodeOutcome below = c.wanted;
            std::thread waiting;
            if (top == 0 && c.holdMs != 0) {
                waiting = std::thread([&] { below = decoder.AwaitRows(2 * kRing); });
                Sleep(c.holdMs);
            }
            for (int64_t y = top; y < top + kRing && outcome == O::decoded; ++y)
                EXPECT_EQ(memcmp(pixels + (kRing - 1 - y % kRing) * stride, &whole[(height - 1 - y) * stride], stride), 0)
                    << "row " << y;
            decoder.LetGo(top + kRing);
            if (waiting.joinable())
                waiting.join();
            EXPECT_EQ(static_cast<int>(below), static_cast<int>(c.wanted));
        }
        EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(c.wanted));
        UnmapViewOfFile(pixels);
        CloseHandle(section);
    }
    decoder.Close();
    SetEnvironmentVariableA("DUOTINT_TEST_DECODER_TIME_SCALE", nullptr);
}

}  // namespace
