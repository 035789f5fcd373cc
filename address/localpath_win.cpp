// address/localpath_win.cpp — the local path mapping's platform pieces on Windows.
// Escape decoding by the Internet client library, folder creation.
#include "address/address.h"

#include <windows.h>
#include <wininet.h>

#include <string.h>

// The library decodes through UTF-16 and back, which changes decoded bytes
// of 0x80 and above (measured: "%83%5C" comes back as "?\", "%FF" as "y")
// and can change raw ones that are no valid Shift_JIS; it cuts the text at
// a decoded NUL, and may treat '?' and '#' as URL syntax.
// Texts with any of these are decoded byte by byte instead, so the mapping
// gives the same bytes whichever decoder ran.
static bool LibraryDecodesFaithfully(const char *text)
{
    for (const char *p = text; *p != '\0'; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c >= 0x80 || c < 0x20 || c == '?' || c == '#')
            return false;
        int value = EscapeValue(p);
        if (value == 0 || value >= 0x80)
            return false;
    }
    return true;
}

// The text behind the drive prefix "C:" and its separator that the library
// gives back behind its file scheme ("file://C:\..."), or null.
static const char *AfterDrivePrefix(const char *decoded)
{
    const char *p = decoded;
    if (_strnicmp(p, "file:", 5) == 0)
        for (p += 5; *p == '/';)
            ++p;
    if ((p[0] != 'C' && p[0] != 'c') || p[1] != ':' || (p[2] != '\\' && p[2] != '/'))
        return NULL;
    return p + 3;
}

bool DecodeEscapes(char *output, const char *text)
{
    if (strlen(text) > TEXT_SIZE - 1 || !LibraryDecodesFaithfully(text))
        return DecodeEscapeBytes(output, text);
    // The library takes a drive path for a local file and decodes it; the
    // drive prefix is taken off again. ICU_NO_META keeps "." and "..": they
    // are resolved by the mapping, within the host's folder.
    char anchored[TEXT_SIZE + 4] = "C:\\";
    AppendText(anchored, sizeof anchored, text);
    char decoded[2 * TEXT_SIZE];
    DWORD size = sizeof decoded;
    const char *rest = NULL;
    if (InternetCanonicalizeUrlA(anchored, decoded, &size, ICU_DECODE | ICU_NO_ENCODE | ICU_NO_META))
        rest = AfterDrivePrefix(decoded);
    if (rest == NULL || !CopyText(output, TEXT_SIZE, rest))
        return DecodeEscapeBytes(output, text);
    return true;
}

void MakeFolder(const char *path) { CreateDirectoryA(path, NULL); }
