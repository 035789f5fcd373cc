// engine/stored_page.cpp — a stored page's turn: scanned, then its links fetched.
// The page code scans the page; its links are admitted and fetched here.
#include <windows.h>

#include "engine/engine_internal.h"

#include "app/surface.h"
#include "page/page_win.h"
#include "settings/settings.h"

// What link handling reads of the crawl, for the page about to be scanned
// (a style sheet is scanned for the addresses it names).
static void FillScanSettings(ScanSettings *settings, const char *localPath, const char *storedHostPart,
                             const char *storedPathPart, int depth)
{
    settings->modern = GetModernScan();
    settings->styleSheet = settings->modern == 1 && IsStyleSheet(localPath, g_contentType);
    settings->storedHostPart = storedHostPart;
    settings->storedPathPart = storedPathPart;
    settings->pageDepth = depth;
    settings->depthLimit = g_depthLimit;
    settings->startPath = g_startPath;
    settings->contentType = g_contentType;
    settings->outServer = GetOutServer();
    settings->useFtp = GetUseFtp();
    settings->readTitle = g_startPageFlag;
    settings->shortcutTitle = g_shortcutTitle;
}

// Logs a recorded address too long to be fetched: its first characters.
static void LogLinkTooLong(const LinkList *list, size_t offset)
{
    char start[TEXT_SIZE];
    CopyText(start, sizeof start, LockBlock(list->text) + offset);
    UnlockBlock(list->text);
    LogPathTooLong(start);
}

// Admits and fetches the recorded addresses in list order, each followed to
// the bottom before the next one starts.
static void FetchRecordedLinks(const LinkList *list, int pageDepth)
{
    WorkerRecord record;
    InitWorkerRecord(&record);
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
        int nameEncoding = LinkNameEncoding(list, n);
        if (AdmitAddress(address, depth, nameEncoding))
            RunAttempts(&record, address, depth, nameEncoding);
    }
    EndWorker(&record);
}

void ProcessStoredPage(const char *localPath, const char *hostPart, const char *pathPart, int depth,
                       const char *storedHostPart, const char *storedPathPart, int nameEncoding)
{
    ScanSettings settings;
    FillScanSettings(&settings, localPath, storedHostPart, storedPathPart, depth);
    settings.addressEncoding = nameEncoding;
    LinkList list;
    bool haveList = ScanStoredPage(localPath, hostPart, pathPart, &settings, &list);
    if (haveList)
        g_linksFound += list.count;
    if (g_startPageFlag == 1) {
        g_startPageFlag = 0;
        MakeStartShortcut(localPath, g_shortcutTitle);
    }
    if (haveList) {
        FetchRecordedLinks(&list, depth);
        FreeLinkList(&list);
    }
}
