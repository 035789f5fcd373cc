// app/app.h — interface of the application shell: the shared state of the main window, its report operations, the window procedure and the address input.
#ifndef PARVEL_APP_APP_H
#define PARVEL_APP_APP_H

#include <windows.h>

#include "app/ids.h"

// Crawl state: one 32-bit value written by the window thread (Skip and Stop
// requests) and by the engine; the last write wins.
enum {
    CRAWL_IDLE = 0,
    CRAWL_RUNNING = 1,
    CRAWL_STOP_REQUESTED = 2,
    CRAWL_SKIP_REQUESTED = 3
};
extern volatile LONG g_crawlState;

// The window all engine output goes to; set when a crawl starts.
extern HWND g_mainWindow;

// The module instance, for every string, icon and dialog resource.
extern HINSTANCE g_instance;

// Size of the buffer every resource string is loaded into.
#define STRING_SIZE 260

// Loads string id into buffer (STRING_SIZE bytes).
void LoadText(int id, char *buffer);

// Adds the text as the last line of the access log and scrolls it into view.
void AppendLog(HWND window, const char *text);

// Kind of the Search button caption: 2 "中止" (Stop), 3 "ｽｷｯﾌﾟ" (Skip), any other "探索" (Search).
enum { BUTTON_SEARCH = 1, BUTTON_STOP = 2, BUTTON_SKIP = 3 };
void SetSearchButtonText(HWND window, int kind);

// Switches the controls between run mode (enable 0) and idle (enable 1).
void SetRunControls(HWND window, int enable);

// True when a line of the access log begins with the text, case ignored:
// the access log is also the list of files handled in a run.
bool IsInVisitedList(HWND window, const char *text);

// The main window's procedure (dialog 101).
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
