// app/window.cpp — the main window's procedure: start-up content, the Search / Skip / Stop action, hidden commands, closing.
#include "app/app.h"

#include <commctrl.h>

#include "address/address.h"
#include "engine/engine.h"
#include "settings/settings.h"

// Address box text read at Search: up to 16383 characters.
#define ADDRESS_TEXT_SIZE 16384

// Shown at start-up as the page about the program.
static const char SUPPORT_PAGE[] = "http://parvel.example.jp/support/";

static void SetUpProgressBars(HWND window)
{
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
    wsprintfA(total, format, (long)(ReadSettingNumber(REG_DLSIZE, 0) / 1024));
    AppendLog(window, total);
    AppendLog(window, "----------------------------------------");
    AppendLog(window, "ダブルクリックでファイルやフォルダを開くことができます。");
    AppendLog(window, "サポートページ(ダブルクリックで開きます)");
    AppendLog(window, SUPPORT_PAGE);
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
    AppendStartupLines(window);
    SendDlgItemMessageA(window, IDC_LOG, LB_SETHORIZONTALEXTENT, 640, 0);
    SetClassLongPtrA(window, GCLP_HICON, (LONG_PTR)LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_MAIN)));
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
    if (RunHiddenCommand(window, addressText))
        return;
    SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
    WriteSettingText(REG_IGNORE, ignoreText);
    WriteSettingText(REG_PURL, addressText);
    WriteSettingNumber(REG_REWRE, IsDlgButtonChecked(window, IDC_RETRY) == BST_CHECKED ? 1 : 0);
    StartCrawl(window, saveFolder, addressText, ignoreText);
    g_crawlState = CRAWL_RUNNING;
}

// The Search button by crawl state: start, skip the current file, stop the pass.
static void PressSearchButton(HWND window)
{
    switch (g_crawlState) {
    case CRAWL_IDLE:
        SearchWhileIdle(window);
        break;
    case CRAWL_RUNNING:
        SetSearchButtonText(window, BUTTON_STOP);
        g_crawlState = CRAWL_SKIP_REQUESTED;
        break;
    case CRAWL_SKIP_REQUESTED: {
        g_crawlState = CRAWL_STOP_REQUESTED;
        char title[STRING_SIZE];
        LoadText(IDS_STOPPING, title);
        SetWindowTextA(window, title);
        break;
    }
    default:
        break;
    }
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitMainWindow(window);
        SetTimer(window, ANIMATION_TIMER, ANIMATION_PERIOD, NULL);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SEARCH)
            PressSearchButton(window);
        return TRUE;
    case WM_CLOSE:
        KillTimer(window, ANIMATION_TIMER);
        EndDialog(window, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
