// app/display.cpp — texts the engine threads show, handed to the window's own thread.
// A worker leaves the title, status and log texts (in order) and the run's link counts here
// and goes on; the window thread shows them when it gets to them. A worker that waited for every repaint would spend most of a
// small file's time on the window.
#include "app/surface.h"

#include <commctrl.h>
#include <string.h>

// Bytes of texts that may wait; a worker that finds them full waits until
// the window thread has shown them.
#define LEFT_SIZE 65536

// Texts longer than this are cut (no engine text comes near it).
#define LEFT_TEXT_SIZE 2048

// What a left text is: each is stored as this byte, the text and a NUL.
enum { LEFT_LOG_LINE = 'L', LEFT_TITLE = 'T', LEFT_STATUS = 'S' };

struct LeftTexts {
    CRITICAL_SECTION lock;
    HWND window;  // the window the texts are for
    bool posted;  // a WM_SHOW_LEFT_TEXTS is on its way
    bool countsLeft;
    int found, handled;
    int filePosition; // the file progress bar's position left; -1 for none
    size_t used;
    char texts[LEFT_SIZE];
};

static LeftTexts g_left;
static INIT_ONCE g_leftInit = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK InitLeftTexts(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&g_left.lock);
    return TRUE;
}

// Takes the lock for texts left for the window; what was left for another
// window (one closed before it showed them) is dropped.
static void LockLeft(HWND window)
{
    InitOnceExecuteOnce(&g_leftInit, InitLeftTexts, NULL, NULL);
    EnterCriticalSection(&g_left.lock);
    if (g_left.window != window) {
        g_left.window = window;
        g_left.posted = false;
        g_left.countsLeft = false;
        g_left.filePosition = -1;
        g_left.used = 0;
    }
}

static void UnlockLeft(void) { LeaveCriticalSection(&g_left.lock); }

static bool OnWindowThread(HWND window) { return GetWindowThreadProcessId(window, NULL) == GetCurrentThreadId(); }

static void ShowLogLine(HWND window, const char *line)
{
    LRESULT last = SendDlgItemMessageA(window, IDC_LOG, LB_ADDSTRING, 0, (LPARAM)line);
    if (last >= 0)
        SendDlgItemMessageA(window, IDC_LOG, LB_SETTOPINDEX, (WPARAM)last, 0);
}

// Sets a title or status text where the window shows it.
static void SetShownText(HWND window, char kind, const char *text)
{
    SetWindowTextA(kind == LEFT_TITLE ? window : GetDlgItem(window, IDC_STATUS), text);
}

// Shows the texts in order; the log is scrolled once for the lines shown
// together.
static void ShowTexts(HWND window, const char *texts, size_t used)
{
    LRESULT last = LB_ERR;
    for (size_t at = 0; at < used; at += strlen(texts + at) + 1) {
        const char *text = texts + at + 1;
        if (texts[at] == LEFT_LOG_LINE)
            last = SendDlgItemMessageA(window, IDC_LOG, LB_ADDSTRING, 0, (LPARAM)text);
        else
            SetShownText(window, texts[at], text);
    }
    if (last >= 0)
        SendDlgItemMessageA(window, IDC_LOG, LB_SETTOPINDEX, (WPARAM)last, 0);
}

// The 32-bit range: a site's links may number more than 65,535.
static void ShowLinkCounts(HWND window, int found, int handled)
{
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETRANGE32, 0, (LPARAM)found);
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETPOS, (WPARAM)handled, 0);
}

void ShowLeftTexts(HWND window)
{
    static char texts[LEFT_SIZE]; // the window thread's alone
    LockLeft(window);
    g_left.posted = false;
    bool countsLeft = g_left.countsLeft;
    int found = g_left.found, handled = g_left.handled, filePosition = g_left.filePosition;
    g_left.countsLeft = false;
    g_left.filePosition = -1;
    size_t used = g_left.used;
    memcpy(texts, g_left.texts, used);
    UnlockLeft();
    ShowTexts(window, texts, used);
    // Taken out only once shown: a look-up meanwhile finds each line in the
    // log or here.
    LockLeft(window);
    memmove(g_left.texts, g_left.texts + used, g_left.used - used);
    g_left.used -= used;
    UnlockLeft();
    if (countsLeft)
        ShowLinkCounts(window, found, handled);
    if (filePosition >= 0)
        SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETPOS, (WPARAM)filePosition, 0);
}

void WaitForLeftTexts(HWND window)
{
    if (OnWindowThread(window))
        ShowLeftTexts(window);
    else
        SendMessageA(window, WM_SHOW_LEFT_TEXTS, 0, 0);
}

// Asks the window thread to show what is left, once until it has; called
// with the lock held.
static void PostLeftTexts(HWND window)
{
    if (!g_left.posted)
        g_left.posted = PostMessageA(window, WM_SHOW_LEFT_TEXTS, 0, 0) != FALSE;
}

// Leaves a text of the kind for the window thread; false when there is no
// room until the texts already left are shown.
static bool LeaveText(HWND window, char kind, const char *text)
{
    size_t length = strlen(text) + 1;
    LockLeft(window);
    bool room = g_left.used + 1 + length <= sizeof g_left.texts;
    if (room) {
        g_left.texts[g_left.used] = kind;
        memcpy(g_left.texts + g_left.used + 1, text, length);
        g_left.used += 1 + length;
        PostLeftTexts(window);
    }
    UnlockLeft();
    return room;
}

// Shows the text at once on the window thread; from another thread leaves
// it, waiting for room when the texts left fill their buffer.
static void ShowOrLeave(HWND window, char kind, const char *text)
{
    if (OnWindowThread(window)) {
        ShowLeftTexts(window);
        if (kind == LEFT_LOG_LINE)
            ShowLogLine(window, text);
        else
            SetShownText(window, kind, text);
        return;
    }
    char cut[LEFT_TEXT_SIZE];
    CopyText(cut, sizeof cut, text);
    while (!LeaveText(window, kind, cut))
        WaitForLeftTexts(window);
}

void LeaveWindowText(HWND window, int id, const char *text)
{
    ShowOrLeave(window, id == 0 ? LEFT_TITLE : LEFT_STATUS, text);
}

void AppendLog(HWND window, const char *text) { ShowOrLeave(window, LEFT_LOG_LINE, text); }

void LeaveLinkCounts(HWND window, int found, int handled)
{
    if (OnWindowThread(window)) {
        ShowLeftTexts(window);
        ShowLinkCounts(window, found, handled);
        return;
    }
    LockLeft(window);
    g_left.found = found;
    g_left.handled = handled;
    g_left.countsLeft = true;
    PostLeftTexts(window);
    UnlockLeft();
}

void LeaveFilePosition(HWND window, int position)
{
    if (OnWindowThread(window)) {
        ShowLeftTexts(window);
        SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETPOS, (WPARAM)position, 0);
        return;
    }
    LockLeft(window);
    g_left.filePosition = position;
    PostLeftTexts(window);
    UnlockLeft();
}

int FindLeftLogLine(HWND window, bool (*matches)(const char *line, const void *key), const void *key)
{
    LockLeft(window);
    int found = -1, number = 0;
    for (size_t at = 0; at < g_left.used && found < 0; at += strlen(g_left.texts + at) + 1) {
        if (g_left.texts[at] != LEFT_LOG_LINE)
            continue;
        if (matches(g_left.texts + at + 1, key))
            found = number;
        ++number;
    }
    UnlockLeft();
    return found;
}
