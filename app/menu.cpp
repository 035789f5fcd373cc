// app/menu.cpp — the options menu of the button "その他の設定".
// The flag toggles with their check marks, the ignore pattern presets, the save and
// shortcut folder choice.
#include "app/app.h"

#include <shlobj.h>

#include "settings/settings.h"

// The longest folder path the settings store reads back (its 80-byte read).
#define MAX_SETTING_FOLDER (SETTING_TEXT_CAPACITY - 1)

// The texts the presets put into the ignore patterns box, by command 5 to 8.
static const char *const PRESETS[] = {
    "*.EXE *.ZIP *.LZH",
    "INDEX.*",
    "*.GIF *.JPG *.JPEG",
    "*.GIF *.JPG *.JPEG *.EXE *.ZIP *.LZH *.CGI *.PL",
};

UINT MenuCheckFlag(int value)
{
    return value == 1 ? MF_CHECKED : MF_STRING;
}

static void AddMenuItem(HMENU menu, UINT flags, int command, int stringId)
{
    char text[STRING_SIZE];
    LoadText(stringId, text);
    AppendMenuA(menu, flags, (UINT_PTR)command, text);
}

HMENU BuildOptionsMenu(MenuFlags *flags)
{
    HMENU menu = CreatePopupMenu();
    flags->resume = GetResume();
    AddMenuItem(menu, MenuCheckFlag(flags->resume), MENU_RESUME, IDS_MENU_RESUME);
    AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
    AddMenuItem(menu, MF_STRING, MENU_NOARCHIVES, IDS_MENU_NOARCHIVES);
    AddMenuItem(menu, MF_STRING, MENU_NOINDEX, IDS_MENU_NOINDEX);
    AddMenuItem(menu, MF_STRING, MENU_NOIMAGES, IDS_MENU_NOIMAGES);
    AddMenuItem(menu, MF_STRING, MENU_NOBINARIES, IDS_MENU_NOBINARIES);
    AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
    flags->cache = GetCacheMode();
    AddMenuItem(menu, MenuCheckFlag(flags->cache), MENU_CACHE, IDS_MENU_CACHE);
    flags->outServer = GetOutServer();
    AddMenuItem(menu, MenuCheckFlag(flags->outServer), MENU_OUTSERVER, IDS_MENU_OUTSERVER);
    flags->useFtp = GetUseFtp();
    AddMenuItem(menu, MenuCheckFlag(flags->useFtp), MENU_FTP, IDS_MENU_FTP);
    flags->ignoreCert = GetIgnoreCertErrors();
    AddMenuItem(menu, MenuCheckFlag(flags->ignoreCert), MENU_CERT, IDS_MENU_CERT);
    flags->modern = GetModernScan();
    AddMenuItem(menu, MenuCheckFlag(flags->modern), MENU_MODERN, IDS_MENU_MODERN);
    AddMenuItem(menu, MF_STRING, MENU_SAVEFOLDER, IDS_MENU_SAVEFOLDER);
    AddMenuItem(menu, MF_STRING, MENU_SHORTCUTFOLDER, IDS_MENU_SHORTCUTFOLDER);
    return menu;
}

void ShowOptionsMenu(HWND window)
{
    MenuFlags flags;
    HMENU menu = BuildOptionsMenu(&flags);
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    int command = (int)TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTALIGN, cursor.x, cursor.y, 0, window, NULL);
    RunOptionsCommand(window, command, &flags);
    DestroyMenu(menu);
}

// Stores the opposite of a flag as it was when the menu was built.
static void ToggleFlag(const char *name, int value)
{
    WriteSettingText(name, value == 1 ? "0" : "1");
}

static void ChooseFolder(HWND window, int titleId, const char *name)
{
    char title[STRING_SIZE];
    LoadText(titleId, title);
    BrowseForSettingFolder(window, title, name);
}

void RunOptionsCommand(HWND window, int command, const MenuFlags *flags)
{
    switch (command) {
    case MENU_SAVEFOLDER:
        ChooseFolder(window, IDS_SAVEFOLDER, REG_FOLDER);
        break;
    case MENU_SHORTCUTFOLDER:
        ChooseFolder(window, IDS_SHORTCUTFOLDER, REG_SHORTCUT);
        break;
    case MENU_OUTSERVER:
        ToggleFlag(REG_OUTSERVER, flags->outServer);
        break;
    case MENU_RESUME:
        ToggleFlag(REG_RESUME, flags->resume);
        break;
    case MENU_CACHE:
        ToggleFlag(REG_CACHE, flags->cache);
        break;
    case MENU_FTP:
        ToggleFlag(REG_FTP, flags->useFtp);
        break;
    case MENU_CERT:
        ToggleFlag(REG_CERT, flags->ignoreCert);
        break;
    case MENU_MODERN:
        ToggleFlag(REG_MODERN, flags->modern);
        break;
    case MENU_NOARCHIVES:
    case MENU_NOINDEX:
    case MENU_NOIMAGES:
    case MENU_NOBINARIES:
        SetDlgItemTextA(window, IDC_IGNORE, PRESETS[command - MENU_NOARCHIVES]);
        break;
    default:
        break;
    }
}

void RemoveTrailingBackslash(char *path)
{
    char *end = path + strlen(path);
    if (end == path)
        return;
    char *last = PrevChar(path, end);
    if (*last == '\\' && last + 1 == end)
        *last = '\0';
}

// The folder the user picks into path (MAX_PATH bytes); false when the
// browser is cancelled or the choice is no file system folder.
static bool PickFolder(HWND window, const char *title, char *path)
{
    BROWSEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.hwndOwner = window;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    HRESULT com = CoInitialize(NULL);
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    bool picked = false;
    path[0] = '\0';
    if (item != NULL) {
        picked = SHGetPathFromIDListA(item, path) && path[0] != '\0';
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return picked;
}

void BrowseForSettingFolder(HWND window, const char *title, const char *name)
{
    char path[MAX_PATH];
    if (!PickFolder(window, title, path))
        return;
    RemoveTrailingBackslash(path);
    AppendLog(window, title);
    // A longer path would read back as the default folder: it is not stored.
    if (lstrlenA(path) > MAX_SETTING_FOLDER) {
        AppendLog(window, "* フォルダのパスが長すぎます（79文字まで）");
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    AppendLog(window, path);
    WriteSettingText(name, path);
}
