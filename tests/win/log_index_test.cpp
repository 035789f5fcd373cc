// tests/win/log_index_test.cpp — the access log's index answers as the list box does.
// Japanese and full-width names, Shift_JIS second bytes, and lines cleared, deleted and put between;
// texts left by workers.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/win/text_recorder.h"
#include "tests/win/window_fixture.h"

// Lines as the log holds them: case, prefixes of one another, full-width
// letters and digits, kana of both kinds and widths, kanji, Shift_JIS
// characters whose second byte is '\' (ソ 表) or a letter (ア 83 41, ヂ 83 61),
// a first byte followed by a byte that cannot be a second one.
static const char *const LINES[] = {
    "C:\\save\\host\\a.html", "C:\\save\\host\\f.woff2", "C:\\save\\host\\Mixed.GIF",
    "C:\\save\\host\\ＡＢＣ.html", "C:\\save\\host\\１２３.html", "C:\\save\\host\\ひらがな.html",
    "C:\\save\\host\\カタカナ.html", "C:\\save\\host\\漢字\\表.html", "C:\\save\\host\\ﾊﾝｶｸ.html",
    "C:\\save\\ソフト\\ア.html", "* URL-> http://host/", "C:\\save\\host\\cut\x83" "/x.html",
    "C:\\SAVE\\HOST\\A.HTML",
};

static const char *const QUERIES[] = {
    "c:\\SAVE\\host\\A.Html", "C:\\save\\host\\a.htm", "C:\\save\\host\\f.woff",
    "C:\\save\\host\\mixed.gif", "C:\\save\\host\\ａｂｃ.html", "C:\\save\\host\\ABC.html",
    "C:\\save\\host\\123.html", "C:\\save\\host\\ヒラガナ.html", "C:\\save\\host\\かたかな.html",
    "C:\\save\\host\\ハンカク.html", "C:\\save\\host\\ﾊﾝｶｸ.HTML", "C:\\save\\host\\漢字\\表.HTML",
    "C:\\save\\host\\漢字/表.html", "C:\\save\\ソフト\\ヂ.html", "C:\\save\\ソフト\\ｱ.html",
    "C:\\save\\ソフト\\ア.HTML", "* url-> HTTP://HOST/", "C:\\save\\host\\CUT\x83" "/X.html",
    "C:\\save\\host\\cut/x.html", "",
};

class LogIndexTest : public ::testing::Test {
protected:
    HWND window = NULL;
    void SetUp() override { window = CreateTestWindow(); }
    void TearDown() override { DestroyWindow(window); }

    void Add(const char *line) { SendDlgItemMessageA(window, IDC_LOG, LB_ADDSTRING, 0, (LPARAM)line); }

    // Every line and every query: the index's answer is the list box's own.
    void ExpectSameAnswers(const char *stage)
    {
        std::vector<const char *> asked(std::begin(LINES), std::end(LINES));
        asked.insert(asked.end(), std::begin(QUERIES), std::end(QUERIES));
        for (const char *text : asked) {
            LRESULT expected = SendDlgItemMessageA(window, IDC_LOG, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
            LRESULT actual = SendDlgItemMessageA(window, IDC_LOG, LOG_FINDLINE, 0, (LPARAM)text);
            EXPECT_EQ(expected, actual) << stage << ": " << ::testing::PrintToString(std::string(text));
        }
    }
};

TEST_F(LogIndexTest, AnswersAsTheListBoxThroughEveryChangeToTheLines)
{
    IndexAccessLog(window); // indexed once already: left as it is
    SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
    for (const char *line : LINES)
        Add(line);
    ExpectSameAnswers("filled");
    // Known answers, so that a list box and an index that both fail cannot pass.
    EXPECT_TRUE(IsInVisitedList(window, "c:\\save\\HOST\\a.html"));
    EXPECT_FALSE(IsInVisitedList(window, "C:\\save\\ソフト\\ヂ.html"));

    SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
    Add(LINES[1]);
    ExpectSameAnswers("cleared, one line added");

    for (const char *line : LINES)
        Add(line);
    SendDlgItemMessageA(window, IDC_LOG, LB_INSERTSTRING, 1, (LPARAM)"C:\\save\\host\\ａｂｃ.HTML");
    SendDlgItemMessageA(window, IDC_LOG, LB_DELETESTRING, 0, 0);
    SendDlgItemMessageA(window, IDC_LOG, LB_DELETESTRING, 2, 0);
    ExpectSameAnswers("lines deleted and put between");
}

static DWORD WINAPI LeaveLinesFromAWorker(LPVOID window)
{
    AppendLog((HWND)window, "C:\\save\\host\\left.html");
    LeaveWindowText((HWND)window, 0, "title left");
    AppendLog((HWND)window, "* second line left");
    // Found while not shown yet: the worker's thread asks the window's.
    return IsInVisitedList((HWND)window, "c:\\SAVE\\host\\LEFT.html") && !IsInVisitedList((HWND)window, "left.htm");
}

// A worker's lines wait for the window thread, yet count as visited at once
// and are shown in the order they were left.
TEST_F(LogIndexTest, LinesLeftByAWorkerAreFoundBeforeTheyAreShown)
{
    Add("first line");
    HANDLE worker = CreateThread(NULL, 0, LeaveLinesFromAWorker, window, 0, NULL);
    // Only sent messages are taken in meanwhile: the posted request to show
    // the lines waits, so the look-ups find them among the lines left.
    MSG message;
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, 10000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
        PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    DWORD found = 0;
    GetExitCodeThread(worker, &found);
    CloseHandle(worker);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(LogLines(window), std::vector<std::string>{"first line"}) << "nothing shown before the window thread's turn";
    WaitForLeftTexts(window);
    EXPECT_EQ(LogLines(window), (std::vector<std::string>{"first line", "C:\\save\\host\\left.html", "* second line left"}));
    EXPECT_EQ(ControlText(window, 0), "title left");
}

// More titles and status texts than the lines' buffer holds, three log
// lines among them.
static DWORD WINAPI LeaveManyTextsFromAWorker(LPVOID window)
{
    std::string padding(100, '.');
    for (int n = 0; n < 2000; ++n) {
        LeaveWindowText((HWND)window, 0, ("title " + std::to_string(n) + padding).c_str());
        LeaveWindowText((HWND)window, IDC_STATUS, ("status " + std::to_string(n) + padding).c_str());
        if (n % 1000 == 0 || n == 1999)
            AppendLog((HWND)window, ("line " + std::to_string(n)).c_str());
    }
    return 0;
}

// A worker does not wait for the window thread to show titles and status
// texts that newer ones replace: it ends while the window thread takes no
// message at all. The window then shows the newest of each, and every line.
TEST_F(LogIndexTest, SupersededTextsDoNotHoldUpAWorker)
{
    RecordTexts(window);
    HANDLE worker = CreateThread(NULL, 0, LeaveManyTextsFromAWorker, window, 0, NULL);
    ASSERT_NE(worker, (HANDLE)NULL);
    DWORD waited = WaitForSingleObject(worker, 10000);
    // A worker stuck on the window is let go before the test ends.
    PumpUntil([&] { return WaitForSingleObject(worker, 0) == WAIT_OBJECT_0; }, 60000);
    CloseHandle(worker);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the worker waited for the window thread";
    WaitForLeftTexts(window);
    std::string padding(100, '.');
    EXPECT_EQ(g_titles, std::vector<std::string>{"title 1999" + padding}) << JoinTexts(g_titles).substr(0, 300);
    EXPECT_EQ(g_statusTexts, std::vector<std::string>{"status 1999" + padding});
    EXPECT_EQ(LogLines(window), (std::vector<std::string>{"line 0", "line 1000", "line 1999"}));
}

static DWORD WINAPI ReadRetryBox(LPVOID window) { return IsBoxChecked((HWND)window, IDC_RETRY); }

// The retry box read from a worker while the window thread takes no
// message: its mirror follows a click and CheckDlgButton.
TEST_F(LogIndexTest, MirroredBoxIsReadWithoutTheWindowThread)
{
    ASSERT_TRUE(MirrorCheckBox(window, IDC_RETRY));
    const struct { const char *change; UINT expected; } cases[] = {{"clicked", BST_CHECKED}, {"cleared", BST_UNCHECKED}};
    for (const auto &c : cases) {
        if (c.expected == BST_CHECKED)
            SendDlgItemMessageA(window, IDC_RETRY, BM_CLICK, 0, 0);
        else
            CheckDlgButton(window, IDC_RETRY, BST_UNCHECKED);
        HANDLE reader = CreateThread(NULL, 0, ReadRetryBox, window, 0, NULL);
        ASSERT_EQ(WaitForSingleObject(reader, 10000), WAIT_OBJECT_0) << c.change << ": the reader waited for the window";
        DWORD checked = 99;
        GetExitCodeThread(reader, &checked);
        CloseHandle(reader);
        EXPECT_EQ(checked, c.expected) << c.change;
    }
}
