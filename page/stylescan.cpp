// page/stylescan.cpp — the addresses in style text, srcset values and refresh contents.
// Only where each address stands is found here; the driver and the tag scanner take and
// resolve the link texts.
#include "page/page.h"

#include <string.h>

static bool IsStyleBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

static const char *SkipStyleBlanks(const char *p, const char *end)
{
    while (p < end && IsStyleBlank(*p))
        ++p;
    return p;
}

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// True when the text at p (before end) begins with the word, without case.
static bool BeginsWithWord(const char *p, const char *end, const char *word)
{
    size_t length = strlen(word);
    if ((size_t)(end - p) < length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (LowerAscii(p[i]) != word[i])
            return false;
    return true;
}

static bool IsNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The end of the string whose quote is at p: its closing quote, its line's
// end (a string cannot span lines), or end. Backslashes are not read as
// escapes: in a Shift_JIS text a character's second byte can be one.
static const char *StringEnd(const char *p, const char *end)
{
    char quote = *p++;
    while (p < end && *p != quote && *p != '\n')
        ++p;
    return p;
}

// Where the text goes on after the byte at p: one past it, or end.
static const char *PastByte(const char *p, const char *end) { return p < end ? p + 1 : end; }

// The character reference of a quote at p ("&quot;" or "&#39;", as a style
// attribute writes them); null when there is none.
static const char *QuoteReference(const char *p, const char *end)
{
    static const char *const references[] = {"&quot;", "&#39;", "&#34;", "&apos;"};
    for (const char *reference : references)
        if (BeginsWithWord(p, end, reference))
            return reference;
    return NULL;
}

// After "url(" at p: the address into found; returns what follows the ')'.
static const char *ReadUrl(const char *p, const char *end, TextRange *found)
{
    p = SkipStyleBlanks(p, end);
    const char *reference = QuoteReference(p, end);
    if (reference != NULL) { // url(&quot;a.png&quot;): the address stands between the references
        found->begin = p + strlen(reference);
        const char *close = strstr(found->begin, reference);
        found->end = close != NULL && close < end ? close : end;
        p = found->end;
    } else if (p < end && (*p == '"' || *p == '\'')) {
        const char *close = StringEnd(p, end);
        found->begin = p + 1;
        found->end = close;
        p = PastByte(close, end);
    } else {
        found->begin = p;
        while (p < end && *p != ')' && !IsStyleBlank(*p))
            ++p;
        found->end = p;
    }
    while (p < end && *p != ')' && *p != ';' && *p != '}')
        ++p;
    return p < end && *p == ')' ? p + 1 : p;
}

// After "@import" at p: a string or url(...) names the style sheet. False
// when neither follows; *next is then just after the word.
static bool ReadImport(const char *p, const char *end, TextRange *found, const char **next)
{
    p = SkipStyleBlanks(p, end);
    if (p < end && (*p == '"' || *p == '\'')) {
        const char *close = StringEnd(p, end);
        found->begin = p + 1;
        found->end = close;
        *next = PastByte(close, end);
        return true;
    }
    if (BeginsWithWord(p, end, "url(")) {
        *next = ReadUrl(p + 4, end, found);
        return true;
    }
    return false;
}

bool NextStyleAddress(const char **position, const char *end, TextRange *found)
{
    const char *start = *position, *p = start;
    while (p < end) {
        if (p[0] == '/' && p + 1 < end && p[1] == '*') {
            const char *close = strstr(p + 2, "*/");
            p = close != NULL && close + 2 <= end ? close + 2 : end;
        } else if (*p == '"' || *p == '\'') {
            p = PastByte(StringEnd(p, end), end);
        } else if (BeginsWithWord(p, end, "url(") && (p == start || !IsNameByte(p[-1]))) {
            *position = ReadUrl(p + 4, end, found);
            return true;
        } else if (BeginsWithWord(p, end, "@import")) {
            const char *next = p + 7;
            bool named = ReadImport(next, end, found, &next);
            p = next;
            if (named) {
                *position = p;
                return true;
            }
        } else {
            ++p;
        }
    }
    *position = end;
    return false;
}

bool NextSrcsetAddress(const char **position, const char *end, TextRange *found)
{
    const char *p = *position;
    while (p < end && (IsStyleBlank(*p) || *p == ','))
        ++p;
    if (p >= end) {
        *position = end;
        return false;
    }
    found->begin = p;
    while (p < end && !IsStyleBlank(*p))
        ++p;
    found->end = p;
    if (found->end[-1] == ',') { // an address that ends in commas has no descriptors
        while (found->end > found->begin && found->end[-1] == ',')
            --found->end;
        *position = p;
        return true;
    }
    int depth = 0; // a descriptor may hold commas inside parentheses
    for (; p < end && (*p != ',' || depth > 0); ++p)
        depth += *p == '(' ? 1 : *p == ')' && depth > 0 ? -1 : 0;
    *position = PastByte(p, end);
    return true;
}

bool RefreshAddress(const char *begin, const char *end, TextRange *found)
{
    const char *p = begin;
    while (p < end && ((*p >= '0' && *p <= '9') || *p == '.' || IsStyleBlank(*p)))
        ++p;
    if (p >= end || (*p != ';' && *p != ','))
        return false;
    p = SkipStyleBlanks(p + 1, end);
    if (BeginsWithWord(p, end, "url")) {
        const char *equals = SkipStyleBlanks(p + 3, end);
        if (equals < end && *equals == '=')
            p = SkipStyleBlanks(equals + 1, end);
    }
    found->begin = p;
    found->end = end;
    if (p < end && (*p == '"' || *p == '\'')) {
        found->begin = p + 1;
        const char *close = (const char *)memchr(p + 1, *p, (size_t)(end - p - 1));
        found->end = close != NULL ? close : end;
    }
    return found->begin < found->end;
}
