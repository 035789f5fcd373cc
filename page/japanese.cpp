// page/japanese.cpp — page titles in 7-bit JIS, EUC-JP or Shift_JIS: which one a text is written in, and its conversion into Shift_JIS.
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

int DetectJapaneseEncoding(const char *text)
{
    for (int pair = 0; pair < 2; ++pair)
        if (HoldsJisPair(text, pair))
            return pair;
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

void ConvertToShiftJis(const char *source, char *destination, int encoding)
{
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

int TitleToShiftJis(const char *source, char *destination)
{
    int encoding = DetectJapaneseEncoding(source);
    ConvertToShiftJis(source, destination, encoding);
    return encoding;
}
