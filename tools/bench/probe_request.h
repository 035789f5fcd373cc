// tools/bench/probe_request.h — the GET parvel.exe sends by default, for the library probes.
// The request flags of cache mode 0 (CacheFlagsForMode) with the library's cookies off, as
// for a folder without cookies (CookieFlagsFor), the header block of FormatRequestHeaders
// and the receive time-outs of the default "timeout" setting.
#pragma once

#include <windows.h>
#include <wininet.h>

static const DWORD PROBE_REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES;
static const char PROBE_REQUEST_HEADERS[] = "Accept: */*\r\nPragma: no-cache\r\n\r\n";
static const DWORD PROBE_RECEIVE_TIMEOUT = 180000;

struct UrlParts {
    char host[256];
    char path[2048];
    INTERNET_PORT port;
};

static inline bool SplitUrl(const char *url, UrlParts *parts)
{
    URL_COMPONENTSA components = {};
    components.dwStructSize = sizeof components;
    components.lpszHostName = parts->host;
    components.dwHostNameLength = sizeof parts->host;
    components.lpszUrlPath = parts->path;
    components.dwUrlPathLength = sizeof parts->path;
    if (!InternetCrackUrlA(url, 0, 0, &components))
        return false;
    parts->port = components.nPort;
    return true;
}

// Opens and sends the GET with the flags above and any more given; null when it fails.
static inline HINTERNET SendProbeRequest(HINTERNET connection, const char *path, DWORD moreFlags)
{
    HINTERNET request =
        HttpOpenRequestA(connection, "GET", path, "HTTP/1.1", NULL, NULL, PROBE_REQUEST_FLAGS | moreFlags, 0);
    if (request == NULL)
        return NULL;
    DWORD timeout = PROBE_RECEIVE_TIMEOUT;
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    if (HttpSendRequestA(request, PROBE_REQUEST_HEADERS, (DWORD)(sizeof PROBE_REQUEST_HEADERS - 1), NULL, 0))
        return request;
    InternetCloseHandle(request);
    return NULL;
}
