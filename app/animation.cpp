// app/animation.cpp — the busy animation: the picture strip "qex.bmp", frames, counter.
// Every size in the strip is checked on loading; one 32 x 32 frame is drawn at a time.
#include "app/app.h"

BITMAPINFO *g_animationImage;
const BYTE *g_animationPixels;
int g_colorEntries;
int g_lastFrameIndex;
int g_animationFrame;

// Largest picture strip file taken: far above any strip of frames, and low
// enough that no size computed from it can overflow.
#define MAX_STRIP_FILE (16 * 1024 * 1024)

void FreeAnimationImage(void)
{
    if (g_animationImage != NULL)
        HeapFree(GetProcessHeap(), 0, g_animationImage);
    g_animationImage = NULL;
    g_animationPixels = NULL;
    g_colorEntries = 0;
    g_lastFrameIndex = 0;
}

// Colour-table entries of an uncompressed bitmap, or -1 when its header
// asks for more entries than its bit depth has colours.
static int ColorEntriesOf(const BITMAPINFOHEADER *header)
{
    if (header->biBitCount > 8)
        return 0;
    DWORD colours = 1u << header->biBitCount;
    if (header->biClrUsed > colours)
        return -1;
    return header->biClrUsed != 0 ? (int)header->biClrUsed : (int)colours;
}

// True when the bytes read hold a whole bitmap StretchDIBits can draw
// without reading past them: a 40-byte uncompressed info header, its colour
// table and every pixel row.
static bool IsWholeBitmap(const BITMAPINFOHEADER *header, DWORD bytesRead, int *entries)
{
    if (bytesRead < sizeof(BITMAPINFOHEADER) || header->biSize != sizeof(BITMAPINFOHEADER))
        return false;
    if (header->biPlanes != 1 || header->biCompression != BI_RGB)
        return false;
    WORD bits = header->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    if (header->biWidth < 1 || header->biWidth > 65535 || height < 1 || height > 65535)
        return false;
    *entries = ColorEntriesOf(header);
    if (*entries < 0)
        return false;
    unsigned long long stride = (((unsigned long long)header->biWidth * bits + 31) / 32) * 4;
    unsigned long long needed = sizeof(BITMAPINFOHEADER) + 4ull * (unsigned)*entries + stride * (unsigned long long)height;
    return needed <= bytesRead;
}

int LoadAnimationImage(const char *fileName)
{
    FreeAnimationImage();
    OFSTRUCT found;
    HFILE file = OpenFile(fileName, &found, OF_READ);
    if (file == HFILE_ERROR)
        return 0;
    BITMAPFILEHEADER fileHeader;
    LONG headerRead = _hread(file, &fileHeader, sizeof fileHeader);
    BYTE *block = NULL;
    LONG bytesRead = 0;
    if (headerRead == (LONG)sizeof fileHeader && fileHeader.bfType == 0x4D42 &&
        fileHeader.bfSize > sizeof fileHeader + sizeof(BITMAPINFOHEADER) && fileHeader.bfSize <= MAX_STRIP_FILE) {
        block = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, fileHeader.bfSize);
        if (block != NULL)
            bytesRead = _hread(file, block, (LONG)fileHeader.bfSize);
    }
    _lclose(file);
    if (block == NULL)
        return 0;
    int entries = 0;
    if (bytesRead < 0 || !IsWholeBitmap((BITMAPINFOHEADER *)block, (DWORD)bytesRead, &entries)) {
        HeapFree(GetProcessHeap(), 0, block);
        return 0;
    }
    g_animationImage = (BITMAPINFO *)block;
    g_colorEntries = entries;
    g_animationPixels = block + sizeof(BITMAPINFOHEADER) + 4 * entries;
    g_lastFrameIndex = g_animationImage->bmiHeader.biWidth / FRAME_SIZE - 1;
    return 1;
}

// The frame to show now: the idle picture when idle, else the counter; an
// image of fewer than two frames always shows its first one.
static int FrameToDraw(void)
{
    if (g_lastFrameIndex < 1)
        return 0;
    if (g_crawlState == CRAWL_IDLE)
        return g_lastFrameIndex;
    return g_animationFrame >= 0 && g_animationFrame < g_lastFrameIndex ? g_animationFrame : 0;
}

void DrawAnimationFrame(HWND window)
{
    if (g_animationImage == NULL)
        return;
    const BITMAPINFOHEADER *header = &g_animationImage->bmiHeader;
    int frame = FrameToDraw();
    int left = frame * FRAME_SIZE;
    // An image narrower or lower than one frame is drawn as far as it goes.
    int width = header->biWidth - left < FRAME_SIZE ? header->biWidth - left : FRAME_SIZE;
    LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    if (height > FRAME_SIZE)
        height = FRAME_SIZE;
    HWND control = GetDlgItem(window, IDC_ANIMATION);
    HDC dc = GetDC(control);
    // Drawn at the system's DPI, as the icon beneath it is: 32 pixels at
    // 96 dpi, 48 at 150 %, 64 at 200 %.
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    StretchDIBits(dc, 0, 0, MulDiv(width, dpi, 96), MulDiv((int)height, dpi, 96), left, 0, width, (int)height,
                  g_animationPixels, g_animationImage, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(control, dc);
}

void AdvanceAnimationFrame(void)
{
    ++g_animationFrame;
    if (g_lastFrameIndex < 1 || g_animationFrame >= g_lastFrameIndex)
        g_animationFrame = 0;
}
