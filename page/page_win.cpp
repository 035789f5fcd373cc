// page/page_win.cpp — the page scan driver on Windows.
// A stored page loaded, scanned, written back; the shortcut.
#include <windows.h>

#include "page/page_win.h"

#include "app/surface.h"
#include "settings/settings.h"

// Icon of the shortcut: the program's third icon (id 105).
#define SHORTCUT_ICON_INDEX 2

// Log lines of pages and links that cannot be handled.
static const char PAGE_NOT_READ[] = "* ページを読めないので走査しません : %s";
static const char PAGE_NOT_WRITTEN[] = "* ページを書き戻せません : %s";
static const char PAGE_NO_MEMORY[] = "* メモリが足りないのでページを書き換えません : %s";
static const char SHORTCUT_TOO_LONG[] = "* ショートカットのパスが長すぎます : %s";
static const char LINKS_UNREAD[] = "* 読み取れなかったリンクが %d 個あります : %s";

// Adds one line, the format filled with a text of at most 259 characters.
static void LogLine(const char *format, const char *text)
{
    char line[2 * TEXT_SIZE];
    FormatText(line, sizeof line, format, text);
    AppendLog(g_mainWindow, line);
}

BlockHandle LoadWholeFile(const char *path, size_t *length)
{
    *length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    BlockHandle block = NULL;
    if (size != INVALID_FILE_SIZE && high == 0)
        block = AllocBlock((size_t)size + 1);
    if (block != NULL) {
        DWORD read = 0;
        BOOL ok = ReadFile(file, LockBlock(block), size, &read, NULL);
        UnlockBlock(block);
        if (!ok || read != size) {
            FreeBlock(block);
            block = NULL;
        }
    }
    CloseHandle(file);
    if (block != NULL)
        *length = size;
    return block;
}

// Makes the file at least length bytes long before anything is written, so
// that a full disk fails here and leaves the stored page as it was.
static bool ReserveLength(HANDLE file, DWORD length)
{
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high != 0)
        return false;
    if (length <= size)
        return true;
    return SetFilePointer(file, (LONG)length, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file);
}

bool WriteBackPage(const char *path, const char *text, size_t length)
{
    if (length > 0x7FFFFFFF)
        return false;
    // Read access as well: the file times are read before they are set.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME created, accessed, written;
    BOOL haveTimes = GetFileTime(file, &created, &accessed, &written);
    DWORD done = 0;
    bool ok = ReserveLength(file, (DWORD)length) && SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 &&
              WriteFile(file, text, (DWORD)length, &done, NULL) && done == length && SetEndOfFile(file);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (haveTimes)
        SetFileTime(file, &now, &accessed, &written);
    else
        SetFileTime(file, &now, NULL, NULL);
    CloseHandle(file);
    return ok;
}

// Scans the loaded page with the settings and writes it back rewritten.
static void ScanAndWriteBack(const char *localPath, const char *hostPart, const char *pathPart, LinkList *list)
{
    if (!ScanPage(hostPart, pathPart, list))
        LogLine(PAGE_NO_MEMORY, localPath);
    else if (!WriteBackPage(localPath, g_pageText, g_pageLength))
        LogLine(PAGE_NOT_WRITTEN, localPath);
    if (g_linksUnread > 0) { // once per page: the links beyond what a tag or a link text can hold
        char line[2 * TEXT_SIZE];
        FormatText(line, sizeof line, LINKS_UNREAD, g_linksUnread, localPath);
        AppendLog(g_mainWindow, line);
    }
}

bool ScanStoredPage(const char *localPath, const char *hostPart, const char *pathPart,
                    const ScanSettings *settings, LinkList *list)
{
    if (!CreateLinkList(list)) {
        LogLine(PAGE_NO_MEMORY, localPath);
        return false;
    }
    size_t length;
    BlockHandle block = LoadWholeFile(localPath, &length);
    if (block == NULL) {
        LogLine(PAGE_NOT_READ, localPath);
        return true;
    }
    SetPageText(block, length);
    g_scanSettings = *settings;
    ScanAndWriteBack(localPath, hostPart, pathPart, list);
    ReleasePageText();
    return true;
}

void MakeStartShortcut(const char *localPath, char *title)
{
    MakeShortcutName(title);
    char folder[TEXT_SIZE], path[TEXT_SIZE];
    GetShortcutFolder(folder);
    if (!BuildShortcutPath(path, folder, title)) {
        LogLine(SHORTCUT_TOO_LONG, folder);
        return;
    }
    // The folder is made when the first shortcut goes into it (the default
    // one below Documents does not exist before).
    char made[TEXT_SIZE];
    CopyText(made, sizeof made, folder);
    CreateFolders(made);
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, MAX_PATH);
    CreatePageShortcut(path, localPath, NULL, program, SHORTCUT_ICON_INDEX, folder);
}
