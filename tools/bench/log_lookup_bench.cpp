// tools/bench/log_lookup_bench.cpp — access log look-ups: the list box's walk against the index.
// Run by hand under Wine: log_lookup_bench [lines]; prints the time per look-up and the memory.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/surface.h"

static double Seconds(void)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

static size_t PrivateBytes(void)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// A window holding an access log list box as the main window's, indexed or not.
static HWND MakeLogWindow(bool indexed)
{
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 400, 300, NULL, NULL, NULL, NULL);
    CreateWindowA("LISTBOX", "", WS_CHILD | LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | WS_VSCROLL,
                  0, 0, 400, 300, window, (HMENU)(INT_PTR)IDC_LOG, NULL, NULL);
    if (indexed)
        IndexAccessLog(window);
    return window;
}

// Paths of a big site: folders of 100 files, every tenth name Japanese.
static std::string LinePath(int n)
{
    char line[200];
    snprintf(line, sizeof line, "C:\\Users\\user\\Documents\\Parvel\\www.example.com\\section%d\\%s%d.html", n / 100,
             n % 10 == 0 ? "\x83\x79\x81\x5b\x83\x57" /* ページ */ : "page", n);
    return line;
}

static double FillSeconds(HWND window, const std::vector<std::string> &lines)
{
    double start = Seconds();
    for (const std::string &line : lines)
        AppendLog(window, line.c_str());
    return Seconds() - start;
}

// Average seconds per look-up of the queries with the message (LB_FINDSTRINGEXACT or LOG_FINDLINE).
static double LookupSeconds(HWND window, UINT message, const std::vector<std::string> &queries, int *found)
{
    *found = 0;
    double start = Seconds();
    for (const std::string &query : queries)
        *found += SendDlgItemMessageA(window, IDC_LOG, message, (WPARAM)-1, (LPARAM)query.c_str()) != LB_ERR;
    return (Seconds() - start) / (double)queries.size();
}

int main(int argc, char **argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 100000;
    std::vector<std::string> lines, hits, misses;
    for (int n = 0; n < count; ++n)
        lines.push_back(LinePath(n));
    for (int n = 0; n < 200; ++n) {
        hits.push_back(LinePath((int)((long long)n * 7919 % count)));
        misses.push_back(LinePath(count + n));
    }
    size_t before = PrivateBytes();
    HWND plain = MakeLogWindow(false);
    double plainFill = FillSeconds(plain, lines);
    size_t plainBytes = PrivateBytes() - before;
    HWND indexed = MakeLogWindow(true);
    double indexedFill = FillSeconds(indexed, lines);
    size_t indexedBytes = PrivateBytes() - before - plainBytes;
    int foundPlain, foundIndex, missPlain, missIndex;
    double plainHit = LookupSeconds(plain, LB_FINDSTRINGEXACT, hits, &foundPlain);
    double plainMiss = LookupSeconds(plain, LB_FINDSTRINGEXACT, misses, &missPlain);
    double indexHit = LookupSeconds(indexed, LOG_FINDLINE, hits, &foundIndex);
    double indexMiss = LookupSeconds(indexed, LOG_FINDLINE, misses, &missIndex);
    printf("lines %d\n", count);
    printf("fill (AppendLog each line): list box alone %.2f s, with index %.2f s\n", plainFill, indexedFill);
    printf("memory: list box alone %.1f MB, list box and index %.1f MB\n", plainBytes / 1e6, indexedBytes / 1e6);
    printf("look-up, line present: list box %.3f ms, index %.4f ms (found %d and %d of %zu)\n", plainHit * 1e3,
           indexHit * 1e3, foundPlain, foundIndex, hits.size());
    printf("look-up, line absent:  list box %.3f ms, index %.4f ms (found %d and %d)\n", plainMiss * 1e3,
           indexMiss * 1e3, missPlain, missIndex);
    return foundPlain == foundIndex && missPlain == missIndex ? 0 : 1;
}
