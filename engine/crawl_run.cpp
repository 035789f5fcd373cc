// engine/crawl_run.cpp — a crawl run from the start request to the end actions.
// Run mode, the Internet session, one pass per start list and reservation, the
// completion sound, hang-up and power off.
#include "engine/engine_internal.h"

#include <mmsystem.h>

#include "app/surface.h"
#include "net/net.h"
#include "settings/settings.h"

char g_startList[START_LIST_SIZE];
int g_depthLimit;
HINTERNET g_internetSession;

EndActionCalls g_endActions = {
    PlaySoundA, OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges, ExitWindowsEx,
};

ThreadCalls g_threadCalls = {CreateThread, SuspendThread};

// Log lines of a run that cannot start and of end actions a press called off.
static const char RUN_NOT_STARTED[] = "* スレッドを作成できないので探索を始められません";
static const char END_ACTIONS_CALLED_OFF[] = "* ボタンが押されたので回線切断・電源OFFをしません";

// Size of the window title buffer during a run.
#define TITLE_SIZE 320

// Size of the reservation read from the address box when a pass ends.
#define RESERVATION_SIZE 260

void FormatDateFolder(char *buffer, const SYSTEMTIME *day)
{
    FormatText(buffer, sizeof "YYYY-MM-DD\\", "%04d-%02d-%02d\\", day->wYear, day->wMonth, day->wDay);
}

// The depth limit chosen by the depth buttons; the previous one when none is checked.
static void TakeDepthChoice(HWND window)
{
    static const struct { int id, limit; } buttons[] = {
        {IDC_DEPTH0, 0}, {IDC_DEPTH1, 1}, {IDC_DEPTH2, 2}, {IDC_DEPTHINF, DEPTH_UNLIMITED}};
    for (const auto &button : buttons)
        if (IsDlgButtonChecked(window, button.id) == BST_CHECKED)
            g_depthLimit = button.limit;
}

// The local path mapping reads its two settings through this.
static unsigned ReadNumberForMapping(const char *name, unsigned defaultValue)
{
    return (unsigned)ReadSettingNumber(name, defaultValue);
}

void StartCrawl(HWND window, const char *saveFolder, const char *startList, const char *ignoreText)
{
    g_mainWindow = window;
    g_readSettingNumber = ReadNumberForMapping;
    SYSTEMTIME today;
    GetLocalTime(&today);
    FormatDateFolder(g_dateFolder, &today);
    CopyText(g_saveFolder, sizeof g_saveFolder, saveFolder);
    CopyText(g_ignorePatterns, sizeof g_ignorePatterns, ignoreText);
    CopyText(g_startList, sizeof g_startList, startList);
    TakeDepthChoice(window);
    ForgetCookieFreeFolders();
    HANDLE thread = g_threadCalls.Create(NULL, 0, RunCrawl, NULL, 0, NULL);
    if (thread != NULL) {
        CloseHandle(thread);
        return;
    }
    // No run thread: the window stays as it was and a later Search can start.
    AppendLog(window, RUN_NOT_STARTED);
    MoveCrawlState(CRAWL_RUNNING, CRAWL_IDLE);
}

void ShowProgressTitle(const char *text)
{
    char format[STRING_SIZE];
    LoadText(IDS_PROGRESSTITLE, format);
    // The text is cut so that the filled title always fits its buffer:
    // the format's own characters take the room they need first.
    int room = TITLE_SIZE - (lstrlenA(format) - 2) - 1;
    char shortened[TITLE_SIZE];
    CopyText(shortened, room > 1 ? (size_t)room : 1, text);
    char title[TITLE_SIZE + STRING_SIZE];
    FormatText(title, TITLE_SIZE, format, shortened);
    LeaveWindowText(g_mainWindow, 0, title);
}

void OpenInternetSession(void)
{
    CloseInternetHandle(&g_internetSession);
    g_internetSession = g_internet.Open(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
}

void EnterRunMode(HWND window)
{
    ShowProgressTitle("Connecting...");
    SetRunControls(window, 0);
    SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
}

void FinishRun(HWND window)
{
    // The log is whole before the window reads as idle.
    WaitForLeftTexts(window);
    SetRunControls(window, 1);
    char title[STRING_SIZE];
    LoadText(IDS_TITLE, title);
    SetWindowTextA(window, title);
    g_endActions.Sound("QEXWWWread", NULL, SND_ASYNC | SND_APPLICATION);
}

void HangUp(void) { g_internet.AutodialHangup(0); }

void PowerOffIfChosen(HWND window)
{
    if (IsDlgButtonChecked(window, IDC_POWEROFF) != BST_CHECKED)
        return;
    // Never a surprise: the window's thread counts down first, and the
    // user may cancel; the notice calls SwitchPowerOff when it runs out.
    PostMessageA(window, WM_POWEROFF_NOTICE, 0, 0);
}

void SwitchPowerOff(void)
{
    HANDLE token = NULL;
    g_endActions.OpenToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    g_endActions.LookupPrivilege(NULL, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    g_endActions.AdjustPrivileges(token, FALSE, &privileges, sizeof privileges, NULL, NULL);
    if (token != NULL)
        CloseHandle(token);
    g_endActions.Shutdown(EWX_SHUTDOWN, 0);
}

static bool IsChecked(HWND window, int box) { return IsDlgButtonChecked(window, box) == BST_CHECKED; }

static bool AnyEndActionChosen(HWND window) { return IsChecked(window, IDC_HANGUP) || IsChecked(window, IDC_POWEROFF); }

static void CarryOutEndActions(HWND window)
{
    if (IsChecked(window, IDC_HANGUP))
        HangUp();
    PowerOffIfChosen(window);
}

// A press after the last pass stopped the end actions: the caption and the
// title it changed read as after a run, and a chosen end action is told
// to have been left out.
static void CallOffEndActions(HWND window)
{
    SetSearchButtonText(window, BUTTON_SEARCH);
    char title[STRING_SIZE];
    LoadText(IDS_TITLE, title);
    SetWindowTextA(window, title);
    if (AnyEndActionChosen(window))
        AppendLog(window, END_ACTIONS_CALLED_OFF);
}

// After a pass the state is running again, whatever request of that pass
// is left; each move is made from the value it replaces.
static void ResumeRunning(void)
{
    for (;;) {
        LONG state = g_crawlState;
        if (state == CRAWL_RUNNING || MoveCrawlState(state, CRAWL_RUNNING))
            return;
    }
}

// Runs one pass over the start list and then one per reservation typed into
// the address box during the pass before it.
static void RunPasses(HWND window)
{
    for (;;) {
        SetDlgItemTextA(window, IDC_ADDRESSLABEL, "追加予約(&A)");
        SetDlgItemTextA(window, IDC_ADDRESS, "");
        RunStartList();
        ResumeRunning();
        char reservation[RESERVATION_SIZE];
        reservation[0] = '\0';
        GetDlgItemTextA(window, IDC_ADDRESS, reservation, sizeof reservation);
        SetDlgItemTextA(window, IDC_ADDRESSLABEL, "アドレス(&A)");
        if (reservation[0] == '\0')
            return;
        CopyText(g_startList, sizeof g_startList, reservation);
    }
}

DWORD WINAPI RunCrawl(LPVOID)
{
    HWND window = g_mainWindow;
    EnterRunMode(window);
    g_internet.AttemptConnect(0);
    OpenInternetSession();
    g_startPath[0] = '\0';
    ForgetConnection();
    EmptyTransferFolder();
    RunPasses(window);
    CloseInternetHandle(&g_internetSession);
    EmptyTransferFolder();
    FinishRun(window);
    FlushSettings(); // before a power-off
    // The state leaves running in one step. A press that came after the last
    // pass (skip or stop) keeps it from doing so and stops what remains, the
    // end actions; from here on a press takes no request until idle.
    if (MoveCrawlState(CRAWL_RUNNING, CRAWL_STOP_REQUESTED))
        CarryOutEndActions(window);
    else
        CallOffEndActions(window);
    InterlockedExchange(&g_crawlState, CRAWL_IDLE);
    SetAnimationPeriod(window, ANIMATION_PERIOD);
    return 0;
}
