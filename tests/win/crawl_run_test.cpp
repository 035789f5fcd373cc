// tests/win/crawl_run_test.cpp — a crawl run on a hidden main window.
// Run mode, passes and reservations, the session, the end actions and the power-off notice
// (through recorded calls, nothing is switched off).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_internal.h"
#include "net/net.h"
#include "settings/settings.h"
#include "tests/win/fake_internet.h"
#include "tests/win/test_files.h"
#include "tests/win/window_fixture.h"

// What the fakes saw, in call order.
static std::vector<std::string> g_calls;
// Window state sampled when the fetch opened its session (inside a pass).
static std::string g_captionInPass, g_labelInPass, g_addressInPass, g_titleInPass;
static BOOL g_optionsEnabledInPass, g_retryEnabledInPass;
// What the fake session opening does to the window: type a reservation,
// press Stop, or nothing.
static const char *g_reservationToType;
static LONG g_stateToSetInPass = -1;
static LONG g_stateToSetAtSound = -1;
// Presses of the Search button the fakes make: in the first fetch of a
// pass, at the completion sound, at the hang-up.
static int g_pressesInPass, g_pressesAtSound, g_pressesAtHangup;

// Presses the Search button of the main window as a click does: the window
// thread handles each press while the engine thread waits.
static void PressSearch(int times)
{
    for (int i = 0; i < times; ++i)
        SendMessageA(g_mainWindow, WM_COMMAND, MAKEWPARAM(IDC_SEARCH, BN_CLICKED), 0);
}

static DWORD WINAPI FakeAttemptConnect(DWORD reserved)
{
    g_calls.push_back("AttemptConnect " + std::to_string(reserved));
    return ERROR_SUCCESS;
}

static HINTERNET WINAPI FakeOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags)
{
    g_calls.push_back(std::string("Open ") + agent + " " + std::to_string(access) + " " +
                      (proxy ? "proxy" : "-") + " " + (bypass ? "bypass" : "-") + " " + std::to_string(flags));
    if (g_calls.size() > 2 && g_captionInPass.empty()) {
        // Called by a fetch inside a pass: look at the window as the user would.
        HWND window = g_mainWindow;
        g_captionInPass = ControlText(window, IDC_SEARCH);
        g_labelInPass = ControlText(window, IDC_ADDRESSLABEL);
        g_addressInPass = ControlText(window, IDC_ADDRESS);
        g_titleInPass = ControlText(window, 0);
        g_optionsEnabledInPass = IsWindowEnabled(GetDlgItem(window, IDC_OPTIONS));
        g_retryEnabledInPass = IsWindowEnabled(GetDlgItem(window, IDC_RETRY));
        if (g_reservationToType != NULL)
            SetDlgItemTextA(window, IDC_ADDRESS, g_reservationToType);
        if (g_stateToSetInPass >= 0)
            g_crawlState = g_stateToSetInPass;
        PressSearch(g_pressesInPass);
    }
    return NULL; // no session: the fetch ends without connecting
}

static BOOL WINAPI FakeClose(HINTERNET) { return TRUE; }

static BOOL WINAPI FakeHangup(DWORD reserved)
{
    g_calls.push_back("Hangup " + std::to_string(reserved));
    PressSearch(g_pressesAtHangup);
    return TRUE;
}

static BOOL WINAPI FakePlaySound(LPCSTR sound, HMODULE module, DWORD flags)
{
    g_calls.push_back(std::string("PlaySound ") + sound + (module ? " module" : "") + " " + std::to_string(flags));
    if (g_stateToSetAtSound >= 0)
        g_crawlState = g_stateToSetAtSound;
    PressSearch(g_pressesAtSound);
    return TRUE;
}

static BOOL WINAPI FakeOpenToken(HANDLE, DWORD access, PHANDLE token)
{
    g_calls.push_back("OpenProcessToken " + std::to_string(access));
    *token = NULL;
    return TRUE;
}

static BOOL WINAPI FakeLookup(LPCSTR system, LPCSTR name, PLUID luid)
{
    g_calls.push_back(std::string("LookupPrivilegeValue ") + (system ? system : "-") + " " + name);
    luid->LowPart = 19;
    luid->HighPart = 0;
    return TRUE;
}

static BOOL WINAPI FakeAdjust(HANDLE, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD length,
                              PTOKEN_PRIVILEGES previous, PDWORD)
{
    g_calls.push_back("AdjustTokenPrivileges " + std::to_string(disableAll) + " " +
                      std::to_string(state->PrivilegeCount) + " " + std::to_string(state->Privileges[0].Luid.LowPart) +
                      " " + std::to_string(state->Privileges[0].Attributes) + " " + std::to_string(length) +
                      (previous ? " previous" : ""));
    return TRUE;
}

static BOOL WINAPI FakeExitWindows(UINT flags, DWORD reason)
{
    g_calls.push_back("ExitWindows " + std::to_string(flags) + " " + std::to_string(reason));
    return TRUE;
}

// The test window's procedure: records the power-off notice the run asks for.
static INT_PTR CALLBACK RecordNoticeProc(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message == WM_POWEROFF_NOTICE)
        g_calls.push_back("PowerOffNotice");
    return ShowLeftTextsMessage(window, message) || message == WM_INITDIALOG;
}

static int CountCalls(const std::string &prefix)
{
    int n = 0;
    for (auto &call : g_calls)
        n += call.compare(0, prefix.size(), prefix) == 0;
    return n;
}

class CrawlRunTest : public ::testing::Test {
protected:
    HWND window = NULL;
    InternetCalls savedInternet;
    EndActionCalls savedEndActions;

    void SetUp() override
    {
        ClearSettings();
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        CheckDlgButton(window, IDC_DEPTHINF, BST_CHECKED);
        SetWindowLongPtrA(window, DWLP_DLGPROC, (LONG_PTR)RecordNoticeProc);
        savedInternet = g_internet;
        savedEndActions = g_endActions;
        g_internet.AttemptConnect = FakeAttemptConnect;
        g_internet.Open = FakeOpen;
        g_internet.CloseHandle = FakeClose;
        g_internet.AutodialHangup = FakeHangup;
        g_endActions = {FakePlaySound, FakeOpenToken, FakeLookup, FakeAdjust, FakeExitWindows};
        g_calls.clear();
        g_captionInPass.clear();
        g_labelInPass.clear();
        g_addressInPass.clear();
        g_titleInPass.clear();
        g_reservationToType = NULL;
        g_stateToSetInPass = g_stateToSetAtSound = -1;
        g_pressesInPass = g_pressesAtSound = g_pressesAtHangup = 0;
    }
    void TearDown() override
    {
        g_internet = savedInternet;
        g_endActions = savedEndActions;
        DestroyWindow(window);
        ClearSettings();
    }
    // Starts a run as the Search action does and waits for it to end.
    void RunCrawlOf(const char *startList)
    {
        SetDlgItemTextA(window, IDC_ADDRESS, "typed text");
        StartCrawl(window, "C:\\parvel-test-save", startList, "");
        g_crawlState = CRAWL_RUNNING;
        ASSERT_TRUE(PumpUntil([] { return g_crawlState == CRAWL_IDLE; }, 20000)) << "the run did not end";
        // What the run posted before it went idle is in the queue now.
        PumpUntil([] { return true; }, 0);
    }
    void ExpectIdleWindow()
    {
        EXPECT_EQ(ControlText(window, IDC_SEARCH), "探索");
        EXPECT_EQ(ControlText(window, 0), "Parvel 1st MIX");
        EXPECT_EQ(ControlText(window, IDC_ADDRESSLABEL), "アドレス(&A)");
        for (int id : {IDC_OPTIONS, IDC_RELOAD, IDC_DEPTH0, IDC_DEPTH1, IDC_DEPTH2, IDC_DEPTHINF, IDC_IGNORE})
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, id))) << "control " << id;
    }
};

TEST_F(CrawlRunTest, EndActionsFollowTheSoundAndPowerOffIsLeftToTheNotice)
{
    CheckDlgButton(window, IDC_HANGUP, BST_CHECKED);
    CheckDlgButton(window, IDC_POWEROFF, BST_CHECKED);
    AppendLog(window, "line before the run");
    RunCrawlOf("");
    std::vector<std::string> expected = {
        "AttemptConnect 0",
        "Open QEX/10.0(Windows95 or NT) 0 - - 0",
        "PlaySound QEXWWWread " + std::to_string(SND_ASYNC | SND_APPLICATION),
        "Hangup 0",
        "PowerOffNotice",
    };
    EXPECT_EQ(g_calls, expected);
    EXPECT_TRUE(LogLines(window).empty()) << "the run empties the access log";
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), "") << "a pass empties the address box";
    ExpectIdleWindow();
}

TEST_F(CrawlRunTest, EndActionsOnlyWhenTheirBoxesAreChecked)
{
    RunCrawlOf("");
    EXPECT_EQ(CountCalls("PlaySound"), 1);
    EXPECT_EQ(CountCalls("Hangup"), 0);
    EXPECT_EQ(CountCalls("PowerOffNotice"), 0);
}

TEST_F(CrawlRunTest, WindowIsInRunModeDuringAPassAndAReservationRunsAsASecondPass)
{
    g_reservationToType = "*P";
    RunCrawlOf("http://127.0.0.1:9/dir/");
    EXPECT_EQ(g_captionInPass, "ｽｷｯﾌﾟ");
    EXPECT_EQ(g_labelInPass, "追加予約(&A)");
    EXPECT_EQ(g_addressInPass, "");
    EXPECT_FALSE(g_optionsEnabledInPass);
    EXPECT_TRUE(g_retryEnabledInPass) << "the retry box stays enabled during a run";
    auto lines = LogLines(window);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "* URL-> 127.0.0.1:9/dir/");
    EXPECT_EQ(lines.back(), "* Auto power off") << "the reservation ran as a second pass";
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_POWEROFF), (UINT)BST_CHECKED);
    EXPECT_EQ(CountCalls("PowerOffNotice"), 1) << "the reservation's *P switches off at the end";
    ExpectIdleWindow();
}

TEST_F(CrawlRunTest, StopRequestEndsThePassNotTheRun)
{
    CheckDlgButton(window, IDC_HANGUP, BST_CHECKED);
    g_reservationToType = "*R";
    g_stateToSetInPass = CRAWL_STOP_REQUESTED;
    RunCrawlOf("http://127.0.0.1:9/a/ http://127.0.0.1:9/b/");
    auto lines = LogLines(window);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "* URL-> 127.0.0.1:9/a/");
    EXPECT_EQ(lines[1], "* 127.0.0.1:9 に接続できません") << "the library refused the connection";
    EXPECT_EQ(lines[2], "* URL-> 127.0.0.1:9/b/") << "the rest of the list is still walked";
    EXPECT_EQ(lines[3], "* Retry on.") << "the reservation is still taken after a stop";
    EXPECT_EQ(CountCalls("Open "), 2) << "nothing fetched after the stop request";
    EXPECT_EQ(CountCalls("Hangup"), 1) << "the end actions still happen after a stop";
}

TEST_F(CrawlRunTest, PressAfterTheLastPassSkipsTheEndActions)
{
    CheckDlgButton(window, IDC_HANGUP, BST_CHECKED);
    CheckDlgButton(window, IDC_POWEROFF, BST_CHECKED);
    g_stateToSetAtSound = CRAWL_SKIP_REQUESTED;
    RunCrawlOf("");
    EXPECT_EQ(CountCalls("Hangup"), 0);
    EXPECT_EQ(CountCalls("PowerOffNotice"), 0);
    EXPECT_EQ(g_crawlState, CRAWL_IDLE);
}

// The program's own window, whose procedure handles the presses.
static HWND OpenMainWindow(void)
{
    g_startArgument[0] = '\0';
    return CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainWindowProc, 0);
}

static void CloseMainWindow(HWND main)
{
    SendMessageA(main, WM_CLOSE, 0, 0);
    DestroyWindow(main);
}

// Texts left during a run soon after a showing wait for the window's timer
// and are then shown together: every line in order, the newest status.
TEST_F(CrawlRunTest, TextsLeftDuringARunAreShownTogetherAfterTheInterval)
{
    HWND main = OpenMainWindow();
    ASSERT_NE(main, (HWND)NULL);
    SendDlgItemMessageA(main, IDC_LOG, LB_RESETCONTENT, 0, 0);
    g_crawlState = CRAWL_RUNNING;
    ShowLeftTexts(main);
    std::vector<std::string> lines;
    for (int n = 0; n < 20; ++n)
        lines.push_back("line " + std::to_string(n));
    std::thread([&] {
        for (const std::string &line : lines) {
            AppendLog(main, line.c_str());
            LeaveWindowText(main, IDC_STATUS, ("status " + line).c_str());
        }
    }).join();
    EXPECT_TRUE(PumpUntil([&] { return LogLines(main).size() == lines.size(); }, 5000));
    EXPECT_EQ(LogLines(main), lines);
    EXPECT_EQ(ControlText(main, IDC_STATUS), "status line 19");
    g_crawlState = CRAWL_IDLE;
    CloseMainWindow(main);
}

// Every press is kept: a skip and a stop in a pass stop the pass; a press
// after the last pass calls off the end actions, with one line, and leaves
// the window as after a run; once the state has left running for the end
// actions a press takes no request.
TEST_F(CrawlRunTest, PressesAtEachPointOfARun)
{
    struct Case {
        const char *name; int inPass, atSound, atHangup; int fetches; int endActions; bool calledOff;
    } cases[] = {
        {"no press", 0, 0, 0, 2, 1, false},
        {"skip and stop in the pass", 2, 0, 0, 1, 1, false},
        {"press after the last pass", 0, 1, 0, 2, 0, true},
        {"two presses after the last pass", 0, 2, 0, 2, 0, true},
        {"press during the end actions", 0, 0, 1, 2, 1, false},
    };
    HWND main = OpenMainWindow();
    ASSERT_NE(main, (HWND)NULL);
    // The window's power-off notice runs out at once.
    const PowerOffCountdown savedCountdown = g_powerOffCountdown;
    g_powerOffCountdown = {1, 1};
    for (const Case &c : cases) {
        g_calls.clear();
        g_captionInPass.clear();
        g_pressesInPass = c.inPass;
        g_pressesAtSound = c.atSound;
        g_pressesAtHangup = c.atHangup;
        CheckDlgButton(main, IDC_HANGUP, BST_CHECKED);
        CheckDlgButton(main, IDC_POWEROFF, BST_CHECKED);
        g_crawlState = CRAWL_RUNNING;
        StartCrawl(main, "C:\\parvel-test-save", "http://127.0.0.1:9/a/ http://127.0.0.1:9/b/", "");
        ASSERT_TRUE(PumpUntil([] { return g_crawlState == CRAWL_IDLE; }, 20000)) << c.name;
        PumpUntil([] { return true; }, 0); // the notice the run asked for before it went idle
        EXPECT_EQ(CountCalls("Open ") - 1, c.fetches) << c.name;
        EXPECT_EQ(CountCalls("Hangup"), c.endActions) << c.name;
        EXPECT_EQ(CountCalls("ExitWindows"), c.endActions) << c.name;
        auto log = LogLines(main);
        bool calledOff = std::find(log.begin(), log.end(), "* ボタンが押されたので回線切断・電源OFFをしません") != log.end();
        EXPECT_EQ(calledOff, c.calledOff) << c.name;
        EXPECT_EQ(ControlText(main, IDC_SEARCH), "探索") << c.name;
        EXPECT_EQ(ControlText(main, 0), "Parvel 1st MIX") << c.name;
    }
    g_pressesInPass = g_pressesAtSound = g_pressesAtHangup = 0;
    g_powerOffCountdown = savedCountdown;
    CloseMainWindow(main);
}

static HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

// Search when no run thread can be made: the state is idle again, one line
// tells why, and the next Search starts a run.
TEST_F(CrawlRunTest, RunWithoutAThreadReturnsToIdle)
{
    HWND main = OpenMainWindow();
    ASSERT_NE(main, (HWND)NULL);
    g_mainWindow = main;
    WriteSettingText(REG_FOLDER, "C:\\parvel-test-save");
    SetDlgItemTextA(main, IDC_ADDRESS, "http://127.0.0.1:9/a/");
    g_threadCalls.Create = NoThread;
    PressSearch(1);
    g_threadCalls.Create = CreateThread;
    EXPECT_EQ(g_crawlState, CRAWL_IDLE);
    EXPECT_EQ(LogLines(main), std::vector<std::string>{"* スレッドを作成できないので探索を始められません"});
    EXPECT_EQ(CountCalls("AttemptConnect"), 0);
    PressSearch(1);
    ASSERT_TRUE(PumpUntil([] { return g_crawlState == CRAWL_IDLE; }, 20000)) << "the run did not end";
    EXPECT_EQ(CountCalls("AttemptConnect"), 1) << "a later Search starts a run";
    CloseMainWindow(main);
}

// The periods the animation timer was set to, and whether each call came
// from the thread that owns the window (Windows refuses it to others).
static std::vector<std::pair<UINT, bool>> g_timerCalls;

static UINT_PTR WINAPI RecordSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure)
{
    g_timerCalls.push_back({period, GetWindowThreadProcessId(window, NULL) == GetCurrentThreadId()});
    return SetTimer(window, id, period, procedure);
}

// The receive loop's period and the run's 100 ms reach the window as
// messages, and the timer is set on the window's thread only; a second file
// asking for the period the timer runs at leaves it running.
TEST_F(CrawlRunTest, AnimationTimerIsSetOnTheWindowThreadOnly)
{
    WindowThreadCalls saved = g_windowThreadCalls;
    g_windowThreadCalls.SetTimer = RecordSetTimer;
    g_timerCalls.clear();
    HWND main = OpenMainWindow();
    InstallFakeInternet();
    g_fakeAnswer = [](const FakeRequestRecord &) { // one byte of no size: the slowest periods
        FakeResponse response;
        response.body = "x";
        response.hasLength = false;
        return response;
    };
    std::string save = MakeTempFolder("pvt");
    g_crawlState = CRAWL_RUNNING;
    StartCrawl(main, save.c_str(), "http://host/a.bin http://host/b.bin", "");
    EXPECT_TRUE(PumpUntil([] { 
        return g_crawlState == CRAWL_IDLE && g_timerCalls.size() >= 3 && g_timerCalls.back().first == ANIMATION_PERIOD;
    }, 20000));
    CloseMainWindow(main);
    RestoreInternet();
    RemoveTree(save);
    g_windowThreadCalls = saved;
    ASSERT_EQ(g_timerCalls.size(), 3u) << "the window's start, the first transfer, the run's end";
    for (auto &call : g_timerCalls)
        EXPECT_TRUE(call.second) << "SetTimer " << call.first << " from another thread";
    EXPECT_GE(g_timerCalls[1].first, 375u) << "the receive loop's period for one byte";
    EXPECT_EQ(g_timerCalls[2].first, (UINT)ANIMATION_PERIOD) << "the run's end";
}

// A slow transfer's period changes at nearly every showing; the animation
// still moves, each new period taken at the timer's next tick.
TEST_F(CrawlRunTest, AnimationMovesWhileThePeriodKeepsChanging)
{
    ASSERT_EQ(LoadAnimationImage(BesideProgram("qex.bmp").c_str()), 1);
    HWND main = OpenMainWindow();
    ASSERT_NE(main, (HWND)NULL);
    int moves = 0, last = g_animationFrame;
    for (int n = 0; n < 50; ++n) {
        PostMessageA(main, WM_ANIMATION_PERIOD, n % 2 ? 120 : 125, 0);
        PumpUntil([] { return false; }, 30);
        moves += g_animationFrame != last;
        last = g_animationFrame;
    }
    CloseMainWindow(main);
    FreeAnimationImage();
    EXPECT_GE(moves, 2) << "frames shown in 1.5 s of changing periods";
}

TEST_F(CrawlRunTest, DepthButtonsGiveTheDepthLimit)
{
    struct Case { int button; int expected; } cases[] = {
        {IDC_DEPTH0, 0}, {IDC_DEPTH1, 1}, {IDC_DEPTH2, 2}, {IDC_DEPTHINF, DEPTH_UNLIMITED}};
    for (auto &c : cases) {
        CheckRadioButton(window, IDC_DEPTH0, IDC_DEPTHINF, c.button);
        RunCrawlOf("");
        EXPECT_EQ(g_depthLimit, c.expected) << "button " << c.button;
    }
    // With no button checked the limit stays as it was.
    for (int id = IDC_DEPTH0; id <= IDC_DEPTHINF; ++id)
        CheckDlgButton(window, id, BST_UNCHECKED);
    RunCrawlOf("");
    EXPECT_EQ(g_depthLimit, DEPTH_UNLIMITED);
}

TEST_F(CrawlRunTest, StartCrawlCopiesTheRunInputs)
{
    RunCrawlOf("");
    EXPECT_STREQ(g_saveFolder, "C:\\parvel-test-save");
    SYSTEMTIME today;
    GetLocalTime(&today);
    char expected[32];
    wsprintfA(expected, "%04d-%02d-%02d\\", today.wYear, today.wMonth, today.wDay);
    EXPECT_STREQ(g_dateFolder, expected);
}

// The notice's seconds are made by the test: each look at the open notice
// records its text and the calls made so far, then cancels it or lets one
// second pass, so the count never depends on timing.
static std::vector<std::string> g_noticeTexts;
static size_t g_callsWhileNoticeShows;
static bool g_cancelNotice;

static void CALLBACK LookAtNotice(HWND, UINT, UINT_PTR, DWORD)
{
    HWND notice = FindWindowA("#32770", "電源OFF - Parvel 1st MIX");
    if (notice == NULL || !IsWindowVisible(notice))
        return;
    g_noticeTexts.push_back(ControlText(notice, IDC_COUNTDOWN));
    g_callsWhileNoticeShows += g_calls.size();
    if (g_cancelNotice)
        PostMessageA(notice, WM_COMMAND, IDCANCEL, 0);
    else
        PostMessageA(notice, WM_TIMER, 1, 0);
}

TEST_F(CrawlRunTest, PowerOffNoticeCountsDownAndItsButtonCancels)
{
    const PowerOffCountdown saved = g_powerOffCountdown;
    auto shown = [](int seconds) {
        return "探索が終わりました。\n" + std::to_string(seconds) + " 秒後にコンピュータの電源を切ります。";
    };
    struct Case {
        bool cancel;
        int seconds;
        std::vector<std::string> texts, calls;
        std::string lastLine;
    } cases[] = {
        {false, 3, {shown(3), shown(2), shown(1)},
         {"OpenProcessToken " + std::to_string(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY),
          "LookupPrivilegeValue - SeShutdownPrivilege",
          "AdjustTokenPrivileges 0 1 19 " + std::to_string(SE_PRIVILEGE_ENABLED) + " 16",
          "ExitWindows " + std::to_string(EWX_SHUTDOWN) + " 0"},
         "line before"},
        {true, 30, {shown(30)}, {}, "* 電源OFFを取り消しました"},
    };
    for (const Case &c : cases) {
        // Its own timer would take a minute a second: only the looks count.
        g_powerOffCountdown = {c.seconds, 60000};
        g_cancelNotice = c.cancel;
        g_noticeTexts.clear();
        g_calls.clear();
        g_callsWhileNoticeShows = 0;
        AppendLog(window, "line before");
        UINT_PTR look = SetTimer(NULL, 0, 1, LookAtNotice);
        ShowPowerOffNotice(window);
        KillTimer(NULL, look);
        EXPECT_EQ(g_noticeTexts, c.texts) << "cancel " << c.cancel;
        EXPECT_EQ(g_callsWhileNoticeShows, 0u) << "nothing is switched off while the notice shows";
        EXPECT_EQ(g_calls, c.calls) << "cancel " << c.cancel;
        EXPECT_EQ(LogLines(window).back(), c.lastLine);
        EXPECT_EQ(FindWindowA("#32770", "電源OFF - Parvel 1st MIX"), (HWND)NULL) << "the notice has gone";
    }
    g_powerOffCountdown = saved;
}

TEST(DateFolder, FormatsYearMonthDay)
{
    SYSTEMTIME day = {};
    day.wYear = 1999;
    day.wMonth = 7;
    day.wDay = 4;
    char text[32];
    FormatDateFolder(text, &day);
    EXPECT_STREQ(text, "1999-07-04\\");
}

TEST(ProgressTitle, IsFilledAndCutToFit)
{
    HWND window = CreateTestWindow();
    g_mainWindow = window;
    ShowProgressTitle("Connecting...");
    EXPECT_EQ(ControlText(window, 0), "Connecting... / Parvel 1st MIX");
    std::string longText;
    for (int i = 0; i < 400; ++i)
        longText += "表";
    ShowProgressTitle(longText.c_str());
    std::string title = ControlText(window, 0);
    EXPECT_LE(title.size(), 319u);
    EXPECT_GE(title.size(), 300u);
    const std::string tail = " / Parvel 1st MIX";
    ASSERT_GE(title.size(), tail.size());
    EXPECT_EQ(title.substr(title.size() - tail.size()), tail);
    EXPECT_EQ((title.size() - tail.size()) % 2, 0u) << "a double-byte character was cut";
    DestroyWindow(window);
}

TEST(Surface, SearchButtonCaptionByKind)
{
    HWND window = CreateTestWindow();
    struct Case { int kind; const char *caption; } cases[] = {
        {BUTTON_STOP, "中止"}, {BUTTON_SKIP, "ｽｷｯﾌﾟ"}, {BUTTON_SEARCH, "探索"}, {0, "探索"}, {7, "探索"}};
    for (auto &c : cases) {
        SetSearchButtonText(window, c.kind);
        EXPECT_EQ(ControlText(window, IDC_SEARCH), c.caption) << "kind " << c.kind;
    }
    DestroyWindow(window);
}

TEST(Surface, RunControlsDisableOnlyTheOptions)
{
    HWND window = CreateTestWindow();
    SetRunControls(window, 0);
    EXPECT_EQ(ControlText(window, IDC_SEARCH), "ｽｷｯﾌﾟ");
    for (int id : {IDC_OPTIONS, IDC_RELOAD, IDC_DEPTH0, IDC_DEPTH1, IDC_DEPTH2, IDC_DEPTHINF, IDC_IGNORE})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, id))) << "control " << id;
    for (int id : {IDC_ADDRESS, IDC_SEARCH, IDC_LOG, IDC_HANGUP, IDC_POWEROFF, IDC_RETRY})
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, id))) << "control " << id;
    SetRunControls(window, 1);
    EXPECT_EQ(ControlText(window, IDC_SEARCH), "探索");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_OPTIONS)));
    DestroyWindow(window);
}

TEST(Surface, VisitedListIsAWholeLineSearchWithoutCase)
{
    HWND window = CreateTestWindow();
    AppendLog(window, "C:\\save\\host\\a.html");
    AppendLog(window, "C:\\save\\host\\f.woff2");
    AppendLog(window, "* URL-> host");
    EXPECT_FALSE(IsInVisitedList(window, "c:\\save\\host\\a.htm")); // another file
    EXPECT_FALSE(IsInVisitedList(window, "C:\\save\\host\\f.woff"));
    EXPECT_TRUE(IsInVisitedList(window, "C:\\SAVE\\HOST\\A.HTML"));
    EXPECT_FALSE(IsInVisitedList(window, "C:\\save\\host\\b"));
    EXPECT_FALSE(IsInVisitedList(window, "host"));
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_LOG, LB_GETTOPINDEX, 0, 0) >= 0, true);
    DestroyWindow(window);
}
