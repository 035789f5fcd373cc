// address/names.cpp — local names of Japanese path segments, and code page 932 names as UTF-8.
// Reads UTF-8, Shift_JIS and EUC-JP bytes; escapes what code page 932 cannot show.
#include "address/address.h"

#include <string.h>

// EUC-JP's single-shift bytes: a half-width katakana in the next byte, a
// JIS X 0212 character in the next two.
#define EUC_SINGLE_SHIFT 0x8E
#define EUC_SINGLE_SHIFT_3 0x8F

// The byte begins a double-byte character of code page 932, whatever the
// system's code page (IsLeadByte follows that on Windows).
static bool IsShiftJisLead(unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

static bool IsShiftJisTrail(unsigned c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

static bool IsEucByte(unsigned c) { return c >= 0xA1 && c <= 0xFE; }

// True when the bytes have the shape of one code page 932 character: ASCII,
// a half-width katakana, or a lead and a trail byte. Windows also converts
// the single bytes 0x80 and 0xA0 and 0xFD to 0xFF, which are none.
static bool IsShiftJisCharacter(const char *bytes, int count)
{
    unsigned first = (unsigned char)bytes[0];
    if (count == 2)
        return IsShiftJisLead(first) && IsShiftJisTrail((unsigned char)bytes[1]);
    return first < 0x80 || (first >= 0xA1 && first <= 0xDF);
}

int HeldShiftJis(unsigned cp, char out[2])
{
    char bytes[2];
    int count = CodePointToShiftJis(cp, bytes);
    if (count == 0 || !IsShiftJisCharacter(bytes, count))
        return 0;
    memcpy(out, bytes, (size_t)count);
    return count;
}

unsigned JisToShiftJis(unsigned j1, unsigned j2)
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

// The length of a UTF-8 sequence that begins with the byte; 0 for a byte
// that begins none.
static size_t Utf8Length(unsigned char first)
{
    return first < 0x80 ? 1 : first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
                            : first >= 0xF0 && first <= 0xF4 ? 4 : 0;
}

// The length of the UTF-8 sequence at p (left bytes there) and its code
// point; 0 when the bytes there are no well-formed sequence (overlong forms
// and surrogates included).
static size_t Utf8Sequence(const unsigned char *p, size_t left, unsigned *cp)
{
    size_t length = Utf8Length(p[0]);
    if (length == 0 || length > left)
        return 0;
    unsigned code = length == 1 ? p[0] : p[0] & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3Fu);
    }
    static const unsigned smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    *cp = code;
    return length;
}

// Takes count code page 932 bytes, which stand for length bytes of the
// input, as the character when they are one.
static void TakeShiftJis(NameCharacter *c, size_t length, const char *bytes, int count)
{
    if (!IsShiftJisCharacter(bytes, count))
        return;
    unsigned cp = ShiftJisToCodePoint(bytes, count);
    if (cp == 0)
        return;
    c->cp = cp;
    c->length = length;
    memcpy(c->shiftJis, bytes, (size_t)count);
    c->shiftJisCount = count;
}

static void ReadUtf8(const unsigned char *p, size_t left, NameCharacter *c)
{
    size_t length = Utf8Sequence(p, left, &c->cp);
    if (length == 0)
        return;
    c->length = length;
    c->shiftJisCount = HeldShiftJis(c->cp, c->shiftJis);
}

static void ReadShiftJis(const unsigned char *p, size_t left, NameCharacter *c)
{
    int count = IsShiftJisLead(p[0]) && left >= 2 ? 2 : 1;
    TakeShiftJis(c, (size_t)count, (const char *)p, count);
}

static void ReadEuc(const unsigned char *p, size_t left, NameCharacter *c)
{
    if (p[0] == EUC_SINGLE_SHIFT && left >= 2 && p[1] >= 0xA1 && p[1] <= 0xDF) {
        TakeShiftJis(c, 2, (const char *)p + 1, 1);
    } else if (p[0] == EUC_SINGLE_SHIFT_3 && left >= 3 && IsEucByte(p[1]) && IsEucByte(p[2])) {
        c->length = 3; // JIS X 0212: no conversion on every platform, so its bytes are escaped
    } else if (IsEucByte(p[0]) && left >= 2 && IsEucByte(p[1])) {
        unsigned code = JisToShiftJis(p[0] & 0x7Fu, p[1] & 0x7Fu);
        char bytes[2] = {(char)(code >> 8), (char)(code & 0xFF)};
        TakeShiftJis(c, 2, bytes, 2);
    }
}

void ReadNameCharacter(const char *p, size_t left, int encoding, NameCharacter *c)
{
    const unsigned char *u = (const unsigned char *)p;
    c->length = 1;
    c->cp = 0;
    c->shiftJisCount = 0;
    if (u[0] > 0 && u[0] < 0x80) {
        c->cp = u[0];
        c->shiftJis[0] = p[0];
        c->shiftJisCount = 1;
    } else if (u[0] != 0 && encoding == NAME_UTF8) {
        ReadUtf8(u, left, c);
    } else if (u[0] != 0 && encoding == NAME_EUC_JP) {
        ReadEuc(u, left, c);
    } else if (u[0] != 0) {
        ReadShiftJis(u, left, c);
    }
}

int NameEncodingOf(const char *bytes, size_t length, int encoding)
{
    const unsigned char *u = (const unsigned char *)bytes;
    bool beyondAscii = false;
    unsigned cp;
    for (size_t i = 0; i < length;) {
        size_t n = Utf8Sequence(u + i, length - i, &cp);
        if (n == 0)
            return encoding;
        beyondAscii = beyondAscii || n > 1;
        i += n;
    }
    return beyondAscii ? NAME_UTF8 : encoding;
}

// Appends count bytes that make whole characters; false when they do not fit.
static bool AppendBytes(char *out, size_t size, const char *bytes, size_t count)
{
    char piece[5];
    memcpy(piece, bytes, count);
    piece[count] = '\0';
    return AppendText(out, size, piece);
}

// Appends the %XX escapes (uppercase hex) of count bytes.
static bool AppendEscapes(char *out, size_t size, const char *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        char escape[4];
        FormatText(escape, sizeof escape, "%%%02X", (unsigned char)bytes[i]);
        if (!AppendText(out, size, escape))
            return false;
    }
    return true;
}

bool LocalNameOfBytes(char *out, size_t size, const char *bytes, size_t length, int encoding)
{
    encoding = NameEncodingOf(bytes, length, encoding);
    out[0] = '\0';
    NameCharacter c;
    for (size_t i = 0; i < length; i += c.length) {
        ReadNameCharacter(bytes + i, length - i, encoding, &c);
        bool shown = c.shiftJisCount > 0 && c.cp != '%';
        if (!(shown ? AppendBytes(out, size, c.shiftJis, (size_t)c.shiftJisCount)
                    : AppendEscapes(out, size, bytes + i, c.length))) {
            out[0] = '\0';
            return false;
        }
    }
    return true;
}

// The UTF-8 bytes of a code point below 0x110000 into out, terminated; their count.
static size_t EncodeUtf8(unsigned cp, char out[5])
{
    size_t length = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    static const unsigned char firstMark[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t i = length - 1; i > 0; --i, cp >>= 6)
        out[i] = (char)(0x80 | (cp & 0x3F));
    out[0] = (char)(firstMark[length] | cp);
    out[length] = '\0';
    return length;
}

int Utf8OfShiftJis(char *out, size_t size, const char *shiftJisText)
{
    out[0] = '\0';
    size_t length = strlen(shiftJisText), written = 0;
    NameCharacter c;
    for (size_t i = 0; i < length; i += c.length) {
        ReadNameCharacter(shiftJisText + i, length - i, NAME_SHIFT_JIS, &c);
        char utf8[5];
        size_t count = c.cp != 0 ? EncodeUtf8(c.cp, utf8) : 0;
        if (count == 0 || !AppendText(out, size, utf8)) {
            out[0] = '\0';
            return -1;
        }
        written += count;
    }
    return (int)written;
}
