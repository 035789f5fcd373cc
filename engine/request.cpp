// engine/request.cpp — opening the transfer of one file on a connection: the HTTP GET with its fixed header block, byte range, cache flags and receive time-outs, or the FTP read; the status of the response.
#include "engine/engine.h"

#include <string.h>

#include "app/app.h"
#include "engine/receive_numbers.h"
#include "net/net.h"
#include "settings/settings.h"

DWORD CacheFlagsForMode(int cacheMode)
{
    switch (cacheMode) {
    case 0:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    case 1:
        return INTERNET_FLAG_RELOAD;
    case 2:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION;
    case 3:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
    case 4:
        return 0;
    default:
        return INTERNET_FLAG_RELOAD;
    }
}

void FormatRequestHeaders(char *block, DWORD rangeStart)
{
    memset(block, 0, HEADER_BLOCK_SIZE);
    if (rangeStart == 0)
        lstrcpyA(block, "Accept: */*\r\nPragma: no-cache\r\n\r\n");
    else
        wsprintfA(block, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=%lu-\r\n\r\n", (unsigned long)rangeStart);
}

// Sets the receive time-out (setting "timeout") on the request; the data
// receive time-out only when the first one was accepted.
static void SetReceiveTimeouts(HINTERNET request)
{
    DWORD timeout = GetTimeout();
    if (g_internet.SetOption(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout))
        g_internet.SetOption(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

static HINTERNET SendHttpRequest(HINTERNET connection, const char *objectPath, DWORD flags, DWORD rangeStart)
{
    HINTERNET request = g_internet.OpenRequest(connection, "GET", objectPath, "HTTP/1.1", NULL, NULL, flags, 0);
    if (request == NULL)
        return NULL;
    char block[HEADER_BLOCK_SIZE];
    FormatRequestHeaders(block, rangeStart);
    SetReceiveTimeouts(request);
    if (!g_internet.SendRequest(request, block, (DWORD)lstrlenA(block), NULL, 0)) {
        CloseInternetHandle(&request);
        return NULL;
    }
    return request;
}

bool SameServer(const char *hostPart, const char *otherHostPart)
{
    char name[TEXT_SIZE], otherName[TEXT_SIZE];
    INTERNET_PORT port = HostNameAndPort(hostPart, name);
    INTERNET_PORT otherPort = HostNameAndPort(otherHostPart, otherName);
    return lstrcmpiA(name, otherName) == 0 && (port ? port : INTERNET_DEFAULT_HTTP_PORT) ==
                                                   (otherPort ? otherPort : INTERNET_DEFAULT_HTTP_PORT);
}

// The library follows a redirect loop for ever (Wine's does), so redirects
// within the connection's own server are followed here, at most this many.
#define MAX_REDIRECTS 10

static bool IsRedirect(DWORD code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }

// The object path that a redirect's Location names on the connection's own
// server (a path from '/', or "http://" with the connection's host part);
// false for any other place.
static bool LocationOnThisServer(HINTERNET request, char *objectPath)
{
    char location[2 * TEXT_SIZE + 1];
    memset(location, 0, sizeof location);
    DWORD length = 2 * TEXT_SIZE;
    if (!g_internet.QueryInfo(request, HTTP_QUERY_LOCATION, location, &length, NULL))
        return false;
    location[2 * TEXT_SIZE] = '\0';
    const char *path = location;
    if (StartsWithNoCase(location, "http://")) {
        char host[TEXT_SIZE];
        if (CopyUntil(host, location + 7, "/") == TEXT_TOO_LONG || !SameServer(host, g_connection.host))
            return false;
        path = ScanFor(location + 7, "", "/", 1);
        if (*path == '\0')
            path = "/";
    }
    if (*path != '/' || strlen(path) >= 2 * TEXT_SIZE)
        return false;
    strcpy(objectPath, path);
    return true;
}

// Tells the user why the address ends without a file.
static void LogTooManyRedirects(const char *objectPath)
{
    char line[3 * TEXT_SIZE];
    FormatText(line, sizeof line, "* リダイレクトが多すぎます : %s%s", g_connection.host, objectPath);
    AppendLog(g_mainWindow, line);
}

// Sends the GET; a redirect within the server is followed by a new request
// (the last of too many redirects is the answer, and fails as one), and a
// redirect to another place is sent again for the library to follow.
static HINTERNET OpenHttpRequest(HINTERNET connection, const char *objectPath, DWORD flags, DWORD rangeStart)
{
    char path[2 * TEXT_SIZE];
    lstrcpynA(path, objectPath, sizeof path);
    for (int hop = 0;; ++hop) {
        HINTERNET request = SendHttpRequest(connection, path, flags | INTERNET_FLAG_NO_AUTO_REDIRECT, rangeStart);
        if (request == NULL || !IsRedirect(QueryStatusCode(request, INTERNET_SERVICE_HTTP)))
            return request;
        if (hop == MAX_REDIRECTS) {
            LogTooManyRedirects(objectPath);
            return request;
        }
        char next[2 * TEXT_SIZE];
        bool withinServer = LocationOnThisServer(request, next);
        CloseInternetHandle(&request);
        if (!withinServer)
            return SendHttpRequest(connection, path, flags, rangeStart);
        strcpy(path, next);
    }
}

HINTERNET OpenRequest(HINTERNET connection, const char *objectPath, DWORD service, DWORD rangeStart)
{
    DWORD flags = CacheFlagsForMode(GetCacheMode());
    if (service == INTERNET_SERVICE_HTTP)
        return OpenHttpRequest(connection, objectPath, flags, rangeStart);
    return g_internet.FtpOpenFile(connection, objectPath, GENERIC_READ, flags | FTP_TRANSFER_TYPE_BINARY, 0);
}

// Queries a number header; false when the response has none.
static bool QueryNumber(HINTERNET request, DWORD infoLevel, DWORD *value)
{
    *value = 0;
    DWORD length = sizeof *value;
    return g_internet.QueryInfo(request, infoLevel | HTTP_QUERY_FLAG_NUMBER, value, &length, NULL) != FALSE;
}

DWORD QueryStatusCode(HINTERNET request, DWORD service)
{
    if (service == INTERNET_SERVICE_FTP)
        return 200;
    DWORD code;
    return QueryNumber(request, HTTP_QUERY_STATUS_CODE, &code) ? code : 0;
}

DWORD QueryContentLength(HINTERNET request)
{
    DWORD length;
    return QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, &length) ? length : 0;
}

bool AnswerHasNoHeaderLines(HINTERNET request)
{
    static char raw[4096 + 1];
    memset(raw, 0, sizeof raw);
    DWORD length = sizeof raw - 1;
    if (!g_internet.QueryInfo(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw, &length, NULL))
        return false;
    const char *lineEnd = strstr(raw, "\r\n");
    return lineEnd == NULL || lineEnd[2] == '\0' || (lineEnd[2] == '\r' && lineEnd[3] == '\n');
}

bool AnswersRange(HINTERNET request, DWORD rangeStart)
{
    if (QueryStatusCode(request, INTERNET_SERVICE_HTTP) != 206)
        return false;
    char value[TEXT_SIZE + 1];
    memset(value, 0, sizeof value);
    DWORD length = TEXT_SIZE;
    if (!g_internet.QueryInfo(request, HTTP_QUERY_CONTENT_RANGE, value, &length, NULL))
        return false;
    return ContentRangeStart(value) == (long long)rangeStart;
}
