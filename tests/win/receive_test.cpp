// tests/win/receive_test.cpp — the receive loop on disk.
// New, continued and replacing files, the overlap check, file dates and the 1980 rule, the
// size check, the download total, files that cannot be written, the texts shown and how often.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "engine/engine_internal.h"
#include "net/net.h"
#include "settings/settings.h"
#include "tests/win/fake_internet.h"
#include "tests/win/text_recorder.h"
#include "tests/win/window_fixture.h"
#include "tests/win/test_files.h"

// Byte i of a server file: i % 251, so that every offset differs from its neighbours.
static std::string Pattern(size_t size, size_t from = 0)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char)((from + i) % 251);
    return bytes;
}

static SYSTEMTIME LastWriteTime(const std::string &path)
{
    SYSTEMTIME date = {};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME created, accessed, written;
    if (GetFileTime(file, &created, &accessed, &written))
        FileTimeToSystemTime(&written, &date);
    CloseHandle(file);
    return date;
}

static int FilesIn(const std::string &folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    int count = 0;
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
        count += !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileA(find, &data));
    FindClose(find);
    return count;
}

static const SYSTEMTIME SERVER_DATE = {2003, 5, 0, 17, 8, 9, 10, 0};

class ReceiveTest : public ::testing::Test {
protected:
    HWND window = NULL;
    std::string folder, path, transfers;
    FakeResponse response;
    HINTERNET connection = NULL;

    void SetUp() override
    {
        ClearSettings();
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        g_mainWindow = window;
        RecordTexts(window);
        InstallFakeInternet();
        g_fakeAnswer = [this](const FakeRequestRecord &) { return response; };
        connection = g_internet.Connect(NULL, "host", 0, "", "", INTERNET_SERVICE_HTTP, 0, 0);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + "parvel-receive\\";
        CreateDirectoryA(folder.c_str(), NULL);
        lstrcpynA(g_saveFolder, (std::string(temp) + "parvel-receive").c_str(), TEXT_SIZE);
        transfers = folder + TRANSFER_FOLDER_NAME "\\";
        EmptyFolder();
        path = folder + "a.bin";
        g_crawlState = CRAWL_RUNNING;
        g_resumePossible = 1;
    }
    void TearDown() override
    {
        EmptyFolder();
        RemoveDirectoryA(transfers.c_str());
        RemoveDirectoryA(folder.c_str());
        RestoreInternet();
        g_crawlState = CRAWL_IDLE;
        DestroyWindow(window);
        ClearSettings();
    }
    void EmptyFolder()
    {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return;
        do
            DeleteFileA((folder + data.cFileName).c_str());
        while (FindNextFileA(find, &data));
        FindClose(find);
    }
    // Serves the body and receives it into the file.
    int Receive(const std::string &body, unsigned long long expected, int mode, const char *filePart = "a.bin",
                const SYSTEMTIME &date = SERVER_DATE)
    {
        response = BodyResponse(body);
        HINTERNET request = OpenRequest(connection, "/a.bin", INTERNET_SERVICE_HTTP, 0);
        EXPECT_NE(request, (HINTERNET)NULL);
        int result = ReceiveToFile(request, filePart, path.c_str(), expected, &date, mode);
        CloseInternetHandle(&request);
        return result;
    }
};

TEST_F(ReceiveTest, SizeCheckAndStoredBytes)
{
    struct Case { size_t size; DWORD expected; int result; } cases[] = {
        {1000, 1000, RECEIVE_COMPLETE}, {999, 1000, RECEIVE_SHORT}, {1001, 1000, RECEIVE_SHORT},
        {3000, 0, RECEIVE_COMPLETE},    {0, 0, RECEIVE_COMPLETE},   {0, 1000, RECEIVE_SHORT},
        {70000, 70000, RECEIVE_COMPLETE},
    };
    for (const Case &c : cases) {
        WriteBytes(path, "an older file that the new one replaces");
        std::string body = Pattern(c.size);
        EXPECT_EQ(Receive(body, c.expected, RECEIVE_NEW), c.result) << c.size << " bytes, " << c.expected << " announced";
        EXPECT_EQ(ReadBytes(path), body) << c.size << " bytes";
    }
}

TEST_F(ReceiveTest, FileGetsTheServerDateOrKeepsItsOwn)
{
    Receive(Pattern(500), 500, RECEIVE_NEW);
    SYSTEMTIME stored = LastWriteTime(path);
    EXPECT_EQ(stored.wYear, 2003);
    EXPECT_EQ(stored.wMonth, 5);
    EXPECT_EQ(stored.wDay, 17);
    EXPECT_EQ(stored.wHour, 8);
    EXPECT_EQ(stored.wMinute, 9);
    EXPECT_EQ(stored.wSecond, 10);
    SYSTEMTIME none = {};
    Receive(Pattern(500), 500, RECEIVE_NEW, "a.bin", none);
    SYSTEMTIME now;
    GetSystemTime(&now);
    EXPECT_EQ(LastWriteTime(path).wYear, now.wYear) << "no server date: the file system's own time";
}

TEST_F(ReceiveTest, StopOnAServerThatCannotContinueGivesTheYear1980)
{
    struct Case { int resume; WORD year; } cases[] = {{0, 1980}, {1, 2003}};
    for (const Case &c : cases) {
        g_crawlState = CRAWL_RUNNING;
        g_resumePossible = c.resume;
        size_t readsBeforeSkip = 3;
        g_fakeOnRead = [&](size_t soFar) {
            if (soFar >= readsBeforeSkip * 1000)
                g_crawlState = CRAWL_SKIP_REQUESTED;
        };
        WriteSettingNumber(REG_DLSIZE, 0);
        EXPECT_EQ(Receive(Pattern(10000), 10000, RECEIVE_NEW), RECEIVE_SHORT);
        g_fakeOnRead = nullptr;
        // The read during which the skip came is counted but not stored.
        EXPECT_EQ(ReadBytes(path), Pattern(2000)) << "resume " << c.resume;
        EXPECT_EQ(ReadSettingNumber(REG_DLSIZE, 0), 3000u);
        SYSTEMTIME stored = LastWriteTime(path);
        EXPECT_EQ(stored.wYear, c.year) << "resume " << c.resume;
        EXPECT_EQ(stored.wMonth, 5);
        EXPECT_EQ(stored.wDay, 17);
        EXPECT_EQ(stored.wHour, 8);
        EXPECT_EQ(stored.wSecond, 10);
        EXPECT_EQ(g_statusTexts.back(), "ダウンロードが終わりました") << "string 13 also after a skip";
    }
}

TEST_F(ReceiveTest, ReadFailureEndsTheLoopAndKeepsWhatArrived)
{
    response = BodyResponse(Pattern(5000));
    response.failAt = 2000;
    HINTERNET request = OpenRequest(connection, "/a.bin", INTERNET_SERVICE_HTTP, 0);
    EXPECT_EQ(ReceiveToFile(request, "a.bin", path.c_str(), 5000, &SERVER_DATE, RECEIVE_NEW), RECEIVE_SHORT);
    CloseInternetHandle(&request);
    EXPECT_EQ(ReadBytes(path), Pattern(2000));
    EXPECT_EQ(LastWriteTime(path).wYear, 2003) << "a time-out leaves the crawl running: the server's date";
}

TEST_F(ReceiveTest, DownloadTotalAddsEveryTransfer)
{
    WriteSettingNumber(REG_DLSIZE, 4294967000UL);
    Receive(Pattern(1000), 1000, RECEIVE_NEW);
    Receive(Pattern(300), 0, RECEIVE_NEW);
    EXPECT_EQ(GetDownloadTotal(), 4294967000ULL + 1300);
}

// A stored file past 4 GiB (sparse: zeros, then the server's last bytes) is
// continued from 2500 bytes before its end.
TEST_F(ReceiveTest, FilePast4GiBIsContinuedAtItsEnd)
{
    const unsigned long long storedSize = 4294967296ULL + 10000;
    std::string tail = Pattern(12000);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)storedSize - 10000;
    DWORD written;
    ASSERT_TRUE(SetFilePointerEx(file, at, NULL, FILE_BEGIN));
    WriteFile(file, tail.data(), 10000, &written, NULL);
    CloseHandle(file);
    EXPECT_EQ(Receive(tail.substr(7500), 4500, RECEIVE_CONTINUE), RECEIVE_COMPLETE);
    file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    std::string end(12000, '\0');
    SetFilePointerEx(file, at, NULL, FILE_BEGIN);
    ReadFile(file, &end[0], 12000, &written, NULL);
    CloseHandle(file);
    EXPECT_EQ((unsigned long long)size.QuadPart, storedSize + 2000);
    EXPECT_EQ(end, tail);
}

// The drive takes the first 1500 bytes, then no more (full, or past its largest file).
static DWORD g_driveRoom;
static BOOL WINAPI FillingDrive(HANDLE file, LPCVOID block, DWORD length, LPDWORD written, LPOVERLAPPED)
{
    DWORD taken = length < g_driveRoom ? length : g_driveRoom;
    g_driveRoom -= taken;
    return WriteFile(file, block, taken, written, NULL) && taken == length;
}

TEST_F(ReceiveTest, WriteTheDriveRefusesIsReportedNotTakenForAFile)
{
    struct Case { int mode; const char *stored; std::string left; } cases[] = {
        {RECEIVE_NEW, "", Pattern(1500)},
        {RECEIVE_REPLACE, "the stored file", "the stored file"},
    };
    g_driveCalls.WriteFile = FillingDrive;
    for (const Case &c : cases) {
        SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
        WriteBytes(path, c.stored);
        g_driveRoom = 1500;
        EXPECT_EQ(Receive(Pattern(5000), 0, c.mode), RECEIVE_FILE_FAILED) << "mode " << c.mode;
        std::vector<std::string> log = {"* ファイルに書き込めません : " + path};
        EXPECT_EQ(LogLines(window), log) << "mode " << c.mode;
        EXPECT_EQ(ReadBytes(path), c.left) << "mode " << c.mode;
        EXPECT_EQ(FilesIn(transfers), 0) << "mode " << c.mode;
        EXPECT_NE(LastWriteTime(path).wYear, 2003) << "mode " << c.mode << ": no server date";
    }
    g_driveCalls.WriteFile = WriteFile;
}

TEST_F(ReceiveTest, ContinuedFileIsWrittenFromItsOverlap)
{
    std::string server = Pattern(12000);
    WriteBytes(path, server.substr(0, 10000));
    WriteSettingNumber(REG_DLSIZE, 0);
    EXPECT_EQ(Receive(server.substr(7500), 4500, RECEIVE_CONTINUE), RECEIVE_COMPLETE);
    EXPECT_EQ(ReadBytes(path), server);
    EXPECT_EQ(ReadSettingNumber(REG_DLSIZE, 0), 4500u) << "the 2500 bytes of overlap count";
    EXPECT_EQ(LastWriteTime(path).wYear, 2003);
}

TEST_F(ReceiveTest, ContinuedFileWhoseOverlapDiffersIsLeftAsItWas)
{
    std::string server = Pattern(12000);
    struct Case { size_t differsAt; } cases[] = {{7500}, {9499}, {9999}};
    for (const Case &c : cases) {
        std::string stored = server.substr(0, 10000);
        stored[c.differsAt] ^= 0x40;
        WriteBytes(path, stored);
        EXPECT_EQ(Receive(server.substr(7500), 4500, RECEIVE_CONTINUE), RECEIVE_OVERLAP_DIFFERS)
            << "differs at " << c.differsAt;
        EXPECT_EQ(ReadBytes(path), stored) << "differs at " << c.differsAt;
    }
    // A stored file too short to hold the overlap cannot be continued.
    WriteBytes(path, server.substr(0, 100));
    EXPECT_EQ(Receive(server.substr(7500), 4500, RECEIVE_CONTINUE), RECEIVE_OVERLAP_DIFFERS);
    EXPECT_EQ(ReadBytes(path), server.substr(0, 100));
}

TEST_F(ReceiveTest, ShortContinuationKeepsTheStoredBytes)
{
    std::string server = Pattern(12000);
    WriteBytes(path, server.substr(0, 10000));
    EXPECT_EQ(Receive(server.substr(7500, 1500), 4500, RECEIVE_CONTINUE), RECEIVE_SHORT);
    EXPECT_EQ(ReadBytes(path), server.substr(0, 10000)) << "only bytes equal to the stored ones were written";
    EXPECT_EQ(Receive(server.substr(7500, 3500), 4500, RECEIVE_CONTINUE), RECEIVE_SHORT);
    EXPECT_EQ(ReadBytes(path), server.substr(0, 11000));
}

TEST_F(ReceiveTest, ReplacingFileOnlyReplacesWhenComplete)
{
    std::string old = "the stored file, which may not be lost";
    struct Case { size_t size; DWORD expected; bool skip; int result; bool replaced; } cases[] = {
        {4000, 4000, false, RECEIVE_COMPLETE, true},
        {3000, 4000, false, RECEIVE_SHORT, false},
        {4000, 0, false, RECEIVE_COMPLETE, true},
        {4000, 0, true, RECEIVE_COMPLETE, false}, // skipped: not known to be whole
    };
    for (const Case &c : cases) {
        g_crawlState = CRAWL_RUNNING;
        WriteBytes(path, old);
        if (c.skip)
            g_fakeOnRead = [](size_t soFar) {
                if (soFar >= 2000)
                    g_crawlState = CRAWL_SKIP_REQUESTED;
            };
        EXPECT_EQ(Receive(Pattern(c.size), c.expected, RECEIVE_REPLACE), c.result) << c.size << "/" << c.expected;
        g_fakeOnRead = nullptr;
        EXPECT_EQ(ReadBytes(path), c.replaced ? Pattern(c.size) : old) << c.size << "/" << c.expected;
        EXPECT_EQ(FilesIn(folder), 1) << "no temporary file is left beside it";
        if (c.replaced)
            EXPECT_EQ(LastWriteTime(path).wYear, 2003);
    }
}

TEST_F(ReceiveTest, ReplacingFileIsReceivedInTheTransferFolderAndNeverLeftThere)
{
    WriteBytes(path, "stored");
    struct Case { size_t size; DWORD expected; } cases[] = {{4000, 4000}, {3000, 4000}};
    for (const Case &c : cases) {
        int receivedThere = -1;
        g_fakeOnRead = [&](size_t) { receivedThere = FilesIn(transfers); };
        Receive(Pattern(c.size), c.expected, RECEIVE_REPLACE);
        g_fakeOnRead = nullptr;
        EXPECT_EQ(receivedThere, 1) << c.size << ": the file in progress is in the transfer folder";
        EXPECT_EQ(FilesIn(transfers), 0) << c.size;
        EXPECT_EQ(FilesIn(folder), 1) << c.size << ": nothing beside the stored file";
    }
}

TEST_F(ReceiveTest, EmptyingTheTransferFolderLeavesTheMirrorAlone)
{
    // Left by a run that was broken off, and a mirrored file named like one.
    std::string host = folder + "host\\";
    CreateDirectoryA(host.c_str(), NULL);
    CreateDirectoryA(transfers.c_str(), NULL);
    WriteBytes(transfers + "pv1A.tmp", "left over");
    WriteBytes(host + "pv1B.tmp", "mirrored");
    WriteBytes(folder + "pv1C.tmp", "mirrored too");
    EmptyTransferFolder();
    EXPECT_EQ(GetFileAttributesA(transfers.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadBytes(host + "pv1B.tmp"), "mirrored");
    EXPECT_EQ(ReadBytes(folder + "pv1C.tmp"), "mirrored too");
    DeleteFileA((host + "pv1B.tmp").c_str());
    RemoveDirectoryA(host.c_str());
}

TEST_F(ReceiveTest, FileThatCannotBeCreatedIsReportedAndTheResponseNotRead)
{
    WriteBytes(path, "held");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    WriteSettingNumber(REG_DLSIZE, 0);
    struct Case { int mode; const char *line; } cases[] = {
        {RECEIVE_NEW, "* ファイルを作成できません : "},
        {RECEIVE_CONTINUE, "* ファイルを開けないので更新しません : "},
        {RECEIVE_REPLACE, "* ファイルを開けないので更新しません : "},
    };
    for (const Case &c : cases) {
        SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
        g_fakeRequests.clear();
        EXPECT_EQ(Receive(Pattern(3000), 3000, c.mode), RECEIVE_FILE_FAILED) << "mode " << c.mode;
        std::vector<std::string> expected = {c.line + path};
        EXPECT_EQ(LogLines(window), expected) << "mode " << c.mode;
        EXPECT_EQ(g_statusTexts.back(), c.line + path);
        if (c.mode != RECEIVE_REPLACE)
            EXPECT_EQ(g_fakeRequests[0].reads, 0) << "the response is not read for nothing";
    }
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(path), "held");
    EXPECT_EQ(FilesIn(folder), 1);
    path = folder + "no such folder\\a.bin";
    EXPECT_EQ(Receive(Pattern(10), 10, RECEIVE_NEW), RECEIVE_FILE_FAILED);
}

static const char RATE_0[] = "効率0バイト/秒";

TEST_F(ReceiveTest, ProgressShownAtMostEveryIntervalAndAfterTheLastRead)
{
    // Each read is made at the clock time given; at the first read the rate
    // window is still empty, then it covers the time since it was last measured.
    struct Case {
        const char *name, *filePart;
        DWORD expected;
        size_t chunk;
        std::vector<DWORD> readTicks;
        std::vector<std::string> statuses, titles;
        std::vector<int> bars;
    } cases[] = {
        {"known size", "a.bin", 6000, 1000, {0, 10, 49, 50, 120, 130},
         {std::string("a.bin : サイズ 1000/6000 16％受信済み\n") + RATE_0 + " 残り0分0秒",
          "a.bin : サイズ 4000/6000 66％受信済み\n効率80000バイト/秒 残り0分0秒",
          "a.bin : サイズ 5000/6000 83％受信済み\n効率14285バイト/秒 残り0分0秒",
          "a.bin : サイズ 6000/6000 100％受信済み\n効率14285バイト/秒 残り0分0秒", "ダウンロードが終わりました"},
         {"16% - a.bin", "66% - a.bin", "83% - a.bin", "100% - a.bin"},
         {16, 66, 83, 100}},
        // Equal titles and bar positions are not set again; nor is the
        // status after the last read when that read was shown already.
        {"unknown size", "", 0, 500, {0, 50, 100, 150},
         {std::string("(index.html) : 500バイト受信済み\n") + RATE_0, "(index.html) : 1000バイト受信済み\n効率20000バイト/秒",
          "(index.html) : 1500バイト受信済み\n効率10000バイト/秒", "(index.html) : 2000バイト受信済み\n効率10000バイト/秒",
          "ダウンロードが終わりました"},
         {"0KB - (index.html)", "1KB - (index.html)"},
         {0, 100}},
    };
    for (const Case &c : cases) {
        size_t reads = 0;
        g_fakeTick = 0;
        g_fakeOnRead = [&](size_t) { g_fakeTick = c.readTicks[reads++]; };
        ClearTexts();
        response = BodyResponse(Pattern(c.chunk * c.readTicks.size()));
        response.chunk = c.chunk;
        HINTERNET request = OpenRequest(connection, "/a.bin", INTERNET_SERVICE_HTTP, 0);
        ReceiveToFile(request, c.filePart, path.c_str(), c.expected, &SERVER_DATE, RECEIVE_NEW);
        CloseInternetHandle(&request);
        g_fakeOnRead = nullptr;
        EXPECT_EQ(reads, c.readTicks.size()) << c.name << ": each pass reads all that is available";
        EXPECT_EQ(g_statusTexts, c.statuses) << c.name << ": " << JoinTexts(g_statusTexts);
        std::vector<std::string> titles;
        for (const std::string &title : c.titles)
            titles.push_back(title + " / Parvel 1st MIX");
        EXPECT_EQ(g_titles, titles) << c.name << ": " << JoinTexts(g_titles);
        EXPECT_EQ(g_barPositions, c.bars) << c.name;
    }
}

// The string table's formats filled with counts past 32 bits through the
// formatter of this build.
TEST_F(ReceiveTest, TextsOfSizesPast32Bits)
{
    struct Case { unsigned long long expected; const char *status, *title; } cases[] = {
        {2147483647ULL, "a.bin : サイズ 1000/2147483647 0％受信済み\n効率", "0% - a.bin / Parvel 1st MIX"},
        {5368709120ULL, "a.bin : サイズ 1000/5368709120 0％受信済み\n効率", "0% - a.bin / Parvel 1st MIX"},
    };
    for (const Case &c : cases) {
        ClearTexts();
        Receive(Pattern(3000), c.expected, RECEIVE_NEW);
        EXPECT_EQ(g_statusTexts[0].rfind(c.status, 0), 0u) << g_statusTexts[0];
        EXPECT_EQ(g_titles[0], c.title);
    }
}

TEST_F(ReceiveTest, MoreBytesThanAnnouncedShowAtMostAHundredPercent)
{
    EXPECT_EQ(Receive(Pattern(3000), 1000, RECEIVE_NEW), RECEIVE_SHORT);
    std::vector<std::string> titles = {"100% - a.bin / Parvel 1st MIX"};
    EXPECT_EQ(g_titles, titles);
    ASSERT_GE(g_statusTexts.size(), 2u);
    const std::string &last = g_statusTexts[g_statusTexts.size() - 2];
    EXPECT_EQ(last.rfind("a.bin : サイズ 3000/1000 100％受信済み", 0), 0u) << last;
}

TEST_F(ReceiveTest, LongFilePartIsCutToWholeCharacters)
{
    // 200 double-byte characters: the filled texts outgrow their buffers.
    std::string name;
    for (int i = 0; i < 129; ++i)
        name += "ソ"; // 83 5C: a trail byte that looks like '\'
    Receive(Pattern(2000), 2000, RECEIVE_NEW, name.c_str());
    for (const std::string &text : g_statusTexts) {
        EXPECT_LE(text.size(), 259u);
        for (size_t i = 0; i < text.size(); ++i)
            if (IsDBCSLeadByte((BYTE)text[i]))
                ASSERT_LT(++i, text.size()) << "a double-byte character was cut";
    }
    for (const std::string &title : g_titles)
        EXPECT_LE(title.size(), 319u);
}
