// engine/cookies.cpp — cookies of HTTP requests: left to the library only where a folder has some.
// The library's own handling looks in its store for every folder above each file asked and
// keeps a record of every file, so that under Wine each request cost more than the one
// before (5 ms a file at first, 8 ms after 20,000). A request to a folder with no cookie
// goes with that handling off; the cookies its answer sets are put in the library's store
// here, as the library would have put them, and sent by the library from then on.
#include "engine/engine_internal.h"

#include <set>
#include <string>

#include "net/net.h"

namespace {

// Folders (scheme, server and path to the last '/') the store had no cookie
// for, since the run began or a cookie was last set; the generation counts
// those forgettings, so that an answer found before one is not noted after it.
std::set<std::string> g_cookieFreeFolders;
unsigned long g_cookieGeneration;
SRWLOCK g_cookieLock = SRWLOCK_INIT;

// Past this many folders the record starts again rather than grow on.
const size_t MAX_COOKIE_FREE_FOLDERS = 100000;

// The folder of an address: up to and with the last '/' before any query.
std::string FolderOf(const char *address)
{
    std::string text(address);
    size_t slash = text.rfind('/', text.find_first_of("?#"));
    return slash == std::string::npos ? text : text.substr(0, slash + 1);
}

bool IsKnownCookieFree(const std::string &folder, unsigned long *generation)
{
    AcquireSRWLockShared(&g_cookieLock);
    bool known = g_cookieFreeFolders.count(folder) != 0;
    *generation = g_cookieGeneration;
    ReleaseSRWLockShared(&g_cookieLock);
    return known;
}

void NoteCookieFree(const std::string &folder, unsigned long generation)
{
    AcquireSRWLockExclusive(&g_cookieLock);
    if (generation == g_cookieGeneration) {
        if (g_cookieFreeFolders.size() >= MAX_COOKIE_FREE_FOLDERS)
            g_cookieFreeFolders.clear();
        g_cookieFreeFolders.insert(folder);
    }
    ReleaseSRWLockExclusive(&g_cookieLock);
}

// Whether the library's store holds a cookie for the folder. Any answer but
// "none" counts as one, so that a look-up that fails leaves the request to
// the library as before.
bool StoreHasCookiesFor(const std::string &folder)
{
    DWORD size = 0;
    if (g_internet.GetCookie(folder.c_str(), NULL, NULL, &size, INTERNET_COOKIE_HTTPONLY, NULL))
        return true;
    return GetLastError() != ERROR_NO_MORE_ITEMS;
}

// The Set-Cookie header of the answer with the given number; false when it has no more.
bool QuerySetCookie(HINTERNET request, DWORD number, std::string *value)
{
    value->assign(1024, '\0');
    for (int pass = 0; pass < 2; ++pass) {
        DWORD length = (DWORD)value->size() - 1, index = number;
        if (g_internet.QueryInfo(request, HTTP_QUERY_SET_COOKIE, &(*value)[0], &length, &index)) {
            value->resize(length);
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        value->assign((size_t)length + 2, '\0');
    }
    return false;
}

} // namespace

bool FormatRequestAddress(char *address, size_t size, const char *hostPart, const char *objectPath)
{
    return FormatText(address, size, "%s%s%s", IsSecureAddress(hostPart) ? "" : "http://", hostPart, objectPath);
}

DWORD CookieFlagsFor(const char *address)
{
    std::string folder = FolderOf(address);
    unsigned long generation;
    if (IsKnownCookieFree(folder, &generation))
        return INTERNET_FLAG_NO_COOKIES;
    if (StoreHasCookiesFor(folder))
        return 0;
    NoteCookieFree(folder, generation);
    return INTERNET_FLAG_NO_COOKIES;
}

void TakeAnswerCookies(HINTERNET request, const char *address, DWORD requestFlags)
{
    std::string value;
    DWORD number = 0;
    for (; QuerySetCookie(request, number, &value); ++number)
        if (requestFlags & INTERNET_FLAG_NO_COOKIES)
            g_internet.SetCookie(address, NULL, value.c_str(), INTERNET_COOKIE_HTTPONLY, 0);
    if (number > 0)
        ForgetCookieFreeFolders();
}

void ForgetCookieFreeFolders(void)
{
    AcquireSRWLockExclusive(&g_cookieLock);
    g_cookieFreeFolders.clear();
    ++g_cookieGeneration;
    ReleaseSRWLockExclusive(&g_cookieLock);
}
