// page/links.cpp — link handling: a link's scheme, its address resolved against its page, its scope verdict, and the rewrite of an absolute link into the local relative path of its stored file.
#include "page/page.h"

#include <string.h>

int CheckLinkScheme(const char *linkText, int kind)
{
    size_t length = SchemeLength(linkText);
    if (length == 0)
        return kind;
    if (StartsWithNoCase(linkText, "http:") || StartsWithNoCase(linkText, "https:"))
        return kind;
    if (StartsWithNoCase(linkText, "ftp:"))
        return LINK_SAME_LEVEL;
    return LINK_NOT_FOLLOWED;
}

static bool IsAbsoluteLink(const char *link)
{
    return StartsWithNoCase(link, "ftp:") || StartsWithNoCase(link, "http:") ||
           StartsWithNoCase(link, "https:") || link[0] == '/';
}

static bool HasPageExtension(const char *filePart)
{
    static const char *const pageExtensions[] = {".htm", ".html", ".shtml", ".asp"};
    char extension[TEXT_SIZE] = "";
    FindExtension(extension, filePart);
    for (const char *page : pageExtensions)
        if (CompareNoCase(extension, page) == 0)
            return true;
    return false;
}

// True when the link names a page: a folder, a page extension, or any link
// of a page that did not come as "text/html".
static bool IsPageLike(const char *filePart)
{
    const char *type = g_scanSettings.contentType != NULL ? g_scanSettings.contentType : "";
    return filePart[0] == '\0' || HasPageExtension(filePart) || !IsHtmlContentType(type);
}

// Appends text to the buffer of the given size; false, with the buffer as
// it was, when it does not fit.
static bool AppendText(char *buffer, size_t size, const char *text)
{
    size_t used = strlen(buffer), length = strlen(text);
    if (used + length + 1 > size)
        return false;
    memcpy(buffer + used, text, length + 1);
    return true;
}

// The path from the folder of a page with this path part to the stored file
// of host, path and file: "../" for every '/' of the page's path part, then
// the three parts. False when it would not fit 259 characters.
static bool BuildLocalRelativePath(char *out, const char *pagePathPart, const char *host,
                                   const char *path, const char *file)
{
    out[0] = '\0';
    for (const char *p = pagePathPart; *p != '\0'; ++p)
        if (*p == '/' && !AppendText(out, TEXT_SIZE, "../"))
            return false;
    return AppendText(out, TEXT_SIZE, HostWithoutScheme(host)) && AppendText(out, TEXT_SIZE, path) &&
           AppendText(out, TEXT_SIZE, file);
}

// The address of an absolute link into resolved: without scheme for http
// and ftp, with the https marker for https. A protocol-relative link
// ("//host/x") names another server on the page's own scheme.
static void AbsoluteAddress(char *resolved, const char *hostPart, const char *link)
{
    if (link[0] == '/' && link[1] == '/') {
        MakeAddressForm(resolved, LINK_BUFFER_SIZE, link + 2, IsSecureAddress(hostPart));
        return;
    }
    if (link[0] == '/') {
        AppendText(resolved, LINK_BUFFER_SIZE, hostPart);
        AppendText(resolved, LINK_BUFFER_SIZE, link);
        return;
    }
    const char *colon = strchr(link, ':');
    if (strnlen(colon, 3) == 3)
        MakeAddressForm(resolved, LINK_BUFFER_SIZE, colon + 3, StartsWithNoCase(link, "https:"));
}

// The verdict on an address of a link in a page of hostPart; *mayRewrite
// tells whether the link may be rewritten into a local relative path.
static int ScopeVerdict(const char *host, const char *path, const char *file, const char *hostPart,
                        bool ftp, bool *mayRewrite)
{
    *mayRewrite = false;
    bool otherServer = !SameHostPart(host, hostPart);
    if (!ftp && IsPageLike(file)) {
        const char *startPath = g_scanSettings.startPath != NULL ? g_scanSettings.startPath : "";
        if (otherServer || !StartsWithNoCase(path, startPath))
            return VERDICT_OUTSIDE;
    }
    if (ftp && g_scanSettings.useFtp == 0)
        return VERDICT_FTP;
    if (file[0] != '\0' && !PassesIgnorePatterns(file))
        return VERDICT_SAME_SERVER;
    *mayRewrite = true;
    if (ftp)
        return VERDICT_FTP;
    return otherServer ? VERDICT_OUTSIDE : VERDICT_SAME_SERVER;
}

// The path part whose folders a rewritten link climbs: the stored page's.
static const char *StoredPathPart(const char *pathPart)
{
    return g_scanSettings.storedPathPart != NULL ? g_scanSettings.storedPathPart : pathPart;
}

static int HandleAbsoluteLink(char *resolved, const char *hostPart, const char *pathPart,
                              const char *link, const char *place)
{
    bool ftp = StartsWithNoCase(link, "ftp:");
    AbsoluteAddress(resolved, hostPart, link);
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    if (SplitAddress(resolved, host, path, file) != 1)
        return ftp ? VERDICT_FTP : VERDICT_SAME_SERVER; // too long: the admission test refuses it
    bool mayRewrite;
    int verdict = ScopeVerdict(host, path, file, hostPart, ftp, &mayRewrite);
    char local[TEXT_SIZE];
    if (mayRewrite && place != NULL && BuildLocalRelativePath(local, StoredPathPart(pathPart), host, path, file))
        RecordRewrite(place, strlen(link), local);
    return verdict;
}

// A relative link of a page stored at another address than the one it
// answered from (a redirect) does not lead to its file from the stored
// page: it is rewritten like an absolute link to its resolved address.
static void RewriteRelativeLink(const char *resolved, const char *hostPart, const char *link, const char *place)
{
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], local[TEXT_SIZE];
    if (g_scanSettings.storedPathPart == NULL || place == NULL || SplitAddress(resolved, host, path, file) != 1)
        return;
    bool mayRewrite;
    ScopeVerdict(host, path, file, hostPart, false, &mayRewrite);
    if (mayRewrite && BuildLocalRelativePath(local, g_scanSettings.storedPathPart, host, path, file))
        RecordRewrite(place, strlen(link), local);
}

// Cuts the last folder off the resolved address (host/a/b/ becomes host/a/).
// False when only the host and its '/' are left: the link climbs above the
// server's root.
static bool CutLastFolder(char *resolved, size_t hostLength)
{
    size_t length = strlen(resolved);
    if (length < 2)
        return false;
    size_t i = length - 2;
    while (i > 0 && resolved[i] != '/')
        --i;
    if (resolved[i] != '/' || i < hostLength)
        return false;
    resolved[i + 1] = '\0';
    return true;
}

// Where a relative link that climbed above the server's root leads: its
// first segment that does not begin with '.' is taken as a host name, as in
// a link this code rewrote (../../host/x.gif), and the link gets the verdict
// the absolute link to that address gets, so that a stored, rewritten page
// is followed as its original was. A link of '.' segments only leads to the
// server's root page.
static int ResolveAboveRoot(char *resolved, const char *hostPart, const char *link)
{
    const char *p = link;
    while (*p == '.') {
        const char *slash = strchr(p, '/');
        p = slash != NULL ? slash + 1 : p + strlen(p);
    }
    resolved[0] = '\0';
    if (*p == '\0') {
        AppendText(resolved, LINK_BUFFER_SIZE, hostPart);
        AppendText(resolved, LINK_BUFFER_SIZE, "/");
        return VERDICT_SAME_SERVER;
    }
    // The address keeps the scheme of the page it was written in.
    MakeAddressForm(resolved, LINK_BUFFER_SIZE, p, IsSecureAddress(hostPart));
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    if (SplitAddress(resolved, host, path, file) != 1)
        return VERDICT_SAME_SERVER;
    bool mayRewrite;
    return ScopeVerdict(host, path, file, hostPart, false, &mayRewrite);
}

static int HandleRelativeLink(char *resolved, const char *hostPart, const char *pathPart, const char *link,
                              const char *place)
{
    AppendText(resolved, LINK_BUFFER_SIZE, hostPart);
    AppendText(resolved, LINK_BUFFER_SIZE, pathPart);
    size_t hostLength = strlen(hostPart);
    const char *cursor = link;
    while (*cursor != '\0') {
        char segment[TEXT_SIZE];
        if (CopyUntil(segment, cursor, "/#?") == 1)
            break;
        if (strcmp(segment, "..") == 0) {
            if (!CutLastFolder(resolved, hostLength))
                return ResolveAboveRoot(resolved, hostPart, link);
        } else if (strcmp(segment, ".") != 0) {
            char name[TEXT_SIZE];
            int stop = CopyUntil(name, cursor, "/");
            AppendText(resolved, LINK_BUFFER_SIZE, name);
            if (stop != 0)
                break;
            AppendText(resolved, LINK_BUFFER_SIZE, "/");
        }
        const char *slash = strchr(cursor, '/');
        if (slash == NULL)
            break;
        cursor = slash + 1;
    }
    RewriteRelativeLink(resolved, hostPart, link, place);
    return VERDICT_SAME_SERVER;
}

int HandleLink(char *resolved, const char *hostPart, const char *pathPart, const char *linkText,
               const char *place)
{
    memset(resolved, 0, LINK_BUFFER_SIZE);
    if (IsAbsoluteLink(linkText))
        return HandleAbsoluteLink(resolved, hostPart, pathPart, linkText, place);
    return HandleRelativeLink(resolved, hostPart, pathPart, linkText, place);
}
