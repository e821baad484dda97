// Drawing in the editor window many times over must not use up GDI
// objects: every blit's bitmap and memory context go again, in windows that
// are also destroyed and made anew.
//
// Counting GDI objects: GetGuiResources does it where it is implemented;
// Wine's is a stub that answers 0. There the count is taken the long way:
// the number of objects that can still be made before the process runs out
// of handles, which goes down by exactly one for every object kept. The
// window's own device context comes from the platform's cache, which Wine
// reclaims when the window goes, so that one is not seen here.
#include <gtest/gtest.h>

#include <vector>

#include "editor/layout.h"
#include "editor/picture.h"
#include "editor/preview.h"
#include "editor/program.h"
#include "editor/program_windows.h"
#include "read/pixels.h"
#include "test_support.h"

namespace {

// GDI objects in use, up to a constant: a count where the platform keeps
// one, otherwise minus the number of regions that can still be created.
long GdiObjectsInUse()
{
    DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0)
        return static_cast<long>(counted);
    std::vector<HRGN> regions;
    while (regions.size() < 1000000) {
        HRGN region = CreateRectRgn(0, 0, 1, 1);
        if (region == nullptr)
            break;
        regions.push_back(region);
    }
    for (HRGN region : regions)
        DeleteObject(region);
    return -static_cast<long>(regions.size());
}

class GdiLeakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProgram();
        // A 61 x 41 picture through the program's own phases.
        ASSERT_TRUE(TypeName("pic", MakePicture(61, 41, [](int32_t x, int32_t y) {
            return Rgb{static_cast<uint8_t>(7 * x + y), static_cast<uint8_t>(3 * y), static_cast<uint8_t>(x ^ y)};
        })));
        CreateDrawingObjects();
        ReadImageHeader();
        ComputeLayout();
        BuildFrameImage();
        LoadSourcePixels();
        DownsamplePreview();
        SetEditingDefaults();
        state.editorWindow = MakeEditorWindow();
    }

    void TearDown() override
    {
        DestroyWindow(state.editorWindow);
        state.editorWindow = nullptr;
    }

    // The editor window as the program makes it, except that it is shown
    // without activating it: Wine would take an activated popup as managed
    // by a window manager and wait for one at every DestroyWindow.
    static HWND MakeEditorWindow()
    {
        HWND window = CreateProgramWindow(ProgramWindow::editor, SW_SHOWNOACTIVATE);
        UpdateWindow(window);
        return window;
    }

    // Re-renders, repaints and rebuilds the window `rounds` times.
    void Exercise(int rounds)
    {
        for (int i = 0; i < rounds; ++i) {
            state.dispA = i % 100;
            RenderPreview(WindowDC(state.editorWindow, ProgramWindow::editor));
            InvalidateRect(state.editorWindow, nullptr, FALSE);
            UpdateWindow(state.editorWindow);
            if (i % 10 == 0) {
                DestroyWindow(state.editorWindow);
                state.editorWindow = MakeEditorWindow();
            }
        }
    }

    ScratchFolder folder_;
};

TEST_F(GdiLeakTest, RenderPaintAndRebuildKeepNoObject)
{
    Exercise(20);  // whatever the platform sets up once, and its caches
    long before = GdiObjectsInUse();
    Exercise(300);
    long after = GdiObjectsInUse();
    EXPECT_EQ(after, before) << "GDI objects kept by 300 renders, paints and 30 rebuilds";

    // The count sees objects that are kept: a blit that forgets its bitmap.
    std::vector<HBITMAP> kept;
    for (int i = 0; i < 25; ++i)
        kept.push_back(CreateCompatibleBitmap(WindowDC(state.editorWindow, ProgramWindow::editor), 4, 4));
    EXPECT_EQ(GdiObjectsInUse(), after + 25);
    for (HBITMAP bitmap : kept)
        DeleteObject(bitmap);
    EXPECT_EQ(GdiObjectsInUse(), after);
}

}  // namespace
