// engine/request.cpp — opening the transfer of one file on a connection.
// The HTTP GET with its fixed header block, byte range, cache flags and receive
// time-outs, or the FTP read; the status of the response.
#include "engine/engine_internal.h"

#include <string.h>

#include "app/surface.h"
#include "engine/receive_numbers.h"
#include "net/net.h"
#include "settings/settings.h"

DWORD CacheFlagsForMode(int cacheMode)
{
    switch (cacheMode) {
    case 0:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    case 1:
        return INTERNET_FLAG_RELOAD;
    case 2:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION;
    case 3:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
    case 4:
        return 0;
    default:
        return INTERNET_FLAG_RELOAD;
    }
}

void FormatRequestHeaders(char *block, unsigned long long rangeStart, const char *ifRange)
{
    memset(block, 0, HEADER_BLOCK_SIZE);
    if (rangeStart == 0)
        CopyText(block, HEADER_BLOCK_SIZE, "Accept: */*\r\nPragma: no-cache\r\n\r\n");
    else if (ifRange == NULL || ifRange[0] == '\0')
        FormatText(block, HEADER_BLOCK_SIZE, "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=%llu-\r\n\r\n",
                   rangeStart);
    else
        FormatText(block, HEADER_BLOCK_SIZE,
                   "Accept: */*\r\nPragma: no-cache\r\nRange: bytes=%llu-\r\nIf-Range: %s\r\n\r\n", rangeStart,
                   ifRange);
}

// Sets the receive time-out (setting "timeout") on the request; the data
// receive time-out only when the first one was accepted.
static void SetReceiveTimeouts(HINTERNET request)
{
    DWORD timeout = GetTimeout();
    if (g_internet.SetOption(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout))
        g_internet.SetOption(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

// The certificate errors the library reports for a server it cannot trust:
// an unknown authority, a wrong name, a date out of range, a revoked or
// otherwise invalid certificate.
static bool IsCertificateError(DWORD error)
{
    return error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
           error == ERROR_INTERNET_SEC_CERT_DATE_INVALID || error == ERROR_INTERNET_SEC_CERT_REVOKED ||
           error == ERROR_INTERNET_SEC_INVALID_CERT || error == ERROR_INTERNET_SEC_CERT_ERRORS ||
           error == ERROR_INTERNET_SEC_CERT_NO_REV || error == ERROR_INTERNET_SEC_CERT_REV_FAILED;
}

// Adds the line to the access log once per run (the log is the run's record).
static void LogOnce(const char *format, const char *host)
{
    char line[2 * TEXT_SIZE];
    FormatText(line, sizeof line, format, host);
    if (!IsInVisitedList(g_mainWindow, line))
        AppendLog(g_mainWindow, line);
}

const char CERTIFICATE_REFUSED[] = "* 証明書を確認できません : %s";
const char CERTIFICATE_IGNORED[] = "* 証明書の誤りを無視しました : %s";

// A send failed on the server's certificate: with the setting "cert" on,
// the request is told to accept it and true is returned to send it again;
// otherwise the connection notes the refusal. Either is told once per
// server and run.
static bool AcceptCertificate(HINTERNET request)
{
    const char *host = HostWithoutScheme(g_connection.host);
    if (GetIgnoreCertErrors() != 1) {
        g_connection.certificateRefused = true;
        LogOnce(CERTIFICATE_REFUSED, host);
        return false;
    }
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION |
                  SECURITY_FLAG_IGNORE_WRONG_USAGE;
    if (!g_internet.SetOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags))
        return false;
    LogOnce(CERTIFICATE_IGNORED, host);
    return true;
}

// The flag an https request adds: TLS. A certificate error fails the send,
// so that it is told (see AcceptCertificate) before it is ever accepted.
static DWORD SecureRequestFlags(void) { return IsSecureAddress(g_connection.host) ? INTERNET_FLAG_SECURE : 0; }

// The request goes with the library's cookie handling off where its folder
// has no cookie (see CookieFlagsFor); an address too long to write leaves
// the cookies to the library.
static HINTERNET SendHttpRequest(HINTERNET connection, const char *objectPath, DWORD flags,
                                 unsigned long long rangeStart, const char *ifRange)
{
    char address[3 * TEXT_SIZE];
    bool addressed = FormatRequestAddress(address, sizeof address, g_connection.host, objectPath);
    flags |= SecureRequestFlags() | (addressed ? CookieFlagsFor(address) : 0);
    HINTERNET request = g_internet.OpenRequest(connection, "GET", objectPath, "HTTP/1.1", NULL, NULL, flags, 0);
    if (request == NULL)
        return NULL;
    char block[HEADER_BLOCK_SIZE];
    FormatRequestHeaders(block, rangeStart, ifRange);
    SetReceiveTimeouts(request);
    for (int tries = 0;; ++tries) {
        if (g_internet.SendRequest(request, block, (DWORD)lstrlenA(block), NULL, 0)) {
            if (addressed)
                TakeAnswerCookies(request, address, flags);
            return request;
        }
        if (tries > 0 || !IsCertificateError(GetLastError()) || !AcceptCertificate(request))
            break;
    }
    CloseInternetHandle(&request);
    return NULL;
}

// Port of a host part for comparing servers: 0 for none written or the
// scheme's own standard port.
static INTERNET_PORT ComparablePort(const char *hostPart, char *name)
{
    INTERNET_PORT port = HostNameAndPort(hostPart, name);
    INTERNET_PORT standard = IsSecureAddress(hostPart) ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    return port == standard ? 0 : port;
}

bool SameServer(const char *hostPart, const char *otherHostPart)
{
    char name[TEXT_SIZE], otherName[TEXT_SIZE];
    INTERNET_PORT port = ComparablePort(hostPart, name);
    INTERNET_PORT otherPort = ComparablePort(otherHostPart, otherName);
    return lstrcmpiA(name, otherName) == 0 && port == otherPort &&
           IsSecureAddress(hostPart) == IsSecureAddress(otherHostPart);
}

bool IsRedirect(DWORD code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }

bool RedirectTarget(HINTERNET request, const char *asked, char *target, size_t size)
{
    char location[2 * TEXT_SIZE + 1];
    memset(location, 0, sizeof location);
    DWORD length = 2 * TEXT_SIZE;
    if (!g_internet.QueryInfo(request, HTTP_QUERY_LOCATION, location, &length, NULL))
        return false;
    location[2 * TEXT_SIZE] = '\0';
    return location[0] != '\0' && ResolveLocation(target, size, asked, location);
}

// The object path that a redirect's Location names on the connection's own
// server and scheme; false for any other place.
static bool LocationOnThisServer(HINTERNET request, const char *objectPath, char *nextPath)
{
    char asked[3 * TEXT_SIZE], target[3 * TEXT_SIZE];
    if (!FormatText(asked, sizeof asked, "%s%s", g_connection.host, objectPath) ||
        !RedirectTarget(request, asked, target, sizeof target))
        return false;
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    if (SplitAddress(target, host, path, file) != 1 || !SameServer(host, g_connection.host))
        return false;
    return FormatText(nextPath, 2 * TEXT_SIZE, "%s%s", path, file);
}

// Tells the user why the address ends without a file.
void LogTooManyRedirects(const char *address)
{
    char line[3 * TEXT_SIZE];
    FormatText(line, sizeof line, "* リダイレクトが多すぎます : %s", address);
    AppendLog(g_mainWindow, line);
}

bool TakeRedirect(RedirectCount *count)
{
    if (count->followed >= MAX_REDIRECTS) {
        LogTooManyRedirects(count->firstAsked);
        return false;
    }
    ++count->followed;
    return true;
}

// Sends the GET; a redirect within the connection's server and scheme is
// followed by a new request while the count allows, and path becomes the one
// answered (the last of too many redirects is the answer, and fails as one).
// A redirect to another place is the answer: the caller decides whether to
// follow it.
static HINTERNET OpenHttpRequest(HINTERNET connection, char *path, DWORD flags, unsigned long long rangeStart,
                                 RedirectCount *count, const char *ifRange)
{
    if (count->firstAsked[0] == '\0')
        FormatText(count->firstAsked, sizeof count->firstAsked, "%s%s", g_connection.host, path);
    for (;;) {
        HINTERNET request = SendHttpRequest(connection, path, flags | INTERNET_FLAG_NO_AUTO_REDIRECT, rangeStart, ifRange);
        if (request == NULL || !IsRedirect(QueryStatusCode(request, INTERNET_SERVICE_HTTP)))
            return request;
        char next[2 * TEXT_SIZE];
        if (!LocationOnThisServer(request, path, next) || !TakeRedirect(count))
            return request;
        CloseInternetHandle(&request);
        CopyText(path, 2 * TEXT_SIZE, next);
    }
}

HINTERNET OpenRequestAt(HINTERNET connection, char *objectPath, DWORD service, unsigned long long rangeStart,
                        RedirectCount *count, const char *ifRange)
{
    DWORD flags = CacheFlagsForMode(GetCacheMode());
    if (service == INTERNET_SERVICE_HTTP)
        return OpenHttpRequest(connection, objectPath, flags, rangeStart, count, ifRange);
    return g_internet.FtpOpenFile(connection, objectPath, GENERIC_READ, flags | FTP_TRANSFER_TYPE_BINARY, 0);
}

HINTERNET OpenRequest(HINTERNET connection, const char *objectPath, DWORD service, unsigned long long rangeStart,
                      const char *ifRange)
{
    char path[2 * TEXT_SIZE];
    if (!CopyText(path, sizeof path, objectPath))
        return NULL;
    RedirectCount count = {};
    return OpenRequestAt(connection, path, service, rangeStart, &count, ifRange);
}

// Queries a number header; false when the response has none.
static bool QueryNumber(HINTERNET request, DWORD infoLevel, DWORD *value)
{
    *value = 0;
    DWORD length = sizeof *value;
    return g_internet.QueryInfo(request, infoLevel | HTTP_QUERY_FLAG_NUMBER, value, &length, NULL) != FALSE;
}

DWORD QueryStatusCode(HINTERNET request, DWORD service)
{
    if (service == INTERNET_SERVICE_FTP)
        return 200;
    DWORD code;
    return QueryNumber(request, HTTP_QUERY_STATUS_CODE, &code) ? code : 0;
}

unsigned long long QueryContentLength(HINTERNET request)
{
    // The library's number form of the header holds 32 bits only.
    char text[32];
    memset(text, 0, sizeof text);
    DWORD length = sizeof text - 1;
    unsigned long long count;
    if (!g_internet.QueryInfo(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, NULL))
        return 0;
    text[sizeof text - 1] = '\0';
    return ReadByteCount(text, &count) ? count : 0;
}

bool AnswerHasNoHeaderLines(HINTERNET request)
{
    static char raw[4096 + 1];
    memset(raw, 0, sizeof raw);
    DWORD length = sizeof raw - 1;
    if (!g_internet.QueryInfo(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw, &length, NULL))
        return false;
    const char *lineEnd = strstr(raw, "\r\n");
    return lineEnd == NULL || lineEnd[2] == '\0' || (lineEnd[2] == '\r' && lineEnd[3] == '\n');
}

// The Content-Range of a 206 answer into value (TEXT_SIZE + 1 bytes); false
// for another status or when it has none.
static bool QueryContentRange(HINTERNET request, char *value)
{
    if (QueryStatusCode(request, INTERNET_SERVICE_HTTP) != 206)
        return false;
    memset(value, 0, TEXT_SIZE + 1);
    DWORD length = TEXT_SIZE;
    return g_internet.QueryInfo(request, HTTP_QUERY_CONTENT_RANGE, value, &length, NULL) != FALSE;
}

bool AnswersRange(HINTERNET request, unsigned long long rangeStart)
{
    char value[TEXT_SIZE + 1];
    return QueryContentRange(request, value) && ContentRangeStart(value) == (long long)rangeStart;
}

unsigned long long RangeAnswerTotal(HINTERNET request, unsigned long long rangeStart)
{
    char value[TEXT_SIZE + 1];
    if (!QueryContentRange(request, value) || ContentRangeStart(value) != (long long)rangeStart)
        return 0;
    long long total = ContentRangeTotal(value);
    return total > 0 ? (unsigned long long)total : 0;
}
