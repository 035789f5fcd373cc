// tests/win/page_driver_test.cpp — the page scan driver on a stored page.
// The links fetched with their depth values through a recorded stand-in for the fetch, the
// rewritten file, the start page's shortcut, the link counts, and pages that cannot be
// read or written.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "engine/engine_internal.h"
#include "page/page_win.h"
#include "settings/settings.h"
#include "tests/win/window_fixture.h"
#include "tests/win/test_files.h"

struct PageFetch {
    std::string address;
    int depth;
    int nameEncoding;
};

static std::vector<PageFetch> g_pageFetches;
static int g_stopAfterFetches = -1;

static int RecordPageFetch(const char *address, int depth, int, int nameEncoding)
{
    g_pageFetches.push_back({address, depth, nameEncoding});
    if ((int)g_pageFetches.size() == g_stopAfterFetches)
        g_crawlState = CRAWL_STOP_REQUESTED;
    return 1;
}

static int g_driverFolderCount;

static bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class PageDriverTest : public ::testing::Test {
protected:
    HWND window = NULL;
    std::string root, pageFolder, pagePath, shortcuts;
    void SetUp() override
    {
        ClearSettings();
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        g_mainWindow = window;
        g_fetchAddress = RecordPageFetch;
        g_pageFetches.clear();
        g_stopAfterFetches = -1;
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        root = std::string(base) + "pvdriver" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++g_driverFolderCount);
        lstrcpynA(g_saveFolder, (root + "\\save").c_str(), TEXT_SIZE);
        pageFolder = root + "\\save\\host\\a\\b\\";
        std::string folders = pageFolder;
        CreateFolders(&folders[0]);
        pagePath = pageFolder + "page.html";
        // Not made here: the first shortcut makes its folder.
        shortcuts = root + "\\links\\shortcuts";
        WriteSettingText(REG_SHORTCUT, shortcuts.c_str());
        g_ignorePatterns[0] = '\0';
        g_depthLimit = 5;
        g_crawlState = CRAWL_RUNNING;
        lstrcpyA(g_startPath, "/a/");
        g_startPageFlag = 0;
        lstrcpyA(g_shortcutTitle, "host/a/b/page.html");
        lstrcpyA(g_contentType, "text/html");
        g_linksFound = 0;
        g_linksHandled = 0;
    }
    void TearDown() override
    {
        g_fetchAddress = FetchAddress;
        g_crawlState = CRAWL_IDLE;
        DestroyWindow(window);
        ClearSettings();
    }
    void Process(int depth = 1) { ProcessStoredPage(pagePath.c_str(), "host", "/a/b/", depth); }
    std::vector<std::string> Fetched(void)
    {
        std::vector<std::string> fetched;
        for (auto &f : g_pageFetches)
            fetched.push_back(f.address + " " + std::to_string(f.depth));
        return fetched;
    }
};

static const char DEMO_PAGE[] =
    "<html><head><title>Demo page</title></head>\r\n"
    "<frame src=\"menu.html\">\r\n"
    "<img src=\"http://host/x/y.gif\">\r\n"
    "<a href=\"http://other/p.html\">p</a>\r\n"
    "<img src=\"http://other/z.jpg\">\r\n"
    "<a href=\"ftp://ftp.host/f.zip\">f</a>\r\n"
    "<a href=\"c.html\">c</a><a href=\"#top\">t</a><a href=\"mailto:x@y\">m</a>\r\n";

static const char DEMO_REWRITTEN[] =
    "<html><head><title>Demo page</title></head>\r\n"
    "<frame src=\"menu.html\">\r\n"
    "<img src=\"../../../host/x/y.gif\">\r\n"
    "<a href=\"http://other/p.html\">p</a>\r\n"
    "<img src=\"http://other/z.jpg\">\r\n" // out_server off: not fetched, so it leads to the server
    "<a href=\"../../../ftp.host/f.zip\">f</a>\r\n"
    "<a href=\"c.html\">c</a><a href=\"#top\">t</a><a href=\"mailto:x@y\">m</a>\r\n";

TEST_F(PageDriverTest, StartPageIsRewrittenGetsItsShortcutAndItsLinksFetched)
{
    WriteBytes(pagePath, DEMO_PAGE);
    WriteSettingText(REG_FTP, "1");
    g_startPageFlag = 1;
    Process(1);
    EXPECT_EQ(ReadBytes(pagePath), DEMO_REWRITTEN);
    EXPECT_EQ(Fetched(), (std::vector<std::string>{"host/a/b/menu.html 1", "host/x/y.gif 2",
                                                   "ftp.host/f.zip 32767", "host/a/b/c.html 2"}));
    EXPECT_EQ(g_linksFound, 6) << "links of other servers are counted too";
    EXPECT_EQ(g_linksHandled, 6);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_GETPOS, 0, 0), 6);
    EXPECT_EQ(g_startPageFlag, 0);
    EXPECT_STREQ(g_shortcutTitle, "Demo page");
    EXPECT_TRUE(Exists(shortcuts + "\\Demo page.LNK"));
    EXPECT_TRUE(LogLines(window).empty());
}

TEST_F(PageDriverTest, OtherServersAndFtpFollowTheSettings)
{
    WriteBytes(pagePath, DEMO_PAGE);
    WriteSettingText(REG_OUTSERVER, "1");
    WriteSettingText(REG_FTP, "0");
    Process(1);
    // other/p.html gets the outside depth too, but a page above the depth
    // limit is refused by the admission test.
    EXPECT_EQ(Fetched(), (std::vector<std::string>{"host/a/b/menu.html 1", "host/x/y.gif 2", "other/z.jpg 7",
                                                   "host/a/b/c.html 2"}));
    std::string page = ReadBytes(pagePath);
    EXPECT_NE(page.find("<a href=\"ftp://ftp.host/f.zip\">"), std::string::npos) << "ftp off: not rewritten";
    EXPECT_NE(page.find("<img src=\"../../../other/z.jpg\">"), std::string::npos) << "out_server on: rewritten";
    EXPECT_FALSE(Exists(shortcuts + "\\Demo page.LNK")) << "only a start page gets a shortcut";
}

TEST_F(PageDriverTest, StartPageWithoutTitleIsNamedAfterItsAddress)
{
    WriteBytes(pagePath, "");
    g_startPageFlag = 1;
    lstrcpyA(g_shortcutTitle, "host/dir/");
    Process(0);
    EXPECT_TRUE(Exists(shortcuts + "\\host-dir-.LNK"));
    EXPECT_EQ(ReadBytes(pagePath), "");
    EXPECT_TRUE(g_pageFetches.empty());
    EXPECT_EQ(g_linksFound, 0);
    EXPECT_EQ(g_linksHandled, 0);
}

TEST_F(PageDriverTest, PageThatCannotBeReadIsLeftAloneAndTheCrawlGoesOn)
{
    g_startPageFlag = 1;
    Process(1);
    std::vector<std::string> lines = LogLines(window);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "* ページを読めないので走査しません : " + pagePath);
    EXPECT_FALSE(Exists(pagePath)) << "nothing is written";
    EXPECT_EQ(g_startPageFlag, 0);

    WriteBytes(pagePath, DEMO_PAGE);
    HANDLE holder = CreateFileA(pagePath.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Process(1);
    CloseHandle(holder);
    EXPECT_EQ(LogLines(window).size(), 2u);
    EXPECT_EQ(ReadBytes(pagePath), DEMO_PAGE);
    EXPECT_TRUE(g_pageFetches.empty());
}

TEST_F(PageDriverTest, PageWithABytePastItsNulKeepsIt)
{
    std::string page = std::string("<img src=\"http://host/x.gif\">") + '\0' + "<img src=\"http://host/y.gif\">";
    std::string rewritten = std::string("<img src=\"../../../host/x.gif\">") + '\0' + "<img src=\"http://host/y.gif\">";
    WriteBytes(pagePath, page);
    Process(1);
    EXPECT_EQ(ReadBytes(pagePath), rewritten);
    EXPECT_EQ(Fetched(), (std::vector<std::string>{"host/x.gif 2"}));
}

TEST_F(PageDriverTest, StopRequestPassesOverTheRestButCountsIt)
{
    WriteBytes(pagePath, "<img src=a.gif><img src=b.gif><img src=c.gif>");
    g_stopAfterFetches = 1;
    Process(1);
    EXPECT_EQ(Fetched(), (std::vector<std::string>{"host/a/b/a.gif 2"}));
    EXPECT_EQ(g_linksHandled, 3);
}

TEST_F(PageDriverTest, AddressTooLongToFetchIsLoggedNotCut)
{
    std::string folder(200, 'p'), file(100, 'q');
    WriteBytes(pagePath, "<img src=" + file + ".gif><img src=short.gif>");
    std::string pathPart = "/" + folder + "/";
    ProcessStoredPage(pagePath.c_str(), "host", pathPart.c_str(), 1);
    EXPECT_EQ(Fetched(), (std::vector<std::string>{"host" + pathPart + "short.gif 2"}));
    std::vector<std::string> lines = LogLines(window);
    ASSERT_EQ(lines.size(), 1u);
    std::string prefix = "* パスが長すぎます : host/" + folder;
    EXPECT_EQ(lines[0].substr(0, prefix.size()), prefix);
}

TEST_F(PageDriverTest, RewrittenPageKeepsItsLastWriteTime)
{
    WriteBytes(pagePath, DEMO_PAGE);
    WriteSettingText(REG_FTP, "1");
    SYSTEMTIME day = {1999, 7, 0, 4, 12, 0, 0, 0};
    FILETIME old;
    SystemTimeToFileTime(&day, &old);
    HANDLE file = CreateFileA(pagePath.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    SetFileTime(file, &old, &old, &old);
    CloseHandle(file);
    Process(1);
    FILETIME created, accessed, written;
    file = CreateFileA(pagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    EXPECT_EQ(CompareFileTime(&written, &old), 0);
    EXPECT_EQ(ReadBytes(pagePath), DEMO_REWRITTEN);
}

TEST_F(PageDriverTest, StyleSheetsAreScannedOnlyWithTheModernSettingAndUnreadLinksAreLoggedOnce)
{
    std::string sheetPath = pageFolder + "s.css";
    const char sheet[] = "body{background:url(http://host/x/b.png)} @import 'http://cdn/i.css';";
    WriteBytes(sheetPath, sheet);
    lstrcpyA(g_contentType, "text/css");
    ProcessStoredPage(sheetPath.c_str(), "host", "/a/b/", 1);
    EXPECT_EQ(Fetched(), (std::vector<std::string>{"host/x/b.png 2", "cdn/i.css 7"}));
    EXPECT_EQ(ReadBytes(sheetPath), "body{background:url(../../../host/x/b.png)} @import '../../../cdn/i.css';");
    g_pageFetches.clear();
    WriteBytes(sheetPath, sheet);
    WriteSettingText(REG_MODERN, "0");
    ProcessStoredPage(sheetPath.c_str(), "host", "/a/b/", 1);
    EXPECT_TRUE(Fetched().empty());
    EXPECT_EQ(ReadBytes(sheetPath), sheet);
    EXPECT_TRUE(LogLines(window).empty());
    WriteSettingText(REG_MODERN, "1");
    lstrcpyA(g_contentType, "text/html");
    std::string srcset;
    for (int i = 0; i < FOUND_LINK_MAX + 2; ++i)
        srcset += "p" + std::to_string(i) + ".png, ";
    WriteBytes(pagePath, "<img srcset=\"" + srcset + "\"><img srcset=\"" + srcset + "\">");
    Process(1);
    EXPECT_EQ(LogLines(window), (std::vector<std::string>{"* 読み取れなかったリンクが 4 個あります : " + pagePath}));
}

TEST_F(PageDriverTest, AJapaneseLinkIsFetchedWithWhatItsBytesMean)
{
    const struct { const char *page; int encoding; } cases[] = {
        {"<meta charset=utf-8><img src=\"\xE5\x86\x99.png\">", NAME_UTF8},
        {"<meta charset=shift_jis><img src=\"\x8E\xCA.png\">", NAME_SHIFT_JIS},
        {"<meta charset=euc-jp><img src=\"\xBC\xCC.png\">", NAME_EUC_JP},
    };
    for (const auto &c : cases) {
        g_pageFetches.clear();
        WriteBytes(pagePath, c.page);
        Process(1);
        ASSERT_EQ(g_pageFetches.size(), 1u) << c.page;
        EXPECT_EQ(g_pageFetches[0].nameEncoding, c.encoding) << c.page;
    }
}

// Bytes of this thread's stack written so far: a thread's stack starts as
// zero, so the first byte that is not zero above its limit marks the
// deepest call made.
static size_t StackBytesUsed(void)
{
    const NT_TIB *tib = (const NT_TIB *)NtCurrentTeb();
    const char *p = (const char *)tib->StackLimit;
    while (p < (const char *)tib->StackBase && *p == 0)
        ++p;
    return (size_t)((const char *)tib->StackBase - p);
}

static std::string g_workerPage;
static size_t g_workerStackUsed;

// The page's own fetch, in its worker: the page's turn (scan, rewrite,
// shortcut, links fetched by workers of their own), then the stack it took.
static int ProcessPageInItsWorker(const char *address, int depth, int attempt, int nameEncoding)
{
    if (lstrcmpA(address, "host/a/b/page.html") != 0)
        return RecordPageFetch(address, depth, attempt, nameEncoding);
    ProcessStoredPage(g_workerPage.c_str(), "host", "/a/b/", depth);
    g_workerStackUsed = StackBytesUsed();
    return 1;
}

// The deepest turn of a page (a Japanese start page: its title, links beyond
// ASCII and to a Japanese host, the shortcut through the shell), once for
// each level a fetch worker takes, comes to less than a quarter of what the
// worker reserves.
TEST_F(PageDriverTest, StartPageTurnsOfAWorkersLevelsTakeAQuarterOfItsStackAtMost)
{
    std::string page = "<meta charset=utf-8><title>\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E</title>";
    for (int i = 0; i < 40; ++i)
        page += "<a href=\"\xE5\x86\x99" + std::to_string(i) + ".html\">x</a><img src=\"http://\xE6\x97\xA5.jp/" +
                std::to_string(i) + ".png\" srcset=\"a.png 1x, b.png 2x\" style=\"background:url(c.png)\">";
    WriteBytes(pagePath, page);
    WriteSettingText(REG_OUTSERVER, "1");
    WriteSettingNumber(REG_WAIT, 0);
    g_startPageFlag = 1;
    g_workerPage = pagePath;
    g_workerStackUsed = 0;
    g_fetchAddress = ProcessPageInItsWorker;
    WorkerRecord record;
    InitWorkerRecord(&record);
    EXPECT_TRUE(RunOffTheWindowThread([&] {
        RunAttempts(&record, "host/a/b/page.html", 1, NAME_UTF8);
        EndWorker(&record);
    }, 60000));
    EXPECT_FALSE(g_pageFetches.empty()) << "the page's links were fetched";
    EXPECT_TRUE(Exists(shortcuts + "\\日本語.LNK")) << "the shortcut was made";
    EXPECT_GT(g_workerStackUsed, 4096u) << "the stack was measured";
    EXPECT_LE(g_workerStackUsed * WORKER_LEVELS * 4, (size_t)WORKER_STACK_RESERVE) << g_workerStackUsed << " bytes used";
}
