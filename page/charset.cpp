// page/charset.cpp — the encoding a page is written in, as a browser settles it.
// Byte-order mark, the response's charset, the page's own declaration, else detection.
#include "page/page.h"

#include <string.h>

// Bytes of the page read for a META declaration: browsers look only at the
// beginning of a page for it.
#define DECLARATION_SCAN 8192

// The charset names of each encoding this program reads, without case.
struct CharsetName {
    const char *name;
    int encoding;
};
static const CharsetName CHARSET_NAMES[] = {
    {"utf-8", ENCODING_UTF8},        {"utf8", ENCODING_UTF8},           {"shift_jis", ENCODING_SHIFT_JIS},
    {"shift-jis", ENCODING_SHIFT_JIS}, {"sjis", ENCODING_SHIFT_JIS},    {"x-sjis", ENCODING_SHIFT_JIS},
    {"windows-31j", ENCODING_SHIFT_JIS}, {"cp932", ENCODING_SHIFT_JIS}, {"ms_kanji", ENCODING_SHIFT_JIS},
    {"euc-jp", ENCODING_EUC},        {"x-euc-jp", ENCODING_EUC},        {"eucjp", ENCODING_EUC},
    {"iso-2022-jp", ENCODING_JIS_B}, {"csiso2022jp", ENCODING_JIS_B},
};

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// The encoding a charset name (from p, ended by a quote, blank, ';' or
// '>') stands for; -1 for a name this program does not read.
static int EncodingOfName(const char *p)
{
    char name[32];
    size_t length = 0;
    while (*p == '"' || *p == '\'' || *p == ' ')
        ++p;
    while (p[length] != '\0' && strchr("\"'; \t\r\n>/", p[length]) == NULL && length < sizeof name - 1) {
        name[length] = LowerAscii(p[length]);
        ++length;
    }
    name[length] = '\0';
    for (const CharsetName &entry : CHARSET_NAMES)
        if (strcmp(name, entry.name) == 0)
            return entry.encoding;
    return -1;
}

// The encoding a "charset=" parameter in the text (up to end) names; -1
// when there is none or it names another.
static int CharsetParameter(const char *text, const char *end)
{
    for (const char *p = text; p + 8 <= end; ++p)
        if (StartsWithNoCase(p, "charset") && (p[7] == '=' || p[7] == ' ')) {
            const char *value = p + 7;
            while (value < end && (*value == ' ' || *value == '='))
                ++value;
            return EncodingOfName(value);
        }
    return -1;
}

// The encoding a META tag of the page's beginning declares: <meta
// charset=...> or <meta http-equiv="Content-Type" content="...;
// charset=...">. -1 when none does.
static int DeclaredEncoding(const char *text)
{
    const char *end = text + strnlen(text, DECLARATION_SCAN);
    for (const char *p = text; p < end; ++p) {
        if (*p != '<' || !StartsWithNoCase(p + 1, "meta"))
            continue;
        const char *close = (const char *)memchr(p, '>', (size_t)(end - p));
        if (close == NULL)
            return -1;
        int encoding = CharsetParameter(p, close);
        if (encoding >= 0)
            return encoding;
        p = close;
    }
    return -1;
}

// The encoding a style sheet's opening @charset rule names; -1 without one.
static int StyleSheetCharset(const char *text)
{
    return StartsWithNoCase(text, "@charset") ? CharsetParameter(text, text + strnlen(text, 64)) : -1;
}

int PageEncoding(const char *text, const char *contentType, bool styleSheet)
{
    if (strncmp(text, "\xEF\xBB\xBF", 3) == 0)
        return ENCODING_UTF8;
    // The server's word comes before the page's own, as in a browser.
    int served = contentType != NULL ? CharsetParameter(contentType, contentType + strlen(contentType)) : -1;
    if (served >= 0)
        return served;
    int declared = styleSheet ? StyleSheetCharset(text) : DeclaredEncoding(text);
    return declared >= 0 ? declared : DetectJapaneseEncoding(text);
}
