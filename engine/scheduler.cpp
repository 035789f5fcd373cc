// engine/scheduler.cpp — one pass over the start list.
// Entry words and options, start addresses handed to supervised fetch workers with retries.
#include "engine/engine_internal.h"

#include <commctrl.h>
#include <string.h>

#include "app/surface.h"
#include "settings/settings.h"

char g_startPath[TEXT_SIZE];
int g_startPageFlag;
char g_shortcutTitle[TEXT_SIZE];
int g_linksFound;
int g_linksHandled;
int (*g_fetchAddress)(const char *address, int depth, int attempt, int nameEncoding) = FetchAddress;

// Separators of start list entries.
static const char ENTRY_SEPARATORS[] = "\r\n ";

// Skips what stands between two entries: after a separator, everything up to
// the next letter, digit or '*'. Digits are kept so that a numeric server
// address written without "http://" keeps its first characters.
static const char *SkipToEntry(const char *p)
{
    while (*p != '\0' && !IsLetterChar(*p) && !(*p >= '0' && *p <= '9') && *p != '*')
        p = NextChar(p);
    return p;
}

// The start of the entry after the one at p.
static const char *NextEntry(const char *p)
{
    return SkipToEntry(ScanFor(p, "", ENTRY_SEPARATORS, 1));
}

static int CountEntries(const char *list)
{
    int count = 0;
    for (const char *p = list; *p != '\0'; p = NextEntry(p))
        ++count;
    return count;
}

struct EntryWord {
    const char *word;
    int box;
    const char *line;
};

static const EntryWord entryWords[] = {
    {"*D", IDC_HANGUP, "* Auto disconnect"},
    {"*P", IDC_POWEROFF, "* Auto power off"},
    {"*R", IDC_RETRY, "* Retry on."},
};

// True when the word is "*D", "*P" or "*R", case ignored.
static bool IsEntryWord(const char *word)
{
    for (const EntryWord &entry : entryWords)
        if (CompareNoCase(word, entry.word) == 0)
            return true;
    return false;
}

bool StartListHasAddress(const char *list)
{
    for (const char *p = SkipToEntry(list); *p != '\0'; p = NextEntry(p)) {
        char word[TEXT_SIZE];
        CopyUntil(word, p, ENTRY_SEPARATORS);
        if (!IsEntryWord(word))
            return true;
    }
    return false;
}

// Carries out "*D", "*P" or "*R"; false when the word is none of them.
static bool RunEntryWord(const char *word)
{
    for (const EntryWord &entry : entryWords) {
        if (CompareNoCase(word, entry.word) != 0)
            continue;
        AppendLog(g_mainWindow, entry.line);
        CheckDlgButton(g_mainWindow, entry.box, BST_CHECKED);
        return true;
    }
    return false;
}

// The depth limit an entry's '|' option gives: the next character's digit,
// kept within 0 to 9.
static int DepthOption(char c)
{
    int depth = (unsigned char)c - '0';
    return depth < 0 ? 0 : depth > 9 ? 9 : depth;
}

// Applies the ';' pattern and '|' depth options written after an address.
void ApplyEntryOptions(const char *word)
{
    const char *p = ScanFor(word, "", ";|", 1);
    while (*p != '\0') {
        if (*p == ';') {
            g_ignorePatterns[0] = '\0';
            while (*p == ';') {
                char pattern[TEXT_SIZE];
                CopyUntil(pattern, p + 1, ";|");
                AppendWord(g_ignorePatterns, sizeof g_ignorePatterns, pattern);
                p = ScanFor(p + 1, "", ";|", 1);
            }
        } else {
            g_depthLimit = DepthOption(p[1]);
            if (p[1] == '\0')
                break;
            p = ScanFor(p + 1, "", ";|", 1);
        }
    }
}

// The entry with its scheme taken off (an https entry keeps it, see
// TakeEntryAddress); the depth value it starts with.
static const char *TakeScheme(const char *entry, int *depth)
{
    *depth = 0;
    if (StartsWithNoCase(entry, "ftp://")) {
        *depth = DEPTH_FTP;
        return entry + 6;
    }
    if (StartsWithNoCase(entry, "http://"))
        return entry + 7;
    return entry;
}

// The address of an entry, up to its options, into address (TEXT_SIZE + 1
// bytes); an https one in its address form, with the marker; Japanese in it
// as a browser sends it (TypedAddressToAscii). False, with address empty,
// when it cannot be sent so.
static bool TakeEntryAddress(char *address, const char *entry)
{
    char typed[TEXT_SIZE];
    CopyUntil(typed, entry, "|;\r\n ");
    if (StartsWithNoCase(typed, SECURE_MARKER)) {
        char rest[TEXT_SIZE];
        CopyText(rest, sizeof rest, typed + SECURE_MARKER_LENGTH);
        MakeAddressForm(typed, TEXT_SIZE, rest, true);
    }
    address[0] = '\0';
    return typed[0] == '\0' || TypedAddressToAscii(address, TEXT_SIZE, typed);
}

// One address entry: its log line, options, start state, admission and attempts.
static void RunAddressEntry(const char *entry, const char *word, int depth, int baseDepth,
                            const char *baseIgnore, WorkerRecord *record)
{
    char line[TEXT_SIZE + 16];
    FormatText(line, sizeof line, "* URL-> %s", word);
    AppendLog(g_mainWindow, line);
    CopyText(g_ignorePatterns, sizeof g_ignorePatterns, baseIgnore);
    g_depthLimit = baseDepth;
    ApplyEntryOptions(word);
    char address[TEXT_SIZE + 1];
    if (!TakeEntryAddress(address, entry)) {
        char refused[TEXT_SIZE + 64];
        FormatText(refused, sizeof refused, "* このアドレスは使えません : %s", word);
        AppendLog(g_mainWindow, refused);
        return;
    }
    g_startPath[0] = '\0';
    g_startPageFlag = 1;
    // Until the start page's title replaces it: the host as the user reads it.
    if (!HostFolderName(g_shortcutTitle, sizeof g_shortcutTitle, HostWithoutScheme(address)))
        CopyText(g_shortcutTitle, sizeof g_shortcutTitle, HostWithoutScheme(address));
    // A typed address is sent as a browser sends it: its path in UTF-8.
    if (!AdmitAddress(address, depth, NAME_UTF8))
        return;
    ++g_linksHandled;
    ShowLinkProgress();
    RunAttempts(record, address, depth, NAME_UTF8);
}

void RunStartList(void)
{
    char baseIgnore[TEXT_SIZE];
    CopyText(baseIgnore, sizeof baseIgnore, g_ignorePatterns);
    int baseDepth = g_depthLimit;
    g_linksHandled = 0;
    g_linksFound = CountEntries(g_startList);
    static WorkerRecord record;
    InitWorkerRecord(&record);
    for (const char *p = g_startList; *p != '\0'; p = NextEntry(p)) {
        int depth;
        const char *entry = TakeScheme(p, &depth);
        char word[TEXT_SIZE];
        CopyUntil(word, entry, ENTRY_SEPARATORS);
        if (!RunEntryWord(word))
            RunAddressEntry(entry, word, depth, baseDepth, baseIgnore, &record);
    }
    EndWorker(&record);
    ForgetConnection();
}

// The record of the fetch worker this thread runs; null on the run thread.
static thread_local WorkerRecord *t_ownRecord;
// The levels nested on this worker's thread beyond its own attempt.
static thread_local int t_levelsHere;

// Holds the worker suspended for the "wait" setting (read at each hold); a
// wait of 0 holds it not. Its run begins anew when it is resumed.
static void HoldWorker(WorkerRecord *record)
{
    DWORD wait = GetSupervisionWait();
    if (wait > 0) {
        g_threadCalls.Suspend(record->thread);
        Sleep(wait);
        ResumeThread(record->thread);
    }
    InterlockedExchange(&record->runSince, (LONG)GetTickCount());
}

// How long the supervision waits before the worker's run has lasted
// SUPERVISION_CYCLE ms; 0 when it has.
static DWORD RunLeft(const WorkerRecord *record)
{
    DWORD ran = GetTickCount() - (DWORD)record->runSince;
    return ran >= SUPERVISION_CYCLE ? 0 : SUPERVISION_CYCLE - ran;
}

// Lets the worker make the attempt in its record, holding it first and then
// after every SUPERVISION_CYCLE ms of one run, until the attempt is over;
// returns its result, 0 when the worker ended without one. Each attempt
// the worker makes on its own thread holds itself first and begins a run
// of its own, so a page's links are held as if each had a worker: a run
// is never counted across two of them. While the worker waits for a worker
// of its own, it only walks its page's links: it is not held in cycles, so
// that a deep chain of waiting workers costs no time (each cycle of each
// level suspends, wakes and resumes one).
static DWORD SuperviseWorker(WorkerRecord *record)
{
    HANDLE ends[3] = {record->done, record->thread, record->begun};
    InterlockedExchange(&record->nested, 0);
    SetEvent(record->ready);
    HoldWorker(record);
    for (;;) {
        DWORD left = RunLeft(record);
        if (left == 0 && record->nested == 0) {
            HoldWorker(record);
            left = SUPERVISION_CYCLE;
        }
        DWORD ended = WaitForMultipleObjects(3, ends, FALSE, record->nested != 0 ? INFINITE : left);
        if (ended == WAIT_OBJECT_0)
            return record->result;
        if (ended != WAIT_TIMEOUT && ended != WAIT_OBJECT_0 + 2)
            break;
    }
    // The worker is gone: the next attempt makes another.
    CloseHandle(record->thread);
    record->thread = NULL;
    return 0;
}

void InitWorkerRecord(WorkerRecord *record)
{
    record->thread = record->ready = record->done = record->begun = NULL;
    record->end = false;
    record->nested = 0;
    record->runSince = 0;
}

static void CloseWorkerEvents(WorkerRecord *record)
{
    if (record->ready != NULL)
        CloseHandle(record->ready);
    if (record->done != NULL)
        CloseHandle(record->done);
    if (record->begun != NULL)
        CloseHandle(record->begun);
    record->ready = record->done = record->begun = NULL;
}

// Makes the record's worker when it has none; false when it cannot be made.
static bool StartWorker(WorkerRecord *record)
{
    if (record->thread != NULL)
        return true;
    if (record->ready == NULL) {
        record->ready = CreateEventA(NULL, FALSE, FALSE, NULL);
        record->done = CreateEventA(NULL, FALSE, FALSE, NULL);
        record->begun = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    record->end = false;
    if (record->ready != NULL && record->done != NULL && record->begun != NULL)
        record->thread = g_threadCalls.Create(NULL, WORKER_STACK_RESERVE, FetchWorkerMain, record,
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    return record->thread != NULL;
}

void EndWorker(WorkerRecord *record)
{
    if (record->thread != NULL) {
        record->end = true;
        SetEvent(record->ready);
        WaitForSingleObject(record->thread, INFINITE);
        CloseHandle(record->thread);
        record->thread = NULL;
    }
    CloseWorkerEvents(record);
}

// Adds one line to the log: the format filled with the address's first
// 259 bytes.
static void LogAddressLine(const char *format, const char *address)
{
    char line[TEXT_SIZE + 64];
    FormatText(line, sizeof line, format, address);
    AppendLog(g_mainWindow, line);
}

// Makes the attempt in the record on this fetch worker's own thread, held
// first for the "wait" setting as an attempt in a worker of its own is; the
// worker's supervision holds it in cycles from then on.
static DWORD AttemptHere(const WorkerRecord *record)
{
    DWORD wait = GetSupervisionWait();
    if (wait > 0)
        Sleep(wait);
    InterlockedExchange(&t_ownRecord->runSince, (LONG)GetTickCount());
    if (InterlockedExchange(&t_ownRecord->nested, 0) != 0)
        SetEvent(t_ownRecord->begun);
    ++t_levelsHere;
    DWORD code = (DWORD)g_fetchAddress(record->address, record->depth, record->attempt, record->nameEncoding);
    --t_levelsHere;
    return code;
}

// Makes the attempt in the record's worker, which this thread waits for.
static DWORD AttemptInWorker(WorkerRecord *record)
{
    if (t_ownRecord != NULL)
        InterlockedExchange(&t_ownRecord->nested, 1);
    if (StartWorker(record))
        return SuperviseWorker(record);
    LogAddressLine("* スレッドを作成できないので取得できません : %.259s", record->address);
    return 0; // an attempt without a worker has failed
}

void RunAttempts(WorkerRecord *record, const char *address, int depth, int nameEncoding)
{
    bool here = t_ownRecord != NULL && t_levelsHere < WORKER_LEVELS - 1;
    for (int attempt = 0; attempt < GetRetryCount(g_mainWindow); ++attempt) {
        CopyText(record->address, sizeof record->address, address);
        record->depth = depth;
        record->nameEncoding = nameEncoding;
        record->attempt = attempt == GetRetryCount(g_mainWindow) - 1 ? LAST_ATTEMPT : attempt;
        DWORD code = here ? AttemptHere(record) : AttemptInWorker(record);
        if (code == 1 || g_crawlState != CRAWL_RUNNING)
            return;
    }
}

DWORD WINAPI FetchWorkerMain(LPVOID parameter)
{
    WorkerRecord *record = (WorkerRecord *)parameter;
    t_ownRecord = record;
    for (;;) {
        WaitForSingleObject(record->ready, INFINITE);
        if (record->end)
            return 0;
        record->result = (DWORD)g_fetchAddress(record->address, record->depth, record->attempt, record->nameEncoding);
        SetEvent(record->done);
    }
}

void LogPathTooLong(const char *address) { LogAddressLine("* パスが長すぎます : %.259s", address); }

int AdmitAddress(char *address, int depth, int nameEncoding)
{
    if (g_crawlState == CRAWL_STOP_REQUESTED)
        return 0;
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], user[TEXT_SIZE], password[TEXT_SIZE];
    if (SplitAddress(address, host, path, file) != 1) {
        LogPathTooLong(address);
        return 0;
    }
    TakeUserFromHost(host, user, password);
    int kind = ClassifyAddress(address, depth, host, path, file);
    if (kind == ADDRESS_TOO_LONG) {
        LogPathTooLong(address);
        return 0;
    }
    if (g_startPath[0] == '\0')
        CopyText(g_startPath, sizeof g_startPath, path);
    if (file[0] != '\0' && !PassesIgnorePatterns(file))
        return 0;
    bool inScope = kind == ADDRESS_FILE || depth == DEPTH_FTP ||
                   (depth <= g_depthLimit && StartsWithNoCase(path, g_startPath));
    if (!inScope)
        return 0;
    char localPath[TEXT_SIZE], localFolder[TEXT_SIZE];
    if (MapToLocalPath(localPath, host, path, file, localFolder, nameEncoding) != 1) {
        LogPathTooLong(address);
        return 0;
    }
    if (g_startPageFlag == 1)
        return 1;
    return IsInVisitedList(g_mainWindow, localPath) ? 0 : 1;
}

void ShowLinkProgress(void)
{
    LeaveLinkCounts(g_mainWindow, g_linksFound, g_linksHandled);
}
