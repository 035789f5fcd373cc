// tests/win/app_animation_test.cpp — the picture strip loader and the animation frames.
// The loader on good, short and corrupt files, the frame counter, and the frame drawn into
// the animation control.
#include <gtest/gtest.h>

#include <string>

#include "tests/win/test_files.h"
#include "tests/win/window_fixture.h"

namespace {

void Put16(std::string &s, size_t at, unsigned v)
{
    s[at] = (char)(v & 0xFF);
    s[at + 1] = (char)((v >> 8) & 0xFF);
}

void Put32(std::string &s, size_t at, unsigned v)
{
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}

// A whole bitmap file: 40-byte info header, colour table, pixel rows. With
// 24 bits each frame of 32 pixels gets its own colour (frame f: blue f*40).
std::string Bitmap(int width, int height, int bits, unsigned colorsUsed = 0)
{
    unsigned entries = bits > 8 ? 0 : colorsUsed != 0 ? colorsUsed : 1u << bits;
    unsigned stride = ((unsigned)(width * bits) + 31) / 32 * 4;
    unsigned size = 14 + 40 + 4 * entries + stride * (unsigned)height;
    std::string s(size, '\0');
    s[0] = 'B';
    s[1] = 'M';
    Put32(s, 2, size);
    Put32(s, 10, 14 + 40 + 4 * entries);
    Put32(s, 14, 40);
    Put32(s, 18, (unsigned)width);
    Put32(s, 22, (unsigned)height);
    Put16(s, 26, 1);
    Put16(s, 28, (unsigned)bits);
    Put32(s, 46, colorsUsed);
    if (bits == 24) {
        size_t pixels = 14 + 40;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                size_t at = pixels + (size_t)y * stride + (size_t)x * 3;
                s[at] = (char)((x / 32) * 40 + 20); // blue
                s[at + 1] = (char)100;               // green
                s[at + 2] = (char)200;               // red
            }
    }
    return s;
}

class PictureStrip : public ::testing::Test {
protected:
    void SetUp() override { folder = MakeTempFolder("pva"); }
    void TearDown() override
    {
        FreeAnimationImage();
        g_crawlState = CRAWL_IDLE;
    }
    int Load(const std::string &bytes)
    {
        std::string path = folder + "\\strip.bmp";
        EXPECT_TRUE(WriteBytes(path, bytes));
        return LoadAnimationImage(path.c_str());
    }
    std::string folder;
};

TEST_F(PictureStrip, GoodStripsGiveTheirColourTableFramesAndPixels)
{
    const struct {
        int width, height, bits;
        unsigned colorsUsed;
        int entries, lastFrame;
    } cases[] = {
        {160, 32, 24, 0, 0, 4}, {160, 32, 8, 0, 256, 4}, {64, 32, 4, 0, 16, 1}, {96, 32, 8, 3, 3, 2},
        {160, 32, 1, 0, 2, 4},  {100, 40, 32, 0, 0, 2},  {40, 32, 24, 0, 0, 0}, {20, 20, 24, 0, 0, -1},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(Load(Bitmap(c.width, c.height, c.bits, c.colorsUsed)), 1)
            << c.width << "x" << c.height << "x" << c.bits;
        ASSERT_NE(g_animationImage, (BITMAPINFO *)NULL);
        EXPECT_EQ(g_colorEntries, c.entries) << c.width << "x" << c.bits;
        EXPECT_EQ(g_lastFrameIndex, c.lastFrame) << c.width << "x" << c.bits;
        EXPECT_EQ(g_animationPixels, (const BYTE *)g_animationImage + 40 + 4 * c.entries);
    }
}

TEST_F(PictureStrip, TheShippedStripHoldsFiveFramesWithTheIdleOneLast)
{
    ASSERT_EQ(LoadAnimationImage(BesideProgram("qex.bmp").c_str()), 1);
    EXPECT_EQ(g_lastFrameIndex, 4);
    EXPECT_EQ(g_animationImage->bmiHeader.biWidth, 160);
}

TEST_F(PictureStrip, ShortOrCorruptFilesGiveNoImage)
{
    std::string good = Bitmap(160, 32, 24);
    std::string hugeSize = good, tinySize = good, coreHeader = good, rle = good, tooManyColours = Bitmap(64, 32, 8);
    std::string badBits = good, zeroWidth = good, zeroHeight = good, notBitmap = good, twoPlanes = good;
    Put32(hugeSize, 2, 0xFFFFFFFFu);
    Put32(tinySize, 2, 14 + 40 + 100);
    Put32(coreHeader, 14, 12);
    Put32(rle, 30, BI_RLE8);
    Put32(tooManyColours, 46, 257);
    Put16(badBits, 28, 7);
    Put32(zeroWidth, 18, 0);
    Put32(zeroHeight, 22, 0);
    notBitmap[0] = 'X';
    Put16(twoPlanes, 26, 2);
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"file header only", good.substr(0, 14)},
        {"header cut", good.substr(0, 30)},
        {"pixels cut", good.substr(0, good.size() - 1)},
        {"colour table cut", Bitmap(64, 32, 8).substr(0, 14 + 40 + 500)},
        {"size field past the file", hugeSize},
        {"size field shorter than the pixels", tinySize},
        {"12-byte header", coreHeader},
        {"compressed", rle},
        {"more colours than the depth has", tooManyColours},
        {"7 bits", badBits},
        {"width 0", zeroWidth},
        {"height 0", zeroHeight},
        {"no BM", notBitmap},
        {"two planes", twoPlanes},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(Load(good), 1);
        EXPECT_EQ(Load(c.bytes), 0) << c.name;
        EXPECT_EQ(g_animationImage, (BITMAPINFO *)NULL) << c.name;
        EXPECT_EQ(g_animationPixels, (const BYTE *)NULL) << c.name;
        EXPECT_EQ(g_lastFrameIndex, 0) << c.name;
    }
    EXPECT_EQ(LoadAnimationImage((folder + "\\missing.bmp").c_str()), 0);
}

TEST(AnimationFrames, FramesCycleUpToTheIdleOne)
{
    const struct {
        int lastFrame;
        const char *sequence;
    } cases[] = {{4, "1230123"}, {2, "1010101"}, {1, "0000000"}, {0, "0000000"}, {-1, "0000000"}};
    for (const auto &c : cases) {
        g_lastFrameIndex = c.lastFrame;
        g_animationFrame = 0;
        std::string seen;
        for (int i = 0; i < 7; ++i) {
            AdvanceAnimationFrame();
            seen += (char)('0' + g_animationFrame);
        }
        EXPECT_EQ(seen, c.sequence) << "last frame " << c.lastFrame;
    }
    g_lastFrameIndex = 0;
    g_animationFrame = 0;
}

// The animation control's pixel at (5, 5) after drawing.
COLORREF DrawnColour(HWND window)
{
    DrawAnimationFrame(window);
    HWND control = GetDlgItem(window, IDC_ANIMATION);
    HDC dc = GetDC(control);
    COLORREF colour = GetPixel(dc, 5, 5);
    ReleaseDC(control, dc);
    return colour;
}

TEST_F(PictureStrip, TheIdleFrameShowsWhenIdleAndTheCounterDuringARun)
{
    HWND window = CreateTestWindow();
    ASSERT_NE(window, (HWND)NULL);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(window);
    PumpUntil([] { return false; }, 200);
    ASSERT_EQ(Load(Bitmap(160, 32, 24)), 1);
    const struct {
        LONG state;
        int counter, frame;
    } cases[] = {{CRAWL_IDLE, 0, 4}, {CRAWL_IDLE, 2, 4}, {CRAWL_RUNNING, 0, 0}, {CRAWL_RUNNING, 3, 3},
                 {CRAWL_SKIP_REQUESTED, 1, 1}, {CRAWL_STOP_REQUESTED, 2, 2}, {CRAWL_RUNNING, 4, 0},
                 {CRAWL_RUNNING, 99, 0}};
    for (const auto &c : cases) {
        g_crawlState = c.state;
        g_animationFrame = c.counter;
        EXPECT_EQ(DrawnColour(window), RGB(200, 100, c.frame * 40 + 20))
            << "state " << c.state << " counter " << c.counter;
    }
    // Narrower than two frames: the first frame, whatever the state.
    ASSERT_EQ(Load(Bitmap(40, 32, 24)), 1);
    for (LONG state : {CRAWL_IDLE, CRAWL_RUNNING}) {
        g_crawlState = state;
        g_animationFrame = 7;
        EXPECT_EQ(DrawnColour(window), RGB(200, 100, 20)) << "state " << state;
    }
    ASSERT_EQ(Load(Bitmap(20, 20, 24)), 1);
    EXPECT_EQ(DrawnColour(window), RGB(200, 100, 20));
    g_animationFrame = 0;
    DestroyWindow(window);
}

} // namespace
