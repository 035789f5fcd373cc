// app/surface.cpp — the main window surface the engine shares.
// Crawl state and its moves, handles, the access log, the Search button caption,
// run mode and the animation period.
#include "app/surface.h"

volatile LONG g_crawlState = CRAWL_IDLE;
HWND g_mainWindow;
HINSTANCE g_instance;

bool MoveCrawlState(LONG from, LONG to)
{
    return InterlockedCompareExchange(&g_crawlState, to, from) == from;
}

// The window and period last posted: each small file's transfer asks for a
// period, mostly the one asked before, and each post costs a call to the
// system and a wake of the window thread.
static HWND s_periodWindow;
static UINT s_askedPeriod;
static SRWLOCK s_periodLock = SRWLOCK_INIT;

void SetAnimationPeriod(HWND window, UINT period)
{
    AcquireSRWLockExclusive(&s_periodLock);
    if (window != s_periodWindow || period != s_askedPeriod) {
        if (PostMessageA(window, WM_ANIMATION_PERIOD, (WPARAM)period, 0)) {
            s_periodWindow = window;
            s_askedPeriod = period;
        }
    }
    ReleaseSRWLockExclusive(&s_periodLock);
}

void LoadText(int id, char *buffer)
{
    buffer[0] = '\0';
    LoadStringA(g_instance, id, buffer, STRING_SIZE);
}

void SetSearchButtonText(HWND window, int kind)
{
    int id = kind == BUTTON_STOP ? IDS_STOP : kind == BUTTON_SKIP ? IDS_SKIP : IDS_SEARCH;
    char text[STRING_SIZE];
    LoadText(id, text);
    SetDlgItemTextA(window, IDC_SEARCH, text);
}

void SetRunControls(HWND window, int enable)
{
    static const int controls[] = {IDC_OPTIONS, IDC_RELOAD, IDC_DEPTH0, IDC_DEPTH1,
                                   IDC_DEPTH2, IDC_DEPTHINF, IDC_IGNORE};
    SetSearchButtonText(window, enable ? BUTTON_SEARCH : BUTTON_SKIP);
    for (int id : controls)
        EnableWindow(GetDlgItem(window, id), enable);
}
