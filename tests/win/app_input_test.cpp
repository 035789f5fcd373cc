// tests/win/app_input_test.cpp — the start argument, dropped files, reservations.
// Real drop handles are built in memory; a drop during a run makes a reservation; the
// crawl start is recorded instead of run.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/win/test_files.h"
#include "tests/win/window_fixture.h"

namespace {

struct CrawlStart {
    std::string saveFolder, startList, ignoreText;
    LONG stateBefore;
};
std::vector<CrawlStart> g_starts;

void RecordCrawlStart(HWND, const char *saveFolder, const char *startList, const char *ignoreText)
{
    g_starts.push_back({saveFolder, startList, ignoreText, g_crawlState});
}

// A drop handle as the shell makes it: DROPFILES followed by the names,
// each terminated, and one more NUL; in movable global memory.
HDROP MakeDrop(const std::vector<std::string> &names)
{
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string &name : names)
        size += name.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    DROPFILES *header = (DROPFILES *)GlobalLock(memory);
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char *p = (char *)header + sizeof(DROPFILES);
    for (const std::string &name : names) {
        memcpy(p, name.c_str(), name.size() + 1);
        p += name.size() + 1;
    }
    GlobalUnlock(memory);
    return (HDROP)memory;
}

class AddressInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSettings();
        folder = MakeTempFolder("pvi");
        WriteSettingText(REG_FOLDER, "C:\\save");
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        SetDlgItemTextA(window, IDC_IGNORE, "*.GIF");
        g_starts.clear();
        g_startCrawl = RecordCrawlStart;
        g_crawlState = CRAWL_IDLE;
    }
    void TearDown() override
    {
        g_startCrawl = StartCrawlOfEngine;
        g_crawlState = CRAWL_IDLE;
        DestroyWindow(window);
        ClearSettings();
    }
    std::string File(const std::string &name, const std::string &bytes)
    {
        std::string path = folder + "\\" + name;
        EXPECT_TRUE(WriteBytes(path, bytes)) << path;
        return path;
    }
    static void (*const StartCrawlOfEngine)(HWND, const char *, const char *, const char *);
    std::string folder;
    HWND window = NULL;
};

void (*const AddressInput::StartCrawlOfEngine)(HWND, const char *, const char *, const char *) = g_startCrawl;

const char SHORTCUT_A[] = "[InternetShortcut]\r\nURL=http://a.example/top/\r\n";
const char SHORTCUT_B[] = "[DEFAULT]\r\nBASEURL=x\r\n[InternetShortcut]\r\nURL=ftp://b.example/pub/\r\n";
const char SHORTCUT_NO_URL[] = "[InternetShortcut]\r\nIconIndex=0\r\n";

TEST_F(AddressInput, StartArgumentNamesOneFileAndStartsARunWithItsList)
{
    CreateDirectoryA((folder + "\\with space").c_str(), NULL);
    std::string listFile = File("with space\\start list.txt", "http://h.example/a/\r\nhttp://h.example/b/\r\n");
    std::string lowerUrl = File("site.url", SHORTCUT_A);
    std::string mixedUrl = File("other.Url", SHORTCUT_B);
    std::string noKey = File("broken.URL", SHORTCUT_NO_URL);
    std::string unquoted = File("plain.txt", "http://p.example/");
    std::string nul = File("zero byte.txt", std::string("http://n.example/\0tail", 22));
    std::string utf16 = File("utf16.txt", std::string("\xFF\xFEh\0:\0/\0\xE5\x65/\0", 12));
    struct Case {
        std::string argument, startList;
    } cases[] = {
        {"\"" + listFile + "\"", "http://h.example/a/\r\nhttp://h.example/b/\r\n"},
        {"\"" + listFile, "http://h.example/a/\r\nhttp://h.example/b/\r\n"},
        {"\"" + lowerUrl + "\" ignored", "http://a.example/top/"},
        {mixedUrl, "ftp://b.example/pub/"},
        {noKey, "Error"},
        {unquoted, "http://p.example/"},
        {nul, "http://n.example/"},
        {utf16, "h:/\x93\xFA/"}, // UTF-16 text in Shift_JIS
    };
    for (const Case &c : cases) {
        g_starts.clear();
        g_crawlState = CRAWL_IDLE;
        TakeStartArgument(window, c.argument.c_str());
        ASSERT_EQ(g_starts.size(), 1u) << c.argument;
        EXPECT_EQ(g_starts[0].startList, c.startList) << c.argument;
        EXPECT_EQ(g_starts[0].saveFolder, "C:\\save") << c.argument;
        EXPECT_EQ(g_starts[0].ignoreText, "*.GIF") << c.argument;
        EXPECT_EQ(g_starts[0].stateBefore, CRAWL_RUNNING) << "the first pass must see the run going";
    }
}

TEST_F(AddressInput, EmptyArgumentOrEmptyQuotedPathStartsNothing)
{
    for (const char *argument : {"", "\"\"", "\""}) {
        TakeStartArgument(window, argument);
        EXPECT_TRUE(g_starts.empty()) << "[" << argument << "]";
        EXPECT_EQ(g_crawlState, CRAWL_IDLE) << "[" << argument << "]";
    }
}

// Nothing to fetch: no run starts, earlier lines stay and one line says why.
TEST_F(AddressInput, NothingToFetchStartsNoRunAndOneLineSaysWhy)
{
    std::string missingList = folder + "\\missing.txt", missingShortcut = folder + "\\missing.url";
    std::string words = File("words.txt", "*P\r\n *D\r\n"), picture = File("p.gif", "GIF89a");
    const std::string unreadable = "* ファイルを読めないので探索しません : ";
    const std::string noAddress = "* アドレスがないので探索しません";
    struct Case {
        std::vector<std::string> dropped;
        std::string line;
    } cases[] = {
        {{missingList}, unreadable + missingList},
        {{missingShortcut}, unreadable + missingShortcut},
        {{words}, noAddress},
        {{picture, words}, noAddress},
    };
    for (const Case &c : cases) {
        SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
        AppendLog(window, "earlier line");
        TakeDroppedFiles(window, MakeDrop(c.dropped));
        EXPECT_TRUE(g_starts.empty()) << c.line;
        EXPECT_EQ(g_crawlState, CRAWL_IDLE) << c.line;
        EXPECT_EQ(LogLines(window), (std::vector<std::string>{"earlier line", c.line}));
        EXPECT_EQ(IsDlgButtonChecked(window, IDC_POWEROFF), (UINT)BST_UNCHECKED) << c.line;
    }
}

TEST_F(AddressInput, RelativeShortcutPathIsReadFromTheCurrentFolder)
{
    File("here.url", SHORTCUT_A);
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(folder.c_str());
    TakeStartArgument(window, "here.url");
    SetCurrentDirectoryA(previous);
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0].startList, "http://a.example/top/");
}

TEST_F(AddressInput, StartListFileIsCutAfter16383Bytes)
{
    std::string big(20000, 'x');
    for (size_t i = 0; i < big.size(); i += 100)
        big[i] = ' ';
    std::string path = File("big.txt", big);
    TakeStartArgument(window, path.c_str());
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0].startList.size(), 16383u);
    EXPECT_EQ(g_starts[0].startList, big.substr(0, 16383));
}

TEST_F(AddressInput, OneDroppedFileIsTakenLikeTheStartArgument)
{
    std::string listFile = File("two lines.txt", "http://h.example/a/\r\nhttp://h.example/b/");
    std::string shortcut = File("one.url", SHORTCUT_A);
    struct Case {
        std::string file, startList;
    } cases[] = {{listFile, "http://h.example/a/\r\nhttp://h.example/b/"}, {shortcut, "http://a.example/top/"}};
    for (const Case &c : cases) {
        g_starts.clear();
        g_crawlState = CRAWL_IDLE;
        HDROP drop = MakeDrop({c.file});
        TakeDroppedFiles(window, drop);
        ASSERT_EQ(g_starts.size(), 1u) << c.file;
        EXPECT_EQ(g_starts[0].startList, c.startList) << c.file;
        EXPECT_EQ(GlobalSize(drop), 0u) << "the drop handle is released";
    }
}

TEST_F(AddressInput, SeveralDroppedFilesGiveTheAddressesOfTheirShortcuts)
{
    std::string a = File("a.url", SHORTCUT_A), b = File("b.URL", SHORTCUT_B);
    std::string noKey = File("c.url", SHORTCUT_NO_URL), picture = File("p.gif", "GIF89a");
    std::string text = File("t.txt", "http://t.example/");
    struct Case {
        std::vector<std::string> files;
        std::string startList;
    } cases[] = {
        {{a, picture}, "http://a.example/top/ "},
        {{a, noKey}, "http://a.example/top/ * "},
        {{picture, b, text, a}, "ftp://b.example/pub/ http://a.example/top/ "},
        {{a, folder + "\\gone.url"}, "http://a.example/top/ * "},
    };
    for (const Case &c : cases) {
        g_starts.clear();
        g_crawlState = CRAWL_IDLE;
        HDROP drop = MakeDrop(c.files);
        TakeDroppedFiles(window, drop);
        ASSERT_EQ(g_starts.size(), 1u) << c.startList;
        EXPECT_EQ(g_starts[0].startList, c.startList);
        EXPECT_EQ(g_starts[0].stateBefore, CRAWL_RUNNING);
        EXPECT_EQ(GlobalSize(drop), 0u) << "the drop handle is released";
    }
}

TEST_F(AddressInput, DropDuringARunBecomesTheReservationOfTheNextPass)
{
    std::string a = File("a.url", SHORTCUT_A), b = File("b.url", SHORTCUT_B);
    std::string listFile = File("list.txt", "http://x.example/\r\n  http://y.example/ |2\r\n");
    for (LONG state : {CRAWL_RUNNING, CRAWL_SKIP_REQUESTED, CRAWL_STOP_REQUESTED}) {
        g_crawlState = state;
        SetDlgItemTextA(window, IDC_ADDRESS, "");
        TakeDroppedFiles(window, MakeDrop({a, b}));
        EXPECT_EQ(ControlText(window, IDC_ADDRESS), "http://a.example/top/ ftp://b.example/pub/");
        // Typed text stays; a single file's list is joined into one line.
        SetDlgItemTextA(window, IDC_ADDRESS, "typed.example/");
        TakeDroppedFiles(window, MakeDrop({listFile}));
        EXPECT_EQ(ControlText(window, IDC_ADDRESS), "typed.example/ http://x.example/ http://y.example/ |2");
        EXPECT_TRUE(g_starts.empty()) << "no second run while one is going";
        EXPECT_EQ(g_crawlState, state);
    }
}

TEST_F(AddressInput, ReservationThatWouldOutgrowTheBoxLeavesItAsItWas)
{
    g_crawlState = CRAWL_RUNNING;
    std::string typed(200, 'a');
    SetDlgItemTextA(window, IDC_ADDRESS, typed.c_str());
    std::string listFile = File("long.txt", "http://" + std::string(60, 'b') + "/");
    TakeStartArgument(window, listFile.c_str());
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), typed);
    // Exactly 259 characters fit.
    std::string fits = File("fits.txt", std::string(58, 'c'));
    TakeStartArgument(window, fits.c_str());
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), typed + " " + std::string(58, 'c'));
    EXPECT_EQ(ControlText(window, IDC_ADDRESS).size(), 259u);
    EXPECT_TRUE(g_starts.empty());
}

TEST_F(AddressInput, DroppedNameTooLongForTheBufferIsPassedOver)
{
    std::string longName = "C:\\" + std::string(300, 'n') + ".url";
    std::string a = File("a.url", SHORTCUT_A);
    TakeDroppedFiles(window, MakeDrop({longName, a}));
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0].startList, "http://a.example/top/ ");
    g_starts.clear();
    g_crawlState = CRAWL_IDLE;
    TakeDroppedFiles(window, MakeDrop({longName}));
    EXPECT_TRUE(g_starts.empty()) << "a single name cut short is no file to read";
}

// The real window procedure: WM_DROPFILES reaches TakeDroppedFiles.
TEST_F(AddressInput, MainWindowTakesDropsThroughItsMessage)
{
    g_startArgument[0] = '\0';
    HWND main = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainWindowProc, 0);
    ASSERT_NE(main, (HWND)NULL);
    EXPECT_TRUE(g_starts.empty()) << "an empty start argument starts nothing";
    std::string a = File("a.url", SHORTCUT_A), b = File("b.url", SHORTCUT_B);
    SendMessageA(main, WM_DROPFILES, (WPARAM)MakeDrop({a, b}), 0);
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0].startList, "http://a.example/top/ ftp://b.example/pub/ ");
    SendMessageA(main, WM_CLOSE, 0, 0);
    DestroyWindow(main);
}

TEST_F(AddressInput, MainWindowStartsTheStartArgumentWhenItOpens)
{
    std::string shortcut = File("start.url", SHORTCUT_B);
    lstrcpynA(g_startArgument, ("\"" + shortcut + "\"").c_str(), TEXT_SIZE);
    HWND main = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainWindowProc, 0);
    g_startArgument[0] = '\0';
    ASSERT_NE(main, (HWND)NULL);
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0].startList, "ftp://b.example/pub/");
    EXPECT_EQ(g_crawlState, CRAWL_RUNNING);
    SendMessageA(main, WM_CLOSE, 0, 0);
    DestroyWindow(main);
}

} // namespace
