// Exports of scripted sessions with extreme values, and a long session:
// the written file must equal, byte for byte, the tint computed here of the
// same picture with the values the script set, and pixel for pixel what the
// editor showed just before.
#include <gtest/gtest.h>

#include <list>
#include <string>

#include "editor_session.h"

using namespace e2e;

namespace {

const int32_t kWidth = 61, kHeight = 241;

// Typed over every row, then a notch that only switches to wheel mode.
std::vector<Step> TypeAll(const Params& p, std::list<std::string>& texts)
{
    const int32_t values[] = {p.aRed, p.aGreen, p.aBlue, p.dispA, p.distr, p.bRed, p.bGreen, p.bBlue, p.dispB};
    const int rows[] = {0, 1, 2, 3, 5, 7, 8, 9, 10};
    std::vector<Step> steps;
    for (int i = 0; i < 9; ++i) {
        texts.push_back(std::to_string(values[i]) + "\n");
        steps.push_back(Keys(rows[i], texts.back().c_str()));
    }
    steps.push_back(Shows(p));
    steps.push_back(Notches(0, 120, 1));
    steps.push_back(Shows(p));
    return steps;
}

TEST(Export, ExtremeValuesGiveTheComputedTint)
{
    static const struct {
        const char* label;
        Params p;
        const char* exportKey;  // "/" exports from wheel mode, not from numeric entry
    } kCases[] = {
        {"huge and negative components, percentages beyond 100 and below 0",
         {999999999, -50, 300, 150, -20, -999999999, 77, 999999999, -100}, "/"},
        {"negative disp, distr over 100, dispB 250", {0, 255, 77, -100, 150, 255, 0, 300, 250}, "q"},
        {"both colours full, distr 50: ties go to the even value", {0, 255, 77, 100, 50, 255, 0, 300, 100}, "m"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.label);
        std::list<std::string> texts;
        DWORD start = GetTickCount();
        EXPECT_EQ(RunSession(kWidth, kHeight, TypeAll(c.p, texts), c.exportKey, c.p), "");
        printf("  %s: %lu ms\n", c.label, GetTickCount() - start);
    }
}

// 200 typed entries and 2000 wheel notches over every row in one session.
// The step is 1 throughout, so the values stay where each pixel still
// depends on them.
TEST(Export, LongSessionStillExportsTheComputedTint)
{
    static const int kEntryRows[] = {0, 1, 2, 3, 5, 7, 8, 9, 10};
    std::list<std::string> texts;
    Params p = kStartValues;
    int32_t* const field[] = {&p.aRed,  &p.aGreen, &p.aBlue,  &p.dispA,  &p.dispA, &p.distr,
                              &p.distr, &p.bRed,   &p.bGreen, &p.bBlue, &p.dispB};  // by panel row
    std::vector<Step> steps = {Keys(0, "S")};
    int entries = 0, notches = 0;
    for (int block = 0; block < 20; ++block) {
        // Ten entries on three rows.
        for (int k = 0; k < 3; ++k) {
            int row = kEntryRows[(3 * block + k) % 9];
            bool percent = row == 3 || row == 5 || row == 10;
            std::string text;
            for (int j = 0; j < (k == 0 ? 4 : 3); ++j, ++entries) {
                int32_t v = percent ? (block * 17 + entries * 29) % 121 - 10 : (block * 53 + entries * 71) % 300 - 20;
                text += std::to_string(v) + "\n";
                *field[row] = v;
            }
            texts.push_back(text);
            steps.push_back(Keys(row, texts.back().c_str()));
        }
        // A hundred notches; the first only switches to wheel mode, a digit
        // switches back.
        int row = block % 11;
        int delta = block % 2 ? 120 : -120;
        steps.push_back(Notches(row, delta, 100));
        notches += 100;
        *field[row] += delta > 0 ? -99 : 99;
        steps.push_back(Keys(row, "0"));
        steps.push_back(Shows(p));
    }
    ASSERT_EQ(entries, 200);
    ASSERT_EQ(notches, 2000);

    DWORD start = GetTickCount();
    EditorRun run(kWidth, kHeight);
    ASSERT_EQ(run.OpenToPreview(), "");
    ASSERT_EQ(run.PreviewToEditor(), "");
    long gdiBefore = 0, gdiAfter = 0;
    std::string why;
    ASSERT_TRUE(GdiObjectsInUse(run.Program().Process(), gdiBefore, why)) << why;
    ASSERT_EQ(run.DoAll(steps), "") << "expected at the end " << ToString(p);
    ASSERT_TRUE(GdiObjectsInUse(run.Program().Process(), gdiAfter, why)) << why;
    EXPECT_EQ(gdiAfter, gdiBefore) << "GDI objects kept by the session";
    EXPECT_EQ(run.ExportWith("q", p), "");
    printf("  long session: %lu ms\n", GetTickCount() - start);
}

}  // namespace
