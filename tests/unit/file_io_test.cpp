// The checked file layer: what each failure leaves pending, and that a
// replacement touches its target only once it is complete.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "editor/error.h"
#include "support/file_io.h"
#include "test_support.h"

namespace {

// Each test has a fresh program state and a scratch folder of its own.
class FileLayer : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        file = new FileRecord{};
    }
    void TearDown() override
    {
        Abandon(*file);
        if (file->isOpen)
            CloseHandle(file->handle);
        delete file;
        ProgramTest::TearDown();
    }
    std::string Path(const char* name) const { return folder.Path() + "\\" + name; }
    static void Write(const std::string& path, const std::string& bytes) { WriteWholeFile(path, {bytes.begin(), bytes.end()}); }
    static std::string Read(const std::string& path)
    {
        std::vector<uint8_t> bytes = ReadWholeFile(path);
        return {bytes.begin(), bytes.end()};
    }
    int FilesInFolder() const { return static_cast<int>(folder.Files().size()); }

    FileRecord* file = nullptr;  // large: kept off the stack
    ScratchFolder folder;
};

}  // namespace

TEST_F(FileLayer, ReadsByteByByteAndFailsAtTheFirstMissingByte)
{
    std::string path = Path("five.bin");
    Write(path, "abcde");
    BindFile(*file, path.c_str());
    OpenForReading(*file);
    ASSERT_EQ(file->error, 0);
    char got[4] = {};
    ReadBytes(*file, got, 3);
    ReadBytes(*file, got + 3, 1);
    EXPECT_EQ(std::string(got, 4), "abcd");
    // From where it says, and the reads go on from where they were after a seek.
    EXPECT_TRUE(ReadAt(*file, 1, got, 2));
    EXPECT_EQ(std::string(got, 2), "bc");
    SeekForReading(*file, 4);
    ReadBytes(*file, got, 1);
    EXPECT_EQ(file->error, 0);
    ReadBytes(*file, got, 1);
    EXPECT_EQ(file->error, kErrorShortRead);
}

TEST_F(FileLayer, LargeReadsPastTheEndAreShort)
{
    std::string path = Path("big.bin");
    Write(path, std::string(300000, 'z'));
    BindFile(*file, path.c_str());
    OpenForReading(*file);
    std::string got(300001, '\0');
    ReadBytes(*file, &got[0], 300001);
    EXPECT_EQ(file->error, kErrorShortRead);
    CloseFile(*file);
    BindFile(*file, path.c_str());
    OpenForReading(*file);
    EXPECT_FALSE(ReadAt(*file, 1, &got[0], 300000));
    EXPECT_EQ(file->error, kErrorShortRead);
}

TEST_F(FileLayer, OpenFailuresCarryTheirNumbers)
{
    std::string absent = Path("absent.bmp");
    BindFile(*file, absent.c_str());
    OpenForReading(*file);
    EXPECT_EQ(file->error, 2);

    static FileRecord unbound;
    OpenForReading(unbound);
    EXPECT_EQ(unbound.error, kErrorNotBound);

    unbound.error = 0;
    char byte;
    ReadBytes(unbound, &byte, 1);
    EXPECT_EQ(unbound.error, kErrorNotOpen);
}

TEST_F(FileLayer, ReadOnlyPictureOpensButOneHeldForWritingDoesNot)
{
    std::string path = Path("pic.bmp");
    Write(path, "BM");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    BindFile(*file, path.c_str());
    OpenForReading(*file);
    EXPECT_EQ(file->error, 0);
    CloseFile(*file);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    OpenForReading(*file);
    EXPECT_EQ(file->error, 5) << "a sharing violation reads as access denied";
    CloseHandle(writer);
}

TEST_F(FileLayer, ReplacementReachesTheTargetOnlyWhenClosed)
{
    std::string target = Path("cat-.bmp");
    Write(target, "old");
    BindFile(*file, target.c_str());
    OpenForReplacing(*file);
    ASSERT_EQ(file->error, 0);
    std::string big(400000, 'q');
    WriteBytes(*file, big.data(), static_cast<uint32_t>(big.size()));
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(FilesInFolder(), 2);  // the target and the file being written
    // Written again from the start, shorter: nothing of the first is left.
    WriteFromStart(*file);
    big.resize(300000);
    WriteBytes(*file, "new", 3);
    WriteBytes(*file, big.data(), static_cast<uint32_t>(big.size()));
    CloseFile(*file);
    ASSERT_EQ(file->error, 0);
    EXPECT_EQ(Read(target), "new" + big);
    EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(FileLayer, DiscardedReplacementLeavesTheTargetAndNoTemporaryFile)
{
    std::string target = Path("cat-.bmp");
    Write(target, "old");
    BindFile(*file, target.c_str());
    OpenForReplacing(*file);
    WriteBytes(*file, "half", 4);
    Abandon(*file);
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(FilesInFolder(), 1);

    // One whose last bytes cannot go out at the close goes as well.
    OpenForReplacing(*file);
    WriteBytes(*file, "half", 4);
    CloseHandle(file->handle);
    CloseFile(*file);
    EXPECT_NE(file->error, 0);
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(FileLayer, ReadOnlyOrHeldTargetFailsBeforeAnythingIsWritten)
{
    std::string target = Path("cat-.bmp");
    Write(target, "old");
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    BindFile(*file, target.c_str());
    OpenForReplacing(*file);
    EXPECT_EQ(file->error, 5);
    EXPECT_EQ(file->fault, FileFault::readOnlyFile);
    EXPECT_EQ(FilesInFolder(), 1);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);

    file->error = 0;
    HANDLE holder = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    OpenForReplacing(*file);
    EXPECT_EQ(file->error, 5);
    EXPECT_EQ(file->fault, FileFault::heldOpen);
    CloseHandle(holder);
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(FilesInFolder(), 1);
}

// The platform's "access denied" and "path not found" become what the
// target and its folder are, for the report's sentence.
TEST_F(FileLayer, FailedReplacementKnowsWhy)
{
    static const struct { const char* label; const char* target; uint16_t code; FileFault fault; } kCases[] = {
        {"a folder of the target's name", ".", 5, FileFault::isFolder},
        {"no folder", "gone\\cat-.bmp", 3, FileFault::folderGone},
    };
    for (const auto& c : kCases) {
        file->error = 0;
        std::string target = Path(c.target);
        BindFile(*file, target.c_str());
        OpenForReplacing(*file);
        EXPECT_EQ(file->error, c.code) << c.label;
        EXPECT_EQ(file->fault, c.fault) << c.label;
    }
}

// GetTempFileNameW refuses folders past MAX_PATH - 14 characters; our own
// temporary name works at any depth and passes over one already taken and
// held open. One of this process's id that nobody holds is a dead process's
// (Wine gives ids again at once), and goes.
TEST_F(FileLayer, ReplacementWorksBeyondMaxPathAndPassesOverATakenName)
{
    std::wstring deep = L"\\\\?\\" + std::wstring(folder.Path().begin(), folder.Path().end());
    std::vector<std::wstring> levels;
    for (wchar_t c = L'a'; c < L'f'; ++c) {
        levels.push_back(deep += L"\\" + std::wstring(60, c));
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    const std::wstring target = deep + L"\\cat-.bmp";
    wchar_t takenName[64];
    _snwprintf(takenName, 64, L"\\dt~%lx-0.tmp", GetCurrentProcessId());
    const std::wstring leftover = deep + takenName;
    auto put = [](const std::wstring& path, const char* bytes) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, bytes, static_cast<DWORD>(strlen(bytes)), &n, nullptr);
        CloseHandle(h);
    };
    auto get = [](const std::wstring& path) {
        char bytes[16] = {};
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD n = 0;
        ReadFile(h, bytes, sizeof bytes - 1, &n, nullptr);
        CloseHandle(h);
        return std::string(bytes, n);
    };
    put(target, "old");
    put(leftover, "someone's");
    const std::wstring dead = levels[3] + takenName, deadTarget = levels[3] + L"\\dog-.bmp";
    put(dead, "dead");

    HANDLE held = CreateFileW(leftover.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    for (const std::wstring& path : {target, deadTarget}) {
        BindFileW(*file, path.c_str());
        OpenForReplacing(*file);
        WriteBytes(*file, "new", 3);
        CloseFile(*file);
        EXPECT_EQ(file->error, 0);
        EXPECT_EQ(get(path), "new");
    }
    CloseHandle(held);
    EXPECT_EQ(get(leftover), "someone's");
    EXPECT_EQ(GetFileAttributesW(dead.c_str()), INVALID_FILE_ATTRIBUTES) << "a dead run's file stayed";

    DeleteFileW(target.c_str());
    DeleteFileW(deadTarget.c_str());
    DeleteFileW(leftover.c_str());
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        EXPECT_TRUE(RemoveDirectoryW(level->c_str())) << "something was left behind";
}
