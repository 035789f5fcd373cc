// tests/win/scheduler_test.cpp — one pass over a start list.
// Entry words, options, schemes, separators, admission, attempts and stop requests, with a
// recorded stand-in for the fetch.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine_internal.h"
#include "settings/settings.h"
#include "tests/win/window_fixture.h"

struct FetchCall {
    std::string address;
    int depth;
    int attempt;
    std::string ignore;
    int depthLimit;
    std::string startPath;
    int nameEncoding;
};

static std::vector<FetchCall> g_fetches;
static int g_fetchResult = 1;
static int g_stopAtFetch = -1; // the fetch (counted from 0) that presses Stop

static int RecordFetch(const char *address, int depth, int attempt, int nameEncoding)
{
    g_fetches.push_back({address, depth, attempt, g_ignorePatterns, g_depthLimit, g_startPath, nameEncoding});
    if ((int)g_fetches.size() - 1 == g_stopAtFetch)
        g_crawlState = CRAWL_STOP_REQUESTED;
    return g_fetchResult;
}

class SchedulerTest : public ::testing::Test {
protected:
    HWND window = NULL;
    void SetUp() override
    {
        ClearSettings();
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        g_mainWindow = window;
        g_fetchAddress = RecordFetch;
        g_fetches.clear();
        g_fetchResult = 1;
        g_stopAtFetch = -1;
        lstrcpyA(g_saveFolder, "C:\\save");
        g_ignorePatterns[0] = '\0';
        g_depthLimit = DEPTH_UNLIMITED;
        g_crawlState = CRAWL_RUNNING;
    }
    void TearDown() override
    {
        g_fetchAddress = FetchAddress;
        g_crawlState = CRAWL_IDLE;
        DestroyWindow(window);
        ClearSettings();
    }
    void RunPass(const char *list)
    {
        lstrcpynA(g_startList, list, START_LIST_SIZE);
        RunStartList();
    }
    // One pass from a chain's first page, off the window's thread, with the hold and fetch given.
    void RunChain(DWORD wait, int (*fetch)(const char *, int, int, int))
    {
        WriteSettingNumber(REG_WAIT, wait);
        g_fetchAddress = fetch;
        EXPECT_TRUE(RunOffTheWindowThread([&] { RunPass("host/0.html"); }, 60000));
    }
    std::vector<std::string> FetchedAddresses()
    {
        std::vector<std::string> addresses;
        for (auto &f : g_fetches)
            addresses.push_back(f.address);
        return addresses;
    }
};

TEST_F(SchedulerTest, SchemesAndFolderAddresses)
{
    struct Case { const char *list, *fetched, *startPath; int depth; } cases[] = {
        {"http://host", "host", "/", 0},
        {"http://host/dir", "host/dir/", "/dir/", 0},
        {"HTTP://host/dir/page.html", "host/dir/page.html", "/dir/", 0},
        {"http://host/a.gif", "host/a.gif", "/", 0},
        {"host/dir/", "host/dir/", "/dir/", 0},
        {"https://host/", "https://host/", "/", 0},
        {"HTTPS://host:443/d/", "https://host/d/", "/d/", 0},
        {"ftp://host/pub/readme", "host/pub/readme", "/pub/", DEPTH_FTP},
        {"user:pw@host:81/x/", "user:pw@host:81/x/", "/x/", 0},
        {"http://\x93\xFA\x96\x7B.jp/\x8E\xCA/", "xn--wgv71a.jp/%E5%86%99/", "/%E5%86%99/", 0}, // sent in UTF-8
    };
    for (auto &c : cases) {
        g_fetches.clear();
        RunPass(c.list);
        ASSERT_EQ(g_fetches.size(), 1u) << c.list;
        EXPECT_EQ(g_fetches[0].address, c.fetched) << c.list;
        EXPECT_EQ(g_fetches[0].startPath, c.startPath) << c.list;
        EXPECT_EQ(g_fetches[0].depth, c.depth) << c.list;
        EXPECT_EQ(g_fetches[0].nameEncoding, NAME_UTF8) << c.list;
    }
    g_fetches.clear();
    RunPass("http://\x81\x5E.jp/"); // a full-width '/' cannot be a host's
    EXPECT_TRUE(g_fetches.empty());
    EXPECT_EQ(LogLines(window).back(), "* \x82\xB1\x82\xCC\x83\x41\x83\x68\x83\x8C\x83\x58\x82\xCD\x8Eg\x82\xA6\x82\xDC\x82\xB9\x82\xF1 : \x81\x5E.jp/");
}

TEST_F(SchedulerTest, NonPageFilesAreFetchedWhateverTheDepthLimit)
{
    CheckRadioButton(window, IDC_DEPTH0, IDC_DEPTHINF, IDC_DEPTH0);
    g_depthLimit = 0;
    RunPass("http://host/a.gif host/b.zip");
    EXPECT_EQ(FetchedAddresses(), (std::vector<std::string>{"host/a.gif", "host/b.zip"}));
}

TEST_F(SchedulerTest, EntryWordsCheckTheirBoxes)
{
    RunPass("*d\r\n*P *r *DX");
    auto lines = LogLines(window);
    EXPECT_EQ(lines, (std::vector<std::string>{"* Auto disconnect", "* Auto power off", "* Retry on.", "* URL-> *DX"}));
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_HANGUP), (UINT)BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_POWEROFF), (UINT)BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_RETRY), (UINT)BST_CHECKED);
    EXPECT_EQ(FetchedAddresses(), (std::vector<std::string>{"*DX"})) << "*DX is an address";
    EXPECT_EQ(g_linksFound, 4);
}

TEST_F(SchedulerTest, EntryOptionsApplyToTheirEntryOnly)
{
    lstrcpyA(g_ignorePatterns, "*.EXE");
    RunPass("host/;*.gif;*.jpg|1 other/ third/|7;*.png");
    ASSERT_EQ(g_fetches.size(), 3u);
    EXPECT_EQ(g_fetches[0].address, "host/");
    EXPECT_EQ(g_fetches[0].ignore, "*.gif *.jpg ");
    EXPECT_EQ(g_fetches[0].depthLimit, 1);
    EXPECT_EQ(g_fetches[1].ignore, "*.EXE") << "the next entry starts from the pass base values";
    EXPECT_EQ(g_fetches[1].depthLimit, DEPTH_UNLIMITED);
    EXPECT_EQ(g_fetches[2].ignore, "*.png ");
    EXPECT_EQ(g_fetches[2].depthLimit, 7);
    auto lines = LogLines(window);
    EXPECT_EQ(lines[0], "* URL-> host/;*.gif;*.jpg|1");
    EXPECT_EQ(std::string(g_ignorePatterns), "*.png ") << "the last entry's options stay in force";
}

TEST_F(SchedulerTest, DepthOptionIsKeptWithinZeroAndNine)
{
    struct Case { const char *word; int expected; } cases[] = {
        {"h/|3", 3}, {"h/|x", 9}, {"h/|", 0}, {"h/|!", 0}, {"h/|9|2", 2}, {"h/|;*.a", 9}};
    for (auto &c : cases) {
        g_depthLimit = 55;
        ApplyEntryOptions(c.word);
        EXPECT_EQ(g_depthLimit, c.expected) << c.word;
    }
}

TEST_F(SchedulerTest, SeparatorsAndWhatFollowsThem)
{
    // CR, LF and spaces separate entries; a tab does not; after a separator
    // everything up to a letter, digit or '*' is skipped.
    RunPass("a/\r\n\r\n  b/ \t-c/\t d/\r\n127.0.0.1:8080/dir/ ..e/");
    EXPECT_EQ(FetchedAddresses(),
              (std::vector<std::string>{"a/", "b/", "c/\t/", "d/", "127.0.0.1:8080/dir/", "e/"}));
    EXPECT_EQ(g_linksFound, 6) << "the count follows the same rule";
}

TEST_F(SchedulerTest, LeadingSeparatorGivesAnEmptyFirstEntry)
{
    RunPass(" host/");
    auto lines = LogLines(window);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "* URL-> ");
    EXPECT_EQ(lines[1], "* URL-> host/");
    EXPECT_EQ(g_linksFound, 2);
}

TEST(StartList, HoldsAnAddressUnlessOnlyEntryWordsAndSeparators)
{
    struct Case { const char *list; bool expected; } cases[] = {
        {"", false}, {" \r\n\t ", false}, {"*P", false}, {"*p\r\n *D  *r\r\n", false}, {"-- ..", false},
        {"host/", true}, {" host/", true}, {"*P\r\nhttp://a.example/", true}, {"ftp://b.example/pub/", true},
        {"*PX", true}, {"127.0.0.1/", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(StartListHasAddress(c.list), c.expected) << "[" << c.list << "]";
}

TEST_F(SchedulerTest, AttemptNumbersFollowTheRetryBox)
{
    g_fetchResult = 0;
    RunPass("host/");
    ASSERT_EQ(g_fetches.size(), 1u);
    EXPECT_EQ(g_fetches[0].attempt, LAST_ATTEMPT) << "the only attempt is the last";
    g_fetches.clear();
    CheckDlgButton(window, IDC_RETRY, BST_CHECKED);
    RunPass("host/");
    std::vector<int> attempts;
    for (auto &f : g_fetches)
        attempts.push_back(f.attempt);
    EXPECT_EQ(attempts, (std::vector<int>{0, 1, 2, 3, LAST_ATTEMPT}));
    g_fetches.clear();
    g_fetchResult = 1;
    RunPass("host/");
    EXPECT_EQ(g_fetches.size(), 1u) << "result 1 ends the attempts";
}

static int g_threadsToRefuse;

static HANDLE WINAPI RefuseSomeThreads(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                       LPVOID parameter, DWORD flags, LPDWORD id)
{
    return g_threadsToRefuse-- > 0 ? NULL : CreateThread(security, stack, start, parameter, flags, id);
}

// An attempt whose worker thread cannot be made has failed: it is told in
// the log and the next attempt, if any, is made.
TEST_F(SchedulerTest, AttemptWithoutAWorkerThreadFailsWithALogLine)
{
    struct Case { bool retryBox; int refused; std::vector<int> attempts; size_t lines; } cases[] = {
        {false, 1, {}, 1}, {true, 1, {1}, 1}, {true, 2, {2}, 2}, {true, 5, {}, 5}};
    g_threadCalls.Create = RefuseSomeThreads;
    for (const Case &c : cases) {
        g_fetches.clear();
        SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
        CheckDlgButton(window, IDC_RETRY, c.retryBox ? BST_CHECKED : BST_UNCHECKED);
        g_threadsToRefuse = c.refused;
        RunPass("host/a/");
        std::vector<int> attempts;
        for (auto &f : g_fetches)
            attempts.push_back(f.attempt);
        EXPECT_EQ(attempts, c.attempts) << "retry " << c.retryBox << ", refused " << c.refused;
        std::vector<std::string> expected(1, "* URL-> host/a/");
        expected.insert(expected.end(), c.lines, "* スレッドを作成できないので取得できません : host/a/");
        EXPECT_EQ(LogLines(window), expected) << "retry " << c.retryBox << ", refused " << c.refused;
    }
    g_threadCalls.Create = CreateThread;
}

struct WorkerCreation {
    SIZE_T stack;
    DWORD flags;
};
static std::vector<WorkerCreation> g_creations;

static HANDLE WINAPI RecordCreation(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                    LPVOID parameter, DWORD flags, LPDWORD id)
{
    g_creations.push_back({stack, flags});
    return CreateThread(security, stack, start, parameter, flags, id);
}

// A chain of pages: the fetch of page n starts the fetch of page n + 1, as a
// page scan does, and waits for it.
static const int CHAIN_END = 300;

// From a chain page's fetch: fetches page depth + 1 through a record of its own, as a page scan does.
static void FetchNextPage(int depth, int nameEncoding)
{
    WorkerRecord record;
    InitWorkerRecord(&record);
    char next[TEXT_SIZE + 1];
    FormatText(next, sizeof next, "host/%d.html", depth + 1);
    RunAttempts(&record, next, depth + 1, nameEncoding);
    EndWorker(&record);
}

static int FetchChainPage(const char *address, int depth, int attempt, int nameEncoding)
{
    RecordFetch(address, depth, attempt, nameEncoding);
    if (depth < CHAIN_END)
        FetchNextPage(depth, nameEncoding);
    return 1;
}

TEST_F(SchedulerTest, ChainNestsAWorkerPerLevelsOfPagesEachReservingItsStack)
{
    g_creations.clear();
    g_threadCalls.Create = RecordCreation;
    RunChain(0, FetchChainPage);
    g_threadCalls.Create = CreateThread;
    ASSERT_EQ(g_fetches.size(), (size_t)CHAIN_END + 1);
    EXPECT_EQ(g_fetches.back().address, "host/300.html");
    ASSERT_EQ(g_creations.size(), (size_t)(CHAIN_END + WORKER_LEVELS) / WORKER_LEVELS);
    for (size_t n = 0; n < g_creations.size(); ++n) {
        EXPECT_EQ(g_creations[n].flags, (DWORD)STACK_SIZE_PARAM_IS_A_RESERVATION) << "worker " << n;
        EXPECT_EQ(g_creations[n].stack, (SIZE_T)WORKER_STACK_RESERVE) << "worker " << n;
    }
}

// Holds per worker thread, counted by a stand-in for SuspendThread.
static SRWLOCK g_holdLock = SRWLOCK_INIT;
static std::vector<DWORD> g_heldThreads;
static DWORD g_chainWorkers[WORKER_LEVELS + 1];

static DWORD WINAPI CountHold(HANDLE thread)
{
    AcquireSRWLockExclusive(&g_holdLock);
    g_heldThreads.push_back(GetThreadId(thread));
    ReleaseSRWLockExclusive(&g_holdLock);
    return SuspendThread(thread);
}

// A chain one level longer than a worker takes, whose last fetch (the second
// worker's) takes two supervision cycles and more.
static int FetchSlowChainPage(const char *, int depth, int, int nameEncoding)
{
    g_chainWorkers[depth] = GetCurrentThreadId();
    if (depth == WORKER_LEVELS) {
        Sleep(2 * SUPERVISION_CYCLE + 300);
        return 1;
    }
    FetchNextPage(depth, nameEncoding);
    return 1;
}

TEST_F(SchedulerTest, WorkersWaitingForTheirOwnAreNotHeldInCycles)
{
    g_heldThreads.clear();
    g_threadCalls.Suspend = CountHold;
    RunChain(50, FetchSlowChainPage);
    g_threadCalls.Suspend = SuspendThread;
    DWORD first = g_chainWorkers[0], second = g_chainWorkers[WORKER_LEVELS];
    ASSERT_NE(first, second);
    for (int depth = 1; depth < WORKER_LEVELS; ++depth)
        EXPECT_EQ(g_chainWorkers[depth], first) << "level " << depth << " on the first worker's thread";
    // The waiting worker is held at most before it starts its own; the fetching one every cycle.
    EXPECT_LE(std::count(g_heldThreads.begin(), g_heldThreads.end(), first), 1);
    EXPECT_GE(std::count(g_heldThreads.begin(), g_heldThreads.end(), second), 2);
}

// A page whose short links together run longer than a cycle: each link's run
// is its own, so the cycles never hold the worker that makes them.
TEST_F(SchedulerTest, ShortLinksOnAWorkersOwnThreadAddUpToNoCycle)
{
    g_heldThreads.clear();
    g_threadCalls.Suspend = CountHold;
    static const int links = 2 * SUPERVISION_CYCLE / 50 + 10;
    RunChain(50, [](const char *, int depth, int, int nameEncoding) {
        g_chainWorkers[depth] = GetCurrentThreadId();
        for (int link = 0; depth == 0 && link < links; ++link)
            FetchNextPage(depth, nameEncoding);
        return 1;
    });
    g_threadCalls.Suspend = SuspendThread;
    ASSERT_EQ(g_chainWorkers[1], g_chainWorkers[0]);
    EXPECT_EQ(std::count(g_heldThreads.begin(), g_heldThreads.end(), g_chainWorkers[0]), 1);
}

TEST_F(SchedulerTest, AttemptsOnAWorkersOwnThreadAreHeldAsTheirOwnWorkerWouldBe)
{
    static const DWORD wait = 200;
    DWORD began = GetTickCount();
    RunChain(wait, [](const char *address, int depth, int attempt, int nameEncoding) {
        RecordFetch(address, depth, attempt, nameEncoding);
        if (depth < 3)
            FetchNextPage(depth, nameEncoding);
        return 1;
    });
    // Pages 1 to 3 run on page 0's worker, each held first.
    EXPECT_GE(GetTickCount() - began, 3 * wait);
    EXPECT_EQ(g_fetches.size(), 4u);
}

TEST_F(SchedulerTest, StopRequestLogsTheRestButFetchesNothing)
{
    g_stopAtFetch = 2;
    RunPass("a/ b/ c/ d/ e/");
    EXPECT_EQ(FetchedAddresses(), (std::vector<std::string>{"a/", "b/", "c/"}));
    auto lines = LogLines(window);
    EXPECT_EQ(lines, (std::vector<std::string>{"* URL-> a/", "* URL-> b/", "* URL-> c/", "* URL-> d/", "* URL-> e/"}));
}

TEST_F(SchedulerTest, LinkProgressShowsTheCounts)
{
    RunPass("a/ *R b/");
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_GETRANGE, FALSE, 0), 3);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_GETPOS, 0, 0), 2);
    g_linksFound = 70000; // past the 16-bit range
    g_linksHandled = 69999;
    ShowLinkProgress();
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_GETRANGE, FALSE, 0), 70000);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_RUNPROGRESS, PBM_GETPOS, 0, 0), 69999);
}

class AdmissionTest : public SchedulerTest {
protected:
    int Admit(const char *address, int depth, std::string *changed = nullptr)
    {
        char buffer[TEXT_SIZE + 1];
        lstrcpynA(buffer, address, sizeof buffer);
        int result = AdmitAddress(buffer, depth);
        if (changed)
            *changed = buffer;
        return result;
    }
};

TEST_F(AdmissionTest, ScopeAndDepth)
{
    lstrcpyA(g_startPath, "/dir/");
    g_startPageFlag = 0;
    g_depthLimit = 1;
    struct Case { const char *address; int depth; int expected; } cases[] = {
        {"host/dir/a.html", 1, 1},
        {"host/dir/sub/b.html", 1, 1},
        {"host/other/c.html", 1, 0},     // outside the start path
        {"host/DIR/d.html", 1, 1},       // the start path is compared without case
        {"host/dir/e.html", 2, 0},       // deeper than the limit
        {"host/other/pic.gif", 5, 1},    // a non-page file anywhere
        {"host/pub/readme", DEPTH_FTP, 1},
        {"user:pw@host/dir/f.htm", 1, 1},
    };
    for (auto &c : cases)
        EXPECT_EQ(Admit(c.address, c.depth), c.expected) << c.address << " depth " << c.depth;
}

TEST_F(AdmissionTest, FolderRuleAppendsASlash)
{
    g_startPath[0] = '\0';
    g_startPageFlag = 1;
    std::string changed;
    EXPECT_EQ(Admit("host/dir", 0, &changed), 1);
    EXPECT_EQ(changed, "host/dir/");
    EXPECT_STREQ(g_startPath, "/dir/");
    EXPECT_EQ(Admit("host/pub/readme", DEPTH_FTP, &changed), 1);
    EXPECT_EQ(changed, "host/pub/readme") << "an FTP name keeps its form";
}

TEST_F(AdmissionTest, IgnorePatternsAndVisitedList)
{
    lstrcpyA(g_startPath, "/");
    g_startPageFlag = 0;
    lstrcpyA(g_ignorePatterns, "*.GIF");
    EXPECT_EQ(Admit("host/a.gif", 1), 0);
    EXPECT_EQ(Admit("host/a.jpg", 1), 1);
    AppendLog(window, "C:\\save\\host\\a.html");
    EXPECT_EQ(Admit("host/a.html", 1), 0) << "a logged path counts as visited";
    EXPECT_EQ(Admit("host/a.htm", 1), 1) << "a path that only begins a log line is another file";
    g_startPageFlag = 1;
    EXPECT_EQ(Admit("host/a.html", 0), 1) << "a start address is fetched again";
}

TEST_F(AdmissionTest, StopRequestRefusesEverything)
{
    g_crawlState = CRAWL_STOP_REQUESTED;
    g_startPageFlag = 1;
    EXPECT_EQ(Admit("host/", 0), 0);
}

TEST_F(AdmissionTest, TooLongPathIsRefusedWithOneLine)
{
    std::string address = "host/" + std::string(240, 'd') + "/" + std::string(12, 'f') + ".html";
    g_startPageFlag = 1;
    g_startPath[0] = '\0';
    EXPECT_EQ(Admit(address.c_str(), 0), 0);
    auto lines = LogLines(window);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("* パスが長すぎます : host/", 0), 0u) << lines[0];
}
