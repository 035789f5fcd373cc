// tests/win/fake_internet.cpp — the in-memory Internet calls.
// Sessions, connections, HTTP requests with scripted responses, FTP listings and reads.
#include "tests/win/fake_internet.h"

#include <string.h>

#include <map>

#include "engine/engine_internal.h"
#include "net/net.h"

std::function<FakeResponse(const FakeRequestRecord &)> g_fakeAnswer;
std::vector<FakeRequestRecord> g_fakeRequests;
std::vector<std::string> g_fakeCalls;
FakeFtpFile g_fakeFtpFile;
bool g_fakeTimeoutAccepted = true;
bool g_fakeConnectWorks = true;
std::function<void(size_t)> g_fakeOnRead;

DWORD g_fakeTick;

static InternetCalls g_realInternet;
static ClockCalls g_realClock;

static DWORD WINAPI FakeTickCount(void) { return g_fakeTick; }

// An open handle: a session, a connection, an HTTP request (index into
// g_fakeRequests), an FTP file or an FTP find handle.
enum HandleKind { SESSION, CONNECTION, HTTP_REQUEST, FTP_FILE, FTP_FIND };
struct FakeHandle {
    HandleKind kind;
    size_t request;
    FakeResponse response;
    size_t offset;
    std::string host; // of a connection
};
static std::map<HINTERNET, FakeHandle *> g_handles;

static HINTERNET NewHandle(HandleKind kind)
{
    FakeHandle *handle = new FakeHandle{kind, 0, FakeResponse(), 0, ""};
    g_handles[(HINTERNET)handle] = handle;
    return (HINTERNET)handle;
}

static FakeHandle *Find(HINTERNET handle)
{
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? NULL : it->second;
}

static HINTERNET WINAPI FakeOpen(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD) { return NewHandle(SESSION); }

static BOOL WINAPI FakeClose(HINTERNET handle)
{
    FakeHandle *h = Find(handle);
    if (h == NULL)
        return FALSE;
    if (h->kind == HTTP_REQUEST)
        g_fakeRequests[h->request].closed = true;
    g_handles.erase(handle);
    delete h;
    return TRUE;
}

static HINTERNET WINAPI FakeConnect(HINTERNET, LPCSTR host, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                                    DWORD service, DWORD flags, DWORD_PTR context)
{
    g_fakeCalls.push_back("Connect " + std::string(host) + " " + std::to_string(port) + " user=" + user +
                          " password=" + password + " service=" + std::to_string(service) + " " +
                          std::to_string(flags) + " " + std::to_string(context));
    if (!g_fakeConnectWorks)
        return NULL;
    HINTERNET handle = NewHandle(CONNECTION);
    Find(handle)->host = std::string(host) + " " + std::to_string(port);
    return handle;
}

static HINTERNET WINAPI FakeOpenRequest(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version,
                                        LPCSTR referrer, LPCSTR *accept, DWORD flags, DWORD_PTR)
{
    FakeHandle *c = Find(connection);
    if (c == NULL || c->kind != CONNECTION || strcmp(verb, "GET") != 0 || referrer != NULL || accept != NULL)
        return NULL;
    FakeRequestRecord record;
    record.host = c->host;
    record.object = object;
    record.version = version;
    record.flags = flags;
    g_fakeRequests.push_back(record);
    HINTERNET handle = NewHandle(HTTP_REQUEST);
    Find(handle)->request = g_fakeRequests.size() - 1;
    return handle;
}

static BOOL WINAPI FakeSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length)
{
    FakeHandle *h = Find(handle);
    if (h == NULL || h->kind != HTTP_REQUEST || length != 4)
        return FALSE;
    g_fakeRequests[h->request].options.push_back({option, *(DWORD *)buffer});
    return option == INTERNET_OPTION_RECEIVE_TIMEOUT ? g_fakeTimeoutAccepted : TRUE;
}

static BOOL WINAPI FakeSend(HINTERNET handle, LPCSTR headers, DWORD length, LPVOID optional, DWORD optionalLength)
{
    FakeHandle *h = Find(handle);
    if (h == NULL || h->kind != HTTP_REQUEST || optional != NULL || optionalLength != 0)
        return FALSE;
    FakeRequestRecord &record = g_fakeRequests[h->request];
    record.headers.assign(headers, length);
    h->response = g_fakeAnswer ? g_fakeAnswer(record) : FakeResponse();
    if (h->response.hasLength && h->response.length == 0)
        h->response.length = (DWORD)h->response.body.size();
    if (h->response.sendFails)
        SetLastError(h->response.sendError);
    return !h->response.sendFails;
}

static BOOL CopyText(const std::string &text, LPVOID buffer, LPDWORD length)
{
    if (text.size() + 1 > *length) {
        *length = (DWORD)text.size() + 1;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    *length = (DWORD)text.size();
    return TRUE;
}

static BOOL CopyNumber(DWORD value, LPVOID buffer, LPDWORD length)
{
    if (*length < 4)
        return FALSE;
    *(DWORD *)buffer = value;
    *length = 4;
    return TRUE;
}

// The Last-Modified text of a response: as scripted, or its date in RFC 1123 form.
static std::string LastModifiedText(const FakeResponse &r)
{
    if (!r.lastModifiedText.empty())
        return r.lastModifiedText;
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const SYSTEMTIME &t = r.lastModified;
    char text[64];
    wsprintfA(text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.wDayOfWeek % 7], t.wDay,
              months[(t.wMonth + 11) % 12], t.wYear, t.wHour, t.wMinute, t.wSecond);
    return text;
}

static BOOL WINAPI FakeQueryInfo(HINTERNET handle, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD)
{
    FakeHandle *h = Find(handle);
    if (h == NULL || h->kind != HTTP_REQUEST)
        return FALSE;
    const FakeResponse &r = h->response;
    switch (level) {
    case HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER:
        return r.statusReadable && CopyNumber(r.status, buffer, length);
    case HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER: // the library's number holds 32 bits
        return r.hasLength && CopyNumber((DWORD)r.length, buffer, length);
    case HTTP_QUERY_CONTENT_LENGTH:
        return r.hasLength && CopyText(std::to_string(r.length), buffer, length);
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        return CopyText(r.rawHeaders, buffer, length);
    case HTTP_QUERY_CONTENT_TYPE:
        return r.hasContentType && CopyText(r.contentType, buffer, length);
    case HTTP_QUERY_CONTENT_RANGE:
        return !r.contentRange.empty() && CopyText(r.contentRange, buffer, length);
    case HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME:
        if (!r.hasLastModified || *length < sizeof(SYSTEMTIME))
            return FALSE;
        memcpy(buffer, &r.lastModified, sizeof(SYSTEMTIME));
        *length = sizeof(SYSTEMTIME);
        return TRUE;
    case HTTP_QUERY_LAST_MODIFIED:
        return r.hasLastModified && CopyText(LastModifiedText(r), buffer, length);
    case HTTP_QUERY_LOCATION:
        return !r.location.empty() && CopyText(r.location, buffer, length);
    }
    return FALSE;
}

static HINTERNET WINAPI FakeFtpOpenFile(HINTERNET connection, LPCSTR file, DWORD access, DWORD flags, DWORD_PTR)
{
    g_fakeCalls.push_back("FtpOpenFile " + std::string(file) + " " + std::to_string(access) + " " +
                          std::to_string(flags));
    if (Find(connection) == NULL || !g_fakeFtpFile.opens)
        return NULL;
    HINTERNET handle = NewHandle(FTP_FILE);
    Find(handle)->response.body = g_fakeFtpFile.body;
    return handle;
}

static HINTERNET WINAPI FakeFtpFindFirstFile(HINTERNET connection, LPCSTR path, LPWIN32_FIND_DATAA data,
                                             DWORD flags, DWORD_PTR)
{
    g_fakeCalls.push_back("FtpFindFirstFile " + std::string(path) + " " + std::to_string(flags));
    if (Find(connection) == NULL || !g_fakeFtpFile.found)
        return NULL;
    data->nFileSizeLow = (DWORD)g_fakeFtpFile.size;
    data->nFileSizeHigh = (DWORD)(g_fakeFtpFile.size >> 32);
    data->ftLastWriteTime = g_fakeFtpFile.written;
    return NewHandle(FTP_FIND);
}

static BOOL WINAPI FakeQueryDataAvailable(HINTERNET handle, LPDWORD available, DWORD, DWORD_PTR)
{
    FakeHandle *h = Find(handle);
    if (h == NULL || (h->kind != HTTP_REQUEST && h->kind != FTP_FILE))
        return FALSE;
    if (h->offset >= h->response.failAt)
        return FALSE;
    size_t left = h->response.body.size() - h->offset;
    *available = (DWORD)(left < h->response.chunk ? left : h->response.chunk);
    return TRUE;
}

static BOOL WINAPI FakeReadFile(HINTERNET handle, LPVOID buffer, DWORD toRead, LPDWORD read)
{
    *read = 0;
    FakeHandle *h = Find(handle);
    if (h == NULL || (h->kind != HTTP_REQUEST && h->kind != FTP_FILE))
        return FALSE;
    if (h->offset >= h->response.failAt)
        return FALSE;
    size_t left = h->response.body.size() - h->offset;
    size_t count = left < toRead ? left : toRead;
    memcpy(buffer, h->response.body.data() + h->offset, count);
    h->offset += count;
    *read = (DWORD)count;
    if (h->kind == HTTP_REQUEST) {
        g_fakeRequests[h->request].bytesRead += count;
        g_fakeRequests[h->request].reads++;
    }
    if (g_fakeOnRead)
        g_fakeOnRead(h->offset);
    return TRUE;
}

// The cookie store is empty; a cookie put in it is recorded as a call.
static BOOL WINAPI FakeGetCookie(LPCSTR, LPCSTR, LPSTR, LPDWORD, DWORD, LPVOID)
{
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

static DWORD WINAPI FakeSetCookie(LPCSTR url, LPCSTR, LPCSTR data, DWORD, DWORD_PTR)
{
    g_fakeCalls.push_back("SetCookie " + std::string(url) + " " + data);
    return COOKIE_STATE_ACCEPT;
}

void InstallFakeInternet(void)
{
    g_realInternet = g_internet;
    g_realClock = g_clock;
    g_clock.TickCount = FakeTickCount;
    g_fakeTick = 0;
    g_internet.Open = FakeOpen;
    g_internet.CloseHandle = FakeClose;
    g_internet.Connect = FakeConnect;
    g_internet.OpenRequest = FakeOpenRequest;
    g_internet.SetOption = FakeSetOption;
    g_internet.SendRequest = FakeSend;
    g_internet.QueryInfo = FakeQueryInfo;
    g_internet.FtpOpenFile = FakeFtpOpenFile;
    g_internet.FtpFindFirstFile = FakeFtpFindFirstFile;
    g_internet.QueryDataAvailable = FakeQueryDataAvailable;
    g_internet.ReadFile = FakeReadFile;
    g_internet.GetCookie = FakeGetCookie;
    g_internet.SetCookie = FakeSetCookie;
    g_fakeAnswer = nullptr;
    g_fakeRequests.clear();
    g_fakeCalls.clear();
    g_fakeFtpFile = FakeFtpFile();
    g_fakeTimeoutAccepted = true;
    g_fakeConnectWorks = true;
    g_fakeOnRead = nullptr;
}

void RestoreInternet(void)
{
    g_internet = g_realInternet;
    g_clock = g_realClock;
    for (auto &entry : g_handles)
        delete entry.second;
    g_handles.clear();
}

FakeResponse BodyResponse(const std::string &body)
{
    FakeResponse response;
    response.body = body;
    response.rawHeaders = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    return response;
}

int OpenFakeRequests(void)
{
    int open = 0;
    for (auto &entry : g_handles)
        open += entry.second->kind == HTTP_REQUEST || entry.second->kind == FTP_FILE;
    return open;
}
