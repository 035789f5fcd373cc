// engine/engine_internal.h — the engine's own interface: run, scheduler, fetch, receive.
#ifndef PARVEL_ENGINE_ENGINE_INTERNAL_H
#define PARVEL_ENGINE_ENGINE_INTERNAL_H

#include <windows.h>
#include <wininet.h>

#include "address/address.h"
#include "engine/engine.h"


// Depth limit of the "無限" (unlimited) depth button.
#define DEPTH_UNLIMITED 32512

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

// The engine's thread creation, in a table so that a test can make it fail.
struct ThreadCalls {
    HANDLE(WINAPI *Create)(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId);
    DWORD(WINAPI *Suspend)(HANDLE thread);
};
extern ThreadCalls g_threadCalls;

// Crawl run: the run thread's body, and what it does around the passes.
DWORD WINAPI RunCrawl(LPVOID unused);
void OpenInternetSession(void);
void ShowProgressTitle(const char *text);
void EnterRunMode(HWND window);
void FinishRun(HWND window);
void HangUp(void);
// Asks the window for the power-off notice when "電源OFF(&P)" is checked.
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

// What a fetch worker is given, and the worker itself: one per level of
// nesting, made at the level's first attempt and given every attempt of the
// level in turn (a thread's start and end cost more under Wine than a small
// file's fetch). Its caller keeps it until EndWorker, on its own stack. The
// address holds an admitted one: TEXT_SIZE bytes and the '/' admission may add.
struct WorkerRecord {
    char address[TEXT_SIZE + 1];
    int depth;
    int attempt;
    int nameEncoding; // what the address's escaped bytes that are no UTF-8 mean (NAME_...)
    HANDLE thread;    // the worker; NULL until the first attempt
    HANDLE ready;     // set by the caller: an attempt (or the end) is in the record
    HANDLE done;      // set by the worker: the attempt is over, its result in result
    DWORD result;
    bool end;
    HANDLE begun;     // set by the worker: an attempt of a deeper level begins on its thread
    volatile LONG nested; // set while the worker waits for a worker of its own
    volatile LONG runSince; // tick count at which the worker's current run began
};

// A record without a worker yet.
void InitWorkerRecord(WorkerRecord *record);

// Ends the record's worker, if it has one, and waits until it has ended.
void EndWorker(WorkerRecord *record);

// Scheduler: one pass over the start list.
void RunStartList(void);


// Admission test: 1 to fetch the address, 0 to pass it over. The buffer must
// have room for one more character ("/" may be appended to a folder address).
// nameEncoding says what the escaped bytes of its path that are no UTF-8 mean.
int AdmitAddress(char *address, int depth, int nameEncoding = NAME_SHIFT_JIS);

// A fetch worker makes the attempts of up to WORKER_LEVELS nested levels on
// its own thread (a page, the pages it links, and so on); the next level
// gets a worker of its own. Under Wine every thread holds four open files,
// so a chain with a waiting thread per page would stop at the machine's
// open-file limit (near 5,000 levels at 20,000 files), and each thread costs
// about 1 MiB resident whatever it does.
#define WORKER_LEVELS 8

// The stack a fetch worker reserves; pages are committed as the stack grows.
// The deepest a worker went under Wine 8, by the lowest stack byte it wrote,
// over the demo site, its Japanese and present-day pages, https pages and
// files, continued transfers and a start page's shortcut: 31,440 bytes (a
// file received over https), 22,752 for a page's turn. WORKER_LEVELS levels
// go to about 190 KiB. Wine runs its TLS library on a stack of its own;
// Windows runs part of the TLS handshake and the shell's shortcut code on
// this one, so the reservation leaves over five times that. Wine never gives
// a thread less than 1 MiB, and 1 MiB is Windows' own default.
#define WORKER_STACK_RESERVE (1024 * 1024)

// The longest the fetch supervision lets a worker run between two holds (ms).
#define SUPERVISION_CYCLE 1500

// Makes up to GetRetryCount attempts at the address under fetch supervision:
// on the calling fetch worker's own thread while it has levels to spare,
// else in the record's worker, which reserves WORKER_STACK_RESERVE bytes of
// stack.
void RunAttempts(WorkerRecord *record, const char *address, int depth, int nameEncoding);

// The fetch a worker runs: FetchAddress, or a test's stand-in.
extern int (*g_fetchAddress)(const char *address, int depth, int attempt, int nameEncoding);

// Applies the ';' ignore pattern and '|' depth options of a start list entry.
void ApplyEntryOptions(const char *word);

// Thread entry of a fetch worker: runs each attempt put in its record until
// the record tells it to end.
DWORD WINAPI FetchWorkerMain(LPVOID record);

// Shows the link counts in the run's progress bar.
void ShowLinkProgress(void);

// Logs that an address is refused because its local path would not fit.
void LogPathTooLong(const char *address);

// Loads the stored page, rewrites and writes it back, makes the start
// page's shortcut, and fetches every recorded link in a supervised fetch
// worker, depth-first. Links resolve against hostPart and pathPart, the
// address that answered; storedHostPart and storedPathPart, when not null,
// are those of the address the page is stored at, which differs (a redirect).
// nameEncoding is that of the page's own address.
void ProcessStoredPage(const char *localPath, const char *hostPart, const char *pathPart, int depth,
                       const char *storedHostPart = NULL, const char *storedPathPart = NULL,
                       int nameEncoding = NAME_SHIFT_JIS);

// The current connection, reused while its host part (with the https
// marker: a scheme has connections of its own), user name and service stay
// the same. certificateRefused tells that its server's certificate could not
// be verified and was not accepted.
struct CurrentConnection {
    HINTERNET handle;
    char host[TEXT_SIZE];
    char user[TEXT_SIZE];
    DWORD service;
    bool certificateRefused;
};
extern CurrentConnection g_connection;

// Closes the current connection and forgets it, so the next fetch connects anew.
void ForgetConnection(void);

// Fetch result: 1 finished with the address, 0 another attempt may help.
int FetchAddress(const char *address, int depth, int attempt, int nameEncoding = NAME_SHIFT_JIS);

// ---- Requests ----

// Size of a request's header block.
#define HEADER_BLOCK_SIZE 260

// The cache flags of a request for the cache mode digit (setting "cache").
DWORD CacheFlagsForMode(int cacheMode);

// Fills the header block (HEADER_BLOCK_SIZE bytes, cleared first): Accept
// and Pragma lines, and a Range line from rangeStart on when it is not 0,
// with an If-Range line when ifRange (a date) is given: a server whose file
// has another date answers with the whole file instead.
void FormatRequestHeaders(char *block, unsigned long long rangeStart, const char *ifRange = NULL);

// Opens and sends a GET of the object path on the connection (HTTP), or
// opens the file for reading (FTP); the caller closes the handle. Null when
// the request could not be made or sent. The connection is the current one:
// an https one sends over TLS. Redirects within the connection's server and
// scheme are followed; a redirect elsewhere is the answer.
HINTERNET OpenRequest(HINTERNET connection, const char *objectPath, DWORD service, unsigned long long rangeStart,
                      const char *ifRange = NULL);

// Redirects one request follows at most, across servers and schemes.
#define MAX_REDIRECTS 10

// The redirects followed so far for one request, and the address it was
// first asked at (empty until the first send), which a loop given up names.
struct RedirectCount {
    int followed;
    char firstAsked[3 * TEXT_SIZE];
};

// Counts one more redirect to follow; false, with the loop told in the
// access log, when the request has followed MAX_REDIRECTS already.
bool TakeRedirect(RedirectCount *count);

// OpenRequest, with objectPath (2 * TEXT_SIZE bytes) becoming the path that
// answered after redirects within the server; the redirects followed are
// counted in count, which a request that goes on to another server keeps.
HINTERNET OpenRequestAt(HINTERNET connection, char *objectPath, DWORD service, unsigned long long rangeStart,
                        RedirectCount *count, const char *ifRange = NULL);

// True for the status codes of a redirect.
bool IsRedirect(DWORD code);

// The address a redirect answer's Location names, resolved against the
// address asked for (ResolveLocation), into target (size bytes); false when
// there is none or it is no http or https address.
bool RedirectTarget(HINTERNET request, const char *asked, char *target, size_t size);

// Adds "* リダイレクトが多すぎます : " and the address to the access log.
void LogTooManyRedirects(const char *address);

// The response's status code; 200 for FTP; 0 when it cannot be read.
DWORD QueryStatusCode(HINTERNET request, DWORD service);

// The announced length of a response, read from the header's text so that
// lengths past 32 bits count; 0 when it gives none or no number.
unsigned long long QueryContentLength(HINTERNET request);

// True when the answer has a status line and not one header line: what the
// library makes of bytes that are no HTTP answer (it takes them for an
// HTTP/0.9 body), as when a server sent more body than its Content-Length on
// a kept connection and the rest is read as the start of the next answer.
// False when the headers cannot be read whole.
bool AnswerHasNoHeaderLines(HINTERNET request);

// True when two host parts name the same connection's server: the same
// scheme, host names alike without case, and the same port, the scheme's
// standard port when none is written.
bool SameServer(const char *hostPart, const char *otherHostPart);

// ---- Cookies ----

// The address of an object path on a connection's host part ("http://" added
// where the host part names no scheme); false when it does not fit.
bool FormatRequestAddress(char *address, size_t size, const char *hostPart, const char *objectPath);

// The cookie flag of a request for the address: INTERNET_FLAG_NO_COOKIES when
// the library's store has no cookie for its folder, 0 when the library is to
// send the folder's cookies itself.
DWORD CookieFlagsFor(const char *address);

// Puts the cookies the answer sets in the library's store when the request
// went with the flag INTERNET_FLAG_NO_COOKIES (the library then stores none).
void TakeAnswerCookies(HINTERNET request, const char *address, DWORD requestFlags);

// Forgets which folders had no cookie: at the start of a run, and whenever
// an answer sets a cookie.
void ForgetCookieFreeFolders(void);

// True when the response to a range request carries the range asked for:
// status 206 and a Content-Range that begins at rangeStart.
bool AnswersRange(HINTERNET request, unsigned long long rangeStart);

// The whole file's size a response to a range request names: status 206, a
// Content-Range that begins at rangeStart and a known total. 0 otherwise.
unsigned long long RangeAnswerTotal(HINTERNET request, unsigned long long rangeStart);

// ---- Update check ----

// Size of the response content type.
#define CONTENT_TYPE_SIZE 4096

// Content type of the last response ("text/text" when it had none, empty
// for FTP) and whether its server can continue files (HTTP/1.1).
extern char g_contentType[CONTENT_TYPE_SIZE];
extern int g_resumePossible;

// A remote size no server gives, which callers treat as a failed request.
#define REMOTE_SIZE_FAILED 0xFFFFFFFFFFFFFFFFULL

// The remote size (0 when none announced), the server date (year 0 when
// none), the content type and the resume possible flag: from the headers of
// a sent HTTP request, or from the listing of an FTP file on the connection.
unsigned long long FetchRemoteFacts(HINTERNET handle, const char *objectPath, SYSTEMTIME *serverDate,
                                    DWORD service);

// Result of CompareWithStoredFile for a stored file that exists but cannot
// be opened (held by another program without sharing).
#define STORED_FILE_HELD 2

// 1 when the server's file is newer than the stored one's creation time,
// the server gave no date or no file is stored; 0 when equal; -1 when the
// server's is older; STORED_FILE_HELD when the stored file cannot be read.
int CompareWithStoredFile(const char *localPath, const SYSTEMTIME *serverDate);

// The size of the stored file; false when it cannot be opened.
bool ReadStoredSize(const char *localPath, unsigned long long *size);

// The size of the stored file and, in the form of an HTTP date (HTTP_DATE_SIZE
// bytes), the time CompareWithStoredFile compares; false when it cannot be
// opened or its time read.
bool ReadStoredCopy(const char *localPath, unsigned long long *size, char *dateText);

// The calls that ask the drive: its file system and the writes of a received
// file, in a table so that a test can stand in a FAT drive or a full one.
struct DriveCalls {
    BOOL(WINAPI *VolumeInformation)(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial, LPDWORD longestName,
                                    LPDWORD flags, LPSTR fileSystem, DWORD fileSystemSize);
    BOOL(WINAPI *WriteFile)(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);
};
extern DriveCalls g_driveCalls;

// True when the drive (volume) of the local path cannot hold a file of the
// size: a FAT drive holds 4 GiB - 1 bytes at most. False when the drive's
// file system cannot be learnt.
bool TooBigForDrive(const char *localPath, unsigned long long size);

// ---- Transfer decision ----

// Bytes fetched again before the stored end when a file is continued.
#define OVERLAP_SIZE 2500

enum {
    TRANSFER_UPDATE,    // no date or newer on the server: fetched whole
    TRANSFER_WHOLE,     // stored, but of another size or reloaded: fetched whole
    TRANSFER_CONTINUE,  // partly stored: continued from its size - 2500
    TRANSFER_UNCHANGED, // stored, same size, not older: left alone
    TRANSFER_HELD       // stored, but cannot be opened: left alone, reported
};

// Decides what to do with the file at the local path given the remote
// facts; storedSize receives the stored file's size when it was read.
int DecideTransfer(const char *localPath, const SYSTEMTIME *remoteDate, unsigned long long remoteSize, int attempt,
                   unsigned long long *storedSize);

// ---- Receive loop ----

// How ReceiveToFile writes: a new file in place of the stored one; the
// stored file continued (the body starts 2500 bytes before its end, and
// those bytes must equal the stored ones); or a new file received in the
// transfer folder of the save folder that replaces the stored one only once
// it is complete.
enum { RECEIVE_NEW = 0, RECEIVE_CONTINUE = 1, RECEIVE_REPLACE = 2 };

// Results of ReceiveToFile.
enum {
    RECEIVE_SHORT = 0,           // the bytes received differ from the size announced
    RECEIVE_COMPLETE = 1,        // all announced bytes, or no size announced
    RECEIVE_OVERLAP_DIFFERS = 2, // continue: the overlap differs, nothing was written
    RECEIVE_FILE_FAILED = 3      // the file could not be made, written or replaced (reported)
};

// The clock the receive loop reads, in a table so that a test can drive
// the time it sees.
struct ClockCalls {
    DWORD(WINAPI *TickCount)(void);
};
extern ClockCalls g_clock;

// Moves the body of the open request into the file at the local path,
// showing the progress; gives the file the server's date and adds the bytes
// to the download total. Does not close the request. The progress is shown
// at the first read, then at most once every PROGRESS_INTERVAL ms, and once
// after the last read.
int ReceiveToFile(HINTERNET request, const char *filePart, const char *localPath, unsigned long long expectedSize,
                  const SYSTEMTIME *serverDate, int mode);

// Deletes the files of the save folder's transfer folder (left by a run that
// was broken off) and the folder itself; nothing else of the save folder is
// touched. Called when a run starts and when it ends.
void EmptyTransferFolder(void);

// ---- Texts of a transfer ----

// Size of a title text before ShowProgressTitle fits it into the title.
#define TITLE_TEXT_SIZE 320

// Shows a text in the status line.
void ShowStatusText(const char *text);

// Shows string id of the string table in the status line.
void ShowStatusString(int id);

// Shows string id in the status line and adds it to the access log.
void ReportString(int id);

// Shows a title format filled with the file part (ShowProgressTitle).
void ShowFileTitle(const char *format, const char *filePart);

// Reports a file that cannot be written or read: one line in the access
// log and the same text in the status line.
void ReportFileProblem(const char *format, const char *localPath);

// The texts of those reports.
extern const char FILE_CANNOT_BE_CREATED[];
extern const char FILE_CANNOT_BE_OPENED[];
extern const char FILE_CANNOT_BE_WRITTEN[];
extern const char FILE_TOO_BIG_FOR_DRIVE[];

#endif
