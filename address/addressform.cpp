// address/addressform.cpp — the address form: host, path and file part of an address.
// Also takes user, password and port out of the host part.
#include "address/address.h"

#include <string.h>

// The last '/' of the path: the scan moves from '/' to '/' until it stops
// at a '#', a '?' or the end, then goes back by bytes to the nearest '/'.
// A '/' inside the query or fragment therefore does not count.
static const char *LastPathSlash(const char *firstSlash)
{
    const char *p = firstSlash;
    do
        p = ScanFor(NextChar(p), "", "#?/", 1);
    while (*p == '/');
    const char *from = *p == '\0' ? p - 1 : p;
    return ScanFor(from, "", "/", -1);
}

static bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

static bool IsSchemeChar(char c)
{
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

size_t SchemeLength(const char *text)
{
    if (!IsAsciiLetter(text[0]))
        return 0;
    size_t length = 1;
    while (IsSchemeChar(text[length]))
        ++length;
    return text[length] == ':' ? length + 1 : 0;
}

bool IsSecureAddress(const char *address)
{
    return strncmp(address, SECURE_MARKER, SECURE_MARKER_LENGTH) == 0;
}

const char *HostWithoutScheme(const char *hostPart)
{
    return IsSecureAddress(hostPart) ? hostPart + SECURE_MARKER_LENGTH : hostPart;
}

// Length of the host and port at the front of rest: up to the first '/',
// '?' or '#' (a character walk, so a trail byte is never taken for one).
static size_t HostLength(const char *rest)
{
    return (size_t)(ScanFor(rest, "", "/?#", 1) - rest);
}

bool MakeAddressForm(char *output, size_t size, const char *rest, bool secure)
{
    const char *marker = secure ? SECURE_MARKER : "";
    size_t host = HostLength(rest), skipped = 0;
    // ":443" of an https host is its default port: dropped (not after a user's "pw:443@").
    if (secure && host >= 4 && memcmp(rest + host - 4, ":443", 4) == 0 && memchr(rest, '@', host) == NULL)
        skipped = 4;
    if (!FormatText(output, size, "%s%.*s%s", marker, (int)(host - skipped), rest, rest + host)) {
        output[0] = '\0';
        return false;
    }
    return true;
}

bool SameHostPart(const char *hostPart, const char *otherHostPart)
{
    return CompareNoCase(HostWithoutScheme(hostPart), HostWithoutScheme(otherHostPart)) == 0;
}

// True when the content type's media type is the given one (see
// IsHtmlContentType).
static bool HasMediaType(const char *contentType, const char *mediaType)
{
    while (*contentType == ' ' || *contentType == '\t')
        ++contentType;
    if (!StartsWithNoCase(contentType, mediaType))
        return false;
    const char *rest = contentType + strlen(mediaType);
    while (*rest == ' ' || *rest == '\t')
        ++rest;
    return *rest == '\0' || *rest == ';';
}

bool IsHtmlContentType(const char *contentType) { return HasMediaType(contentType, "text/html"); }

bool IsStyleSheet(const char *fileName, const char *contentType)
{
    static const char *const styleExtensions[] = {".css"};
    if (IsHtmlContentType(contentType))
        return false;
    return ExtensionIsOneOf(fileName, styleExtensions, 1) || HasMediaType(contentType, "text/css");
}

bool RemoveDotSegments(char *path)
{
    char *end = path + strcspn(path, "?#");
    size_t used = 0;
    bool within = true;
    for (const char *p = path; p < end;) {
        const char *segment = p + 1, *next = segment;
        while (next < end && *next != '/')
            ++next;
        size_t length = (size_t)(next - segment);
        bool dot = length == 1 && segment[0] == '.';
        bool dotDot = length == 2 && segment[0] == '.' && segment[1] == '.';
        if (dotDot && used == 0)
            within = false;
        if (dotDot)
            while (used > 0 && path[--used] != '/')
                ;
        if (!dot && !dotDot) {
            path[used++] = '/';
            memmove(path + used, segment, length);
            used += length;
        } else if (next == end) {
            path[used++] = '/';
        }
        p = next;
    }
    if (used == 0)
        path[used++] = '/';
    memmove(path + used, end, strlen(end) + 1);
    return within;
}

void NormalizeAddressPath(char *address)
{
    const char *host = HostWithoutScheme(address);
    char *path = (char *)host + strcspn(host, "/");
    if (*path == '/')
        RemoveDotSegments(path);
}

// The path that a location without scheme or server names, from the folder
// and file part of the address asked for, into work (2 * TEXT_SIZE bytes).
static bool LocationPath(char *work, const char *path, const char *file, const char *location)
{
    const char *folder = location[0] == '/' ? "" : path;
    size_t kept = location[0] == '?' || location[0] == '#' ? strcspn(file, location[0] == '#' ? "#" : "?#") : 0;
    if (!FormatText(work, 2 * TEXT_SIZE, "%s%.*s%s", folder, (int)kept, file, location))
        return false;
    RemoveDotSegments(work);
    return true;
}

bool ResolveLocation(char *output, size_t size, const char *asked, const char *location)
{
    output[0] = '\0';
    size_t scheme = SchemeLength(location);
    if (scheme != 0) {
        bool secure = StartsWithNoCase(location, "https://");
        if (!secure && !StartsWithNoCase(location, "http://"))
            return false;
        return MakeAddressForm(output, size, location + scheme + 2, secure);
    }
    if (location[0] == '/' && location[1] == '/')
        return MakeAddressForm(output, size, location + 2, IsSecureAddress(asked));
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], work[2 * TEXT_SIZE];
    if (SplitAddress(asked, host, path, file) != 1 || !LocationPath(work, path, file, location))
        return false;
    if (!FormatText(output, size, "%s%s", host, work)) {
        output[0] = '\0';
        return false;
    }
    return true;
}

int SplitAddress(const char *address, char *hostPart, char *pathPart, char *filePart)
{
    memset(hostPart, 0, TEXT_SIZE);
    memset(pathPart, 0, TEXT_SIZE);
    memset(filePart, 0, TEXT_SIZE);
    const char *host = address + (IsSecureAddress(address) ? SECURE_MARKER_LENGTH : 0);
    const char *firstSlash = ScanFor(host, "", "/", 1);
    if (*firstSlash != '/') {
        if (!CopyTextRange(hostPart, TEXT_SIZE, address, firstSlash)) {
            hostPart[0] = '\0';
            return TEXT_TOO_LONG;
        }
        CopyText(pathPart, TEXT_SIZE, "/");
        return 1;
    }
    const char *lastSlash = LastPathSlash(firstSlash);
    const char *end = lastSlash + 1 + strlen(lastSlash + 1);
    if (!CopyTextRange(hostPart, TEXT_SIZE, address, firstSlash) ||
        !CopyTextRange(pathPart, TEXT_SIZE, firstSlash, lastSlash + 1) ||
        !CopyTextRange(filePart, TEXT_SIZE, lastSlash + 1, end)) {
        hostPart[0] = pathPart[0] = filePart[0] = '\0';
        return TEXT_TOO_LONG;
    }
    return 1;
}

void TakeUserFromHost(char *hostPart, char *userName, char *password)
{
    userName[0] = '\0';
    password[0] = '\0';
    hostPart += IsSecureAddress(hostPart) ? SECURE_MARKER_LENGTH : 0;
    char *at = ScanFor(hostPart, "@", "@", 1);
    if (*at != '@')
        return;
    // The stop set ":@": a ':' before the first '@' opens the password.
    if (CopyUntil(userName, hostPart, ":@") == 0)
        CopyUntil(password, hostPart + strlen(userName) + 1, "@");
    memmove(hostPart, at + 1, strlen(at + 1) + 1);
}

unsigned short HostNameAndPort(const char *hostPart, char *hostName)
{
    hostPart = HostWithoutScheme(hostPart);
    const char *colon = ScanFor(hostPart, "", ":", 1);
    if (!CopyTextRange(hostName, TEXT_SIZE, hostPart, colon))
        hostName[0] = '\0';
    if (*colon != ':')
        return 0;
    unsigned port = 0;
    for (const char *p = colon + 1; *p >= '0' && *p <= '9'; ++p)
        port = (port * 10 + (unsigned)(*p - '0')) & 0xFFFFu;
    return (unsigned short)port;
}

bool ExtensionIsOneOf(const char *name, const char *const *extensions, size_t count)
{
    char extension[TEXT_SIZE] = "";
    FindExtension(extension, name);
    for (size_t i = 0; i < count; ++i)
        if (CompareNoCase(extension, extensions[i]) == 0)
            return true;
    return false;
}

bool HasPageExtension(const char *name)
{
    static const char *const pageExtensions[] = {".htm", ".html", ".shtml", ".asp"};
    return ExtensionIsOneOf(name, pageExtensions, sizeof pageExtensions / sizeof pageExtensions[0]);
}

int ClassifyAddress(char *address, int depth, char *host, char *path, char *file)
{
    if (file[0] == '\0')
        return ADDRESS_PAGE;
    char extension[TEXT_SIZE] = "";
    FindExtension(extension, file);
    if (extension[0] != '\0')
        return HasPageExtension(file) ? ADDRESS_PAGE : ADDRESS_FILE;
    if (depth == DEPTH_FTP)
        return ADDRESS_FILE;
    // A name without extension names a folder: its address gets the closing
    // '/' and is split again. Callers' buffers hold at least TEXT_SIZE + 1
    // bytes, so an address of up to 259 characters has room for it.
    size_t length = strlen(address);
    if (length >= TEXT_SIZE)
        return ADDRESS_TOO_LONG;
    address[length] = '/';
    address[length + 1] = '\0';
    if (SplitAddress(address, host, path, file) != 1)
        return ADDRESS_TOO_LONG;
    return ADDRESS_PAGE;
}

const char *AppendCharacterEscapes(char *out, size_t size, const char *p)
{
    static const char digits[] = "0123456789ABCDEF";
    const char *next = NextChar(p);
    char character[3] = {p[0], next - p > 1 ? p[1] : '\0', '\0'}, utf8[8];
    int count = Utf8OfShiftJis(utf8, sizeof utf8, character);
    if (count <= 0) {
        utf8[0] = p[0];
        count = 1;
        next = p + 1;
    }
    for (int i = 0; i < count; ++i) {
        unsigned char byte = (unsigned char)utf8[i];
        char piece[4] = {'%', digits[byte >> 4], digits[byte & 15], '\0'};
        if (!AppendText(out, size, piece))
            return NULL;
    }
    return next;
}

bool TypedAddressToAscii(char *out, size_t size, const char *typed)
{
    const char *host = HostWithoutScheme(typed);
    size_t end = (size_t)(host - typed) + strcspn(host, "/");
    char hostPart[TEXT_SIZE];
    out[0] = '\0';
    if (!CopyTextRange(hostPart, sizeof hostPart, typed, typed + end) ||
        !HostToAscii(out, size, hostPart, NAME_SHIFT_JIS))
        return false;
    for (const char *p = typed + end; p != NULL && *p != '\0';) {
        char piece[2] = {*p, '\0'};
        if ((unsigned char)*p >= 0x80)
            p = AppendCharacterEscapes(out, size, p);
        else
            p = AppendText(out, size, piece) ? p + 1 : NULL;
        if (p == NULL) {
            out[0] = '\0';
            return false;
        }
    }
    return true;
}
