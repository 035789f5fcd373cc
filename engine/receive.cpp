// engine/receive.cpp — the receive loop: moves a response body into its file.
// The file is new, continued after checking the overlap, or kept in the transfer folder
// until complete. Shows bytes, rate and time left (at most every 50 ms), sets the file's
// dates and adds to the download total.
#include "engine/engine_internal.h"

#include <commctrl.h>
#include <string.h>

#include "app/surface.h"
#include "engine/receive_numbers.h"
#include "net/net.h"
#include "settings/settings.h"

// The file a transfer writes to.
struct TransferFile {
    HANDLE handle;
    int mode;
    char tempPath[MAX_PATH];            // RECEIVE_REPLACE: the file received in the transfer folder
    unsigned char stored[OVERLAP_SIZE]; // RECEIVE_CONTINUE: the last bytes stored
    DWORD overlapChecked;               // bytes of the overlap found equal so far
    bool overlapDiffers;
    bool writeFailed; // the drive took not all of a block (full, or past its largest file)
};

// What the progress texts are made of, and what of them the window shows.
struct ReceiveProgress {
    char displayName[TEXT_SIZE];
    char receivedFormat[STRING_SIZE]; // string 11, no size announced
    char sizedFormat[STRING_SIZE];    // string 12
    unsigned long long expected;
    unsigned long long total;
    DWORD windowTick; // the rate window: its start, and the bytes received by then
    unsigned long long windowTotal;
    long rate;
    bool shownOnce;   // whether the progress was shown since the transfer began
    DWORD shownTick;  // when it was shown last
    char shownStatus[TEXT_SIZE];
    char shownTitle[TITLE_TEXT_SIZE];
    int shownBar;     // -1 before the first showing
    long period;      // the animation period asked for last; 0 before the first showing
};

// The block the reads fill, kept across the reads of one transfer and
// grown when the library has more available than it holds.
struct ReadBuffer {
    void *block;
    DWORD size;
};

static HANDLE CreateNewFile(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Moves the file pointer OVERLAP_SIZE bytes before the end, at any size
// (the 32-bit form of the call fails past 4 GiB).
static bool SeekOverlapStart(HANDLE handle)
{
    LARGE_INTEGER distance;
    distance.QuadPart = -OVERLAP_SIZE;
    return SetFilePointerEx(handle, distance, NULL, FILE_END) != FALSE;
}

// Reads the last OVERLAP_SIZE bytes of the stored file and leaves the file
// pointer at their start; a file too short to hold them cannot be continued.
static void ReadStoredEnd(TransferFile *file)
{
    DWORD read = 0;
    bool ok = SeekOverlapStart(file->handle) &&
              ReadFile(file->handle, file->stored, OVERLAP_SIZE, &read, NULL) && read == OVERLAP_SIZE &&
              SeekOverlapStart(file->handle);
    if (!ok)
        file->overlapDiffers = true;
}

// A temporary file in the transfer folder of the save folder, where no
// address maps; false when none can be made.
static bool CreateTransferFile(TransferFile *file)
{
    char folder[TEXT_SIZE], made[TEXT_SIZE];
    if (!GetTransferFolder(folder) || lstrlenA(folder) > MAX_PATH - 14)
        return false;
    CopyText(made, sizeof made, folder);
    CreateFolders(made);
    if (GetTempFileNameA(folder, "pv", 0, file->tempPath) == 0)
        return false;
    file->handle = CreateNewFile(file->tempPath);
    if (file->handle == INVALID_HANDLE_VALUE) {
        DeleteFileA(file->tempPath);
        return false;
    }
    return true;
}

void EmptyTransferFolder(void)
{
    char folder[TEXT_SIZE], pattern[TEXT_SIZE], path[2 * TEXT_SIZE];
    if (!GetTransferFolder(folder) || lstrlenA(folder) + 1 >= TEXT_SIZE)
        return;
    FormatText(pattern, sizeof pattern, "%s*", folder);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            bool named = FormatText(path, sizeof path, "%s%s", folder, found.cFileName);
            if (named && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(path);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    // Gone when empty, so that the save folder holds only the mirror.
    RemoveDirectoryA(folder);
}

static bool OpenTransferFile(TransferFile *file, const char *localPath, int mode)
{
    memset(file, 0, sizeof *file);
    file->mode = mode;
    if (mode == RECEIVE_CONTINUE) {
        file->handle = CreateFileA(localPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
        if (file->handle != INVALID_HANDLE_VALUE)
            ReadStoredEnd(file);
        return file->handle != INVALID_HANDLE_VALUE;
    }
    if (mode == RECEIVE_REPLACE && CreateTransferFile(file))
        return true;
    // No file can be made in the transfer folder: the file is received in place.
    file->mode = RECEIVE_NEW;
    DeleteFileA(localPath);
    file->handle = CreateNewFile(localPath);
    return file->handle != INVALID_HANDLE_VALUE;
}

// Writes a block read; for a continued file the part of the block that
// overlaps the stored end must equal it, else nothing is written. False when
// the transfer cannot go on.
static bool WriteReceived(TransferFile *file, const void *block, DWORD length)
{
    if (file->mode == RECEIVE_CONTINUE && file->overlapChecked < OVERLAP_SIZE) {
        DWORD compared = OVERLAP_SIZE - file->overlapChecked;
        if (compared > length)
            compared = length;
        if (memcmp(block, file->stored + file->overlapChecked, compared) != 0) {
            file->overlapDiffers = true;
            return false;
        }
        file->overlapChecked += compared;
    }
    DWORD written = 0;
    if (!g_driveCalls.WriteFile(file->handle, block, length, &written, NULL) || written != length)
        file->writeFailed = true;
    return !file->writeFailed;
}

// Gives the file the server's date (the year 1980 when the user broke off
// a transfer from a server that cannot continue files).
static void SetStoredDate(HANDLE handle, const SYSTEMTIME *serverDate)
{
    if (serverDate->wYear == 0)
        return;
    SYSTEMTIME date = *serverDate;
    date.wYear = (WORD)StoredFileYear(date.wYear, g_crawlState != CRAWL_RUNNING, g_resumePossible);
    FILETIME time;
    if (SystemTimeToFileTime(&date, &time))
        SetFileTime(handle, &time, &time, &time);
}

ClockCalls g_clock = {GetTickCount};

static void StartProgress(ReceiveProgress *progress, const char *filePart, unsigned long long expected)
{
    memset(progress, 0, sizeof *progress);
    CopyText(progress->displayName, sizeof progress->displayName, filePart[0] != '\0' ? filePart : "(index.html)");
    LoadText(IDS_RECEIVED, progress->receivedFormat);
    LoadText(IDS_RECEIVEDOF, progress->sizedFormat);
    progress->expected = expected;
    progress->windowTick = g_clock.TickCount();
    progress->shownBar = -1;
}

// The rate over the window, once it spans a display interval; a shorter
// window keeps the rate shown and goes on.
static void MeasureRate(ReceiveProgress *p, DWORD now)
{
    if (now - p->windowTick < PROGRESS_INTERVAL)
        return;
    p->rate = WindowRate(p->total - p->windowTotal, now - p->windowTick, p->rate);
    p->windowTick = now;
    p->windowTotal = p->total;
}

// Sets the status line, title and bar, each only when it differs from what
// the window shows: every one is a message to the window's thread.
static void ShowChangedProgress(ReceiveProgress *p, const char *status, const char *title, int bar)
{
    if (lstrcmpA(title, p->shownTitle) != 0) {
        ShowProgressTitle(title);
        CopyText(p->shownTitle, sizeof p->shownTitle, title);
    }
    if (bar != p->shownBar) {
        LeaveFilePosition(g_mainWindow, bar);
        p->shownBar = bar;
    }
    if (lstrcmpA(status, p->shownStatus) != 0) {
        ShowStatusText(status);
        CopyText(p->shownStatus, sizeof p->shownStatus, status);
    }
}

// Asks for the animation period only when it changes: a timer set anew
// starts counting again, so one set at every showing would not tick during
// a fast transfer.
static void ShowAnimationPeriod(ReceiveProgress *p, long period)
{
    if (period == p->period)
        return;
    SetAnimationPeriod(g_mainWindow, (UINT)period);
    p->period = period;
}

// Status text, title, bar and animation period of the bytes received so far.
static void ShowReceiveProgress(ReceiveProgress *p, DWORD now)
{
    MeasureRate(p, now);
    char status[TEXT_SIZE], title[TITLE_TEXT_SIZE];
    TransferFigures figures = {p->total, p->expected, p->rate};
    FormatTransferStatus(status, sizeof status, p->receivedFormat, p->sizedFormat, p->displayName, &figures);
    FormatTransferTitle(title, sizeof title, p->displayName, &figures);
    int bar;
    long period;
    if (p->expected == 0) {
        bar = UnknownSizeBarPosition(p->rate);
        period = AnimationPeriodUnknownSize(p->rate);
    } else {
        bar = ReceivedPercent(p->total, p->expected);
        period = AnimationPeriodKnownSize(p->rate, bar);
    }
    ShowChangedProgress(p, status, title, bar);
    ShowAnimationPeriod(p, period);
    p->shownOnce = true;
    p->shownTick = now;
}

// Shows the progress after a read when it was never shown or was shown
// PROGRESS_INTERVAL ms ago or more: a fast transfer reads far more often
// than a window can be redrawn.
static void ShowProgressWhenDue(ReceiveProgress *p)
{
    DWORD now = g_clock.TickCount();
    if (!p->shownOnce || now - p->shownTick >= PROGRESS_INTERVAL)
        ShowReceiveProgress(p, now);
}

// The buffer's block, grown to hold size bytes; null when it cannot be.
static void *BlockOfSize(ReadBuffer *buffer, DWORD size)
{
    if (size <= buffer->size)
        return buffer->block;
    if (buffer->block != NULL)
        GlobalFree((HGLOBAL)buffer->block);
    buffer->block = (void *)GlobalAlloc(GMEM_FIXED, size);
    buffer->size = buffer->block != NULL ? size : 0;
    return buffer->block;
}

// One pass: reads as much as the library has available and writes it.
// False when the data ends, a read fails, the crawl state leaves running or
// a continued file's overlap differs.
static bool ReceiveBlock(HINTERNET request, TransferFile *file, ReceiveProgress *progress, ReadBuffer *buffer)
{
    DWORD available = 0;
    if (!g_internet.QueryDataAvailable(request, &available, 0, 0) || available == 0)
        return false;
    void *block = BlockOfSize(buffer, available);
    if (block == NULL)
        return false;
    DWORD read = 0;
    BOOL ok = g_internet.ReadFile(request, block, available, &read);
    if (read > available)
        read = available;
    progress->total += read;
    return g_crawlState == CRAWL_RUNNING && ok && read != 0 && WriteReceived(file, block, read);
}

// Reads the body block by block until ReceiveBlock ends it, showing the
// progress when due and always once more after the last read.
static void ReceiveBody(HINTERNET request, TransferFile *file, ReceiveProgress *progress)
{
    ReadBuffer buffer = {NULL, 0};
    while (ReceiveBlock(request, file, progress, &buffer))
        ShowProgressWhenDue(progress);
    if (progress->total != 0)
        ShowReceiveProgress(progress, g_clock.TickCount());
    if (buffer.block != NULL)
        GlobalFree((HGLOBAL)buffer.block);
}

// Closes the file; a file received in the transfer folder replaces the stored
// one when it is complete and the transfer was not broken off, else it is
// deleted.
// False when the stored file could not be replaced.
static bool CloseTransferFile(TransferFile *file, const char *localPath, int result)
{
    CloseHandle(file->handle);
    if (file->mode != RECEIVE_REPLACE)
        return true;
    if (result == RECEIVE_COMPLETE && g_crawlState == CRAWL_RUNNING) {
        if (MoveFileExA(file->tempPath, localPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            return true;
        DeleteFileA(file->tempPath);
        return false;
    }
    DeleteFileA(file->tempPath);
    return true;
}

int ReceiveToFile(HINTERNET request, const char *filePart, const char *localPath, unsigned long long expectedSize,
                  const SYSTEMTIME *serverDate, int mode)
{
    TransferFile file;
    if (!OpenTransferFile(&file, localPath, mode)) {
        ReportFileProblem(mode == RECEIVE_CONTINUE ? FILE_CANNOT_BE_OPENED : FILE_CANNOT_BE_CREATED, localPath);
        return RECEIVE_FILE_FAILED;
    }
    ReceiveProgress progress;
    StartProgress(&progress, filePart, expectedSize);
    if (!file.overlapDiffers)
        ReceiveBody(request, &file, &progress);
    int result = RECEIVE_COMPLETE;
    if (file.overlapDiffers)
        result = RECEIVE_OVERLAP_DIFFERS;
    else if (file.writeFailed)
        result = RECEIVE_FILE_FAILED;
    else if (expectedSize != 0 && expectedSize != progress.total)
        result = RECEIVE_SHORT;
    // A file the drive did not take whole keeps no server date: the next
    // run does not take it for the server's file.
    if (result == RECEIVE_COMPLETE || result == RECEIVE_SHORT)
        SetStoredDate(file.handle, serverDate);
    bool closed = CloseTransferFile(&file, localPath, result);
    AddDownloadedBytes(progress.total);
    if (!closed || file.writeFailed) {
        ReportFileProblem(closed ? FILE_CANNOT_BE_WRITTEN : FILE_CANNOT_BE_OPENED, localPath);
        return RECEIVE_FILE_FAILED;
    }
    ShowStatusString(IDS_FINISHED);
    return result;
}
