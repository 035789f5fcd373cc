// engine/update_check.cpp — a file's remote facts compared with the stored file.
// Date, size, content type and whether the server can continue files, from HTTP
// headers or an FTP listing; the stored file's size and the largest file its drive holds.
#include "engine/engine_internal.h"

#include <string.h>

#include "engine/receive_numbers.h"
#include "net/net.h"

char g_contentType[CONTENT_TYPE_SIZE];
int g_resumePossible;

// Size of the work buffer of the header queries.
#define HEADER_WORK_SIZE 4096

static unsigned long long FetchFtpFacts(HINTERNET connection, const char *objectPath, SYSTEMTIME *serverDate)
{
    WIN32_FIND_DATAA record;
    memset(&record, 0, sizeof record);
    HINTERNET find = g_internet.FtpFindFirstFile(connection, objectPath, &record,
                                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (find == NULL) {
        memset(serverDate, 0, sizeof *serverDate);
        return 0;
    }
    CloseInternetHandle(&find);
    if (!FileTimeToSystemTime(&record.ftLastWriteTime, serverDate))
        memset(serverDate, 0, sizeof *serverDate);
    memset(g_contentType, 0, sizeof g_contentType);
    return (unsigned long long)record.nFileSizeHigh << 32 | record.nFileSizeLow;
}

// Queries a text header into the work buffer (cleared first); false when
// the response has none. The buffer keeps a terminating NUL whatever the
// library writes.
static bool QueryText(HINTERNET request, DWORD infoLevel, char *work)
{
    memset(work, 0, HEADER_WORK_SIZE + 1);
    DWORD length = HEADER_WORK_SIZE;
    bool found = g_internet.QueryInfo(request, infoLevel, work, &length, NULL) != FALSE;
    work[HEADER_WORK_SIZE] = '\0';
    return found;
}

// The Last-Modified date of the response, read from its text; year 0 when
// there is none or it is no date. The library's own conversion is not used:
// under Wine it fails on a text it cannot read (far-future years, the RFC 850
// and asctime forms, garbage) and ends the program.
static void ReadServerDate(HINTERNET request, char *work, SYSTEMTIME *serverDate)
{
    memset(serverDate, 0, sizeof *serverDate);
    HttpDate date;
    if (!QueryText(request, HTTP_QUERY_LAST_MODIFIED, work) || !ParseHttpDate(work, &date))
        return;
    SYSTEMTIME fields;
    memset(&fields, 0, sizeof fields);
    fields.wYear = (WORD)date.year;
    fields.wMonth = (WORD)date.month;
    fields.wDay = (WORD)date.day;
    fields.wHour = (WORD)date.hour;
    fields.wMinute = (WORD)date.minute;
    fields.wSecond = (WORD)date.second;
    // Through a file time and back: the system checks the date and fills in its weekday.
    FILETIME time;
    if (!SystemTimeToFileTime(&fields, &time) || !FileTimeToSystemTime(&time, serverDate))
        memset(serverDate, 0, sizeof *serverDate);
}

static unsigned long long FetchHttpFacts(HINTERNET request, SYSTEMTIME *serverDate)
{
    static char work[HEADER_WORK_SIZE + 1];
    QueryText(request, HTTP_QUERY_RAW_HEADERS_CRLF, work);
    OutputDebugStringA(work);
    if (StartsWithNoCase(work, "HTTP/1.1"))
        g_resumePossible = 1;
    memset(g_contentType, 0, sizeof g_contentType);
    if (QueryText(request, HTTP_QUERY_CONTENT_TYPE, work))
        CopyText(g_contentType, sizeof g_contentType, work);
    else
        CopyText(g_contentType, sizeof g_contentType, "text/text");
    ReadServerDate(request, work, serverDate);
    return QueryContentLength(request);
}

unsigned long long FetchRemoteFacts(HINTERNET handle, const char *objectPath, SYSTEMTIME *serverDate, DWORD service)
{
    g_resumePossible = 0;
    if (service == INTERNET_SERVICE_FTP)
        return FetchFtpFacts(handle, objectPath, serverDate);
    return FetchHttpFacts(handle, serverDate);
}

int CompareWithStoredFile(const char *localPath, const SYSTEMTIME *serverDate)
{
    if (serverDate->wYear == 0)
        return 1;
    if (GetFileAttributesA(localPath) == INVALID_FILE_ATTRIBUTES)
        return 1;
    HANDLE file = CreateFileA(localPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return STORED_FILE_HELD;
    FILETIME created, accessed, written;
    BOOL timesRead = GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    FILETIME server;
    // A date the system cannot convert, or times it cannot read, compare
    // as newer on the server: the file is fetched whole.
    if (!timesRead || !SystemTimeToFileTime(serverDate, &server))
        return 1;
    return CompareFileTime(&server, &created);
}

bool ReadStoredSize(const char *localPath, unsigned long long *size)
{
    HANDLE file = CreateFileA(localPath, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER bytes;
    bool read = GetFileSizeEx(file, &bytes) != FALSE;
    CloseHandle(file);
    *size = read ? (unsigned long long)bytes.QuadPart : 0;
    return read;
}

// The file time as an HTTP date into text (HTTP_DATE_SIZE bytes).
static bool FormatFileTime(const FILETIME *time, char *text)
{
    SYSTEMTIME date;
    if (!FileTimeToSystemTime(time, &date))
        return false;
    HttpDate fields = {date.wYear, date.wMonth, date.wDay, date.wHour, date.wMinute, date.wSecond};
    return FormatHttpDate(text, HTTP_DATE_SIZE, &fields, date.wDayOfWeek);
}

bool ReadStoredCopy(const char *localPath, unsigned long long *size, char *dateText)
{
    HANDLE file = CreateFileA(localPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER bytes;
    FILETIME created, accessed, written;
    bool read = GetFileSizeEx(file, &bytes) && GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    *size = read ? (unsigned long long)bytes.QuadPart : 0;
    return read && FormatFileTime(&created, dateText);
}

DriveCalls g_driveCalls = {GetVolumeInformationA, WriteFile};

bool TooBigForDrive(const char *localPath, unsigned long long size)
{
    char root[MAX_PATH], fileSystem[MAX_PATH + 1];
    if (!GetVolumePathNameA(localPath, root, sizeof root))
        return false;
    if (!g_driveCalls.VolumeInformation(root, NULL, 0, NULL, NULL, NULL, fileSystem, sizeof fileSystem))
        return false;
    return TooBigForFileSystem(fileSystem, size);
}
