// address/addressform.cpp — the address form: splitting an address into host, path and file part, and taking user, password and port out of the host part.
#include "address/address.h"

#include <string.h>

// Copies the bytes from begin up to end into output (TEXT_SIZE bytes);
// false, leaving output as it was, when they do not fit.
static bool CopyRange(char *output, const char *begin, const char *end)
{
    size_t length = (size_t)(end - begin);
    if (length > TEXT_SIZE - 1)
        return false;
    memcpy(output, begin, length);
    output[length] = '\0';
    return true;
}

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

int SplitAddress(const char *address, char *hostPart, char *pathPart, char *filePart)
{
    memset(hostPart, 0, TEXT_SIZE);
    memset(pathPart, 0, TEXT_SIZE);
    memset(filePart, 0, TEXT_SIZE);
    const char *firstSlash = ScanFor(address, "", "/", 1);
    if (*firstSlash != '/') {
        if (!CopyRange(hostPart, address, firstSlash))
            return TEXT_TOO_LONG;
        strcpy(pathPart, "/");
        return 1;
    }
    const char *lastSlash = LastPathSlash(firstSlash);
    const char *end = lastSlash + 1 + strlen(lastSlash + 1);
    if (!CopyRange(hostPart, address, firstSlash) || !CopyRange(pathPart, firstSlash, lastSlash + 1) ||
        !CopyRange(filePart, lastSlash + 1, end)) {
        hostPart[0] = pathPart[0] = filePart[0] = '\0';
        return TEXT_TOO_LONG;
    }
    return 1;
}

void TakeUserFromHost(char *hostPart, char *userName, char *password)
{
    userName[0] = '\0';
    password[0] = '\0';
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
    const char *colon = ScanFor(hostPart, "", ":", 1);
    if (!CopyRange(hostName, hostPart, colon))
        hostName[0] = '\0';
    if (*colon != ':')
        return 0;
    unsigned port = 0;
    for (const char *p = colon + 1; *p >= '0' && *p <= '9'; ++p)
        port = (port * 10 + (unsigned)(*p - '0')) & 0xFFFFu;
    return (unsigned short)port;
}
