// page/page_win.cpp — the page scan driver on Windows: the stored page loaded and written back with its file times, the start page's shortcut, and every recorded link fetched in a supervised fetch worker, depth-first.
#include <windows.h>

#include "page/page.h"

#include "app/app.h"
#include "engine/engine.h"
#include "settings/settings.h"

// Icon of the shortcut: the program's third icon (id 105).
#define SHORTCUT_ICON_INDEX 2

// Log lines of pages and links that cannot be handled.
static const char PAGE_NOT_READ[] = "* ページを読めないので走査しません : %s";
static const char PAGE_NOT_WRITTEN[] = "* ページを書き戻せません : %s";
static const char PAGE_NO_MEMORY[] = "* メモリが足りないのでページを書き換えません : %s";
static const char LINK_TOO_LONG[] = "* パスが長すぎます : %s";
static const char SHORTCUT_TOO_LONG[] = "* ショートカットのパスが長すぎます : %s";

// Adds one line, the format filled with a text of at most 259 characters.
static void LogLine(const char *format, const char *text)
{
    char line[2 * TEXT_SIZE];
    wsprintfA(line, format, text);
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

// What link handling reads of the crawl, for the page about to be scanned.
static void FillScanSettings(const char *storedHostPart, const char *storedPathPart, int depth)
{
    g_scanSettings.storedHostPart = storedHostPart;
    g_scanSettings.storedPathPart = storedPathPart;
    g_scanSettings.pageDepth = depth;
    g_scanSettings.depthLimit = g_depthLimit;
    g_scanSettings.startPath = g_startPath;
    g_scanSettings.contentType = g_contentType;
    g_scanSettings.outServer = GetOutServer();
    g_scanSettings.useFtp = GetUseFtp();
    g_scanSettings.readTitle = g_startPageFlag;
    g_scanSettings.shortcutTitle = g_shortcutTitle;
}

// Loads, scans, rewrites and writes back the stored page; its links go to
// the list. A page that cannot be read or written is left as it is stored.
static void ScanStoredPage(const char *localPath, const char *hostPart, const char *pathPart,
                           const char *storedHostPart, const char *storedPathPart, int depth, LinkList *list)
{
    size_t length;
    BlockHandle block = LoadWholeFile(localPath, &length);
    if (block == NULL) {
        LogLine(PAGE_NOT_READ, localPath);
        return;
    }
    SetPageText(block, length);
    FillScanSettings(storedHostPart, storedPathPart, depth);
    bool built = ScanPage(hostPart, pathPart, list);
    g_linksFound += list->count;
    if (!built)
        LogLine(PAGE_NO_MEMORY, localPath);
    else if (!WriteBackPage(localPath, g_pageText, g_pageLength))
        LogLine(PAGE_NOT_WRITTEN, localPath);
    ReleasePageText();
}

// The shortcut of a start page, named after its title, in the shortcut folder.
static void MakeStartShortcut(const char *localPath)
{
    MakeShortcutName(g_shortcutTitle);
    char folder[TEXT_SIZE], path[TEXT_SIZE];
    GetShortcutFolder(folder);
    if (!BuildShortcutPath(path, folder, g_shortcutTitle)) {
        LogLine(SHORTCUT_TOO_LONG, folder);
        return;
    }
    // The folder is made when the first shortcut goes into it (the default
    // one below Documents does not exist before).
    char made[TEXT_SIZE];
    lstrcpynA(made, folder, TEXT_SIZE);
    CreateFolders(made);
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, MAX_PATH);
    CreatePageShortcut(path, localPath, NULL, program, SHORTCUT_ICON_INDEX, folder);
}

// Logs a recorded address too long to be fetched: its first characters.
static void LogLinkTooLong(const LinkList *list, size_t offset)
{
    char start[TEXT_SIZE];
    CopyWholeCharacters(start, LockBlock(list->text) + offset, sizeof start);
    UnlockBlock(list->text);
    LogLine(LINK_TOO_LONG, start);
}

// Admits and fetches the recorded addresses in list order, each followed to
// the bottom before the next one starts.
static void FetchRecordedLinks(const LinkList *list, int pageDepth)
{
    static_assert(sizeof(WorkerRecord) < 32768, "the worker record lives on the worker's stack");
    WorkerRecord record;
    size_t offset = 0;
    char address[TEXT_SIZE + 1];
    for (int n = 0;; ++n) {
        size_t start = offset;
        int taken = TakeLink(list, &offset, address);
        if (taken == 0)
            break;
        int kind = LinkKind(list, n);
        ++g_linksHandled;
        ShowLinkProgress();
        if (kind == LINK_NOT_FOLLOWED || g_crawlState == CRAWL_STOP_REQUESTED)
            continue;
        if (taken == TEXT_TOO_LONG) {
            LogLinkTooLong(list, start);
            continue;
        }
        int depth = LinkDepth(kind, pageDepth, g_depthLimit);
        if (AdmitAddress(address, depth))
            RunAttempts(&record, address, depth);
    }
}

void ProcessStoredPage(const char *localPath, const char *hostPart, const char *pathPart, int depth,
                       const char *storedHostPart, const char *storedPathPart)
{
    LinkList list;
    bool haveList = CreateLinkList(&list);
    if (haveList)
        ScanStoredPage(localPath, hostPart, pathPart, storedHostPart, storedPathPart, depth, &list);
    else
        LogLine(PAGE_NO_MEMORY, localPath);
    if (g_startPageFlag == 1) {
        g_startPageFlag = 0;
        MakeStartShortcut(localPath);
    }
    if (haveList) {
        FetchRecordedLinks(&list, depth);
        FreeLinkList(&list);
    }
}
