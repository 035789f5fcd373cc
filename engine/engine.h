// engine/engine.h — interface of the crawl engine: the crawl run, the scheduler and admission test, the fetch of one address.
#ifndef PARVEL_ENGINE_ENGINE_H
#define PARVEL_ENGINE_ENGINE_H

#include <windows.h>
#include <wininet.h>

#include "address/address.h"

// Size of the start list and of the worker record's address.
#define START_LIST_SIZE 16384

// Depth limit of the "無限" (unlimited) depth button.
#define DEPTH_UNLIMITED 32512

// Depth value of an FTP address.
#define DEPTH_FTP 32767

// Attempt number of the last attempt at an address.
#define LAST_ATTEMPT 32760

// Run-wide state, written by StartCrawl before the run thread starts. The
// save folder, date folder and ignore patterns live with the address code.
extern char g_startList[START_LIST_SIZE];
extern int g_depthLimit;
extern HINTERNET g_internetSession;

// The system calls of the end of a run, in a table so that a test can check
// them without sound, hang-up or shutdown taking place.
struct EndActionCalls {
    BOOL(WINAPI *Sound)(LPCSTR sound, HMODULE module, DWORD flags);
    BOOL(WINAPI *OpenToken)(HANDLE process, DWORD access, PHANDLE token);
    BOOL(WINAPI *LookupPrivilege)(LPCSTR system, LPCSTR name, PLUID luid);
    BOOL(WINAPI *AdjustPrivileges)(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state,
                                        DWORD length, PTOKEN_PRIVILEGES previous, PDWORD returned);
    BOOL(WINAPI *Shutdown)(UINT flags, DWORD reason);
};
extern EndActionCalls g_endActions;

// Crawl run (window thread: StartCrawl; run thread: RunCrawl).
void StartCrawl(HWND window, const char *saveFolder, const char *startList, const char *ignoreText);
DWORD WINAPI RunCrawl(LPVOID unused);
void OpenInternetSession(void);
void ShowProgressTitle(const char *text);
void EnterRunMode(HWND window);
void FinishRun(HWND window);
void HangUp(void);
void PowerOffIfChosen(HWND window);

// Date folder text of a day: "YYYY-MM-DD\".
void FormatDateFolder(char *buffer, const SYSTEMTIME *day);

// Per start address state, shared by the scheduler, the fetch and the page
// scan: the scope of the entry's pages, whether its first page is still to
// be scanned, and the title its shortcut gets.
extern char g_startPath[TEXT_SIZE];
extern int g_startPageFlag;
extern char g_shortcutTitle[TEXT_SIZE];

// Links found and links handled in this pass: the run's progress bar.
extern int g_linksFound;
extern int g_linksHandled;

// What a fetch worker is given; its caller keeps it until the worker ends.
struct WorkerRecord {
    char address[START_LIST_SIZE];
    int depth;
    int attempt;
};

// Scheduler: one pass over the start list.
void RunStartList(void);

// Admission test: 1 to fetch the address, 0 to pass it over. The buffer must
// have room for one more character ("/" may be appended to a folder address).
int AdmitAddress(char *address, int depth);

// What an address names, by its file part: a page, another file, or an
// address too long to be handled. A name without extension is a folder: "/"
// is appended to the address (its buffer needs room for one more character)
// and host, path and file are split again.
enum { ADDRESS_PAGE = 0, ADDRESS_FILE = 1, ADDRESS_TOO_LONG = 2 };
int ClassifyAddress(char *address, int depth, char *host, char *path, char *file);

// Makes up to GetRetryCount attempts at the address under fetch supervision.
void RunAttempts(WorkerRecord *record, const char *address, int depth);

// The fetch a worker runs: FetchAddress, or a test's stand-in.
extern int (*g_fetchAddress)(const char *address, int depth, int attempt);

// Applies the ';' ignore pattern and '|' depth options of a start list entry.
void ApplyEntryOptions(const char *word);

// Thread entry of a fetch worker: the result of FetchAddress as exit code.
DWORD WINAPI FetchWorkerMain(LPVOID record);

// Shows the link counts in the run's progress bar.
void ShowLinkProgress(void);

// The current connection, reused while its host part, user name and service
// stay the same.
struct CurrentConnection {
    HINTERNET handle;
    char host[TEXT_SIZE];
    char user[TEXT_SIZE];
    DWORD service;
};
extern CurrentConnection g_connection;

// Closes the current connection and forgets it, so the next fetch connects anew.
void ForgetConnection(void);

// Fetch result: 1 finished with the address, 0 another attempt may help.
int FetchAddress(const char *address, int depth, int attempt);

#endif
