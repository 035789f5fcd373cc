// app/input.cpp — the ways a start list arrives besides the Search button.
// The start argument, dropped files, Internet shortcut files, and the reservation
// of a drop made during a run.
#include "app/app.h"

#include "engine/engine.h"
#include "page/page.h"
#include "settings/settings.h"

void (*g_startCrawl)(HWND, const char *, const char *, const char *) = StartCrawl;

// The characters that separate the entries of a start list.
static const char ENTRY_SEPARATORS[] = " \r\n\t";

// True when the file name's extension is ".URL", case ignored.
static bool IsShortcutFile(const char *path)
{
    char extension[TEXT_SIZE] = "";
    FindExtension(extension, path);
    return CompareNoCase(extension, ".URL") == 0;
}

// The address of an Internet shortcut file into address (TEXT_SIZE bytes),
// or the default text when the key is missing or the file unreadable. The
// profile call looks for a bare name in the Windows folder, so a relative
// path is made full first.
static void ReadShortcutAddress(const char *path, char *address, const char *defaultText)
{
    char fullPath[TEXT_SIZE];
    DWORD length = GetFullPathNameA(path, TEXT_SIZE, fullPath, NULL);
    if (length == 0 || length >= TEXT_SIZE)
        CopyText(fullPath, sizeof fullPath, path);
    address[0] = '\0';
    GetPrivateProfileStringA("InternetShortcut", "URL", defaultText, address, TEXT_SIZE, fullPath);
}

// Bytes of a start-list file read at most: room for a list of 16383 bytes
// in Shift_JIS written in UTF-8 (up to three bytes a character) or UTF-16.
#define START_FILE_READ_SIZE (3 * START_LIST_SIZE)

// The file's text as a start list (START_LIST_SIZE bytes) in Shift_JIS: a
// Shift_JIS file's first 16383 bytes, a UTF-8 or UTF-16 one converted;
// false, with the list empty, when the file cannot be opened or read.
static bool ReadStartListFile(const char *path, char *startList)
{
    static char bytes[START_FILE_READ_SIZE + 1];
    startList[0] = '\0';
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD bytesRead = 0;
    BOOL read = ReadFile(file, bytes, START_FILE_READ_SIZE, &bytesRead, NULL);
    CloseHandle(file);
    if (!read)
        return false;
    bytes[bytesRead] = '\0';
    TextFileToShiftJis(bytes, bytesRead, startList, START_LIST_SIZE);
    return true;
}

// True when the file can be opened for reading (others may read it too).
static bool CanReadFile(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// Tells the user that the file named cannot be read and nothing is searched.
static void LogUnreadableFile(HWND window, const char *path)
{
    char line[TEXT_SIZE + 64];
    FormatText(line, sizeof line, "* ファイルを読めないので探索しません : %s", path);
    AppendLog(window, line);
}

// Reads the start list a file gives: an Internet shortcut's address or a
// text file's list. False, with a log line, when the file cannot be read.
static bool ReadStartListOf(HWND window, const char *path, char *startList)
{
    bool shortcut = IsShortcutFile(path);
    if (shortcut ? !CanReadFile(path) : !ReadStartListFile(path, startList)) {
        LogUnreadableFile(window, path);
        return false;
    }
    if (shortcut)
        ReadShortcutAddress(path, startList, "Error");
    return true;
}

// The path an argument names: without its quotes when it begins with one
// (cut at the closing quote, or running to the end without one).
static void TakePathOfArgument(char *path, const char *argument)
{
    if (argument[0] != '"') {
        CopyText(path, TEXT_SIZE, argument);
        return;
    }
    const char *start = argument + 1;
    const char *end = ScanFor(start, "", "\"", 1);
    size_t length = (size_t)(end - start);
    CopyText(path, length + 1 < TEXT_SIZE ? length + 1 : TEXT_SIZE, start);
}

// Appends the entries of the start list to the address box text, one space
// between entries. False, with the box unchanged, when the box holds more
// than the 259 characters a reservation can have or the result would.
static bool AddReservation(HWND window, const char *startList)
{
    if (GetWindowTextLengthA(GetDlgItem(window, IDC_ADDRESS)) > TEXT_SIZE - 1)
        return false;
    char joined[TEXT_SIZE] = "";
    GetDlgItemTextA(window, IDC_ADDRESS, joined, TEXT_SIZE);
    size_t used = strlen(joined);
    bool added = false;
    for (const char *p = startList; *p != '\0';) {
        p += strspn(p, ENTRY_SEPARATORS);
        size_t length = strcspn(p, ENTRY_SEPARATORS);
        if (length == 0)
            break;
        size_t space = used > 0 ? 1 : 0;
        if (used + space + length > TEXT_SIZE - 1)
            return false;
        if (space)
            joined[used++] = ' ';
        memcpy(joined + used, p, length);
        used += length;
        joined[used] = '\0';
        added = true;
        p += length;
    }
    if (added)
        SetDlgItemTextA(window, IDC_ADDRESS, joined);
    return true;
}

bool RefuseListWithoutAddress(HWND window, const char *startList)
{
    if (StartListHasAddress(startList))
        return false;
    AppendLog(window, "* アドレスがないので探索しません");
    return true;
}

bool StartOrReserve(HWND window, const char *saveFolder, const char *startList, const char *ignoreText)
{
    if (g_crawlState == CRAWL_IDLE && RefuseListWithoutAddress(window, startList))
        return false;
    if (MoveCrawlState(CRAWL_IDLE, CRAWL_RUNNING)) {
        // The first pass must see the run going.
        g_startCrawl(window, saveFolder, startList, ignoreText);
        return true;
    }
    if (AddReservation(window, startList))
        return true;
    MessageBeep(MB_ICONEXCLAMATION);
    return false;
}

// The save folder and the ignore patterns box, the two other texts a crawl start takes.
static void ReadCrawlTexts(HWND window, char *saveFolder, char *ignoreText)
{
    GetSaveFolder(saveFolder);
    ignoreText[0] = '\0';
    GetDlgItemTextA(window, IDC_IGNORE, ignoreText, TEXT_SIZE);
}

void TakeStartArgument(HWND window, const char *argument)
{
    static char startList[START_LIST_SIZE];
    char saveFolder[TEXT_SIZE], ignoreText[TEXT_SIZE];
    ReadCrawlTexts(window, saveFolder, ignoreText);
    if (argument[0] == '\0')
        return;
    char path[TEXT_SIZE];
    TakePathOfArgument(path, argument);
    if (path[0] == '\0')
        return;
    if (ReadStartListOf(window, path, startList))
        StartOrReserve(window, saveFolder, startList, ignoreText);
}

// The name of dropped file index into path (TEXT_SIZE bytes); false, with
// path empty, when the name would not fit whole.
static bool DroppedFileName(HDROP drop, UINT index, char *path)
{
    path[0] = '\0';
    UINT length = DragQueryFileA(drop, index, NULL, 0);
    if (length == 0 || length >= TEXT_SIZE)
        return false;
    return DragQueryFileA(drop, index, path, TEXT_SIZE) == length;
}

void TakeDroppedFiles(HWND window, HDROP drop)
{
    char path[TEXT_SIZE];
    if (DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0) == 1) {
        DroppedFileName(drop, 0, path);
        DragFinish(drop);
        TakeStartArgument(window, path);
        return;
    }
    static char startList[START_LIST_SIZE];
    startList[0] = '\0';
    char saveFolder[TEXT_SIZE], ignoreText[TEXT_SIZE];
    ReadCrawlTexts(window, saveFolder, ignoreText);
    for (UINT i = 0; i < DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0); ++i) {
        if (!DroppedFileName(drop, i, path) || !IsShortcutFile(path))
            continue;
        char address[TEXT_SIZE];
        ReadShortcutAddress(path, address, "*");
        AppendWord(startList, START_LIST_SIZE, address);
    }
    DragFinish(drop);
    StartOrReserve(window, saveFolder, startList, ignoreText);
}
