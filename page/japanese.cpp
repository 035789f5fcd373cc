// page/japanese.cpp — Japanese encodings of page titles and start-list files.
// Titles in 7-bit JIS, EUC-JP, Shift_JIS or UTF-8 and start lists in Shift_JIS, UTF-8
// or UTF-16: which one a text is written in, its conversion into Shift_JIS, and a
// title's character references decoded.
#include "page/page.h"

#include <string.h>

// The two pairs of JIS escape sequences: kanji-in and kanji-out.
static const char *const kanjiIn[2] = {"\x1B$B", "\x1B$@"};
static const char *const kanjiOut[2] = {"\x1B(B", "\x1B(@"};

// EUC-JP's single-shift bytes: a half-width katakana in the next byte, a
// JIS X 0212 character in the next two.
#define EUC_SINGLE_SHIFT 0x8E
#define EUC_SINGLE_SHIFT_3 0x8F

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

// True when the byte begins a double-byte character of code page 932.
static bool IsShiftJisLead(unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// True when the byte can end a double-byte character of code page 932.
static bool IsShiftJisTrail(unsigned c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// True when the text is code page 932 throughout, a lead byte that the end
// of the text cut off from its second byte aside.
static bool IsShiftJisText(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)text; *p != 0;) {
        if (*p < 0x80 || (*p >= 0xA1 && *p <= 0xDF)) {
            ++p; // ASCII or a half-width katakana
            continue;
        }
        if (!IsShiftJisLead(*p) || (p[1] != 0 && !IsShiftJisTrail(p[1])))
            return false;
        p += p[1] == 0 ? 1 : 2;
    }
    return true;
}

// A byte of an EUC-JP double-byte character.
static bool IsEucByte(unsigned c) { return c >= 0xA1 && c <= 0xFE; }

// True when the JIS X 0208 row and cell (1 to 94 each) hold a character in
// the EUC-JP of Japanese pages: the symbols, letters and kana of rows 1 to 8
// with their gaps, NEC's row 13, the kanji of rows 16 to 84 and the
// NEC-selected IBM rows 89 to 92.
static bool IsAssignedCell(unsigned row, unsigned cell)
{
    static const unsigned char ranges[][4] = {
        {1, 1, 1, 94}, {2, 2, 1, 14}, {2, 2, 26, 33}, {2, 2, 42, 48}, {2, 2, 60, 74}, {2, 2, 82, 89},
        {2, 2, 94, 94}, {3, 3, 16, 25}, {3, 3, 33, 58}, {3, 3, 65, 90}, {4, 4, 1, 83}, {5, 5, 1, 86},
        {6, 6, 1, 24}, {6, 6, 33, 56}, {7, 7, 1, 33}, {7, 7, 49, 81}, {8, 8, 1, 32}, {13, 13, 1, 30},
        {13, 13, 32, 54}, {13, 13, 63, 92}, {16, 46, 1, 94}, {47, 47, 1, 51}, {48, 83, 1, 94}, {84, 84, 1, 6},
        {89, 91, 1, 94}, {92, 92, 1, 78}, {92, 92, 81, 94}};
    for (const auto &r : ranges)
        if (row >= r[0] && row <= r[1] && cell >= r[2] && cell <= r[3])
            return true;
    return false;
}

// The EUC-JP character at p: its length, 0 when the bytes there are none.
// telling is set when Shift_JIS half-width katakana could not give the same
// bytes: a single-shifted character, a byte from 0xE0 on, or the symbols,
// Latin letters and kana of rows 1 to 5, which Japanese text is full of.
static int EucCharacter(const unsigned char *p, bool *telling)
{
    *telling = false;
    bool lead = IsEucByte(p[0]) || p[0] == EUC_SINGLE_SHIFT || p[0] == EUC_SINGLE_SHIFT_3;
    if (p[0] < 0x80 || (lead && p[1] == 0))
        return 1; // ASCII, or a lead byte cut off by the end of the text
    *telling = true;
    if (p[0] == EUC_SINGLE_SHIFT)
        return p[1] >= 0xA1 && p[1] <= 0xDF ? 2 : 0;
    if (p[0] == EUC_SINGLE_SHIFT_3)
        return IsEucByte(p[1]) && (p[2] == 0 || IsEucByte(p[2])) ? 2 + (p[2] != 0) : 0;
    if (!IsEucByte(p[0]) || !IsEucByte(p[1]) || !IsAssignedCell(p[0] - 0xA0u, p[1] - 0xA0u))
        return 0;
    *telling = p[0] <= 0xA5 || p[0] >= 0xE0 || p[1] >= 0xE0;
    return 2;
}

// How the text reads as EUC-JP.
enum { EUC_IMPOSSIBLE, EUC_AMBIGUOUS, EUC_LIKELY };

static int ReadAsEuc(const char *text)
{
    bool anyTelling = false, telling;
    for (const unsigned char *p = (const unsigned char *)text; *p != 0;) {
        int length = EucCharacter(p, &telling);
        if (length == 0)
            return EUC_IMPOSSIBLE;
        anyTelling = anyTelling || telling;
        p += length;
    }
    return anyTelling ? EUC_LIKELY : EUC_AMBIGUOUS;
}

// EUC-JP or Shift_JIS by the pairs of bytes from 0xA0 on: EUC-JP when at
// least 0.6 pairs have a second byte from 0xA0 on for each that has not.
static int GuessByPairs(const char *text)
{
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

// A text that only one of Shift_JIS and EUC-JP can read is in that one; a
// Shift_JIS text whose bytes also make EUC-JP kanji, but no kana or symbol,
// is taken for half-width katakana, which such a text almost always is.
// Other texts are judged by their pairs of bytes.
int DetectJapaneseEncoding(const char *text)
{
    for (int pair = 0; pair < 2; ++pair)
        if (HoldsJisPair(text, pair))
            return pair;
    if (IsUtf8Text(text))
        return ENCODING_UTF8;
    bool shiftJis = IsShiftJisText(text);
    int euc = ReadAsEuc(text);
    if (shiftJis && euc != EUC_LIKELY)
        return ENCODING_SHIFT_JIS;
    if (!shiftJis && euc != EUC_IMPOSSIBLE)
        return ENCODING_EUC;
    return GuessByPairs(text);
}

// Writes the code page 932 bytes of a character beyond ASCII to out and
// returns their count; 0 when code page 932 cannot show it. A no-break space,
// which it lacks, becomes a plain space.
static int ShowableShiftJis(unsigned cp, char out[2])
{
    if (cp == 0xA0) {
        out[0] = ' ';
        return 1;
    }
    return HeldShiftJis(cp, out);
}

// As ShowableShiftJis, but a character code page 932 cannot show becomes '?'.
static int ShiftJisOrQuestionMark(unsigned cp, char out[2])
{
    int count = ShowableShiftJis(cp, out);
    if (count > 0)
        return count;
    out[0] = '?';
    return 1;
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
            d += ShiftJisOrQuestionMark(cp, d);
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
        // Both bytes of an EUC-JP pair are from 0xA1 on: an ASCII byte after
        // a lead byte ('<' of the title's end tag) is never taken into it.
        unsigned code = encoding != ENCODING_EUC ? JisToShiftJis(s[0], s[1])
                        : s[1] >= 0x80 ? JisToShiftJis(s[0] & 0x7Fu, s[1] & 0x7Fu) : 0;
        if (code == 0)
            break; // no JIS X 0208 character: the text ends here
        *d++ = (unsigned char)(code >> 8);
        *d++ = (unsigned char)(code & 0xFF);
        s += 2;
    }
    *d = 0;
}

// A named character reference: its name without '&' and ';', and its character.
struct NamedReference {
    const char *name;
    unsigned cp;
};

static const NamedReference namedReferences[] = {
#include "page/named_references.inc"
};

// Orders a name of the table against the length bytes of name, as strcmp does.
static int CompareName(const char *entry, const char *name, size_t length)
{
    int order = strncmp(entry, name, length);
    return order != 0 ? order : entry[length] != '\0';
}

// The character of a reference name (length bytes); 0 when it is no name.
static unsigned LookUpName(const char *name, size_t length)
{
    size_t low = 0, high = sizeof namedReferences / sizeof namedReferences[0];
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        int order = CompareName(namedReferences[middle].name, name, length);
        if (order == 0)
            return namedReferences[middle].cp;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return 0;
}

static bool IsAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A named reference at p (p at its '&'): its length in the text and its
// character; 0 when p begins none. No name is longer than 31 letters.
static int ReadNamedReference(const char *p, unsigned *cp)
{
    size_t length = 0;
    while (length < 32 && IsAsciiLetterOrDigit(p[1 + length]))
        ++length;
    if (length == 0 || p[1 + length] != ';')
        return 0;
    *cp = LookUpName(p + 1, length);
    return *cp != 0 ? (int)length + 2 : 0;
}

// A numeric reference at p (p at its '&'): its length in the text and its
// code point; 0 when p begins none.
static int ReadNumericReference(const char *p, unsigned *cp)
{
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

// The Shift_JIS a reference at p (p at its '&') gives: writes it to out,
// its count to *count, and returns the reference's length in the text; 0
// when the reference is to stay as written. An ASCII control character gives
// a space. A numeric reference to a character code page 932 cannot show
// gives '?'; a named one stays as written, as an unknown name does.
static int DecodeReference(const char *p, char out[2], int *count)
{
    unsigned cp;
    int length = ReadNumericReference(p, &cp);
    bool numeric = length > 0;
    if (!numeric)
        length = ReadNamedReference(p, &cp);
    if (length == 0)
        return 0;
    if (cp < 0x80) {
        out[0] = cp < ' ' ? ' ' : (char)cp;
        *count = 1;
    } else {
        *count = numeric ? ShiftJisOrQuestionMark(cp, out) : ShowableShiftJis(cp, out);
    }
    return *count > 0 ? length : 0;
}

// Decodes the character references of a Shift_JIS text in place: each gives
// at most two bytes and is at least four long, so the text only shrinks.
void DecodeCharacterReferences(char *text)
{
    char *out = text;
    for (const char *p = text; *p != '\0';) {
        char bytes[2];
        int count = 0;
        int length = *p == '&' ? DecodeReference(p, bytes, &count) : 0;
        if (length > 0) {
            memcpy(out, bytes, (size_t)count);
            out += count;
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

// ---- Text files ----

// True for a character that Japanese text in UTF-8 is made of: general
// punctuation, letter-like symbols, arrows, mathematical and technical
// signs, box drawing, shapes and dingbats; CJK punctuation, kana and kanji;
// compatibility kanji; full-width and half-width forms.
static bool IsJapaneseCharacter(unsigned cp)
{
    return (cp >= 0x2010 && cp <= 0x27BF) || (cp >= 0x3000 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFF00 && cp <= 0xFFEF);
}

// True when every character of the UTF-8 text beyond ASCII is Japanese.
static bool ReadsAsJapanese(const char *text)
{
    unsigned cp;
    for (const unsigned char *p = (const unsigned char *)text; *p != 0;) {
        int length = Utf8Sequence(p, &cp);
        if (length == 0)
            return true; // a character cut at the end
        if (length > 1 && !IsJapaneseCharacter(cp))
            return false;
        p += length;
    }
    return true;
}

static bool BeginsWithBytes(const char *bytes, size_t length, const char *mark, size_t markLength)
{
    return length >= markLength && memcmp(bytes, mark, markLength) == 0;
}

int DetectTextFileEncoding(const char *bytes, size_t length)
{
    if (BeginsWithBytes(bytes, length, "\xEF\xBB\xBF", 3))
        return TEXT_UTF8;
    if (BeginsWithBytes(bytes, length, "\xFF\xFE", 2))
        return TEXT_UTF16LE;
    if (BeginsWithBytes(bytes, length, "\xFE\xFF", 2))
        return TEXT_UTF16BE;
    if (IsUtf8Text(bytes) && (!IsShiftJisText(bytes) || ReadsAsJapanese(bytes)))
        return TEXT_UTF8;
    return TEXT_SHIFT_JIS;
}

// A place in a text file being read: the bytes left and the encoding.
struct TextReader {
    const unsigned char *p, *end;
    int encoding;
};

// The UTF-16 unit at the reader, moved past; false when no whole one is left.
static bool NextUnit(TextReader *r, unsigned *unit)
{
    if (r->end - r->p < 2)
        return false;
    *unit = r->encoding == TEXT_UTF16LE ? r->p[0] | r->p[1] << 8 : r->p[0] << 8 | r->p[1];
    r->p += 2;
    return true;
}

// The next character of a UTF-16 text: a surrogate pair joined, a lone
// surrogate as U+FFFD. False at the end of the text.
static bool NextUtf16Character(TextReader *r, unsigned *cp)
{
    unsigned unit, low;
    if (!NextUnit(r, &unit))
        return false;
    *cp = unit;
    if (unit >= 0xDC00 && unit <= 0xDFFF)
        *cp = 0xFFFD;
    else if (unit >= 0xD800 && unit <= 0xDBFF) {
        TextReader after = *r;
        bool paired = NextUnit(&after, &low) && low >= 0xDC00 && low <= 0xDFFF;
        *cp = paired ? 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
        if (paired)
            *r = after;
    }
    return true;
}

// The next character of a UTF-8 text; a byte that begins no well-formed
// sequence is U+FFFD. False at the end, and at a character the end cut.
static bool NextUtf8Character(TextReader *r, unsigned *cp)
{
    if (r->p >= r->end || IsCutSequence(r->p))
        return false;
    int length = Utf8Sequence(r->p, cp);
    if (length == 0) {
        *cp = 0xFFFD;
        length = 1;
    }
    r->p += length;
    return true;
}

// Converts a UTF-8 or UTF-16 text into Shift_JIS, whole characters only.
static void ConvertTextFile(TextReader *r, char *output, size_t size)
{
    size_t used = 0;
    unsigned cp;
    while (r->encoding == TEXT_UTF8 ? NextUtf8Character(r, &cp) : NextUtf16Character(r, &cp)) {
        if (cp == 0)
            break;
        if (cp == 0xFEFF)
            continue; // the byte-order mark
        char bytes[2];
        int count = cp < 0x80 ? (bytes[0] = (char)cp, 1) : ShowableShiftJis(cp, bytes);
        if (count == 0) {
            bytes[0] = '?';
            count = 1;
        }
        if (used + (size_t)count > size - 1)
            break;
        memcpy(output + used, bytes, (size_t)count);
        used += (size_t)count;
    }
    output[used] = '\0';
}

int TextFileToShiftJis(const char *bytes, size_t length, char *output, size_t size)
{
    int encoding = DetectTextFileEncoding(bytes, length);
    if (encoding == TEXT_SHIFT_JIS) {
        size_t kept = length < size - 1 ? length : size - 1;
        memcpy(output, bytes, kept);
        output[kept] = '\0';
        return encoding;
    }
    TextReader reader = {(const unsigned char *)bytes, (const unsigned char *)bytes + length, encoding};
    ConvertTextFile(&reader, output, size);
    return encoding;
}
