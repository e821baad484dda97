// The name popup as a user meets it: typing, Backspace, the length limit,
// keys that must not count, a name that does not exist, and Esc.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

// The popup sits at (200, 200); its text area is (120, 30)-(405, 70) inside it.
// A rectangle drawn without a pen leaves out its right and bottom edge.
const int kTextLeft = 320, kTextTop = 230, kTextRight = 604, kTextBottom = 269;
const COLORREF kPanelColour = RGB(250, 240, 200);

// 16 characters, all of the character kinds the popup knows.
const char kLongName[] = "0123456789-qwert";

class NameEntryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(folder_.Path().empty());
        ASSERT_TRUE(folder_.Write("cat.bmp", MakePicture(5, 3, GradientPixel)));
        ASSERT_TRUE(folder_.Write(std::string(kLongName) + ".bmp", MakePicture(2, 2, GradientPixel)));
        ASSERT_TRUE(duotint_.Start(folder_.Path()));
        popup_ = duotint_.WaitForNamePopup();
        ASSERT_NE(popup_, nullptr) << "no name popup within 10 s";
    }

    // Polls the popup's text area until some typed text shows (or not).
    bool TextShows(bool wanted, DWORD timeoutMs = 2000)
    {
        return PollUntil(timeoutMs, [&] {
            ScreenShot shot(kTextLeft, kTextTop, kTextRight - kTextLeft, kTextBottom - kTextTop);
            return (shot.CountNot(kPanelColour, kTextLeft, kTextTop, kTextRight, kTextBottom) > 0) == wanted;
        });
    }

    TempFolder folder_;
    Duotint duotint_;
    HWND popup_ = nullptr;
};

// One step of a typing case: text to type, or a single key event.
struct Step {
    enum Kind { kType, kTap, kDown, kUp } kind;
    const char* text;  // kType
    Key key;           // the others
};

Step Type(const char* text) { return {Step::kType, text, {}}; }
Step TapKey(const Key& key) { return {Step::kTap, nullptr, key}; }
Step Down(const Key& key) { return {Step::kDown, nullptr, key}; }
Step Up(const Key& key) { return {Step::kUp, nullptr, key}; }

const Key kC = {'C', 46, false};
const Key kTab = {VK_TAB, 15, false};          // in the character range, no character
const Key kRightCtrl = {VK_RCONTROL, 29, true};  // scan 29 but extended

struct TypingCase {
    const char* label;
    std::vector<Step> steps;  // Enter follows them
};

// Which keys add what is the InputRules.NamePopup table; these are whole
// names typed into the running program.
const TypingCase kOpeningCases[] = {
    {"Backspace on an empty name", {TapKey(kBackspace), TapKey(kBackspace), Type("cat")}},
    {"Backspace in the middle", {Type("cx"), TapKey(kBackspace), Type("at")}},
    {"Backspace after the limit", {Type(kLongName), Type("xyz"), TapKey(kBackspace), Type("t")}},
    {"an auto-repeat and keys without a character", {Down(kC), Down(kC), Up(kC), TapKey(kTab), Type("a"),
                                                     TapKey(kLeftShift), TapKey(kRightCtrl), Type("t")}},
};

TEST_F(NameEntryTest, EscEndsWithZeroAndWritesNothing)
{
    auto before = folder_.Snapshot();
    ASSERT_TRUE(TypeText("ca"));
    ASSERT_TRUE(TextShows(true)) << "typed text never appeared in the popup";
    Tap(kEsc);
    ASSERT_TRUE(duotint_.WaitForExit(5000)) << "Esc did not end the program";
    RunEnd end = duotint_.Finish(1000);
    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
    EXPECT_TRUE(end.boxes.empty()) << Describe(end);
    EXPECT_EQ(folder_.Snapshot(), before) << "the folder changed";
}

TEST_F(NameEntryTest, MissingNameRestartsEmptyThenExistingNameOpens)
{
    ASSERT_TRUE(TypeText("dog"));
    ASSERT_TRUE(TextShows(true)) << "typed text never appeared in the popup";
    Tap(kEnter);

    HWND second = duotint_.WaitForNamePopup(5000, popup_);
    ASSERT_NE(second, nullptr) << "no new popup after a name that does not exist";
    // The new popup is made before the old one goes, so that no key is dropped between them.
    EXPECT_TRUE(duotint_.WaitGone(popup_, 5000)) << "the first popup was not destroyed";
    EXPECT_TRUE(TextShows(false, 500)) << "the new popup is not empty";
    EXPECT_EQ(FindErrorBox(duotint_.Pid()), nullptr) << "a missing name is not reported";

    // A name left over from the failed attempt would make this "dogcat".
    ASSERT_TRUE(TypeText("cat"));
    Tap(kEnter);
    ASSERT_TRUE(duotint_.WaitGone(second, 5000));
    RunEnd end = duotint_.Finish(10000);
    EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
    EXPECT_TRUE(end.boxes.empty()) << Describe(end);
}

TEST_F(NameEntryTest, KeypadEnterDoesNotCompleteTheName)
{
    ASSERT_TRUE(TypeText("cat"));
    Tap(kKeypadEnter);
    ASSERT_TRUE(TextShows(true));
    Sleep(300);
    EXPECT_TRUE(IsWindow(popup_)) << "keypad Enter completed the name";
    EXPECT_TRUE(duotint_.Running());
    Tap(kEnter);
    ASSERT_TRUE(duotint_.WaitGone(popup_, 5000));
    RunEnd end = duotint_.Finish(10000);
    EXPECT_FALSE(NamePopupCameBack(end)) << Describe(end);
    EXPECT_EQ(end.exitCode, 0u) << Describe(end);
}

// A popup that does not go away on Enter, or comes back, has tested a name
// that does not exist: the keys did not make "cat" or the long name.
TEST(NameEntryTyping, NamesThatOpen)
{
    for (const TypingCase& c : kOpeningCases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        ASSERT_TRUE(folder.Write("cat.bmp", MakePicture(5, 3, GradientPixel)));
        ASSERT_TRUE(folder.Write(std::string(kLongName) + ".bmp", MakePicture(2, 2, GradientPixel)));
        Duotint duotint;
        ASSERT_TRUE(duotint.Start(folder.Path()));
        HWND popup = duotint.WaitForNamePopup();
        ASSERT_NE(popup, nullptr);
        for (const Step& step : c.steps) {
            switch (step.kind) {
            case Step::kType: ASSERT_TRUE(TypeText(step.text)); break;
            case Step::kTap: Tap(step.key); break;
            case Step::kDown: KeyDown(step.key); break;
            case Step::kUp: KeyUp(step.key); break;
            }
        }
        Tap(kEnter);
        EXPECT_TRUE(duotint.WaitGone(popup, 5000)) << "Enter did not close the popup";
        RunEnd end = duotint.Finish(10000);
        EXPECT_FALSE(NamePopupCameBack(end)) << "the name did not open a file; " << Describe(end);
        EXPECT_EQ(end.exitCode, 0u) << Describe(end);
        EXPECT_TRUE(end.boxes.empty()) << Describe(end);
    }
}

// The name reaches the file operations as typed plus ".bmp": a picture that
// is refused names itself in the box.
TEST(NameEntryTyping, TypedNameIsTheFileRead)
{
    static const struct {
        const char* label;
        std::vector<Step> steps;
        const char* boxStart;
    } kCases[] = {
        {"c a t", {Type("cat")}, "cat.bmp "},
        {"Backspace then Enter writes .bmp over the removed character", {Type("cats"), TapKey(kBackspace)},
         "cat.bmp "},
        {"16 characters and a 17th", {Type(kLongName), Type("z")}, "0123456789-qwert.bmp "},
    };
    BmpHeader header;
    header.width = 2;
    header.height = 2;
    header.bitsPerPixel = 7;  // no BMP has 7 bits a pixel: neither reader takes it
    std::vector<uint8_t> refused = PackHeader(header, 16);
    refused.resize(54 + 16, 0x40);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        ASSERT_TRUE(folder.Write("cat.bmp", refused));
        ASSERT_TRUE(folder.Write(std::string(kLongName) + ".bmp", refused));
        Duotint duotint;
        ASSERT_TRUE(duotint.Start(folder.Path()));
        HWND popup = duotint.WaitForNamePopup();
        ASSERT_NE(popup, nullptr);
        for (const Step& step : c.steps) {
            if (step.kind == Step::kType)
                ASSERT_TRUE(TypeText(step.text));
            else
                Tap(step.key);
        }
        Tap(kEnter);
        EXPECT_TRUE(duotint.WaitGone(popup, 5000));
        RunEnd end = duotint.Finish(10000);
        ASSERT_EQ(end.boxes.size(), 1u) << Describe(end);
        EXPECT_EQ(end.boxes[0].rfind(c.boxStart, 0), 0u) << Describe(end);
        EXPECT_EQ(end.exitCode, 13u) << Describe(end);
    }
}

}  // namespace
