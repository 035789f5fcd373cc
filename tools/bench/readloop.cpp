// tools/bench/readloop.cpp — the Internet client library's bare read loop: one URL into one file.
// Opens the address as parvel.exe does (session, connection, GET with the same flags, header
// block and time-outs), then reads what the library has available at each pass and writes it
// to the file, with no window. Prints bytes, reads, seconds and MB/s.
// Usage: readloop.exe http://host:port/path OUTPUT_FILE
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>

#include "net/net.h"

// The request parvel.exe sends with the default settings: cache mode 0
// (CacheFlagsForMode), the header block of FormatRequestHeaders and the
// receive time-outs of the default "timeout" setting.
static const DWORD REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
static const char REQUEST_HEADERS[] = "Accept: */*\r\nPragma: no-cache\r\n\r\n";
static const DWORD RECEIVE_TIMEOUT = 180000;

struct UrlParts {
    char host[256];
    char path[2048];
    INTERNET_PORT port;
};

static bool SplitUrl(const char *url, UrlParts *parts)
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

static HINTERNET SendRequest(HINTERNET connection, const char *path)
{
    HINTERNET request = HttpOpenRequestA(connection, "GET", path, "HTTP/1.1", NULL, NULL, REQUEST_FLAGS, 0);
    if (request == NULL)
        return NULL;
    DWORD timeout = RECEIVE_TIMEOUT;
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    if (HttpSendRequestA(request, REQUEST_HEADERS, (DWORD)(sizeof REQUEST_HEADERS - 1), NULL, 0))
        return request;
    InternetCloseHandle(request);
    return NULL;
}

struct LoopCount {
    unsigned long long bytes;
    unsigned long long reads;
};

// Reads what the library has available at each pass into a buffer that
// grows to the largest amount seen, and writes it to the file.
static void ReadLoop(HINTERNET request, HANDLE file, LoopCount *count)
{
    char *buffer = NULL;
    DWORD capacity = 0;
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0)
            break;
        if (available > capacity) {
            free(buffer);
            buffer = (char *)malloc(available);
            capacity = buffer != NULL ? available : 0;
            if (buffer == NULL)
                break;
        }
        DWORD read = 0, written = 0;
        if (!InternetReadFile(request, buffer, available, &read) || read == 0)
            break;
        WriteFile(file, buffer, read, &written, NULL);
        count->bytes += read;
        count->reads++;
    }
    free(buffer);
}

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

int main(int argc, char **argv)
{
    UrlParts parts = {};
    if (argc != 3 || !SplitUrl(argv[1], &parts)) {
        fprintf(stderr, "usage: readloop.exe http://host:port/path OUTPUT_FILE\n");
        return 2;
    }
    HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot create %s\n", argv[2]);
        return 1;
    }
    LARGE_INTEGER began, ended;
    QueryPerformanceCounter(&began);
    HINTERNET session = InternetOpenA(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, parts.host, parts.port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = connection != NULL ? SendRequest(connection, parts.path) : NULL;
    LoopCount count = {0, 0};
    if (request != NULL)
        ReadLoop(request, file, &count);
    QueryPerformanceCounter(&ended);
    CloseHandle(file);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    if (request == NULL) {
        fprintf(stderr, "request failed: %lu\n", GetLastError());
        return 1;
    }
    double seconds = Seconds(began, ended);
    printf("bytes %llu reads %llu seconds %.3f MB/s %.1f\n", count.bytes, count.reads, seconds,
           seconds > 0 ? (double)count.bytes / seconds / 1e6 : 0.0);
    return 0;
}
