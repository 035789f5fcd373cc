// engine/fetch.cpp — the fetch of one admitted address on a fetch worker.
// Preparation, connection reuse, request and response checks, the transfer decision
// (unchanged, whole, update, continue), the visited list, the page scan and skip requests.
#include "engine/engine_internal.h"

#include <string.h>

#include "app/surface.h"
#include "engine/receive_numbers.h"
#include "net/net.h"
#include "page/page.h"
#include "settings/settings.h"

CurrentConnection g_connection;

// Everything one fetch works with. It lives on the worker's stack: a page
// scan starts child fetches on other threads while this one waits.
struct FetchJob {
    char address[TEXT_SIZE + 1];
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    char user[TEXT_SIZE], password[TEXT_SIZE];
    char localPath[TEXT_SIZE], localFolder[TEXT_SIZE];
    char objectPath[2 * TEXT_SIZE];
    char shown[TEXT_SIZE]; // the file's name as the status line and title show it
    int depth;
    int attempt;
    int nameEncoding; // what the escaped bytes of its path that are no UTF-8 mean
    DWORD service;
    int nonPage;
    unsigned long long remoteSize;
    SYSTEMTIME remoteDate;
    HINTERNET request;
    // A file that could not be written or read, reported in the log: the
    // address is finished with, but not recorded as visited nor scanned.
    bool fileProblem;
    // Redirects followed so far for the request, on any server.
    RedirectCount redirects;
    // The start address was redirected to another server or scheme: the
    // entry's scope moved there.
    bool startMoved;
    // The byte the open request asked its answer to start at (0: the whole
    // file), and whether the answer is that range (206) rather than the whole.
    unsigned long long rangeStart;
    bool ranged;
    // The stored copy's date the first request's range depends on (If-Range).
    char storedDate[HTTP_DATE_SIZE];
    // The server answered the range the first request asked for otherwise
    // (the whole file, another range, an error): it is not asked for one again.
    bool rangeRefused;
};

// What RequestFile returns when the fetch goes on to the transfer.
#define GO_ON -1

void ForgetConnection(void)
{
    CloseInternetHandle(&g_connection.handle);
    g_connection.host[0] = '\0';
    g_connection.user[0] = '\0';
    g_connection.service = 0;
}

// Makes the connection for host part, user and service the current one,
// reusing it when all three match; false when the library refuses it.
static bool Connect(const char *host, const char *user, const char *password, DWORD service)
{
    g_connection.certificateRefused = false;
    if (g_connection.handle != NULL && lstrcmpA(g_connection.host, host) == 0 &&
        lstrcmpiA(g_connection.user, user) == 0 && g_connection.service == service)
        return true;
    char hostName[TEXT_SIZE];
    INTERNET_PORT port = HostNameAndPort(host, hostName);
    if (port == 0 && IsSecureAddress(host))
        port = INTERNET_DEFAULT_HTTPS_PORT;
    ForgetConnection();
    ShowProgressTitle("Connecting...");
    OpenInternetSession();
    g_connection.handle = g_internet.Connect(g_internetSession, hostName, port, user, password, service, 0, 0);
    if (g_connection.handle == NULL)
        return false;
    CopyText(g_connection.host, sizeof g_connection.host, host);
    CopyText(g_connection.user, sizeof g_connection.user, user);
    g_connection.service = service;
    return true;
}

// Splits and classifies the address and finds its local path; false when
// the address cannot be handled (the admission test refuses such ones).
// An FTP server is asked for a name in its own bytes: the escapes of bytes
// beyond ASCII (a Japanese name as the linking page held it) are decoded in
// place; others stay as they were written.
static void DecodeEscapesBeyondAscii(char *text)
{
    char *out = text;
    for (const char *p = text; *p != '\0';) {
        int byte = EscapeValue(p);
        if (byte >= 0x80) {
            *out++ = (char)byte;
            p += 3;
        } else {
            *out++ = *p++;
        }
    }
    *out = '\0';
}

// The file's name as the window shows it: the file part, or, when that
// holds escapes (Japanese sent in them), the stored file's name, which
// Windows shows in Japanese, and the query behind it.
static void ShownName(FetchJob *job)
{
    CopyText(job->shown, sizeof job->shown, job->file);
    if (strchr(job->file, '%') == NULL || job->service == INTERNET_SERVICE_FTP)
        return;
    const char *name = job->localPath;
    for (const char *p = job->localPath; *p != '\0'; p = NextChar(p))
        if (*p == '\\')
            name = p + 1;
    const char *query = strchr(job->file, '?');
    FormatText(job->shown, sizeof job->shown, "%s%s", name, query != NULL ? query : "");
}

static bool PrepareJob(FetchJob *job, const char *address, int depth, int attempt, int nameEncoding)
{
    memset(job, 0, sizeof *job);
    job->nameEncoding = nameEncoding;
    job->depth = depth;
    job->attempt = attempt;
    if (!CopyText(job->address, sizeof job->address, address))
        return false;
    if (SplitAddress(job->address, job->host, job->path, job->file) != 1)
        return false;
    int kind = ClassifyAddress(job->address, depth, job->host, job->path, job->file);
    if (kind == ADDRESS_TOO_LONG)
        return false;
    TakeUserFromHost(job->host, job->user, job->password);
    job->nonPage = kind == ADDRESS_FILE;
    if (g_startPath[0] == '\0')
        CopyText(g_startPath, sizeof g_startPath, job->path);
    if (MapToLocalPath(job->localPath, job->host, job->path, job->file, job->localFolder, job->nameEncoding) != 1)
        return false;
    if (!FormatText(job->objectPath, sizeof job->objectPath, "%s%s", job->path, job->file))
        return false;
    job->service = depth == DEPTH_FTP ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
    if (job->service == INTERNET_SERVICE_FTP)
        DecodeEscapesBeyondAscii(job->objectPath);
    ShownName(job);
    return true;
}

// The status text of a request: FTP, a first or last attempt, or a later one.
static void ShowRequestStatus(const FetchJob *job)
{
    char format[STRING_SIZE], status[TEXT_SIZE];
    if (job->service == INTERNET_SERVICE_FTP) {
        LoadText(IDS_FTPREQUEST, format);
        FormatText(status, sizeof status, format, job->shown);
    } else if (job->attempt == 0 || job->attempt == LAST_ATTEMPT) {
        LoadText(IDS_DOWNLOADING, format);
        FormatText(status, sizeof status, format, job->shown);
    } else {
        LoadText(IDS_DOWNLOADINGTRY, format);
        FormatText(status, sizeof status, format, job->shown, job->attempt);
    }
    ShowStatusText(status);
}

static bool IsSuccessStatus(DWORD code) { return code >= 200 && code <= 299; }

// An answer without header lines is the rest of an earlier answer on a kept
// connection, read as this one's body (or a server that sends no headers at
// all): the request is made once more on a new connection, whose answer
// stands. The job's request is null when that cannot be made.
static void AskOnANewConnection(FetchJob *job)
{
    CloseInternetHandle(&job->request);
    ForgetConnection();
    if (Connect(job->host, job->user, job->password, job->service))
        job->request = OpenRequest(g_connection.handle, job->objectPath, job->service, job->rangeStart, job->storedDate);
}

// Tells the user, once per run and server, that the library could not
// connect: for FTP, the server refused the login or cannot be reached (an
// HTTP connection is only made when the request is sent).
static void LogRefusedConnection(const char *host)
{
    char line[2 * TEXT_SIZE];
    FormatText(line, sizeof line, "* %s に接続できません", host);
    if (!IsInVisitedList(g_mainWindow, line))
        AppendLog(g_mainWindow, line);
}

// The address that answered: the connection's host part (with its scheme)
// and the object path after redirects, into address (3 * TEXT_SIZE bytes).
// False when it does not fit.
static bool AnsweredAddress(const FetchJob *job, char *address)
{
    return FormatText(address, 3 * TEXT_SIZE, "%s%s", g_connection.host, job->objectPath);
}

// Whether a redirect to the host part is followed: on the same server (as
// http to https), for the start address (its entry moves there), else only
// when the data of other servers is read, as with links.
static bool MayFollowTo(const char *host)
{
    return SameHostPart(host, g_connection.host) || g_startPageFlag == 1 || GetOutServer() == 1;
}

// The start address was redirected to another server or scheme: the entry's
// scope moves to the target, told in one line.
static void MoveStartAddress(FetchJob *job, const char *target, const char *path)
{
    CopyText(g_startPath, sizeof g_startPath, path);
    job->startMoved = true;
    char line[2 * TEXT_SIZE];
    FormatText(line, sizeof line, "* 転送先 : %s", target);
    AppendLog(g_mainWindow, line);
}

// The job's request is a redirect to another server or scheme (those within
// the connection's own were followed when it was opened): it is followed on
// a connection to that place when the rules allow. GO_ON with the new
// request, or the fetch's result when it ends here.
static int FollowRedirectElsewhere(FetchJob *job)
{
    char asked[3 * TEXT_SIZE], target[3 * TEXT_SIZE];
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], user[TEXT_SIZE], password[TEXT_SIZE];
    bool known = AnsweredAddress(job, asked) && RedirectTarget(job->request, asked, target, sizeof target) &&
                 SplitAddress(target, host, path, file) == 1;
    CloseInternetHandle(&job->request);
    if (known)
        TakeUserFromHost(host, user, password);
    // A redirect within the connection's own server and scheme that is still
    // the answer is the last of too many (told when the request was opened).
    if (!known || !MayFollowTo(host) || SameServer(host, g_connection.host)) {
        ShowStatusString(IDS_NOTFOUND);
        return 1;
    }
    if (!TakeRedirect(&job->redirects))
        return 1;
    if (SameHostPart(host, job->host)) { // the user's name and password go to their own server only
        CopyText(user, sizeof user, job->user);
        CopyText(password, sizeof password, job->password);
    }
    if (g_startPageFlag == 1)
        MoveStartAddress(job, target, path);
    if (!Connect(host, user, password, job->service)) {
        LogRefusedConnection(host);
        return 1;
    }
    if (!FormatText(job->objectPath, sizeof job->objectPath, "%s%s", path, file))
        return 1;
    job->request = OpenRequestAt(g_connection.handle, job->objectPath, job->service, job->rangeStart, &job->redirects,
                                 job->storedDate);
    if (job->request != NULL || g_connection.certificateRefused)
        return job->request != NULL ? GO_ON : 1;
    ShowStatusString(IDS_REQUESTFAILED);
    ForgetConnection();
    return 0;
}

// The path part of the address that answered into path (TEXT_SIZE bytes).
static void AnsweredPath(const FetchJob *job, char *path)
{
    char answered[3 * TEXT_SIZE], host[TEXT_SIZE], file[TEXT_SIZE];
    if (!AnsweredAddress(job, answered) || SplitAddress(answered, host, path, file) != 1)
        CopyText(path, TEXT_SIZE, job->path);
}

// The reload box applies to the first attempt: number 0, or 32760 when it
// is the only one (retry box clear).
static bool ReloadApplies(int attempt)
{
    if (IsBoxChecked(g_mainWindow, IDC_RELOAD) != BST_CHECKED)
        return false;
    return attempt == 0 || (attempt == LAST_ATTEMPT && GetRetryCount(g_mainWindow) == 1);
}

// Where the first request asks its answer to start: 2500 bytes before the
// end of a stored copy that could be continued (resume on, more than 2500
// bytes stored, no reload), else 0; the range holds only while the server's
// file has the stored copy's date (If-Range), else the whole file comes.
// Closing a request whose body is unread makes the library read the rest
// of it from the socket first: for a big file asked for whole that takes as
// long as its transfer, so the facts of a file to continue come with the
// range that continues it, and those of a changed one with its whole body.
static void ChooseFirstRange(FetchJob *job)
{
    unsigned long long storedSize;
    job->rangeStart = 0;
    job->storedDate[0] = '\0';
    if (job->service != INTERNET_SERVICE_HTTP || GetResume() != 1 || ReloadApplies(job->attempt))
        return;
    if (ReadStoredCopy(job->localPath, &storedSize, job->storedDate) && storedSize > OVERLAP_SIZE)
        job->rangeStart = storedSize - OVERLAP_SIZE;
}

// Opens the job's request (from its range start) and follows redirects to
// other servers. GO_ON with the answer, or the fetch's result when it ends here.
static int SendRequest(FetchJob *job)
{
    job->request = OpenRequestAt(g_connection.handle, job->objectPath, job->service, job->rangeStart, &job->redirects,
                                 job->storedDate);
    if (job->request != NULL && job->service == INTERNET_SERVICE_HTTP && AnswerHasNoHeaderLines(job->request))
        AskOnANewConnection(job);
    if (job->request == NULL && g_connection.certificateRefused)
        return 1; // told in the log; nothing is stored for the server
    if (job->request == NULL) {
        ShowStatusString(IDS_REQUESTFAILED);
        ForgetConnection();
        return 0;
    }
    while (job->service == INTERNET_SERVICE_HTTP && IsRedirect(QueryStatusCode(job->request, job->service))) {
        int followed = FollowRedirectElsewhere(job);
        if (followed != GO_ON)
            return followed;
    }
    return GO_ON;
}

// The answer to a range request is the range asked for (206 naming its
// start and the file's size) or the whole file (200: the server's file has
// another date, or the server sends no ranges); any other answer (416,
// another range, an error) is asked for again without the range. GO_ON, or
// the fetch's result when it ends here.
static int TakeRangeAnswer(FetchJob *job)
{
    if (job->rangeStart == 0)
        return GO_ON;
    job->ranged = RangeAnswerTotal(job->request, job->rangeStart) != 0;
    job->rangeRefused = !job->ranged;
    if (job->ranged || QueryStatusCode(job->request, job->service) == 200)
        return GO_ON;
    CloseInternetHandle(&job->request);
    job->rangeStart = 0;
    job->storedDate[0] = '\0';
    return SendRequest(job);
}

// The remote facts of the answer: a range gives the file's size in its
// Content-Range (its Content-Length counts the range only).
static bool ReadRemoteFacts(FetchJob *job)
{
    job->remoteSize = FetchRemoteFacts(job->request, job->objectPath, &job->remoteDate, job->service);
    if (job->ranged && job->remoteSize != REMOTE_SIZE_FAILED)
        job->remoteSize = RangeAnswerTotal(job->request, job->rangeStart);
    return job->remoteSize != REMOTE_SIZE_FAILED;
}

// Sends the request and checks the response: status, remote facts and, for
// a page, depth and scope. GO_ON, or the fetch's result when it ends here.
static int RequestFile(FetchJob *job)
{
    ShowFileTitle("%s - Sending REQ.", job->shown);
    if (job->service == INTERNET_SERVICE_FTP) {
        job->remoteSize = FetchRemoteFacts(g_connection.handle, job->objectPath, &job->remoteDate, job->service);
        if (job->remoteSize == REMOTE_SIZE_FAILED) {
            ShowStatusString(IDS_REQUESTFAILED);
            return 1;
        }
    }
    ChooseFirstRange(job);
    int sent = SendRequest(job);
    if (sent == GO_ON)
        sent = TakeRangeAnswer(job);
    if (sent != GO_ON)
        return sent;
    ShowFileTitle("%s - Checking.", job->shown);
    if (!IsSuccessStatus(QueryStatusCode(job->request, job->service))) {
        ShowStatusString(IDS_NOTFOUND);
        return 1;
    }
    if (job->service == INTERNET_SERVICE_HTTP && !ReadRemoteFacts(job)) {
        ShowStatusString(IDS_REQUESTFAILED);
        return 1;
    }
    if (IsHtmlContentType(g_contentType)) {
        job->nonPage = 0;
        char scopePath[TEXT_SIZE];
        if (job->startMoved)
            AnsweredPath(job, scopePath);
        else
            CopyText(scopePath, sizeof scopePath, job->path);
        if (job->depth > g_depthLimit || !StartsWithNoCase(scopePath, g_startPath))
            return 1;
    }
    return GO_ON;
}

// Names the server once per run with whether it can continue files.
static void LogResumeLine(const FetchJob *job)
{
    char format[STRING_SIZE], line[2 * TEXT_SIZE];
    LoadText(g_resumePossible == 1 ? IDS_RESUMABLE : IDS_NOTRESUMABLE, format);
    FormatText(line, sizeof line, format, job->host);
    if (!IsInVisitedList(g_mainWindow, line))
        AppendLog(g_mainWindow, line);
}

int DecideTransfer(const char *localPath, const SYSTEMTIME *remoteDate, unsigned long long remoteSize, int attempt,
                   unsigned long long *storedSize)
{
    if (remoteDate->wYear == 0)
        return TRANSFER_UPDATE;
    int comparison = CompareWithStoredFile(localPath, remoteDate);
    if (comparison == STORED_FILE_HELD)
        return TRANSFER_HELD;
    if (comparison == 1)
        return TRANSFER_UPDATE;
    if (!ReadStoredSize(localPath, storedSize))
        return TRANSFER_HELD;
    if (ReloadApplies(attempt))
        comparison = 1;
    if (*storedSize == remoteSize)
        return comparison == 1 ? TRANSFER_WHOLE : TRANSFER_UNCHANGED;
    // Only a stored file shorter than the server's can be its beginning.
    if (comparison == 0 && g_resumePossible == 1 && GetResume() == 1 && remoteSize != 0 &&
        *storedSize > OVERLAP_SIZE && *storedSize < remoteSize)
        return TRANSFER_CONTINUE;
    return TRANSFER_WHOLE;
}

// Receives the body of the job's request; a file problem (reported by the
// receive loop) finishes the address.
static int Receive(FetchJob *job, unsigned long long expected, int mode)
{
    int result = ReceiveToFile(job->request, job->shown, job->localPath, expected, &job->remoteDate, mode);
    if (result == RECEIVE_FILE_FAILED)
        job->fileProblem = true;
    return result;
}

// The end of a transfer that no later attempt continues: a short one is
// reported; the address is finished with.
static int FinalResult(int result)
{
    if (result == RECEIVE_SHORT)
        ReportString(IDS_SIZEMISMATCH);
    return 1;
}

// A whole-file transfer has ended: when the server can continue files and
// resume is on, a short one is left to a later attempt. On the last attempt
// no later one comes, so the short file is reported there too: the user
// must learn that the stored file is incomplete.
static int AfterWholeFile(const FetchJob *job, int result)
{
    if (job->fileProblem)
        return 1;
    if (g_resumePossible != 0 && GetResume() != 0) {
        if (result == RECEIVE_SHORT && job->attempt == LAST_ATTEMPT)
            ReportString(IDS_SIZEMISMATCH);
        return result;
    }
    return FinalResult(result);
}

// Makes the job's answer the whole file's when it is not (a range, or a
// status other than 200) by asking for the file again without a range.
// GO_ON, or the fetch's result when it ends here.
static int AskForWholeFile(FetchJob *job)
{
    if (QueryStatusCode(job->request, job->service) == 200)
        return GO_ON;
    CloseInternetHandle(&job->request);
    job->ranged = false;
    job->request = OpenRequest(g_connection.handle, job->objectPath, job->service, 0);
    if (job->request == NULL)
        return 0;
    if (!IsSuccessStatus(QueryStatusCode(job->request, job->service))) {
        ShowStatusString(IDS_NOTFOUND);
        return 1;
    }
    return GO_ON;
}

static int ReceiveUpdate(FetchJob *job)
{
    ShowFileTitle("%s - Start!!(Update)", job->shown);
    int asked = job->ranged ? AskForWholeFile(job) : GO_ON;
    if (asked != GO_ON)
        return asked;
    int result = Receive(job, job->remoteSize, RECEIVE_NEW);
    if (job->fileProblem)
        return 1;
    if (job->remoteSize == 0)
        return FinalResult(result);
    if (result != RECEIVE_SHORT)
        return result;
    return AfterWholeFile(job, result);
}

static int ReceiveWhole(FetchJob *job)
{
    ShowFileTitle("%s - Start!", job->shown);
    int asked = job->ranged ? AskForWholeFile(job) : GO_ON;
    if (asked != GO_ON)
        return asked;
    return AfterWholeFile(job, Receive(job, job->remoteSize, RECEIVE_NEW));
}

// The stored file cannot be continued from the answer: the server ignored
// the range (200 with the whole file), answered another range, or its bytes
// before the stored end differ from the stored ones. The file is received
// whole beside the stored one, which it replaces only once it is complete.
static int ReceiveWholeInstead(FetchJob *job)
{
    ShowFileTitle("%s - Start!", job->shown);
    int asked = AskForWholeFile(job);
    if (asked != GO_ON)
        return asked;
    return AfterWholeFile(job, Receive(job, QueryContentLength(job->request), RECEIVE_REPLACE));
}

// Makes the job's answer the range from rangeStart: the first answer when
// it is that range, else a new request for it. False when no request could
// be made; true with another answer (the whole file, another range) too.
static bool AskForRange(FetchJob *job, unsigned long long rangeStart)
{
    if (job->ranged && job->rangeStart == rangeStart)
        return true;
    CloseInternetHandle(&job->request);
    job->request = OpenRequest(g_connection.handle, job->objectPath, job->service, rangeStart);
    job->rangeStart = rangeStart;
    job->ranged = job->request != NULL && AnswersRange(job->request, rangeStart);
    return job->request != NULL;
}

// Continues the stored file from 2500 bytes before its end. A server that
// refused the first request's range is not asked for one again: the whole
// file it answered with is received instead.
static int ContinueFile(FetchJob *job, unsigned long long storedSize)
{
    ShowFileTitle("%s - Start!(resume)", job->shown);
    if (!job->rangeRefused && !AskForRange(job, storedSize - OVERLAP_SIZE))
        return 0;
    if (job->ranged) {
        int result = Receive(job, job->remoteSize - storedSize + OVERLAP_SIZE, RECEIVE_CONTINUE);
        if (job->fileProblem)
            return 1;
        if (result != RECEIVE_OVERLAP_DIFFERS) {
            if (result == RECEIVE_SHORT && job->attempt == LAST_ATTEMPT)
                ReportString(IDS_SIZEMISMATCH);
            return result;
        }
    }
    return ReceiveWholeInstead(job);
}

// Decides between leaving the stored file alone, fetching it whole and
// continuing it, and carries that out; the fetch's result.
static int TransferFile(FetchJob *job)
{
    // Only a size past 32 bits can be too big for a drive: the others ask nothing more.
    if (job->remoteSize > 0xFFFFFFFFULL && TooBigForDrive(job->localPath, job->remoteSize)) {
        ReportFileProblem(FILE_TOO_BIG_FOR_DRIVE, job->localPath);
        job->fileProblem = true;
        return 1;
    }
    unsigned long long storedSize = 0;
    switch (DecideTransfer(job->localPath, &job->remoteDate, job->remoteSize, job->attempt, &storedSize)) {
    case TRANSFER_UNCHANGED:
        ShowStatusString(IDS_NOTUPDATED);
        ShowFileTitle("%s - No update.", job->shown);
        return 1;
    case TRANSFER_HELD:
        ReportFileProblem(FILE_CANNOT_BE_OPENED, job->localPath);
        job->fileProblem = true;
        return 1;
    case TRANSFER_UPDATE:
        return ReceiveUpdate(job);
    case TRANSFER_CONTINUE:
        return ContinueFile(job, storedSize);
    default:
        return ReceiveWhole(job);
    }
}

// Records the file in the visited list when the address is finished with
// or this was its last attempt.
static void RecordVisited(const FetchJob *job, int result)
{
    if (job->fileProblem || IsInVisitedList(g_mainWindow, job->localPath))
        return;
    if (result == 1 || job->attempt == LAST_ATTEMPT)
        AppendLog(g_mainWindow, job->localPath);
}

static void CloseRequest(FetchJob *job) { CloseInternetHandle(&job->request); }

// Scans the stored page with its links resolved against the address that
// answered; when that is in another folder or on another server than the
// address the page is stored at, its relative links are rewritten too.
static void ScanAnsweredPage(const FetchJob *job, int depth)
{
    char answered[3 * TEXT_SIZE], host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    AnsweredAddress(job, answered);
    if (SplitAddress(answered, host, path, file) != 1) {
        ProcessStoredPage(job->localPath, job->host, job->path, depth, NULL, NULL, job->nameEncoding);
        return;
    }
    bool elsewhere = !SameHostPart(host, job->host) || strcmp(path, job->path) != 0;
    ProcessStoredPage(job->localPath, host, path, depth, elsewhere ? job->host : NULL, elsewhere ? job->path : NULL,
                      job->nameEncoding);
}

// A skip request has been carried out: the state goes back to running, in
// one step from skip requested, so that a Stop pressed meanwhile is kept.
// The caption reads "ｽｷｯﾌﾟ" again, or "中止" when a press came after the move.
static bool CarryOutSkip(void)
{
    if (!MoveCrawlState(CRAWL_SKIP_REQUESTED, CRAWL_RUNNING))
        return false;
    SetSearchButtonText(g_mainWindow, BUTTON_SKIP);
    if (g_crawlState != CRAWL_RUNNING)
        SetSearchButtonText(g_mainWindow, BUTTON_STOP);
    return true;
}

int FetchAddress(const char *address, int depth, int attempt, int nameEncoding)
{
    memset(g_contentType, 0, sizeof g_contentType);
    if (g_crawlState == CRAWL_STOP_REQUESTED)
        return 1;
    ShowProgressTitle("Prepareing.");
    FetchJob job;
    if (!PrepareJob(&job, address, depth, attempt, nameEncoding))
        return 1;
    if (job.service == INTERNET_SERVICE_FTP && job.file[0] == '\0')
        return 1; // an FTP folder is not fetched
    ShowRequestStatus(&job);
    if (!Connect(job.host, job.user, job.password, job.service)) {
        LogRefusedConnection(job.host);
        return 1;
    }
    int result = RequestFile(&job);
    if (result != GO_ON) {
        CloseRequest(&job);
        return result;
    }
    LogResumeLine(&job);
    CreateFolders(job.localFolder);
    result = TransferFile(&job);
    CloseRequest(&job);
    RecordVisited(&job, result);
    bool looksLikePage = job.file[0] == '\0' || job.nonPage == 0;
    bool styleSheet = GetModernScan() == 1 && IsStyleSheet(job.file, g_contentType);
    if (!job.fileProblem && (looksLikePage || styleSheet) && g_crawlState == CRAWL_RUNNING) {
        if (job.service != INTERNET_SERVICE_HTTP || result != 1)
            return result;
        // The page's (or style sheet's) links are fetched before this
        // returns; they resolve against the address that answered.
        ScanAnsweredPage(&job, depth);
    }
    if (CarryOutSkip())
        result = 1;
    return result;
}
