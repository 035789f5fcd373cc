// tests/win/text_recorder.cpp — records the texts set on the test window and status line.
// It subclasses both, and the file progress bar for its positions.
#include "tests/win/text_recorder.h"

#include <commctrl.h>

#include <mutex>

#include "app/ids.h"
#include "app/surface.h"

std::vector<std::string> g_titles;
std::vector<std::string> g_statusTexts;
std::vector<int> g_barPositions;

static WNDPROC g_windowProc, g_statusProc, g_barProc;

static LRESULT CALLBACK RecordTitle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && lParam != 0)
        g_titles.push_back((const char *)lParam);
    return CallWindowProcA(g_windowProc, window, message, wParam, lParam);
}

static LRESULT CALLBACK RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && lParam != 0)
        g_statusTexts.push_back((const char *)lParam);
    return CallWindowProcA(g_statusProc, window, message, wParam, lParam);
}

static LRESULT CALLBACK RecordBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETPOS)
        g_barPositions.push_back((int)wParam);
    return CallWindowProcA(g_barProc, window, message, wParam, lParam);
}

void RecordTexts(HWND window)
{
    ClearTexts();
    g_windowProc = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)RecordTitle);
    g_statusProc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(window, IDC_STATUS), GWLP_WNDPROC, (LONG_PTR)RecordStatus);
    g_barProc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(window, IDC_FILEPROGRESS), GWLP_WNDPROC, (LONG_PTR)RecordBar);
}

static std::mutex g_givenLock;

static void RecordGivenText(int id, const char *text)
{
    std::lock_guard<std::mutex> hold(g_givenLock);
    (id == 0 ? g_titles : g_statusTexts).push_back(text);
}

void RecordGivenTexts(void)
{
    ClearTexts();
    g_textGiven = RecordGivenText;
}

void StopRecordingGivenTexts(void) { g_textGiven = NULL; }

std::string LastStatusText(void)
{
    std::lock_guard<std::mutex> hold(g_givenLock);
    return g_statusTexts.empty() ? std::string() : g_statusTexts.back();
}

void ClearTexts(void)
{
    std::lock_guard<std::mutex> hold(g_givenLock);
    g_titles.clear();
    g_statusTexts.clear();
    g_barPositions.clear();
}

bool HasText(const std::vector<std::string> &texts, const std::string &text) { return CountText(texts, text) > 0; }

int CountText(const std::vector<std::string> &texts, const std::string &text)
{
    int count = 0;
    for (const std::string &t : texts)
        count += t == text;
    return count;
}

std::string JoinTexts(const std::vector<std::string> &texts)
{
    std::string joined;
    for (const std::string &t : texts)
        joined += (joined.empty() ? "" : " | ") + t;
    return joined;
}
