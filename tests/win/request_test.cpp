// tests/win/request_test.cpp — requests and the update check through fake Internet calls.
// Header block, byte range, cache flags, time-outs, status, remote facts, and the date
// comparison with stored files.
#include <gtest/gtest.h>

#include <string>

#include "engine/engine_internal.h"
#include "net/net.h"
#include "settings/settings.h"
#include "tests/win/fake_internet.h"
#include "tests/win/window_fixture.h"

class RequestTest : public ::testing::Test {
protected:
    HINTERNET connection = NULL;
    void SetUp() override
    {
        ClearSettings();
        InstallFakeInternet();
        connection = g_internet.Connect(NULL, "host", 0, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    }
    void TearDown() override
    {
        RestoreInternet();
        ClearSettings();
        g_connection.host[0] = '\0';
    }
};

TEST_F(RequestTest, HeaderBlockWithAndWithoutRange)
{
    struct Case { unsigned long long range; const char *block; } cases[] = {
        {0, "Accept: */*\r\nPragma: no-cache\r\n\r\n"},
        {2600, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=2600-\r\n\r\n"},
        {7500, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=7500-\r\n\r\n"},
        {4294967000UL, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=4294967000-\r\n\r\n"},
        {4294967295ULL, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=4294967295-\r\n\r\n"},
        {4294967296ULL, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=4294967296-\r\n\r\n"},
        {5368706620ULL, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=5368706620-\r\n\r\n"},
    };
    for (const Case &c : cases) {
        g_fakeRequests.clear();
        HINTERNET request = OpenRequest(connection, "/dir/a.zip?x=1", INTERNET_SERVICE_HTTP, c.range);
        ASSERT_NE(request, (HINTERNET)NULL) << "range " << c.range;
        ASSERT_EQ(g_fakeRequests.size(), 1u);
        EXPECT_EQ(g_fakeRequests[0].headers, c.block) << "range " << c.range;
        EXPECT_EQ(g_fakeRequests[0].object, "/dir/a.zip?x=1");
        EXPECT_EQ(g_fakeRequests[0].version, "HTTP/1.1");
        CloseInternetHandle(&request);
    }
}

TEST_F(RequestTest, CacheFlagsFollowTheCacheModeDigit)
{
    const DWORD reload = INTERNET_FLAG_RELOAD, noWrite = INTERNET_FLAG_NO_CACHE_WRITE,
                keep = INTERNET_FLAG_KEEP_CONNECTION;
    struct Case { const char *setting; DWORD flags; } cases[] = {
        {NULL, reload | noWrite}, // no setting: "0"
        {"0", reload | noWrite}, {"1", reload}, {"2", reload | keep}, {"3", reload | noWrite | keep},
        {"4", 0}, {"5", reload}, {"x", reload | noWrite}, {"", reload | noWrite}, // no digit: "0"
    };
    for (const Case &c : cases) {
        ClearSettings();
        if (c.setting != NULL)
            WriteSettingText(REG_CACHE, c.setting);
        g_fakeRequests.clear();
        HINTERNET request = OpenRequest(connection, "/a.html", INTERNET_SERVICE_HTTP, 0);
        ASSERT_EQ(g_fakeRequests.size(), 1u);
        // Redirects are followed by the program, not by the library, and
        // a folder without cookies is asked with the library's cookies off.
        EXPECT_EQ(g_fakeRequests[0].flags, c.flags | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES)
            << "cache " << (c.setting ? c.setting : "(none)");
        EXPECT_NE(g_fakeRequests[0].headers.find("Pragma: no-cache\r\n"), std::string::npos);
        CloseInternetHandle(&request);
    }
}

TEST_F(RequestTest, RedirectsWithinTheServerAreFollowedTenTimesAtMost)
{
    lstrcpyA(g_connection.host, "host:8080");
    struct Case { const char *location; const char *next; } cases[] = {
        {"/b.html", "/b.html"},
        {"http://host:8080/c/d.html?q=1", "/c/d.html?q=1"},
        {"HTTP://HOST:8080", "/"},
    };
    for (const Case &c : cases) {
        g_fakeRequests.clear();
        g_fakeAnswer = [&c](const FakeRequestRecord &record) {
            FakeResponse response;
            if (record.object == "/a.html") {
                response.status = 302;
                response.location = c.location;
            }
            return response;
        };
        HINTERNET request = OpenRequest(connection, "/a.html", INTERNET_SERVICE_HTTP, 0);
        ASSERT_NE(request, (HINTERNET)NULL);
        ASSERT_EQ(g_fakeRequests.size(), 2u) << c.location;
        EXPECT_TRUE(g_fakeRequests[0].closed);
        EXPECT_EQ(g_fakeRequests[1].object, c.next);
        EXPECT_EQ(QueryStatusCode(request, INTERNET_SERVICE_HTTP), 200u);
        CloseInternetHandle(&request);
    }
    // A loop ends after ten redirects; the last answer stands and is no success.
    g_fakeRequests.clear();
    g_fakeAnswer = [](const FakeRequestRecord &) {
        FakeResponse response;
        response.status = 301;
        response.location = "/loop";
        return response;
    };
    HINTERNET request = OpenRequest(connection, "/loop", INTERNET_SERVICE_HTTP, 0);
    EXPECT_EQ(g_fakeRequests.size(), 11u);
    EXPECT_EQ(QueryStatusCode(request, INTERNET_SERVICE_HTTP), 301u);
    CloseInternetHandle(&request);
}

// A redirect to another server or scheme is the answer, for the fetch to
// decide; a relative one stays on the server and is followed.
TEST_F(RequestTest, RedirectElsewhereIsTheAnswer)
{
    lstrcpyA(g_connection.host, "host");
    struct Case { const char *place, *next; } cases[] = {
        {"http://other/x.html", ""}, {"http://host:81/x.html", ""}, {"ftp://host/x", ""},
        {"https://host/x", ""},      {"//other/x", ""},             {"", ""},
        {"x.html", "/a/x.html"},     {"../b/x.html?y", "/b/x.html?y"}, {"HTTP://HOST:80/z", "/z"},
    };
    for (const Case &c : cases) {
        g_fakeRequests.clear();
        g_fakeAnswer = [&c](const FakeRequestRecord &record) {
            FakeResponse response;
            if (record.object == "/a/a.html") {
                response.status = 307;
                response.location = c.place;
            }
            return response;
        };
        HINTERNET request = OpenRequest(connection, "/a/a.html", INTERNET_SERVICE_HTTP, 0);
        ASSERT_EQ(g_fakeRequests.size(), c.next[0] ? 2u : 1u) << c.place;
        EXPECT_NE(g_fakeRequests[0].flags & INTERNET_FLAG_NO_AUTO_REDIRECT, 0u) << c.place;
        if (c.next[0])
            EXPECT_EQ(g_fakeRequests[1].object, c.next) << c.place;
        EXPECT_EQ(QueryStatusCode(request, INTERNET_SERVICE_HTTP), c.next[0] ? 200u : 307u) << c.place;
        CloseInternetHandle(&request);
    }
}

// An https connection sends over TLS. A certificate the system does not
// trust is refused, told once per server and run; with "cert" on it is
// accepted through the request's security flags, also told once.
TEST_F(RequestTest, HttpsAndUntrustedCertificates)
{
    HWND window = CreateTestWindow();
    g_mainWindow = window;
    lstrcpyA(g_connection.host, "https://host:8443");
    g_fakeAnswer = [](const FakeRequestRecord &record) {
        FakeResponse response;
        bool accepted = false;
        for (auto &option : record.options)
            accepted |= option.first == INTERNET_OPTION_SECURITY_FLAGS &&
                        (option.second & SECURITY_FLAG_IGNORE_UNKNOWN_CA) != 0;
        response.sendFails = !accepted;
        response.sendError = ERROR_INTERNET_INVALID_CA;
        return response;
    };
    struct Case { const char *cert; bool opened; const char *line; } cases[] = {
        {"0", false, "* 証明書を確認できません : host:8443"},
        {"1", true, "* 証明書の誤りを無視しました : host:8443"},
    };
    for (const Case &c : cases) {
        SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
        WriteSettingText(REG_CERT, c.cert);
        g_connection.certificateRefused = false;
        for (int run = 0; run < 2; ++run) {
            g_fakeRequests.clear();
            HINTERNET request = OpenRequest(connection, "/a.html", INTERNET_SERVICE_HTTP, 0);
            EXPECT_EQ(request != NULL, c.opened) << c.cert;
            EXPECT_EQ(g_connection.certificateRefused, !c.opened) << c.cert;
            EXPECT_NE(g_fakeRequests[0].flags & INTERNET_FLAG_SECURE, 0u) << c.cert;
            CloseInternetHandle(&request);
        }
        EXPECT_EQ(LogLines(window), std::vector<std::string>{c.line}) << c.cert;
    }
    lstrcpyA(g_connection.host, "host");
    HINTERNET request = OpenRequest(connection, "/a.html", INTERNET_SERVICE_HTTP, 0);
    EXPECT_EQ(g_fakeRequests.back().flags & INTERNET_FLAG_SECURE, 0u) << "http";
    CloseInternetHandle(&request);
    DestroyWindow(window);
}

TEST_F(RequestTest, ReceiveTimeoutsFromTheSetting)
{
    struct Case { DWORD setting; bool stored; bool firstAccepted; std::vector<std::pair<DWORD, DWORD>> options; } cases[] = {
        {0, false, true, {{INTERNET_OPTION_RECEIVE_TIMEOUT, 180000}, {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 180000}}},
        {3000, true, true, {{INTERNET_OPTION_RECEIVE_TIMEOUT, 3000}, {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 3000}}},
        {0, true, true, {{INTERNET_OPTION_RECEIVE_TIMEOUT, 1000}, {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 1000}}},
        {3000, true, false, {{INTERNET_OPTION_RECEIVE_TIMEOUT, 3000}}}, // refused: the second is not set
    };
    for (const Case &c : cases) {
        ClearSettings();
        if (c.stored)
            WriteSettingNumber(REG_TIMEOUT, c.setting);
        g_fakeTimeoutAccepted = c.firstAccepted;
        g_fakeRequests.clear();
        HINTERNET request = OpenRequest(connection, "/a.html", INTERNET_SERVICE_HTTP, 0);
        EXPECT_NE(request, (HINTERNET)NULL) << "a refused time-out does not stop the request";
        ASSERT_EQ(g_fakeRequests.size(), 1u);
        EXPECT_EQ(g_fakeRequests[0].options, c.options) << "timeout " << c.setting << " accepted " << c.firstAccepted;
        CloseInternetHandle(&request);
    }
}

TEST_F(RequestTest, FailedSendClosesTheRequest)
{
    g_fakeAnswer = [](const FakeRequestRecord &) {
        FakeResponse r;
        r.sendFails = true;
        return r;
    };
    EXPECT_EQ(OpenRequest(connection, "/a.html", INTERNET_SERVICE_HTTP, 0), (HINTERNET)NULL);
    ASSERT_EQ(g_fakeRequests.size(), 1u);
    EXPECT_TRUE(g_fakeRequests[0].closed);
    EXPECT_EQ(OpenFakeRequests(), 0);
    EXPECT_EQ(OpenRequest(NULL, "/a.html", INTERNET_SERVICE_HTTP, 0), (HINTERNET)NULL) << "no connection";
}

TEST_F(RequestTest, FtpOpensTheFileForBinaryReading)
{
    WriteSettingText(REG_CACHE, "4");
    HINTERNET file = OpenRequest(connection, "/pub/a.lzh", INTERNET_SERVICE_FTP, 7500);
    ASSERT_NE(file, (HINTERNET)NULL);
    ASSERT_EQ(g_fakeCalls.size(), 2u);
    EXPECT_EQ(g_fakeCalls[1], "FtpOpenFile /pub/a.lzh " + std::to_string(GENERIC_READ) + " " +
                                  std::to_string(FTP_TRANSFER_TYPE_BINARY));
    EXPECT_TRUE(g_fakeRequests.empty()) << "no HTTP request, header block or time-out for FTP";
    EXPECT_EQ(QueryStatusCode(file, INTERNET_SERVICE_FTP), 200u);
    CloseInternetHandle(&file);
}

TEST_F(RequestTest, StatusCodeAndRangeAnswers)
{
    FakeResponse next;
    g_fakeAnswer = [&next](const FakeRequestRecord &) { return next; };
    struct Case {
        DWORD status; bool readable; const char *range; unsigned long long asked; DWORD code; bool answers;
    } cases[] = {
        {200, true, "", 0, 200, false},
        {404, true, "", 0, 404, false},
        {200, false, "", 0, 0, false}, // unreadable status counts as 0
        {206, true, "bytes 7500-11999/12000", 7500, 206, true},
        {206, true, "bytes 0-11999/12000", 7500, 206, false},  // another range
        {206, true, "", 7500, 206, false},                      // no Content-Range
        {200, true, "bytes 7500-11999/12000", 7500, 200, false}, // range ignored
        {416, true, "bytes */12000", 7500, 416, false},
        {206, true, "bytes 5368706620-5368709119/5368709120", 5368706620ULL, 206, true},
        {206, true, "bytes 1073739324-5368709119/5368709120", 5368706620ULL, 206, false}, // its low 32 bits
    };
    for (const Case &c : cases) {
        next = FakeResponse();
        next.status = c.status;
        next.statusReadable = c.readable;
        next.contentRange = c.range;
        HINTERNET request = OpenRequest(connection, "/a.bin", INTERNET_SERVICE_HTTP, c.asked);
        ASSERT_NE(request, (HINTERNET)NULL);
        EXPECT_EQ(QueryStatusCode(request, INTERNET_SERVICE_HTTP), c.code) << c.status << " " << c.range;
        EXPECT_EQ(AnswersRange(request, c.asked), c.answers) << c.status << " '" << c.range << "' asked " << c.asked;
        CloseInternetHandle(&request);
    }
}

TEST_F(RequestTest, RemoteFactsFromHttpHeaders)
{
    FakeResponse next;
    g_fakeAnswer = [&next](const FakeRequestRecord &) { return next; };
    struct Case {
        const char *raw; bool hasType; const char *type; bool hasDate; bool hasLength; unsigned long long length;
        int resume; const char *shownType; WORD year; unsigned long long size;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", true, "text/html", true, true, 1234, 1, "text/html", 2001, 1234},
        {"http/1.1 200 OK\r\n\r\n", true, "image/gif", true, true, 5, 1, "image/gif", 2001, 5},
        {"HTTP/1.0 200 OK\r\n\r\n", true, "text/html", true, true, 10, 0, "text/html", 2001, 10},
        {"HTTP/1.1 200 OK\r\n\r\n", false, "", false, false, 0, 1, "text/text", 0, 0},
        {"HTTP/1.1 200 OK\r\n\r\n", true, "text/html; charset=Shift_JIS", true, false, 0, 1,
         "text/html; charset=Shift_JIS", 2001, 0},
        {"", true, "text/html", true, true, 7, 0, "text/html", 2001, 7}, // raw headers too long to read
        {"HTTP/1.1 200 OK\r\n\r\n", true, "x/y", true, true, 4294967295ULL, 1, "x/y", 2001, 4294967295ULL},
        {"HTTP/1.1 200 OK\r\n\r\n", true, "x/y", true, true, 4294967296ULL, 1, "x/y", 2001, 4294967296ULL},
        {"HTTP/1.1 200 OK\r\n\r\n", true, "x/y", true, true, 5368709120ULL, 1, "x/y", 2001, 5368709120ULL},
    };
    for (const Case &c : cases) {
        next = FakeResponse();
        next.rawHeaders = c.raw;
        next.hasContentType = c.hasType;
        next.contentType = c.type;
        next.hasLastModified = c.hasDate;
        next.hasLength = c.hasLength;
        next.length = c.length;
        next.body = "x";
        HINTERNET request = OpenRequest(connection, "/a", INTERNET_SERVICE_HTTP, 0);
        ASSERT_NE(request, (HINTERNET)NULL);
        SYSTEMTIME date;
        memset(&date, 0x55, sizeof date);
        g_resumePossible = 7;
        unsigned long long size = FetchRemoteFacts(request, "/a", &date, INTERNET_SERVICE_HTTP);
        EXPECT_EQ(size, c.size) << c.raw << c.type;
        EXPECT_EQ(g_resumePossible, c.resume) << c.raw;
        EXPECT_STREQ(g_contentType, c.shownType);
        EXPECT_EQ(date.wYear, c.year);
        if (c.hasDate)
            EXPECT_EQ(memcmp(&date, &next.lastModified, sizeof date), 0);
        CloseInternetHandle(&request);
    }
}

// Dates that the library's own conversion cannot take (under Wine it ends the
// program on them) are read from the header's text; a text that is no date
// gives the year 0, so the file is fetched whole and keeps no date.
TEST_F(RequestTest, ServerDateFromTheLastModifiedText)
{
    FakeResponse next;
    g_fakeAnswer = [&next](const FakeRequestRecord &) { return next; };
    struct Case { const char *text; WORD year, month, day, weekday, hour; } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 1994, 11, 6, 0, 8},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 1994, 11, 6, 0, 8},
        {"Sun Nov  6 08:49:37 1994", 1994, 11, 6, 0, 8},
        {"Fri, 31 Dec 9999 23:59:59 GMT", 9999, 12, 31, 5, 23},
        {"Wed, 29 Feb 2012 10:00:00 GMT", 2012, 2, 29, 3, 10},
        {"Blursday, 32 Foo 20x9 25:61:61 GMT", 0, 0, 0, 0, 0},
        {"Sat, 01 Jan 2000", 0, 0, 0, 0, 0},
        {"garbage", 0, 0, 0, 0, 0},
        {"Mon, 01 Jan 30828 00:00:00 GMT", 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        next = FakeResponse();
        next.lastModifiedText = c.text;
        next.body = "x";
        HINTERNET request = OpenRequest(connection, "/a", INTERNET_SERVICE_HTTP, 0);
        ASSERT_NE(request, (HINTERNET)NULL);
        SYSTEMTIME date;
        memset(&date, 0x55, sizeof date);
        FetchRemoteFacts(request, "/a", &date, INTERNET_SERVICE_HTTP);
        EXPECT_EQ(date.wYear, c.year) << c.text;
        EXPECT_EQ(date.wMonth, c.month) << c.text;
        EXPECT_EQ(date.wDay, c.day) << c.text;
        EXPECT_EQ(date.wDayOfWeek, c.weekday) << c.text;
        EXPECT_EQ(date.wHour, c.hour) << c.text;
        CloseInternetHandle(&request);
    }
}

TEST_F(RequestTest, RemoteFactsFromAnFtpListing)
{
    SYSTEMTIME written = {1999, 7, 0, 4, 12, 30, 15, 0};
    SystemTimeToFileTime(&written, &g_fakeFtpFile.written);
    g_fakeFtpFile.size = 5368713441ULL; // 5 GiB + 4321: the listing's high part counts
    lstrcpyA(g_contentType, "text/html");
    g_resumePossible = 1;
    SYSTEMTIME date;
    EXPECT_EQ(FetchRemoteFacts(connection, "/pub/a.lzh", &date, INTERNET_SERVICE_FTP), 5368713441ULL);
    EXPECT_EQ(g_resumePossible, 0);
    EXPECT_STREQ(g_contentType, "");
    EXPECT_EQ(date.wYear, 1999);
    EXPECT_EQ(date.wMonth, 7);
    EXPECT_EQ(date.wDay, 4);
    EXPECT_EQ(date.wSecond, 15);
    EXPECT_EQ(g_fakeCalls.back(),
              "FtpFindFirstFile /pub/a.lzh " + std::to_string(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE));
    g_fakeFtpFile.found = false;
    EXPECT_EQ(FetchRemoteFacts(connection, "/pub/none", &date, INTERNET_SERVICE_FTP), 0u);
    EXPECT_EQ(date.wYear, 0);
}

// A file in the test folder with all three times set to the date.
static std::string MakeDatedFile(const char *name, const SYSTEMTIME &date, DWORD size)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string path = std::string(folder) + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    std::string bytes(size, 'a');
    DWORD written;
    WriteFile(file, bytes.data(), size, &written, NULL);
    FILETIME time;
    SystemTimeToFileTime(&date, &time);
    SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
    return path;
}

TEST(UpdateCheck, CompareWithStoredFile)
{
    SYSTEMTIME stored = {2001, 2, 0, 3, 4, 5, 6, 0};
    std::string path = MakeDatedFile("parvel-compare.bin", stored, 10);
    struct Case { SYSTEMTIME server; int result; } cases[] = {
        {{2001, 2, 0, 3, 4, 5, 6, 0}, 0},
        {{2001, 2, 0, 3, 4, 5, 7, 0}, 1},  // one second newer on the server
        {{2001, 2, 0, 3, 4, 5, 5, 0}, -1}, // older
        {{0, 2, 0, 3, 4, 5, 6, 0}, 1},     // no date
        {{2001, 13, 0, 40, 4, 5, 6, 0}, 1}, // a date that cannot be converted
    };
    for (const Case &c : cases)
        EXPECT_EQ(CompareWithStoredFile(path.c_str(), &c.server), c.result)
            << c.server.wYear << "-" << c.server.wMonth << "-" << c.server.wDay << " " << c.server.wSecond;
    SYSTEMTIME any = {2001, 2, 0, 3, 4, 5, 6, 0};
    EXPECT_EQ(CompareWithStoredFile((path + ".none").c_str(), &any), 1) << "no stored file";
    unsigned long long size = 0;
    EXPECT_TRUE(ReadStoredSize(path.c_str(), &size));
    EXPECT_EQ(size, 10u);
    // Held by another program without sharing: neither compared nor sized.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CompareWithStoredFile(path.c_str(), &any), STORED_FILE_HELD);
    EXPECT_FALSE(ReadStoredSize(path.c_str(), &size));
    CloseHandle(held);
    DeleteFileA(path.c_str());
}
