// app/surface.h — the window surface the engine and page code share.
// Crawl state, log, status, button.
#ifndef PARVEL_APP_SURFACE_H
#define PARVEL_APP_SURFACE_H

#include <windows.h>

#include "address/address.h"
#include "app/ids.h"

// Crawl state: one 32-bit value moved by the window thread (Skip and Stop
// requests) and by the engine, each move by one interlocked
// compare-and-exchange (MoveCrawlState), so that neither loses the other's.
enum {
    CRAWL_IDLE = 0,
    CRAWL_RUNNING = 1,
    CRAWL_STOP_REQUESTED = 2,
    CRAWL_SKIP_REQUESTED = 3
};
extern volatile LONG g_crawlState;

// Moves the crawl state from one value to another in one step; false, with
// the state unchanged, when it no longer holds from (the other thread moved
// it first).
bool MoveCrawlState(LONG from, LONG to);

// Posted to the main window: restart the animation timer with the period in
// milliseconds given as wParam. A timer can be set only by the thread that
// owns its window, so the engine threads ask the window to do it.
#define WM_ANIMATION_PERIOD (WM_APP + 1)

// Posted by the crawl run to the main window when a run ends with
// "電源OFF(&P)" checked: the window's own thread shows the notice.
#define WM_POWEROFF_NOTICE (WM_APP + 9)

// Posted to the main window: show what the engine threads left (ShowLeftTexts);
// sent with wParam 1 by WaitForLeftTexts, to show it at once.
#define WM_SHOW_LEFT_TEXTS (WM_APP + 10)

// Asks the window to run its animation timer with the period; returns at once.
void SetAnimationPeriod(HWND window, UINT period);

// The window all engine output goes to; set when a crawl starts.
extern HWND g_mainWindow;

// The module instance, for every string, icon and dialog resource.
extern HINSTANCE g_instance;

// Size of the buffer every resource string is loaded into.
#define STRING_SIZE 260

// Loads string id into buffer (STRING_SIZE bytes).
void LoadText(int id, char *buffer);

// Adds the text as the last line of the access log and scrolls it into view.
// From another thread than the window's the line is left for the window
// thread (in order, none lost) and the caller goes on.
void AppendLog(HWND window, const char *text);

// Shows text as the window's title (id 0) or the status line (IDC_STATUS);
// from another thread it is left for the window thread, which shows the
// newest text left of each: one replaced before it gets to it is not shown.
void LeaveWindowText(HWND window, int id, const char *text);

// When set (by tests), called with every title (id 0) and status text
// (IDC_STATUS) LeaveWindowText is given, on the giver's thread: also with
// those a newer one replaces before the window shows them.
extern void (*g_textGiven)(int id, const char *text);

// Shows the link counts in the run's progress bar (32-bit range); from
// another thread the latest counts left are shown with the texts.
void LeaveLinkCounts(HWND window, int found, int handled);

// Sets the file progress bar's position as LeaveLinkCounts shows the counts.
void LeaveFilePosition(HWND window, int position);

// Window thread: shows what the engine threads have left.
void ShowLeftTexts(HWND window);

// Window thread, for WM_SHOW_LEFT_TEXTS and SHOW_TIMER: shows what is left at
// once when now is set or SHOW_INTERVAL ms have passed since the last
// showing, and otherwise when they have (the timer).
void ShowLeftTextsInTime(HWND window, bool now);

// Any thread: returns once everything left so far is shown.
void WaitForLeftTexts(HWND window);

// The number among the log lines left for the window, not shown yet, of the
// first that matches the key; -1 when none does.
int FindLeftLogLine(HWND window, bool (*matches)(const char *line, const void *key), const void *key);

// Kind of the Search button caption: 2 "中止" (Stop), 3 "ｽｷｯﾌﾟ" (Skip), any other "探索" (Search).
enum { BUTTON_SEARCH = 1, BUTTON_STOP = 2, BUTTON_SKIP = 3 };
void SetSearchButtonText(HWND window, int kind);

// Switches the controls between run mode (enable 0) and idle (enable 1).
void SetRunControls(HWND window, int enable);

// True when a line of the access log is the text, case ignored as the list
// box ignores it in LB_FINDSTRINGEXACT: the access log is also the list of
// files handled in a run. Answered by the log's index.
bool IsInVisitedList(HWND window, const char *text);

// Keeps the state of the window's check box beside it, so that IsBoxChecked
// answers from any thread without the window's; false when there is no such
// box. Called on the window's own thread, once or more.
bool MirrorCheckBox(HWND window, int id);

// IsDlgButtonChecked of a box, from its mirror when it has one.
UINT IsBoxChecked(HWND window, int id);

// Gives the window's access log its index, kept in step with every change to
// the lines whoever makes it; false when the window has no log. Called on
// the window's own thread, once or more.
bool IndexAccessLog(HWND window);

// Sent to the indexed access log list box (thread of the window): lParam is
// an ANSI text; answers the number of the first line LB_FINDSTRINGEXACT
// would find for it, or LB_ERR.
#define LOG_FINDLINE (WM_APP + 20)

#endif
