// engine/request.cpp — opening the transfer of one file on a connection: the HTTP GET with its fixed header block, byte range, cache flags and receive time-outs, or the FTP read; the status of the response.
#include "engine/engine.h"

#include <string.h>

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

static HINTERNET OpenHttpRequest(HINTERNET connection, const char *objectPath, DWORD flags, DWORD rangeStart)
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
