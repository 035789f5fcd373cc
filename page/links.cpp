// page/links.cpp — link handling: scheme, resolved address, kind and rewrite of a link.
// The address is resolved as a browser resolves it and given its kind by the crawl's
// rules; the rewrite is the local relative path of what the crawl fetches, the address
// on the server of what it does not.
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

// True when the link names a page: a folder, a page extension, or any link
// of a page that did not come as "text/html". What a page needs to be shown
// is a page only by its name.
static bool IsPageLike(const char *filePart, bool needed)
{
    const char *type = g_scanSettings.contentType != NULL ? g_scanSettings.contentType : "";
    return filePart[0] == '\0' || HasPageExtension(filePart) || (!needed && !IsHtmlContentType(type));
}

// ---- Where the stored page stands ----

// The place of the stored page below the save folder's root: its folder
// ('/' between folders, ending with '/') and how many folders that is.
struct PagePlace {
    char host[TEXT_SIZE], path[TEXT_SIZE]; // the address parts it was worked out for
    int nameEncoding;
    char folder[TEXT_SIZE];
    int depth;
};

// The stored page's host and path part: those of the address it is stored
// at, which after a redirect are not the ones its links resolve against.
static void StoredParts(const char *hostPart, const char *pathPart, const char **host, const char **path)
{
    *host = g_scanSettings.storedHostPart != NULL ? g_scanSettings.storedHostPart : hostPart;
    *path = g_scanSettings.storedPathPart != NULL ? g_scanSettings.storedPathPart : pathPart;
}

// The place of the page, worked out once for each page (every link of a
// page asks for it).
static const PagePlace *PlaceOfPage(const char *hostPart, const char *pathPart)
{
    static PagePlace place;
    const char *host, *path;
    StoredParts(hostPart, pathPart, &host, &path);
    int nameEncoding = g_scanSettings.addressEncoding;
    if (strcmp(place.host, host) == 0 && strcmp(place.path, path) == 0 && place.host[0] != '\0' &&
        place.nameEncoding == nameEncoding)
        return &place;
    CopyText(place.host, sizeof place.host, host);
    CopyText(place.path, sizeof place.path, path);
    place.nameEncoding = nameEncoding;
    place.depth = -1;
    place.folder[0] = '\0';
    char below[TEXT_SIZE];
    if (MapBelowRoot(below, host, path, "", nameEncoding) != 1)
        return &place;
    place.depth = 0;
    size_t end = 0;
    for (const char *p = below; *p != '\0'; p = NextChar(p))
        if (*p == '\\') {
            ++place.depth;
            end = (size_t)(p - below) + 1;
        }
    memcpy(place.folder, below, end);
    place.folder[end] = '\0';
    for (char *p = place.folder; *p != '\0'; p = NextChar(p))
        if (*p == '\\')
            *p = '/';
    return &place;
}

// ---- Resolving ----

// The address of an absolute link into resolved: without scheme for http
// and ftp, with the https marker for https. A protocol-relative link
// ("//host/x") names another server on the page's own scheme.
static void AbsoluteAddress(char *resolved, const char *hostPart, const char *link)
{
    if (link[0] == '/' && link[1] == '/') {
        MakeAddressForm(resolved, LINK_BUFFER_SIZE, link + 2, IsSecureAddress(hostPart));
    } else if (link[0] == '/') {
        if (!AppendText(resolved, LINK_BUFFER_SIZE, hostPart) || !AppendText(resolved, LINK_BUFFER_SIZE, link))
            resolved[0] = '\0';
    } else {
        const char *colon = strchr(link, ':');
        if (strnlen(colon, 3) == 3)
            MakeAddressForm(resolved, LINK_BUFFER_SIZE, colon + 3, StartsWithNoCase(link, "https:"));
    }
    NormalizeAddressPath(resolved);
}

// True when the folder name is one this program writes as the first folder
// below the save folder's root: a host (with a '.', as names and addresses
// of servers have, or a '-' port) or the archives folder.
static bool LooksLikeRootFolder(const char *name)
{
    return strchr(name, '.') != NULL || strchr(name, '-') != NULL || CompareNoCase(name, "archives") == 0;
}

// True when the folder name is the page's own server's folder, as this
// program names it now ("host-8080") or named it before ("host:8080").
static bool IsOwnHostFolder(const char *name, const char *hostPart)
{
    char below[TEXT_SIZE], folder[TEXT_SIZE];
    if (CompareNoCase(name, HostWithoutScheme(hostPart)) == 0)
        return true;
    if (MapBelowRoot(below, hostPart, "/", "") != 1)
        return false;
    CopyUntil(folder, below, "\\");
    return CompareNoCase(name, folder) == 0;
}

// A link that climbs exactly to the save folder's root and names a folder
// there is one this program wrote into a stored page. Read back, it leads
// to the page's own server only when it names that server's folder; any
// other (another server, an FTP server, the archives folder) is not
// followed: its scheme and port cannot be known, and the crawl never asks
// a server for what no page of it named. 1 resolved, 0 not followed, -1
// not such a link.
static int ResolveWrittenLink(char *resolved, const char *hostPart, const char *link, int depth)
{
    const char *p = link;
    for (int i = 0; i < depth; ++i, p += 3)
        if (strncmp(p, "../", 3) != 0)
            return -1;
    char name[TEXT_SIZE];
    if (CopyUntil(name, p, "/") != 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return -1;
    if (!IsOwnHostFolder(name, hostPart))
        return LooksLikeRootFolder(name) ? 0 : -1;
    if (!AppendText(resolved, LINK_BUFFER_SIZE, hostPart) || !AppendText(resolved, LINK_BUFFER_SIZE, p + strlen(name)))
        return 0;
    NormalizeAddressPath(resolved);
    return 1;
}

// The address of a relative link, as a browser resolves it against the
// page's address: appended to its folder, "." and ".." segments removed,
// never above the server's root. False when the link is not followed.
static bool RelativeAddress(char *resolved, const char *hostPart, const char *pathPart, const char *link)
{
    int written = ResolveWrittenLink(resolved, hostPart, link, PlaceOfPage(hostPart, pathPart)->depth);
    if (written >= 0)
        return written == 1;
    if (!AppendText(resolved, LINK_BUFFER_SIZE, hostPart) || !AppendText(resolved, LINK_BUFFER_SIZE, pathPart) ||
        !AppendText(resolved, LINK_BUFFER_SIZE, link))
        return false;
    NormalizeAddressPath(resolved);
    return true;
}

// "%XX" for the byte into piece (4 bytes).
static void PercentEscape(char *piece, unsigned char byte)
{
    static const char digits[] = "0123456789ABCDEF";
    piece[0] = '%';
    piece[1] = digits[byte >> 4];
    piece[2] = digits[byte & 15];
    piece[3] = '\0';
}

// Writes a host part beyond ASCII (a Japanese domain name, in the page's
// encoding) in its ASCII form, "xn--" labels, in place (LINK_BUFFER_SIZE
// bytes). An address whose host cannot be written so is emptied.
static void AsciiHostPart(char *address)
{
    const char *host = HostWithoutScheme(address);
    size_t end = (size_t)(host - address) + strcspn(host, "/");
    bool beyondAscii = false;
    for (size_t i = 0; i < end; ++i)
        beyondAscii = beyondAscii || (unsigned char)address[i] >= 0x80;
    if (!beyondAscii)
        return;
    // Static, as the page scan's other link buffers: one page is scanned at a
    // time, and a fetch worker's stack stays small.
    static char whole[LINK_BUFFER_SIZE];
    char hostPart[TEXT_SIZE], ascii[TEXT_SIZE];
    if (!CopyTextRange(hostPart, sizeof hostPart, address, address + end) ||
        !HostToAscii(ascii, sizeof ascii, hostPart, PageNameEncoding()) ||
        !FormatText(whole, sizeof whole, "%s%s", ascii, address + end)) {
        address[0] = '\0';
        return;
    }
    CopyText(address, LINK_BUFFER_SIZE, whole);
}

// True when the bytes at p are a double-byte character of a Shift_JIS page,
// whose second byte may be '\\' or a letter and belongs to it all the same.
static bool IsShiftJisPair(const char *p)
{
    unsigned char lead = (unsigned char)p[0], trail = (unsigned char)p[1];
    bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    return PageNameEncoding() == NAME_SHIFT_JIS && isLead && trail >= 0x40 && trail <= 0xFC && trail != 0x7F;
}

// Writes every space and every byte beyond ASCII of the address's path as
// its escape, in place (LINK_BUFFER_SIZE bytes), both bytes of a Shift_JIS
// character: inside the crawl a path holds the bytes it is sent as, in
// ASCII, as a browser sends them. An address that would not fit is emptied.
static void EscapeAddressBytes(char *address)
{
    static char escaped[LINK_BUFFER_SIZE]; // static: see AsciiHostPart
    size_t used = 0;
    const char *path = address + strcspn(HostWithoutScheme(address), "/") + (HostWithoutScheme(address) - address);
    for (const char *p = address; *p != '\0'; ++p) {
        if (used + 7 > sizeof escaped) {
            address[0] = '\0';
            return;
        }
        unsigned char byte = (unsigned char)*p;
        bool pair = p >= path && IsShiftJisPair(p);
        if (byte == ' ' || (byte >= 0x80 && p >= path)) {
            PercentEscape(escaped + used, byte);
            used += 3;
        } else {
            escaped[used++] = *p;
        }
        if (pair) {
            PercentEscape(escaped + used, (unsigned char)*++p);
            used += 3;
        }
    }
    escaped[used] = '\0';
    memcpy(address, escaped, used + 1);
}

// ---- The crawl's rules ----

// The verdict on an address of a link in a page of hostPart: the same
// server, another server or outside the start path, or FTP.
static int ScopeVerdict(const char *host, const char *path, const char *file, const char *hostPart, bool ftp,
                        bool needed)
{
    bool otherServer = !SameHostPart(host, hostPart);
    if (!ftp && IsPageLike(file, needed)) {
        const char *startPath = g_scanSettings.startPath != NULL ? g_scanSettings.startPath : "";
        if (otherServer || !StartsWithNoCase(path, startPath))
            return VERDICT_OUTSIDE;
    }
    if (ftp)
        return VERDICT_FTP;
    return otherServer ? VERDICT_OUTSIDE : VERDICT_SAME_SERVER;
}

// The link's kind: the tag's, unless the verdict and the settings say
// another server's data, FTP, or nothing. What a page needs to be shown is
// fetched from another server whatever the setting says: most sites load
// their style sheets, scripts and fonts from one.
static int KindOfVerdict(int verdict, int kind, bool needed)
{
    if (verdict == VERDICT_OUTSIDE)
        return g_scanSettings.outServer == 1 || needed ? LINK_OUTSIDE_DATA : LINK_NOT_FOLLOWED;
    if (verdict == VERDICT_FTP)
        return g_scanSettings.useFtp != 0 ? LINK_FTP : LINK_NOT_FOLLOWED;
    return kind;
}

// Where the crawl's rules store the address when they fetch it: its place
// below the save folder's root into below (TEXT_SIZE bytes). False when they
// do not fetch it: not followed, too deep, outside the start path, ignored,
// or too long. This is the admission test but for the visited list: the
// rules decide, not whether the file then arrives.
static bool FetchedPlace(const char *resolved, int kind, char *below)
{
    int depth = LinkDepth(kind, g_scanSettings.pageDepth, g_scanSettings.depthLimit);
    char address[TEXT_SIZE + 1], host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    char user[TEXT_SIZE], password[TEXT_SIZE];
    if (depth < 0 || !CopyText(address, TEXT_SIZE, resolved))
        return false;
    if (SplitAddress(address, host, path, file) != 1)
        return false;
    TakeUserFromHost(host, user, password);
    int named = ClassifyAddress(address, depth, host, path, file);
    if (named == ADDRESS_TOO_LONG || (file[0] != '\0' && !PassesIgnorePatterns(file)))
        return false;
    const char *startPath = g_scanSettings.startPath != NULL ? g_scanSettings.startPath : "";
    bool inScope = named == ADDRESS_FILE || depth == DEPTH_FTP ||
                   (depth <= g_scanSettings.depthLimit && StartsWithNoCase(path, startPath));
    return inScope && MapBelowRoot(below, host, path, file, PageNameEncoding()) == 1;
}

// ---- Rewriting ----

static char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }


// Appends the local name to out (size bytes) as a link's text: '/' between
// folders, and the characters a link or an attribute would read otherwise
// escaped.
static bool AppendLocalName(char *out, size_t size, const char *below)
{
    for (const char *p = below; *p != '\0';) {
        const char *next = NextChar(p);
        char piece[4] = {0, 0, 0, 0};
        const char *escape = next - p == 1 ? strchr("%#? '\"&<>", *p) : NULL;
        bool beyondAscii = next - p > 1 || (unsigned char)*p >= 0x80;
        if (beyondAscii) { // as the escapes of its UTF-8 bytes: a browser reads a file name so
            p = AppendCharacterEscapes(out, size, p);
            if (p == NULL)
                return false;
            continue;
        }
        if (*p == '\\')
            piece[0] = '/';
        else if (escape != NULL)
            PercentEscape(piece, (unsigned char)*p);
        else
            piece[0] = *p;
        if (!AppendText(out, size, piece))
            return false;
        p = next;
    }
    return true;
}

// The link from the stored page to the place below the root: "../" for
// every folder of the page's place, then the place.
static bool BuildLocalLink(char *out, int pageDepth, const char *below)
{
    out[0] = '\0';
    for (int i = 0; i < pageDepth; ++i)
        if (!AppendText(out, TEXT_SIZE, "../"))
            return false;
    return AppendLocalName(out, TEXT_SIZE, below);
}

// True when the link text, followed from the stored page's folder as a
// browser follows it on disk, opens the place below the root: the bytes it
// decodes to are the UTF-8 of the place's name (as a browser reads a file
// name whatever the page's encoding).
static bool LeadsThere(const char *link, const PagePlace *page, const char *below)
{
    char folder[TEXT_SIZE] = "", joined[2 * TEXT_SIZE], decoded[TEXT_SIZE], target[3 * TEXT_SIZE];
    if (!AppendLocalName(folder, sizeof folder, page->folder) ||
        !FormatText(joined, sizeof joined, "/%s%s", folder, link) || !RemoveDotSegments(joined) ||
        !DecodeEscapeBytes(decoded, joined + 1) || Utf8OfShiftJis(target, sizeof target, below) < 0)
        return false;
    const char *a = decoded, *b = target;
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        bool separators = (*a == '/' || *a == '\\') && (*b == '/' || *b == '\\');
        if (!separators && UpperAscii(*a) != UpperAscii(*b))
            return false;
    }
    return *a == '\0' && *b == '\0';
}

// The rewrite of a link to a place the crawl fetches: a relative link that
// opens it on disk stays as written; one to a folder gets the folder's
// "index.html"; anything else becomes the local link that climbs to the
// root (absolute links always do). Empty when the link stays.
static bool LocalRewrite(char *out, const char *link, bool relative, const PagePlace *page, const char *below)
{
    out[0] = '\0';
    if (relative && LeadsThere(link, page, below))
        return true;
    if (relative && link[0] != '\0') {
        char withIndex[TEXT_SIZE];
        const char *name = link[strlen(link) - 1] == '/' ? "index.html" : "/index.html";
        if (FormatText(withIndex, sizeof withIndex, "%s%s", link, name) && LeadsThere(withIndex, page, below))
            return CopyText(out, TEXT_SIZE, withIndex);
    }
    return BuildLocalLink(out, page->depth, below);
}

// The address on the server of an address of the crawl: "http://" in front
// of an http one; an https one carries its scheme already.
static void ServerAddress(char *out, const char *resolved)
{
    out[0] = '\0';
    if (!IsSecureAddress(resolved))
        AppendText(out, LINK_BUFFER_SIZE, "http://");
    AppendText(out, LINK_BUFFER_SIZE, resolved);
}

// Notes the rewrite of the link at place: the local place of what the crawl
// fetches; the address on the server of what it does not, when the link
// names it without a scheme (a relative or rooted link would lead nowhere
// in the stored copy). An absolute link to what is not fetched stays.
static void RewriteLink(const char *resolved, int kind, const char *link, const char *place,
                        const char *hostPart, const char *pathPart)
{
    static char text[LINK_BUFFER_SIZE];
    char below[TEXT_SIZE];
    bool relative = !IsAbsoluteLink(link);
    if (kind != LINK_NOT_FOLLOWED && FetchedPlace(resolved, kind, below)) {
        const PagePlace *page = PlaceOfPage(hostPart, pathPart);
        if (page->depth >= 0 && LocalRewrite(text, link, relative, page, below) && text[0] != '\0')
            RecordRewrite(place, strlen(link), text);
        return;
    }
    if (SchemeLength(link) == 0) {
        ServerAddress(text, resolved);
        RecordRewrite(place, strlen(link), text);
    }
}

int HandleLink(char *resolved, const char *hostPart, const char *pathPart, const char *linkText,
               const char *place, int tagKind)
{
    memset(resolved, 0, LINK_BUFFER_SIZE);
    bool needed = tagKind == TAG_NEEDED;
    int kind = CheckLinkScheme(linkText, needed ? LINK_NEXT_LEVEL : tagKind);
    if (kind == LINK_NOT_FOLLOWED)
        return kind;
    if (IsAbsoluteLink(linkText))
        AbsoluteAddress(resolved, hostPart, linkText);
    else if (!RelativeAddress(resolved, hostPart, pathPart, linkText))
        resolved[0] = '\0';
    AsciiHostPart(resolved);
    EscapeAddressBytes(resolved);
    if (resolved[0] == '\0')
        return LINK_NOT_FOLLOWED; // a scheme with nothing behind it, or a link not followed
    bool ftp = StartsWithNoCase(linkText, "ftp:");
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], user[TEXT_SIZE], password[TEXT_SIZE];
    if (strlen(resolved) >= TEXT_SIZE || SplitAddress(resolved, host, path, file) != 1)
        return ftp ? KindOfVerdict(VERDICT_FTP, kind, needed) : kind; // too long: the driver tells the user
    TakeUserFromHost(host, user, password);
    kind = KindOfVerdict(ScopeVerdict(host, path, file, hostPart, ftp, needed), kind, needed);
    if (place != NULL)
        RewriteLink(resolved, kind, linkText, place, hostPart, pathPart);
    return kind;
}
