// Device names: the platform reads them as devices in any folder and with
// any extension, and answers for them as if they were files.
#include <gtest/gtest.h>

#include "support/picture_names.h"

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
