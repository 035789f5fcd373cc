// tools/bench/request_floor.cpp — the Internet client library's cost per small file, no window.
// One session and one connection kept for all files; per file the request parvel.exe sends
// (same flags, header block and time-outs), the status, length and date queries, the body
// read until the library gives no more, the file written and given the server's date.
// Prints files, failures, seconds and ms per file: the floor of a crawl under this library.
// Usage: request_floor.exe http://host:port/ PATH_LIST OUTPUT_FOLDER [HOLD_MS]
//   HOLD_MS: a sleep before each file, as parvel.exe's fetch supervision holds each; the
//   seconds printed count the sleeps too.
//   PATH_LIST: one object path a line ("/s/d0000/f00.bin"), each stored under OUTPUT_FOLDER.
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "net/net.h"
#include "tools/bench/probe_request.h"

// The facts parvel.exe asks of every answer: status, length, date.
struct Answer {
    DWORD status;
    char length[32];
    SYSTEMTIME date;
    bool dated;
};

static void QueryAnswer(HINTERNET request, Answer *answer)
{
    DWORD size = sizeof answer->status;
    answer->status = 0;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &answer->status, &size, NULL);
    size = sizeof answer->length - 1;
    memset(answer->length, 0, sizeof answer->length);
    HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, answer->length, &size, NULL);
    size = sizeof answer->date;
    answer->dated = HttpQueryInfoA(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &answer->date,
                                   &size, NULL) != FALSE;
}

// The local file of an object path: the output folder and the path with
// '\' for '/'; the folders on the way are made.
static HANDLE CreateLocalFile(const char *folder, const char *path)
{
    char local[MAX_PATH * 2];
    int length = snprintf(local, sizeof local, "%s%s", folder, path);
    if (length <= 0 || length >= (int)sizeof local)
        return INVALID_HANDLE_VALUE;
    for (char *p = local + strlen(folder); *p != '\0'; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        CreateDirectoryA(local, NULL);
        *p = '\\';
    }
    return CreateFileA(local, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Reads the body until the library gives no more; false when a read or a
// write fails.
static bool StoreBody(HINTERNET request, HANDLE file)
{
    static char buffer[65536];
    for (;;) {
        DWORD read = 0, written = 0;
        if (!InternetReadFile(request, buffer, sizeof buffer, &read))
            return false;
        if (read == 0)
            return true;
        if (!WriteFile(file, buffer, read, &written, NULL) || written != read)
            return false;
    }
}

static void SetDate(HANDLE file, const Answer *answer)
{
    FILETIME time;
    if (answer->dated && SystemTimeToFileTime(&answer->date, &time))
        SetFileTime(file, &time, &time, &time);
}

// One file from request to stored file; false when any step fails.
static bool FetchFile(HINTERNET connection, const char *path, const char *folder)
{
    // Redirects are left to the caller, as parvel.exe leaves them.
    HINTERNET request = SendProbeRequest(connection, path, INTERNET_FLAG_NO_AUTO_REDIRECT);
    if (request == NULL)
        return false;
    Answer answer;
    QueryAnswer(request, &answer);
    bool stored = false;
    HANDLE file = answer.status == 200 ? CreateLocalFile(folder, path) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        stored = StoreBody(request, file);
        SetDate(file, &answer);
        CloseHandle(file);
    }
    InternetCloseHandle(request);
    return stored;
}

// The path on a line of the list, its line end taken off; false at a blank line.
static bool TakePath(char *line)
{
    line[strcspn(line, "\r\n")] = '\0';
    return line[0] == '/';
}

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

int main(int argc, char **argv)
{
    UrlParts server = {};
    FILE *list = argc == 4 || argc == 5 ? fopen(argv[2], "r") : NULL;
    if (list == NULL || !SplitUrl(argv[1], &server)) {
        fprintf(stderr, "usage: request_floor.exe http://host:port/ PATH_LIST OUTPUT_FOLDER [HOLD_MS]\n");
        return 2;
    }
    DWORD hold = argc == 5 ? (DWORD)strtoul(argv[4], NULL, 10) : 0;
    LARGE_INTEGER began, ended;
    QueryPerformanceCounter(&began);
    HINTERNET session = InternetOpenA(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET connection = InternetConnectA(session, server.host, server.port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    unsigned files = 0, failed = 0;
    char line[2048];
    while (connection != NULL && fgets(line, sizeof line, list) != NULL) {
        if (!TakePath(line))
            continue;
        ++files;
        if (hold > 0)
            Sleep(hold);
        failed += FetchFile(connection, line, argv[3]) ? 0 : 1;
    }
    QueryPerformanceCounter(&ended);
    fclose(list);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    double seconds = Seconds(began, ended);
    printf("files %u failed %u seconds %.3f ms/file %.2f\n", files, failed, seconds,
           files > 0 ? 1000.0 * seconds / files : 0.0);
    return connection != NULL && failed == 0 ? 0 : 1;
}
