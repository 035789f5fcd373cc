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
#include "tools/bench/probe_request.h"

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
    HINTERNET request = connection != NULL ? SendProbeRequest(connection, parts.path, 0) : NULL;
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
