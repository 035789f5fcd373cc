// page/japanese.cpp — page titles in 7-bit JIS, EUC-JP, Shift_JIS or UTF-8: which one a text is written in, and its conversion into Shift_JIS.
#include "page/page.h"

#include <string.h>

// The two pairs of JIS escape sequences: kanji-in and kanji-out.
static const char *const kanjiIn[2] = {"\x1B$B", "\x1B$@"};
static const char *const kanjiOut[2] = {"\x1B(B", "\x1B(@"};

// EUC-JP's single-shift byte for a half-width katakana in the next byte.
#define EUC_SINGLE_SHIFT 0x8E

static bool BeginsWith(const char *text, const char *sequence)
{
    return strncmp(text, sequence, strlen(sequence)) == 0;
}

// True when both sequences of the pair begin somewhere in the text.
static bool HoldsJisPair(const char *text, int pair)
{
    bool seenIn = false, seenOut = false;
    for (const char *p = text; *p != '\0' && !(seenIn && seenOut); ++p) {
        seenIn = seenIn || BeginsWith(p, kanjiIn[pair]);
        seenOut = seenOut || BeginsWith(p, kanjiOut[pair]);
    }
    return seenIn && seenOut;
}

// The length of a UTF-8 sequence that begins with the byte; 0 for a byte
// that begins none.
static int Utf8Length(unsigned char first)
{
    return first < 0x80 ? 1 : first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
                            : first >= 0xF0 && first <= 0xF4 ? 4 : 0;
}

// The length of the UTF-8 sequence at p and its code point; 0 when the bytes
// there are no well-formed sequence (overlong forms and surrogates included).
static int Utf8Sequence(const unsigned char *p, unsigned *cp)
{
    int length = Utf8Length(p[0]);
    if (length == 0)
        return 0;
    unsigned code = length == 1 ? p[0] : p[0] & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    static const unsigned smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    *cp = code;
    return length;
}

// True when the bytes at p are the beginning of a UTF-8 sequence that the
// end of the text cut short (the title is copied with a length limit).
static bool IsCutSequence(const unsigned char *p)
{
    int length = Utf8Length(p[0]);
    int i = 1;
    while (i < length && (p[i] & 0xC0) == 0x80)
        ++i;
    return length > 1 && i < length && p[i] == 0;
}

// True when the text is UTF-8 throughout and holds a character beyond ASCII.
static bool IsUtf8Text(const char *text)
{
    bool beyondAscii = false;
    unsigned cp;
    for (const unsigned char *p = (const unsigned char *)text; *p != 0;) {
        int length = Utf8Sequence(p, &cp);
        if (length == 0)
            return beyondAscii && IsCutSequence(p);
        beyondAscii = beyondAscii || length > 1;
        p += length;
    }
    return beyondAscii;
}

int DetectJapaneseEncoding(const char *text)
{
    for (int pair = 0; pair < 2; ++pair)
        if (HoldsJisPair(text, pair))
            return pair;
    if (IsUtf8Text(text))
        return ENCODING_UTF8;
    int eucCount = 0, sjisCount = 0;
    const unsigned char *p = (const unsigned char *)text;
    while (*p != 0) {
        if (*p < 0xA0) {
            ++p;
            continue;
        }
        if (p[1] == 0) {
            ++sjisCount;
            break;
        }
        if (p[1] >= 0xA0)
            ++eucCount;
        else
            ++sjisCount;
        p += 2;
    }
    if (eucCount > 0 && sjisCount == 0)
        return ENCODING_EUC;
    if (sjisCount == 0)
        return ENCODING_SHIFT_JIS;
    return (double)eucCount / (double)sjisCount >= 0.6 ? ENCODING_EUC : ENCODING_SHIFT_JIS;
}

// The Shift_JIS code of a JIS X 0208 code j1 j2; 0 when it is none.
static unsigned JisToShiftJis(unsigned j1, unsigned j2)
{
    if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E)
        return 0;
    unsigned high = ((j1 - 0x21) >> 1) + 0x81;
    if (high > 0x9F)
        high += 0x40;
    unsigned low;
    if (j1 % 2 == 0)
        low = j2 + 0x7E;
    else
        low = j2 > 0x5F ? j2 + 0x20 : j2 + 0x1F;
    return high << 8 | low;
}

// UTF-8 into Shift_JIS: never longer, as every character of two or more
// bytes gives at most two.
static void ConvertUtf8(const char *source, char *destination)
{
    const unsigned char *s = (const unsigned char *)source;
    char *d = destination;
    unsigned cp;
    while (*s != 0) {
        int length = Utf8Sequence(s, &cp);
        if (length == 0)
            break;
        if (length == 1)
            *d++ = (char)cp;
        else
            d += CodePointToShiftJis(cp, d);
        s += length;
    }
    *d = '\0';
}

void ConvertToShiftJis(const char *source, char *destination, int encoding)
{
    if (encoding == ENCODING_UTF8) {
        ConvertUtf8(source, destination);
        return;
    }
    const unsigned char *s = (const unsigned char *)source;
    unsigned char *d = (unsigned char *)destination;
    bool kanji = false;
    bool jis = encoding == ENCODING_JIS_B || encoding == ENCODING_JIS_AT;
    while (*s != 0) {
        if (jis) {
            if (BeginsWith((const char *)s, kanjiIn[encoding])) {
                s += 3;
                kanji = true;
                if (*s == 0)
                    break;
            }
            if (BeginsWith((const char *)s, kanjiOut[encoding])) {
                s += 3;
                kanji = false;
                if (*s == 0)
                    break;
            }
        }
        if (encoding == ENCODING_SHIFT_JIS || (!kanji && (*s < 0x80 || encoding != ENCODING_EUC))) {
            *d++ = *s++;
            continue;
        }
        if (s[1] == 0)
            break; // a lead byte without its second byte
        if (encoding == ENCODING_EUC && s[0] == EUC_SINGLE_SHIFT && s[1] >= 0xA1 && s[1] <= 0xDF) {
            *d++ = s[1]; // half-width katakana is one byte in Shift_JIS
            s += 2;
            continue;
        }
        unsigned code = encoding == ENCODING_EUC ? JisToShiftJis(s[0] & 0x7Fu, s[1] & 0x7Fu)
                                                 : JisToShiftJis(s[0], s[1]);
        if (code == 0)
            break; // no JIS X 0208 character: the text ends here
        *d++ = (unsigned char)(code >> 8);
        *d++ = (unsigned char)(code & 0xFF);
        s += 2;
    }
    *d = 0;
}

// The character a reference at p stands for (p at its '&'): its length in
// the text, and the code point; 0 when p begins no reference.
static int ReadReference(const char *p, unsigned *cp)
{
    static const struct { const char *name; unsigned cp; } named[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto &n : named)
        if (strncmp(p, n.name, strlen(n.name)) == 0) {
            *cp = n.cp;
            return (int)strlen(n.name);
        }
    if (p[1] != '#')
        return 0;
    bool hex = p[2] == 'x' || p[2] == 'X';
    const char *digits = p + (hex ? 3 : 2), *q = digits;
    unsigned code = 0;
    while (q - digits < 7 && (hex ? strchr("0123456789abcdefABCDEF", *q) != NULL : (*q >= '0' && *q <= '9')) &&
           *q != '\0') {
        unsigned digit = *q <= '9' ? (unsigned)(*q - '0') : (unsigned)((*q | 0x20) - 'a' + 10);
        code = code * (hex ? 16 : 10) + digit;
        ++q;
    }
    if (q == digits || *q != ';' || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    *cp = code;
    return (int)(q + 1 - p);
}

// Decodes the character references of a Shift_JIS text in place: each gives
// at most two bytes and is at least four long, so the text only shrinks.
void DecodeCharacterReferences(char *text)
{
    char *out = text;
    for (const char *p = text; *p != '\0';) {
        unsigned cp;
        int length = *p == '&' ? ReadReference(p, &cp) : 0;
        if (length > 0) {
            if (cp < 0x80)
                *out++ = cp < ' ' ? ' ' : (char)cp;
            else
                out += CodePointToShiftJis(cp, out);
            p += length;
            continue;
        }
        const char *next = NextChar(p);
        while (p < next)
            *out++ = *p++;
    }
    *out = '\0';
}

int TitleToShiftJis(const char *source, char *destination)
{
    int encoding = DetectJapaneseEncoding(source);
    ConvertToShiftJis(source, destination, encoding);
    return encoding;
}
