// address/strings.cpp — the Shift_JIS-aware string primitives every parser builds on.
#include "address/address.h"

#include <string.h>

char g_ignorePatterns[TEXT_SIZE];

void ToBackslashes(char *path)
{
    for (char *p = path; *p != '\0'; p = NextChar(p))
        if (*p == '/')
            *p = '\\';
}

static bool IsSingleAscii(const char *p, const char *next)
{
    return next - p == 1 && (unsigned char)*p < 0x80;
}

bool StartsWithNoCase(const char *text, const char *prefix)
{
    while (*prefix != '\0') {
        if (*text == '\0')
            return false;
        const char *nextText = NextChar(text);
        const char *nextPrefix = NextChar(prefix);
        if (IsSingleAscii(text, nextText) && IsSingleAscii(prefix, nextPrefix)) {
            if (UpperCaseChar(*text) != UpperCaseChar(*prefix))
                return false;
        } else if (nextText - text != nextPrefix - prefix ||
                   memcmp(text, prefix, (size_t)(nextText - text)) != 0) {
            return false;
        }
        text = nextText;
        prefix = nextPrefix;
    }
    return true;
}

char *FindExtension(char *output, const char *name)
{
    const char *end = name + strlen(name);
    const char *p = end;
    while (p > name) {
        --p;
        if (strchr(":.\\/?", *p) != NULL)
            break;
    }
    if (*p != '.')
        return (char *)end;
    if (output != NULL)
        CopyText(output, TEXT_SIZE, p);
    return (char *)p;
}

static int StopIndex(const char *stops, char c)
{
    if (c == '\0')
        return -1;
    const char *hit = strchr(stops, c);
    return hit != NULL ? (int)(hit - stops) : -1;
}

int CopyUntil(char *output, const char *text, const char *stops)
{
    int copied = 0;
    for (;; ++text) {
        if (*text == '\0') {
            output[copied] = '\0';
            return -1;
        }
        if (copied == TEXT_SIZE - 1) {
            output[copied] = '\0';
            return TEXT_TOO_LONG;
        }
        int index = StopIndex(stops, *text);
        if (index >= 0) {
            output[copied] = '\0';
            return index;
        }
        output[copied++] = *text;
    }
}

// The next character of a forward scan. A lead byte takes the byte after it
// only when that byte can end a double-byte character (0x40 to 0xFC, not
// 0x7F): pages in another encoding (UTF-8, EUC-JP) have lead bytes directly
// before '<', '>', quotes and spaces, and those must still be found.
static const char *NextScanChar(const char *p)
{
    unsigned char after = (unsigned char)p[1];
    if (IsLeadByte((unsigned char)*p) && (after < 0x40 || after == 0x7F || after > 0xFC))
        return p + 1;
    return NextChar(p);
}

char *ScanFor(const char *position, const char *keyword, const char *stops, int direction)
{
    const char *p = position;
    if (*p == '\0')
        return (char *)p;
    for (;;) {
        if (StopIndex(stops, *p) >= 0)
            return (char *)p;
        if (*keyword != '\0' && StartsWithNoCase(p, keyword))
            return (char *)p;
        p = direction == 1 ? NextScanChar(p) : p - 1;
        if (*p == '\0')
            return (char *)p;
    }
}

// The last segment of a path: what follows its last '/' or '\', found by
// characters so that a trail byte equal to '\' is never taken for one.
static const char *LastSegment(const char *path)
{
    const char *segment = path;
    for (const char *p = path; *p != '\0'; p = NextChar(p))
        if (*p == '/' || *p == '\\')
            segment = p + 1;
    return segment;
}

// The place of the next '.' at or after p, or of the terminating NUL.
static const char *NextDot(const char *p)
{
    while (*p != '\0' && *p != '.')
        ++p;
    return p;
}

bool MatchWildcard(const char *name, const char *pattern)
{
    if (strcmp(pattern, "*.*") == 0)
        return true;
    char nameCopy[TEXT_SIZE], patternCopy[TEXT_SIZE];
    CopyText(nameCopy, sizeof nameCopy, name);
    CopyText(patternCopy, sizeof patternCopy, pattern);
    UpperCaseText(nameCopy);
    UpperCaseText(patternCopy);
    const char *s = LastSegment(nameCopy);
    const char *p = patternCopy;
    for (;;) {
        if (*p == '\0' && *s == '\0')
            return true;
        if (*s == '\0' && *p != '*')
            return false;
        if (*p == '\0')
            return false;
        if (*p == '*') {
            p = NextDot(p + 1);
            s = NextDot(s);
        } else if (*p == '?' || *p == *s) {
            ++p;
            ++s;
        } else {
            return false;
        }
    }
}

bool PassesIgnorePatterns(const char *filePart)
{
    bool passes = true;
    const char *p = g_ignorePatterns;
    while (*p != '\0') {
        char pattern[TEXT_SIZE];
        CopyUntil(pattern, p, " ");
        size_t length = strlen(pattern);
        if (length > 0 && MatchWildcard(filePart, pattern))
            passes = false;
        p += length;
        if (*p == ' ')
            ++p;
    }
    return passes;
}
