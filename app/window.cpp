// app/window.cpp — the main window's procedure.
// Start-up content, the Search / Skip / Stop action, hidden commands, the busy
// animation's messages, opening a log line, drops, the options button, closing.
#include "app/app.h"

#include <commctrl.h>
#include <string.h>
#include <uxtheme.h>

#include "address/address.h"
#include "engine/engine.h"
#include "settings/settings.h"

WindowThreadCalls g_windowThreadCalls = {SetTimer, KillTimer};

// Address box text read at Search: up to 16383 characters.
#define ADDRESS_TEXT_SIZE 16384

// Shown at start-up as the page about the program.
static const char SUPPORT_PAGE[] = "http://parvel.example.jp/support/";

// The bars keep their colours only when drawn without the visual style,
// which ignores PBM_SETBARCOLOR and PBM_SETBKCOLOR.
static void SetUpProgressBars(HWND window)
{
    SetWindowTheme(GetDlgItem(window, IDC_FILEPROGRESS), L" ", L" ");
    SetWindowTheme(GetDlgItem(window, IDC_RUNPROGRESS), L" ", L" ");
    SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETSTEP, 0, 0);
    SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETBARCOLOR, 0, RGB(0, 255, 0));
    SendDlgItemMessageA(window, IDC_FILEPROGRESS, PBM_SETBKCOLOR, 0, RGB(0, 127, 0));
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 1));
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETSTEP, 0, 0);
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETBARCOLOR, 0, RGB(255, 0, 0));
    SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_SETBKCOLOR, 0, RGB(127, 0, 0));
}

static void AppendStringLine(HWND window, int id)
{
    char text[STRING_SIZE];
    LoadText(id, text);
    AppendLog(window, text);
}

// The opening lines of the access log: folders, download total, hints.
static void AppendStartupLines(HWND window)
{
    char text[TEXT_SIZE];
    AppendStringLine(window, IDS_SAVEFOLDER);
    GetSaveFolder(text);
    AppendLog(window, text);
    AppendStringLine(window, IDS_SHORTCUTFOLDER);
    GetShortcutFolder(text);
    AppendLog(window, text);
    char format[STRING_SIZE], total[STRING_SIZE + 16];
    LoadText(IDS_TOTAL, format);
    FormatText(total, sizeof total, format, (long long)(GetDownloadTotal() / 1024));
    AppendLog(window, total);
    AppendLog(window, "----------------------------------------");
    AppendLog(window, "ダブルクリックでファイルやフォルダを開くことができます。");
    AppendLog(window, "サポートページ(ダブルクリックで開きます)");
    AppendLog(window, SUPPORT_PAGE);
}

// Pixels at 96 dpi turned into pixels at the system's DPI (the program is
// DPI aware, so the system scales nothing for it).
static int ScaleForDpi(HWND window, int pixels)
{
    HDC dc = GetDC(window);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return MulDiv(pixels, dpi, 96);
}

static void InitMainWindow(HWND window)
{
    g_crawlState = CRAWL_IDLE;
    SetUpProgressBars(window);
    char text[TEXT_SIZE];
    LoadText(IDS_TITLE, text);
    SetWindowTextA(window, text);
    ReadSettingText(REG_IGNORE, text, "");
    SetDlgItemTextA(window, IDC_IGNORE, text);
    ReadSettingText(REG_PURL, text, "");
    SetDlgItemTextA(window, IDC_ADDRESS, text);
    if (ReadSettingNumber(REG_REWRE, 0) != 0)
        CheckDlgButton(window, IDC_RETRY, BST_CHECKED);
    CheckDlgButton(window, IDC_DEPTHINF, BST_CHECKED);
    IndexAccessLog(window);
    MirrorCheckBox(window, IDC_RETRY);
    MirrorCheckBox(window, IDC_RELOAD);
    AppendStartupLines(window);
    SendDlgItemMessageA(window, IDC_LOG, LB_SETHORIZONTALEXTENT, (WPARAM)ScaleForDpi(window, 640), 0);
    SetClassLongPtrA(window, GCLP_HICON, (LONG_PTR)LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_MAIN)));
    TakeStartArgument(window, g_startArgument);
}

// Search while idle: a hidden command, or the start of a crawl run.
static void SearchWhileIdle(HWND window)
{
    static char addressText[ADDRESS_TEXT_SIZE];
    char saveFolder[TEXT_SIZE], ignoreText[TEXT_SIZE];
    GetSaveFolder(saveFolder);
    addressText[0] = ignoreText[0] = '\0';
    GetDlgItemTextA(window, IDC_ADDRESS, addressText, sizeof addressText);
    GetDlgItemTextA(window, IDC_IGNORE, ignoreText, sizeof ignoreText);
    if (RunHiddenCommand(window, addressText) || RefuseListWithoutAddress(window, addressText))
        return;
    SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
    WriteSettingText(REG_IGNORE, ignoreText);
    WriteSettingText(REG_PURL, addressText);
    WriteSettingNumber(REG_REWRE, IsDlgButtonChecked(window, IDC_RETRY) == BST_CHECKED ? 1 : 0);
    // The first pass must see the run going; a run that cannot start
    // returns the state to idle itself.
    if (MoveCrawlState(CRAWL_IDLE, CRAWL_RUNNING))
        StartCrawl(window, saveFolder, addressText, ignoreText);
}

// The second press, on the caption "中止": stop the pass. The engine may have
// carried out the skip since the press (the state is running again); the
// press still stops.
static void RequestStop(HWND window)
{
    for (;;) {
        LONG state = g_crawlState;
        if (state != CRAWL_RUNNING && state != CRAWL_SKIP_REQUESTED)
            return;
        if (MoveCrawlState(state, CRAWL_STOP_REQUESTED))
            break;
    }
    char title[STRING_SIZE];
    LoadText(IDS_STOPPING, title);
    SetWindowTextA(window, title);
}

// The Search button by crawl state: start, skip the current file, stop the
// pass. A state the engine has left in the meantime takes no request.
static void PressSearchButton(HWND window)
{
    switch (g_crawlState) {
    case CRAWL_IDLE:
        SearchWhileIdle(window);
        break;
    case CRAWL_RUNNING:
        if (MoveCrawlState(CRAWL_RUNNING, CRAWL_SKIP_REQUESTED))
            SetSearchButtonText(window, BUTTON_STOP);
        break;
    case CRAWL_SKIP_REQUESTED:
        RequestStop(window);
        break;
    default:
        break;
    }
}

HINSTANCE(WINAPI *g_shellOpen)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) = ShellExecuteA;

// Kinds of file that run something when opened, whatever the system says
// besides (AssocIsDangerous), compared without case.
static const char *const PROGRAM_EXTENSIONS[] = {
    ".exe", ".com", ".bat", ".cmd", ".scr", ".pif", ".msi", ".js",  ".jse", ".vbs", ".vbe",
    ".wsf", ".ps1", ".hta", ".lnk", ".url", ".reg", ".chm", ".cpl", ".msc", ".jar", ".scf",
};

// What the system's AssocIsDangerous says of the extension; false where
// the system has no such call (looked up when needed, as older systems lack it).
static bool SystemCallsDangerous(const char *extension)
{
    wchar_t wide[TEXT_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, extension, -1, wide, TEXT_SIZE) == 0)
        return false;
    HMODULE library = LoadLibraryA("shlwapi.dll");
    if (library == NULL)
        return false;
    typedef BOOL(WINAPI * AssocIsDangerousCall)(LPCWSTR);
    AssocIsDangerousCall isDangerous = (AssocIsDangerousCall)(void *)GetProcAddress(library, "AssocIsDangerous");
    bool dangerous = isDangerous != NULL && isDangerous(wide) != FALSE;
    FreeLibrary(library);
    return dangerous;
}

static bool IsProgramExtension(const char *extension)
{
    for (const char *program : PROGRAM_EXTENSIONS)
        if (CompareNoCase(extension, program) == 0)
            return true;
    return SystemCallsDangerous(extension);
}

bool IsProgramOrScript(const char *line)
{
    // An address is handed to the browser, which runs nothing by itself.
    if (strstr(line, "://") != NULL)
        return false;
    char extension[TEXT_SIZE] = "";
    FindExtension(extension, line);
    return extension[0] != '\0' && IsProgramExtension(extension);
}

// Shows the file selected in its folder: explorer /select,"path". A path
// too long for the program's buffers is no file it stored.
static void ShowInFolder(const char *path)
{
    if (lstrlenA(path) >= TEXT_SIZE)
        return;
    char parameters[TEXT_SIZE + 16];
    if (!FormatText(parameters, sizeof parameters, "/select,\"%s\"", path))
        return;
    g_shellOpen(NULL, NULL, "explorer.exe", parameters, NULL, SW_SHOWNORMAL);
}

static bool IsExistingFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The opener thread: opens its own copy of the line's text with the shell;
// a program or script just downloaded is shown in its folder, never run
// (and a message line that merely ends like one opens nothing).
static DWORD WINAPI OpenLineThread(LPVOID line)
{
    HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const char *text = (const char *)line;
    if (!IsProgramOrScript(text))
        g_shellOpen(NULL, NULL, text, NULL, NULL, SW_SHOWNORMAL);
    else if (IsExistingFile(text))
        ShowInFolder(text);
    if (SUCCEEDED(com))
        CoUninitialize();
    HeapFree(GetProcessHeap(), 0, line);
    return 0;
}

void OpenLogLine(HWND window)
{
    LRESULT selected = SendDlgItemMessageA(window, IDC_LOG, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return;
    LRESULT length = SendDlgItemMessageA(window, IDC_LOG, LB_GETTEXTLEN, (WPARAM)selected, 0);
    if (length == LB_ERR)
        return;
    char *line = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)length + 1);
    if (line == NULL)
        return;
    SendDlgItemMessageA(window, IDC_LOG, LB_GETTEXT, (WPARAM)selected, (LPARAM)line);
    HANDLE thread = CreateThread(NULL, 0, OpenLineThread, line, 0, NULL);
    if (thread == NULL) {
        HeapFree(GetProcessHeap(), 0, line);
        return;
    }
    CloseHandle(thread);
}

static void PaintWindow(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    DrawAnimationFrame(window);
    EndPaint(window, &paint);
}

// WM_COMMAND: the Search button, a double click in the log, the options
// button; everything else (the check boxes, Escape's IDCANCEL) is nothing.
static INT_PTR HandleCommand(HWND window, int control, int notification)
{
    switch (control) {
    case IDC_SEARCH:
        PressSearchButton(window);
        return TRUE;
    case IDC_LOG:
        if (notification == LBN_DBLCLK) {
            OpenLogLine(window);
            return FALSE;
        }
        return TRUE;
    case IDC_OPTIONS:
        ShowOptionsMenu(window);
        return TRUE;
    default:
        return TRUE;
    }
}

// The animation timer's period, 0 while none runs, and the period asked for last.
static UINT g_animationPeriod;
static UINT g_askedPeriod;

// Sets the animation timer to the period asked for unless it runs at it
// already: setting it anew starts its count again.
static void SetAnimationTimer(HWND window)
{
    if (g_askedPeriod == g_animationPeriod)
        return;
    g_windowThreadCalls.SetTimer(window, ANIMATION_TIMER, g_askedPeriod, NULL);
    g_animationPeriod = g_askedPeriod;
}

// A period asked for while the timer runs is taken at its next tick: a slow
// transfer's period changes with its rate at nearly every showing, and a
// timer set anew at each would never tick, the animation standing still.
static void AskAnimationPeriod(HWND window, UINT period)
{
    g_askedPeriod = period;
    if (g_animationPeriod == 0)
        SetAnimationTimer(window);
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitMainWindow(window);
        g_animationFrame = 0;
        DrawAnimationFrame(window);
        g_animationPeriod = 0;
        AskAnimationPeriod(window, ANIMATION_PERIOD);
        return TRUE;
    case WM_ANIMATION_PERIOD:
        AskAnimationPeriod(window, (UINT)wParam);
        return TRUE;
    case WM_PAINT:
        PaintWindow(window);
        return TRUE;
    case WM_TIMER:
        if (wParam == SHOW_TIMER) {
            ShowLeftTextsInTime(window, true);
            return TRUE;
        }
        AdvanceAnimationFrame();
        DrawAnimationFrame(window);
        SetAnimationTimer(window);
        return TRUE;
    case WM_COMMAND:
        return HandleCommand(window, LOWORD(wParam), HIWORD(wParam));
    case WM_DROPFILES:
        TakeDroppedFiles(window, (HDROP)wParam);
        return TRUE;
    case WM_SHOW_LEFT_TEXTS:
        ShowLeftTextsInTime(window, wParam == 1);
        return TRUE;
    case WM_POWEROFF_NOTICE:
        ShowPowerOffNotice(window);
        return TRUE;
    case WM_CLOSE:
        FlushSettings();
        g_windowThreadCalls.KillTimer(window, ANIMATION_TIMER);
        g_animationPeriod = 0;
        EndDialog(window, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
