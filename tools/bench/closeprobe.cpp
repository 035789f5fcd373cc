// tools/bench/closeprobe.cpp — how long the library takes to close a request whose body is unread.
// Sends a GET as parvel.exe does (optionally with a range), reads the status, waits, then
// closes the request and prints how long the close took.
// Usage: closeprobe.exe HOST PORT PATH WAIT_MS [RANGE_START]
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>

static double Seconds(void)
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart / (double)frequency.QuadPart;
}

// The header block of parvel.exe's requests, with a range when rangeStart is given.
static void RequestHeaders(char *block, size_t size, const char *rangeStart)
{
    if (rangeStart == NULL)
        snprintf(block, size, "Accept: */*\r\nPragma: no-cache\r\n\r\n");
    else
        snprintf(block, size, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=%s-\r\n\r\n", rangeStart);
}

int main(int argc, char **argv)
{
    if (argc < 5) {
        printf("usage: closeprobe.exe HOST PORT PATH WAIT_MS [RANGE_START]\n");
        return 2;
    }
    HINTERNET session = InternetOpenA("closeprobe", INTERNET_OPEN_TYPE_DIRECT, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, argv[1], (INTERNET_PORT)atoi(argv[2]), "", "",
                                            INTERNET_SERVICE_HTTP, 0, 0);
    char headers[256];
    RequestHeaders(headers, sizeof headers, argc > 5 ? argv[5] : NULL);
    HINTERNET request = HttpOpenRequestA(connection, "GET", argv[3], "HTTP/1.1", NULL, NULL,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request == NULL || !HttpSendRequestA(request, headers, (DWORD)strlen(headers), NULL, 0)) {
        printf("the request could not be sent\n");
        return 1;
    }
    DWORD status = 0, length = sizeof status;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, NULL);
    // The time parvel.exe spends on its decision, and a network spends filling the socket.
    Sleep((DWORD)atoi(argv[4]));
    double began = Seconds();
    InternetCloseHandle(request);
    printf("status %lu: closed with its body unread in %.3f s\n", status, Seconds() - began);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    return 0;
}
