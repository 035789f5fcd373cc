// app/display.cpp — texts the engine threads show, handed to the window's own thread.
// A worker leaves the title, status and log texts and the run's link counts here and goes
// on; the window thread shows them when it gets to them: every log line in order, and of
// the title and status texts the newest, as one that a newer one replaces before the window
// gets to it would be shown for no time. A worker that waited for every repaint would spend
// most of a small file's time on the window.
#include "app/surface.h"

#include <commctrl.h>
#include <string.h>

// Bytes of log lines that may wait; a worker that finds them full waits
// until the window thread has shown them.
#define LEFT_SIZE 65536

// Texts longer than this are cut (no engine text comes near it).
#define LEFT_TEXT_SIZE 2048

// The newest title or status text left, when one is.
struct LeftText {
    bool left;
    char text[LEFT_TEXT_SIZE];
};

struct LeftTexts {
    CRITICAL_SECTION lock;
    HWND window;  // the window the texts are for
    bool posted;  // a WM_SHOW_LEFT_TEXTS is on its way
    bool countsLeft;
    int found, handled;
    int filePosition; // the file progress bar's position left; -1 for none
    LeftText title, status;
    size_t used;
    char lines[LEFT_SIZE]; // log lines, each with its NUL
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
        g_left.title.left = g_left.status.left = false;
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

// Sets the title (id 0) or the status line (IDC_STATUS).
static void SetShownText(HWND window, int id, const char *text)
{
    SetWindowTextA(id == 0 ? window : GetDlgItem(window, id), text);
}

// Shows the lines in order; the log is scrolled once for them all.
static void ShowLogLines(HWND window, const char *lines, size_t used)
{
    if (used == 0)
        return;
    HWND log = GetDlgItem(window, IDC_LOG);
    SendMessageA(log, WM_SETREDRAW, FALSE, 0);
    LRESULT last = LB_ERR;
    for (size_t at = 0; at < used; at += strlen(lines + at) + 1)
        last = SendMessageA(log, LB_ADDSTRING, 0, (LPARAM)(lines + at));
    if (last >= 0)
        SendMessageA(log, LB_SETTOPINDEX, (WPARAM)last, 0);
    SendMessageA(log, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(log, NULL, TRUE);
}

// The 32-bit range: a site's links may number more than 65,535.
static void ShowLinkCounts(HWND window, int found, int handled)
{
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETRANGE32, 0, (LPARAM)found);
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETPOS, (WPARAM)handled, 0);
}

// Moves a left text to the window thread's copy; called with the lock held.
static void TakeLeftText(LeftText *taken, LeftText *left)
{
    taken->left = left->left;
    if (left->left)
        CopyText(taken->text, sizeof taken->text, left->text);
    left->left = false;
}

static void ShowLeftText(HWND window, int id, const LeftText *taken)
{
    if (taken->left)
        SetShownText(window, id, taken->text);
}

// When what was left was last shown; the window thread's alone.
static DWORD g_lastShown;
// The window whose SHOW_TIMER runs; null when none does.
static HWND g_showTimerWindow;

void ShowLeftTexts(HWND window)
{
    static char lines[LEFT_SIZE]; // the window thread's alone
    static LeftText title, status;
    g_lastShown = GetTickCount();
    LockLeft(window);
    g_left.posted = false;
    bool countsLeft = g_left.countsLeft;
    int found = g_left.found, handled = g_left.handled, filePosition = g_left.filePosition;
    g_left.countsLeft = false;
    g_left.filePosition = -1;
    TakeLeftText(&title, &g_left.title);
    TakeLeftText(&status, &g_left.status);
    size_t used = g_left.used;
    memcpy(lines, g_left.lines, used);
    UnlockLeft();
    ShowLogLines(window, lines, used);
    // Taken out only once shown: a look-up meanwhile finds each line in the
    // log or here.
    LockLeft(window);
    memmove(g_left.lines, g_left.lines + used, g_left.used - used);
    g_left.used -= used;
    UnlockLeft();
    ShowLeftText(window, 0, &title);
    ShowLeftText(window, IDC_STATUS, &status);
    if (countsLeft)
        ShowLinkCounts(window, found, handled);
    if (filePosition >= 0)
        SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETPOS, (WPARAM)filePosition, 0);
}

// While a crawl runs, texts left within SHOW_INTERVAL ms of a showing are shown
// together at its end: a crawl of small files leaves texts at every file, and
// under Wine each showing costs the window thread as much as a small file's
// fetch. The notice stays posted meanwhile, so the engine threads post no
// more. Outside a run (its end actions) what is left is shown at once.
void ShowLeftTextsInTime(HWND window, bool now)
{
    DWORD since = GetTickCount() - g_lastShown;
    if (!now && since < SHOW_INTERVAL && g_crawlState == CRAWL_RUNNING) {
        if (g_showTimerWindow == window)
            return;
        if (SetTimer(window, SHOW_TIMER, SHOW_INTERVAL - since, NULL) != 0) {
            g_showTimerWindow = window;
            return;
        }
    }
    if (g_showTimerWindow == window)
        KillTimer(window, SHOW_TIMER);
    g_showTimerWindow = NULL;
    ShowLeftTexts(window);
}

void WaitForLeftTexts(HWND window)
{
    if (OnWindowThread(window))
        ShowLeftTexts(window);
    else
        SendMessageA(window, WM_SHOW_LEFT_TEXTS, 1, 0);
}

// Asks the window thread to show what is left, once until it has; called
// with the lock held.
static void PostLeftTexts(HWND window)
{
    if (!g_left.posted)
        g_left.posted = PostMessageA(window, WM_SHOW_LEFT_TEXTS, 0, 0) != FALSE;
}

// Leaves a log line for the window thread; false when there is no room
// until the lines already left are shown.
static bool LeaveLogLine(HWND window, const char *line)
{
    size_t length = strlen(line) + 1;
    LockLeft(window);
    bool room = g_left.used + length <= sizeof g_left.lines;
    if (room) {
        memcpy(g_left.lines + g_left.used, line, length);
        g_left.used += length;
        PostLeftTexts(window);
    }
    UnlockLeft();
    return room;
}

// Leaves the title or status text in place of one left before it.
static void LeaveShownText(HWND window, int id, const char *text)
{
    LockLeft(window);
    LeftText *left = id == 0 ? &g_left.title : &g_left.status;
    CopyText(left->text, sizeof left->text, text);
    left->left = true;
    PostLeftTexts(window);
    UnlockLeft();
}

void (*g_textGiven)(int id, const char *text);

void LeaveWindowText(HWND window, int id, const char *text)
{
    if (g_textGiven != NULL)
        g_textGiven(id, text);
    if (OnWindowThread(window)) {
        ShowLeftTexts(window);
        SetShownText(window, id, text);
        return;
    }
    LeaveShownText(window, id, text);
}

// From another thread than the window's the line is left, waiting for room
// when the lines left fill their buffer.
void AppendLog(HWND window, const char *text)
{
    if (OnWindowThread(window)) {
        ShowLeftTexts(window);
        ShowLogLine(window, text);
        return;
    }
    char cut[LEFT_TEXT_SIZE];
    CopyText(cut, sizeof cut, text);
    while (!LeaveLogLine(window, cut))
        WaitForLeftTexts(window);
}

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
    for (size_t at = 0; at < g_left.used && found < 0; at += strlen(g_left.lines + at) + 1, ++number)
        if (matches(g_left.lines + at, key))
            found = number;
    UnlockLeft();
    return found;
}
