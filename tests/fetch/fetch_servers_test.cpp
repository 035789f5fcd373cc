// tests/fetch/fetch_servers_test.cpp — crawl runs under Wine against the real test servers.
// Against the HTTP and FTP test servers: files on disk and their dates, the requests the
// servers saw, log lines, titles and status texts of whole, unchanged, updated,
// continued, refused and broken transfers.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "engine/engine_internal.h"
#include "settings/settings.h"
#include "tests/win/test_files.h"
#include "tests/win/text_recorder.h"
#include "tests/win/window_fixture.h"

// ---- The servers, as the runner describes them ----

struct Server {
    std::string port, root, faults, log;
};

static std::string Environment(const std::string &name)
{
    char value[1024] = "";
    GetEnvironmentVariableA(name.c_str(), value, sizeof value);
    return value;
}

static Server Describe(const std::string &prefix)
{
    return {Environment(prefix + "_PORT"), Environment(prefix + "_ROOT"), Environment(prefix + "_FAULTS"),
            Environment(prefix + "_LOG")};
}

static const Server &Http()
{
    static Server server = Describe("PARVEL_HTTP");
    return server;
}
static const Server &Http2()
{
    static Server server = Describe("PARVEL_HTTP2");
    return server;
}
static const Server &Ftp()
{
    static Server server = Describe("PARVEL_FTP");
    return server;
}

// Byte i is (i + seed) % 251.
static std::string Pattern(size_t size, int seed = 0)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char)((i + (size_t)seed) % 251);
    return bytes;
}

static FILETIME FromEpoch(long long epoch)
{
    unsigned long long ticks = (unsigned long long)(epoch + 11644473600LL) * 10000000ULL;
    FILETIME time = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    return time;
}

static long long ToEpoch(const FILETIME &time)
{
    unsigned long long ticks = ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
    return (long long)(ticks / 10000000ULL) - 11644473600LL;
}

static void MakeFoldersFor(const std::string &path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
}

// Writes a file with its last-write time (the server's Last-Modified).
static void WriteFileAt(const std::string &path, const std::string &bytes, long long epoch)
{
    MakeFoldersFor(path);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    FILETIME time = FromEpoch(epoch);
    SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
}

static void Serve(const Server &server, const std::string &urlPath, const std::string &bytes, long long epoch)
{
    std::string path = server.root + urlPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    WriteFileAt(path, bytes, epoch);
}


static long long StoredEpoch(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME created, accessed, written = {};
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    return ToEpoch(written);
}

// Replaces the server's fault script at once (written beside and renamed).
static void SetFaults(const Server &server, const std::string &json)
{
    std::string temporary = server.faults + ".new";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written;
    WriteFile(file, json.data(), (DWORD)json.size(), &written, NULL);
    CloseHandle(file);
    MoveFileExA(temporary.c_str(), server.faults.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// ---- The request logs ----

// The value of a key of a one-line JSON object: a string's text (escapes
// left as they are), or the text of a number or null.
static std::string JsonField(const std::string &line, const std::string &key)
{
    size_t at = line.find("\"" + key + "\": ");
    if (at == std::string::npos)
        return "";
    at += key.size() + 4;
    if (line[at] == '"') {
        size_t end = at + 1;
        while (end < line.size() && line[end] != '"')
            end += line[end] == '\\' ? 2 : 1;
        return line.substr(at + 1, end - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end - at);
}

struct LoggedRequest {
    std::string line, path, range, status, conn;
    bool HasHeader(const std::string &name, const std::string &value) const
    {
        return line.find("[\"" + name + "\", \"" + value + "\"]") != std::string::npos;
    }
};

static std::vector<std::string> LogFileLines(const std::string &path)
{
    std::string text = ReadBytes(path);
    std::vector<std::string> lines;
    if (text == "(missing)")
        return lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The HTTP requests for paths that begin with prefix, oldest first.
static std::vector<LoggedRequest> Requests(const Server &server, const std::string &prefix)
{
    std::vector<LoggedRequest> requests;
    for (const std::string &line : LogFileLines(server.log)) {
        LoggedRequest r{line, JsonField(line, "path"), JsonField(line, "range"), JsonField(line, "status"),
                        JsonField(line, "conn")};
        if (r.path.rfind(prefix, 0) == 0)
            requests.push_back(r);
    }
    return requests;
}

// "range status" of each request, for comparing whole sequences.
static std::vector<std::string> RangesAndStatus(const std::vector<LoggedRequest> &requests)
{
    std::vector<std::string> out;
    for (const LoggedRequest &r : requests)
        out.push_back(r.range + " " + r.status);
    return out;
}

// The FTP commands (command and argument) of a user.
static std::vector<std::string> FtpCommands(const std::string &user, const std::string &command)
{
    std::vector<std::string> out;
    for (const std::string &line : LogFileLines(Ftp().log))
        if (JsonField(line, "user") == user && JsonField(line, "cmd") == command)
            out.push_back(JsonField(line, "arg"));
    return out;
}

// ---- Crawl runs ----

static const char SAVE_FOLDER[] = "C:\\parvel-fetch-servers";
static const long long DATE_2001 = 981173106; // Sat, 03 Feb 2001 04:05:06 GMT


class ServersTest : public ::testing::Test {
protected:
    HWND window = NULL;
    DWORD runMilliseconds = 0;
    std::string skipWhenStatusBegins; // presses Skip once a status text begins so

    void SetUp() override
    {
        ASSERT_FALSE(Http().port.empty()) << "run through tests/fetch/run_fetch_tests.py";
        ClearSettings();
        RemoveTree(SAVE_FOLDER);
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        CheckDlgButton(window, IDC_DEPTHINF, BST_CHECKED);
        RecordGivenTexts();
        SetFaults(Http(), "{}");
    }
    void TearDown() override
    {
        SetFaults(Http(), "{}");
        StopRecordingGivenTexts();
        DestroyWindow(window);
        RemoveTree(SAVE_FOLDER);
        ClearSettings();
    }
    // A crawl run of the start list as the Search action starts it.
    void Crawl(const std::string &startList)
    {
        ClearTexts();
        StartCrawl(window, SAVE_FOLDER, startList.c_str(), "");
        g_crawlState = CRAWL_RUNNING;
        DWORD start = GetTickCount();
        bool skipped = false;
        bool ended = PumpUntil(
            [&] {
                if (!skipped && !skipWhenStatusBegins.empty() &&
                    LastStatusText().rfind(skipWhenStatusBegins, 0) == 0) {
                    skipped = true;
                    g_crawlState = CRAWL_SKIP_REQUESTED;
                }
                return g_crawlState == CRAWL_IDLE;
            },
            60000);
        runMilliseconds = GetTickCount() - start;
        ASSERT_TRUE(ended) << "the run did not end";
    }
    static std::string HttpHost() { return "127.0.0.1:" + Http().port; }
    static std::string Url(const std::string &path) { return "http://" + HttpHost() + path; }
    // The local path of a file of the first HTTP server.
    static std::string Local(const std::string &path, const std::string &host = HttpHost())
    {
        std::string local = std::string(SAVE_FOLDER) + "\\" + host + path;
        for (char &c : local)
            if (c == '/')
                c = '\\';
        local[strlen(SAVE_FOLDER) + 1 + host.find(':')] = '-';
        return local;
    }
    std::vector<std::string> Log() { return LogLines(window); }
    void CheckRetryBox(bool on) { CheckDlgButton(window, IDC_RETRY, on ? BST_CHECKED : BST_UNCHECKED); }
};

static const char RESUMABLE[] = "* 127.0.0.1:%s はレジューム可能";
static const char NOT_RESUMABLE[] = "* 127.0.0.1:%s はレジューム不可";
static const char SIZE_MISMATCH[] = "* サイズが合いません（中断かタイムアウト）";

static std::string Filled(const char *format, const std::string &port)
{
    char text[300];
    wsprintfA(text, format, port.c_str());
    return text;
}

TEST_F(ServersTest, WholeFileWithItsDateHeadersAndTexts)
{
    Serve(Http(), "/whole/data.bin", Pattern(30000), DATE_2001);
    WriteSettingNumber(REG_DLSIZE, 100);
    Crawl(Url("/whole/data.bin"));
    std::string local = Local("/whole/data.bin");
    EXPECT_EQ(ReadBytes(local), Pattern(30000));
    EXPECT_EQ(StoredEpoch(local), DATE_2001) << "the file has the server's date";
    auto requests = Requests(Http(), "/whole/");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "null");
    EXPECT_EQ(requests[0].status, "200");
    EXPECT_TRUE(requests[0].HasHeader("Accept", "*/*")) << requests[0].line;
    EXPECT_TRUE(requests[0].HasHeader("Pragma", "no-cache")) << requests[0].line;
    EXPECT_TRUE(requests[0].HasHeader("User-Agent", "QEX/10.0(Windows95 or NT)")) << requests[0].line;
    std::vector<std::string> log = {"* URL-> " + HttpHost() + "/whole/data.bin", Filled(RESUMABLE, Http().port), local};
    EXPECT_EQ(Log(), log);
    for (const char *title : {"Prepareing.", "data.bin - Sending REQ.", "data.bin - Checking.",
                              "data.bin - Start!!(Update)", "100% - data.bin"})
        EXPECT_TRUE(HasText(g_titles, std::string(title) + " / Parvel 1st MIX")) << title << ": " << JoinTexts(g_titles);
    EXPECT_EQ(CountText(g_titles, "Connecting... / Parvel 1st MIX"), 2) << "the run's and the connection's";
    EXPECT_TRUE(HasText(g_statusTexts, "ダウンロード中. . .data.bin"));
    EXPECT_TRUE(HasText(g_statusTexts, "ダウンロードが終わりました"));
    EXPECT_EQ(ReadSettingNumber(REG_DLSIZE, 0), 30100u);
}

TEST_F(ServersTest, UnchangedFileIsNotTransferredAgain)
{
    Serve(Http(), "/same/data.bin", Pattern(20000), DATE_2001);
    Crawl(Url("/same/data.bin"));
    WriteSettingNumber(REG_DLSIZE, 0);
    Crawl(Url("/same/data.bin"));
    EXPECT_TRUE(HasText(g_statusTexts, "更新されていないのでダウンロードしません")) << JoinTexts(g_statusTexts);
    EXPECT_TRUE(HasText(g_titles, "data.bin - No update. / Parvel 1st MIX"));
    EXPECT_EQ(ReadSettingNumber(REG_DLSIZE, 0), 0u) << "no body bytes were received";
    EXPECT_EQ(Requests(Http(), "/same/").size(), 2u);
    std::string local = Local("/same/data.bin");
    std::vector<std::string> log = {"* URL-> " + HttpHost() + "/same/data.bin", Filled(RESUMABLE, Http().port), local};
    EXPECT_EQ(Log(), log);
}

TEST_F(ServersTest, NewerFileOnTheServerAndASizeChangeAreFetchedAgain)
{
    Serve(Http(), "/upd/data.bin", Pattern(20000), DATE_2001);
    Crawl(Url("/upd/data.bin"));
    Serve(Http(), "/upd/data.bin", Pattern(20000, 7), DATE_2001 + 3600);
    Crawl(Url("/upd/data.bin"));
    std::string local = Local("/upd/data.bin");
    EXPECT_EQ(ReadBytes(local), Pattern(20000, 7));
    EXPECT_EQ(StoredEpoch(local), DATE_2001 + 3600);
    EXPECT_TRUE(HasText(g_titles, "data.bin - Start!!(Update) / Parvel 1st MIX"));
    // Same date, another size, resume off: fetched whole.
    Serve(Http(), "/upd/data.bin", Pattern(15000, 9), DATE_2001 + 3600);
    Crawl(Url("/upd/data.bin"));
    EXPECT_EQ(ReadBytes(local), Pattern(15000, 9));
    EXPECT_TRUE(HasText(g_titles, "data.bin - Start! / Parvel 1st MIX")) << JoinTexts(g_titles);
    std::vector<std::string> seen = {"null 200", "null 200", "null 200"};
    EXPECT_EQ(RangesAndStatus(Requests(Http(), "/upd/")), seen);
}

TEST_F(ServersTest, BrokenTransferIsContinuedWithARangeOverAttempts)
{
    WriteSettingText(REG_RESUME, "1");
    CheckRetryBox(true);
    Serve(Http(), "/cont/data.bin", Pattern(30000), DATE_2001);
    SetFaults(Http(), R"({"/cont/data.bin": {"cut_after": 10000}})");
    Crawl(Url("/cont/data.bin"));
    std::string local = Local("/cont/data.bin");
    EXPECT_EQ(ReadBytes(local), Pattern(30000)) << "each attempt continued the file";
    // Every later attempt's one request asks for the rest from 2500 bytes
    // before the stored end: its answer gives the facts and continues the file.
    std::vector<std::string> seen = {"null 200", "bytes=7500- 206", "bytes=15000- 206", "bytes=22500- 206"};
    EXPECT_EQ(RangesAndStatus(Requests(Http(), "/cont/")), seen);
    EXPECT_TRUE(HasText(g_titles, "data.bin - Start!(resume) / Parvel 1st MIX"));
    EXPECT_TRUE(HasText(g_statusTexts, "ダウンロード中. . . data.bin\n(1 回目)")) << JoinTexts(g_statusTexts);
    EXPECT_FALSE(HasText(Log(), SIZE_MISMATCH));
    EXPECT_TRUE(HasText(Log(), Filled(RESUMABLE, Http().port)));
    EXPECT_EQ(StoredEpoch(local), DATE_2001);
    // The next run finds the file whole: its request asks for the last 2500
    // bytes only, and none of them are received.
    WriteSettingNumber(REG_DLSIZE, 0);
    Crawl(Url("/cont/data.bin"));
    EXPECT_EQ(RangesAndStatus(Requests(Http(), "/cont/")).back(), "bytes=27500- 206");
    EXPECT_TRUE(HasText(g_titles, "data.bin - No update. / Parvel 1st MIX")) << JoinTexts(g_titles);
    EXPECT_EQ(ReadSettingNumber(REG_DLSIZE, 0), 0u);
}

TEST_F(ServersTest, ContinuationAnswersThatCannotBeUsedGiveTheServersFile)
{
    WriteSettingText(REG_RESUME, "1");
    CheckRetryBox(true);
    struct Case { const char *name, *path, *rangeRule; std::vector<std::string> seen; } cases[] = {
        {"server ignores Range", "/ign/data.bin", R"({"range": true, "ignore_range": true})",
         {"null 200", "bytes=7500- 200"}},
        {"wrong Content-Range", "/wcr/data.bin", R"({"range": true, "content_range_start": 0})",
         {"null 200", "bytes=7500- 206", "null 200"}},
        {"unsatisfiable", "/416/data.bin", R"({"range": true, "unsatisfiable": true})",
         {"null 200", "bytes=7500- 416", "null 200"}},
    };
    for (const Case &c : cases) {
        Serve(Http(), c.path, Pattern(30000, 3), DATE_2001);
        SetFaults(Http(), std::string("{\"") + c.path + "\": [{\"times\": 1, \"cut_after\": 10000}, " + c.rangeRule + "]}");
        Crawl(Url(c.path));
        EXPECT_EQ(ReadBytes(Local(c.path)), Pattern(30000, 3)) << c.name << ": no corruption";
        EXPECT_EQ(RangesAndStatus(Requests(Http(), c.path)), c.seen) << c.name;
    }
}

TEST_F(ServersTest, StoredFileWhoseOverlapDiffersIsRewrittenWhole)
{
    WriteSettingText(REG_RESUME, "1");
    CheckRetryBox(false); // one attempt per run
    Serve(Http(), "/ovl/data.bin", Pattern(30000, 1), DATE_2001);
    SetFaults(Http(), R"({"/ovl/data.bin": {"times": 1, "cut_after": 10000}})");
    Crawl(Url("/ovl/data.bin"));
    std::string local = Local("/ovl/data.bin");
    ASSERT_EQ(ReadBytes(local), Pattern(10000, 1));
    // The server's file changes under the same date and size.
    Serve(Http(), "/ovl/data.bin", Pattern(30000, 2), DATE_2001);
    Crawl(Url("/ovl/data.bin"));
    EXPECT_EQ(ReadBytes(local), Pattern(30000, 2));
    std::vector<std::string> seen = {"null 200", "bytes=7500- 206", "null 200"};
    EXPECT_EQ(RangesAndStatus(Requests(Http(), "/ovl/")), seen);
}

// A partly stored file that changed on the server: the range is asked for
// only while the server's file has the stored copy's date (If-Range), so the
// one answer is the new file whole and nothing is left unread.
TEST_F(ServersTest, ChangedFileComesWholeInTheAnswerToTheRange)
{
    WriteSettingText(REG_RESUME, "1");
    CheckRetryBox(false);
    Serve(Http(), "/chg/data.bin", Pattern(30000, 1), DATE_2001);
    SetFaults(Http(), R"({"/chg/data.bin": {"times": 1, "cut_after": 10000}})");
    Crawl(Url("/chg/data.bin"));
    Serve(Http(), "/chg/data.bin", Pattern(30000, 2), DATE_2001 + 3600);
    Crawl(Url("/chg/data.bin"));
    std::string local = Local("/chg/data.bin");
    EXPECT_EQ(ReadBytes(local), Pattern(30000, 2));
    EXPECT_EQ(StoredEpoch(local), DATE_2001 + 3600);
    auto requests = Requests(Http(), "/chg/");
    std::vector<std::string> seen = {"null 200", "bytes=7500- 200"};
    EXPECT_EQ(RangesAndStatus(requests), seen);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].HasHeader("If-Range", "Sat, 03 Feb 2001 04:05:06 GMT")) << requests[1].line;
    EXPECT_TRUE(HasText(g_titles, "data.bin - Start!!(Update) / Parvel 1st MIX")) << JoinTexts(g_titles);
}

TEST_F(ServersTest, NotFoundIsAskedOnce)
{
    CheckRetryBox(true);
    SetFaults(Http(), R"({"/nf/data.bin": {"status": 404, "body": "gone"}})");
    Crawl(Url("/nf/data.bin"));
    EXPECT_EQ(Requests(Http(), "/nf/").size(), 1u) << "not tried again";
    EXPECT_TRUE(HasText(g_statusTexts, "ファイルが見つかりません")) << JoinTexts(g_statusTexts);
    std::vector<std::string> log = {"* URL-> " + HttpHost() + "/nf/data.bin"};
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(ReadBytes(Local("/nf/data.bin")), "(missing)");
}

TEST_F(ServersTest, ResponseWithoutContentLength)
{
    Serve(Http(), "/nolen/data.bin", Pattern(40000), DATE_2001);
    SetFaults(Http(), R"({"/nolen/data.bin": {"content_length": null}})");
    Crawl(Url("/nolen/data.bin"));
    EXPECT_EQ(ReadBytes(Local("/nolen/data.bin")), Pattern(40000));
    bool shownWithoutSize = false;
    for (const std::string &text : g_statusTexts)
        shownWithoutSize |= text.rfind("data.bin : 40000バイト受信済み\n効率", 0) == 0;
    EXPECT_TRUE(shownWithoutSize) << JoinTexts(g_statusTexts);
    EXPECT_TRUE(HasText(g_titles, "39KB - data.bin / Parvel 1st MIX")) << JoinTexts(g_titles);
    EXPECT_FALSE(HasText(Log(), SIZE_MISMATCH));
}

TEST_F(ServersTest, BodyCutShortOnHttp10IsReportedOnce)
{
    CheckRetryBox(true);
    WriteSettingText(REG_RESUME, "1");
    Serve(Http(), "/cut10/data.bin", Pattern(30000), DATE_2001);
    SetFaults(Http(), R"({"/cut10/data.bin": {"http10": true, "cut_after": 5000}})");
    Crawl(Url("/cut10/data.bin"));
    std::string local = Local("/cut10/data.bin");
    std::vector<std::string> log = {"* URL-> " + HttpHost() + "/cut10/data.bin", Filled(NOT_RESUMABLE, Http().port),
                                    SIZE_MISMATCH, local};
    EXPECT_EQ(Log(), log);
    EXPECT_TRUE(HasText(g_statusTexts, SIZE_MISMATCH));
    EXPECT_EQ(Requests(Http(), "/cut10/").size(), 1u) << "a server that cannot continue is not asked again";
    EXPECT_EQ(ReadBytes(local), Pattern(5000));
    EXPECT_EQ(StoredEpoch(local), DATE_2001) << "broken off by the server, not the user: the server's date";
}

TEST_F(ServersTest, SkipOnHttp10GivesThePartialFileTheYear1980)
{
    Serve(Http(), "/skip10/data.bin", Pattern(400000), DATE_2001);
    SetFaults(Http(), R"({"/skip10/data.bin": {"http10": true, "rate": 200000}})");
    skipWhenStatusBegins = "data.bin : サイズ ";
    Crawl(Url("/skip10/data.bin"));
    std::string local = Local("/skip10/data.bin");
    std::string stored = ReadBytes(local);
    EXPECT_LT(stored.size(), 400000u);
    EXPECT_EQ(stored, Pattern(stored.size()));
    SYSTEMTIME date;
    FILETIME time = FromEpoch(StoredEpoch(local));
    FileTimeToSystemTime(&time, &date);
    EXPECT_EQ(date.wYear, 1980);
    EXPECT_EQ(date.wMonth, 2);
    EXPECT_EQ(date.wDay, 3);
    EXPECT_EQ(date.wHour, 4);
    EXPECT_EQ(date.wMinute, 5);
    EXPECT_EQ(Requests(Http(), "/skip10/").size(), 1u) << "a skipped file is not tried again";
}

TEST_F(ServersTest, StallIsEndedByTheReceiveTimeout)
{
    WriteSettingNumber(REG_TIMEOUT, 3000);
    Serve(Http(), "/stall/data.bin", Pattern(30000), DATE_2001);
    SetFaults(Http(), R"({"/stall/data.bin": {"stall_at": 8000, "stall": 40}})");
    Crawl(Url("/stall/data.bin"));
    EXPECT_LT(runMilliseconds, 20000u) << "the fetch ended by the 3 s time-out, not by the server";
    EXPECT_GE(runMilliseconds, 2500u);
    EXPECT_TRUE(HasText(Log(), SIZE_MISMATCH));
    EXPECT_EQ(ReadBytes(Local("/stall/data.bin")), Pattern(8000));
}

// Last-Modified texts that the library cannot convert (under Wine its own
// conversion ends the program on them): the file is stored whole, with the
// date when the text is one.
TEST_F(ServersTest, BrokenAndUnusualDatesAreReadFromTheirText)
{
    struct Case { const char *path; const char *date; long long epoch; } cases[] = {
        {"/dates/broken.bin", "Blursday, 32 Foo 20x9 25:61:61 GMT", -1},
        {"/dates/garbage.bin", "garbage", -1},
        {"/dates/rfc850.bin", "Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"/dates/asctime.bin", "Sun Nov  6 08:49:37 1994", 784111777},
        {"/dates/far.bin", "Fri, 31 Dec 2100 23:59:59 GMT", 4133980799LL},
    };
    std::string faults = "{", list;
    for (const Case &c : cases) {
        Serve(Http(), c.path, Pattern(4000, 9), DATE_2001);
        faults += std::string(faults.size() > 1 ? ", " : "") + "\"" + c.path + "\": {\"last_modified\": \"" + c.date + "\"}";
        list += Url(c.path) + "\r\n";
    }
    SetFaults(Http(), faults + "}");
    Crawl(list);
    for (const Case &c : cases) {
        EXPECT_EQ(ReadBytes(Local(c.path)), Pattern(4000, 9)) << c.date;
        if (c.epoch >= 0)
            EXPECT_EQ(StoredEpoch(Local(c.path)), c.epoch) << c.date;
    }
}

TEST_F(ServersTest, RedirectIsFollowedAndStoredUnderTheAddressAsked)
{
    Serve(Http(), "/redir/target.bin", Pattern(5000, 4), DATE_2001);
    SetFaults(Http(), R"({"/redir/data.bin": {"redirect": "http://@HOST@/redir/target.bin"}})");
    Crawl(Url("/redir/data.bin"));
    EXPECT_EQ(ReadBytes(Local("/redir/data.bin")), Pattern(5000, 4));
    auto requests = Requests(Http(), "/redir/");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path + " " + requests[0].status, "/redir/data.bin 302");
    EXPECT_EQ(requests[1].path + " " + requests[1].status, "/redir/target.bin 200");
}

// Folders without cookies are asked with the library's cookie handling off;
// a cookie an answer sets must still reach every later request it covers,
// including one in a folder already found without cookies.
TEST_F(ServersTest, CookieSetByAnAnswerIsSentWhereverItsPathCovers)
{
    for (const char *name : {"/ckt/sub/first.bin", "/ckt/setter.bin", "/ckt/sub/second.bin", "/ckt/third.bin"})
        Serve(Http(), name, Pattern(300, 5), DATE_2001);
    SetFaults(Http(), R"({"/ckt/setter.bin": {"headers": {"Set-Cookie": "visit=k7; path=/ckt/"}}})");
    Crawl(Url("/ckt/sub/first.bin") + "\r\n" + Url("/ckt/setter.bin") + "\r\n" + Url("/ckt/sub/second.bin") +
          "\r\n" + Url("/ckt/third.bin"));
    auto requests = Requests(Http(), "/ckt/");
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].HasHeader("Cookie", "visit=k7"), i >= 2) << requests[i].path;
    EXPECT_EQ(ReadBytes(Local("/ckt/third.bin")), Pattern(300, 5));
}

TEST_F(ServersTest, TwoServersAndAPortChangeMakeNewConnections)
{
    Serve(Http(), "/two/a.bin", Pattern(1000, 1), DATE_2001);
    Serve(Http(), "/two/b.bin", Pattern(1000, 2), DATE_2001);
    Serve(Http2(), "/two/c.bin", Pattern(1000, 3), DATE_2001);
    Serve(Http(), "/two/d.bin", Pattern(1000, 4), DATE_2001);
    std::string host2 = "127.0.0.1:" + Http2().port;
    Crawl(Url("/two/a.bin") + "\r\n" + Url("/two/b.bin") + "\r\nhttp://" + host2 + "/two/c.bin\r\n" + Url("/two/d.bin"));
    EXPECT_EQ(ReadBytes(Local("/two/a.bin")), Pattern(1000, 1));
    EXPECT_EQ(ReadBytes(Local("/two/b.bin")), Pattern(1000, 2));
    EXPECT_EQ(ReadBytes(Local("/two/c.bin", host2)), Pattern(1000, 3));
    EXPECT_EQ(ReadBytes(Local("/two/d.bin")), Pattern(1000, 4));
    EXPECT_EQ(CountText(g_titles, "Connecting... / Parvel 1st MIX"), 4) << "the run's, then one per new connection";
    auto first = Requests(Http(), "/two/");
    ASSERT_EQ(first.size(), 3u);
    // (Whether the library takes a pooled socket for the new connection to
    // the first server again is its own business.)
    EXPECT_EQ(first[0].conn, first[1].conn) << "one connection for two files of one server";
    EXPECT_EQ(Requests(Http2(), "/two/").size(), 1u);
    std::vector<std::string> resumeLines;
    for (const std::string &line : Log())
        if (line.find("はレジューム") != std::string::npos)
            resumeLines.push_back(line);
    std::vector<std::string> expected = {Filled(RESUMABLE, Http().port), Filled(RESUMABLE, Http2().port)};
    EXPECT_EQ(resumeLines, expected) << "each server named once";
}

TEST_F(ServersTest, FtpFileAndFolder)
{
    Serve(Ftp(), "/pub/file.bin", Pattern(50000, 5), DATE_2001);
    std::string host = "127.0.0.1:" + Ftp().port;
    Crawl("ftp://" + host + "/pub/file.bin\r\nftp://" + host + "/pub/");
    std::string local = Local("/pub/file.bin", host);
    EXPECT_EQ(ReadBytes(local), Pattern(50000, 5));
    SYSTEMTIME date;
    FILETIME time = FromEpoch(StoredEpoch(local));
    FileTimeToSystemTime(&time, &date);
    EXPECT_EQ(date.wYear * 10000 + date.wMonth * 100 + date.wDay, 20010203) << "the listing's date";
    EXPECT_TRUE(HasText(g_statusTexts, "FTPｻｰﾊﾞｰに file.bin を要求しています...")) << JoinTexts(g_statusTexts);
    std::vector<std::string> log = {"* URL-> " + host + "/pub/file.bin", Filled(NOT_RESUMABLE, Ftp().port), local,
                                    "* URL-> " + host + "/pub/"};
    EXPECT_EQ(Log(), log) << "the folder is passed over";
    std::vector<std::string> retrieved = {"/pub/file.bin"};
    EXPECT_EQ(FtpCommands("anonymous", "RETR"), retrieved);
}

TEST_F(ServersTest, UserAndPasswordInTheAddress)
{
    Serve(Ftp(), "/pub/user.bin", Pattern(3000, 6), DATE_2001);
    Serve(Http(), "/auth/data.bin", Pattern(3000, 8), DATE_2001);
    std::string ftpHost = "127.0.0.1:" + Ftp().port;
    Crawl("ftp://taro:pw@" + ftpHost + "/pub/user.bin\r\nhttp://user:secret@" + HttpHost() + "/auth/data.bin");
    EXPECT_EQ(ReadBytes(Local("/pub/user.bin", ftpHost)), Pattern(3000, 6)) << "stored without the user";
    std::vector<std::string> retrieved = {"/pub/user.bin"};
    EXPECT_EQ(FtpCommands("taro", "RETR"), retrieved) << "logged in as taro";
    EXPECT_EQ(ReadBytes(Local("/auth/data.bin")), Pattern(3000, 8));
    EXPECT_TRUE(HasText(Log(), Filled(NOT_RESUMABLE, Ftp().port))) << "the resume line names the host without the user";
}

TEST_F(ServersTest, UnchangedPageIsStillScannedAndItsLinksFollowed)
{
    WriteSettingText(REG_SHORTCUT, SAVE_FOLDER);
    Serve(Http(), "/scan/index.html", "<html><body><a href=\"a.bin\">a</a></body></html>", DATE_2001);
    Serve(Http(), "/scan/a.bin", Pattern(2000), DATE_2001);
    Crawl(Url("/scan/"));
    EXPECT_EQ(ReadBytes(Local("/scan/a.bin")), Pattern(2000)) << "the page's link was fetched";
    Crawl(Url("/scan/"));
    EXPECT_EQ(CountText(g_statusTexts, "更新されていないのでダウンロードしません"), 2) << JoinTexts(g_statusTexts);
    std::vector<std::string> paths;
    for (const LoggedRequest &r : Requests(Http(), "/scan/"))
        paths.push_back(r.path);
    std::vector<std::string> expected = {"/scan/", "/scan/a.bin", "/scan/", "/scan/a.bin"};
    EXPECT_EQ(paths, expected) << "the second run scanned the unchanged page";
    std::vector<std::string> log = {"* URL-> " + HttpHost() + "/scan/", Filled(RESUMABLE, Http().port),
                                    Local("/scan/index.html"), Local("/scan/a.bin")};
    EXPECT_EQ(Log(), log);
}
