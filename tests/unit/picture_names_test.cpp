// Names the platform reads its own way: devices, in any folder and with any
// extension; a relative name in the folder a program was started in; a file by its volume and index.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/picture_names.h"
#include "support/utf8.h"

TEST(DeviceNames, AreKnownWhateverTheirCaseAndExtension)
{
    static const struct { const wchar_t* name; bool device; } kCases[] = {
        {L"con", true}, {L"CON.bmp", true}, {L"Nul.png", true}, {L"aux.tar.gz", true}, {L"prn .tif", true},
        {L"com1", true}, {L"COM9.jpg", true}, {L"lpt5.gif", true}, {L"com\u00B2.png", true}, {L"com0.bmp", false},
        {L"com10.bmp", false}, {L"lpt.bmp", false}, {L"console.bmp", false}, {L"acon.bmp", false}, {L"cat.con", false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(IsDeviceName(c.name), c.device) << c.name;
    // GetFileAttributes finds "nul.bmp" in every folder.
    char typed[16] = "nul";
    EXPECT_FALSE(FindPictureFile(typed, 3));
}

// The platform starts a program in the system's folder when it cannot enter
// the one it was started from: a relative name not found there says where
// it was looked for; one found elsewhere, or a full path, does not.
TEST(PictureNames, ARelativeNameNotFoundInTheSystemFolderSaysSo)
{
    wchar_t before[MAX_PATH], system[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    GetWindowsDirectoryW(system, MAX_PATH);
    const std::string elsewhere = WhereNotFound("a.png");
    ASSERT_TRUE(SetCurrentDirectoryW(system));
    const std::string relative = WhereNotFound("a.png"), full = WhereNotFound("C:\\a.png");
    SetCurrentDirectoryW(before);
    EXPECT_EQ(elsewhere + full, "");
    EXPECT_EQ(relative.rfind(" in " + Utf8Of(system) + ", where the program runs", 0), 0u) << relative;
}

// One index on two volumes is two files; the index's high half counts.
TEST(PictureNames, AFileIsItsVolumeAndItsIndex)
{
    EXPECT_EQ(IndexedIdentity(7, 42), IndexedIdentity(7, 42));
    EXPECT_NE(IndexedIdentity(7, 42), IndexedIdentity(8, 42));
    EXPECT_NE(IndexedIdentity(7, 42), IndexedIdentity(7, 42 + (uint64_t{1} << 32)));
}
