// address/hostnames.cpp — international host names: Punycode, ASCII form and folder names.
// Punycode as RFC 3492 describes it; the simple part of the mapping of host names.
#include "address/address.h"

#include <limits.h>
#include <string.h>

// Punycode's parameters.
static const unsigned BASE = 36, TMIN = 1, TMAX = 26, SKEW = 38, DAMP = 700, INITIAL_BIAS = 72, INITIAL_N = 0x80;

// The prefix of a label in its ASCII form, and the longest label DNS carries.
#define ACE_PREFIX "xn--"
#define ACE_PREFIX_LENGTH 4
#define LABEL_LIMIT 63

// The bias after a number (delta) was coded, with points code points handled.
static unsigned Adapt(unsigned delta, unsigned points, bool first)
{
    delta = first ? delta / DAMP : delta / 2;
    delta += delta / points;
    unsigned k = 0;
    while (delta > ((BASE - TMIN) * TMAX) / 2) {
        delta /= BASE - TMIN;
        k += BASE;
    }
    return k + (BASE - TMIN + 1) * delta / (delta + SKEW);
}

// The threshold of the digit at position k of a number.
static unsigned Threshold(unsigned k, unsigned bias)
{
    return k <= bias ? TMIN : k >= bias + TMAX ? TMAX : k - bias;
}

static char DigitChar(unsigned digit) { return (char)(digit < 26 ? 'a' + digit : '0' + digit - 26); }

static int DigitValue(char c)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    return c >= '0' && c <= '9' ? c - '0' + 26 : -1;
}

static bool IsEncodable(unsigned cp) { return cp != 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF); }

static bool AppendChar(char *out, size_t size, char c)
{
    char piece[2] = {c, '\0'};
    return AppendText(out, size, piece);
}

static bool Fail(char *out)
{
    out[0] = '\0';
    return false;
}

// Appends the number q as digits of variable length for the bias.
static bool AppendNumber(char *out, size_t size, unsigned q, unsigned bias)
{
    for (unsigned k = BASE;; k += BASE) {
        unsigned t = Threshold(k, bias);
        if (q < t)
            return AppendChar(out, size, DigitChar(q));
        if (!AppendChar(out, size, DigitChar(t + (q - t) % (BASE - t))))
            return false;
        q = (q - t) / (BASE - t);
    }
}

// Where encoding stands: the next code point n, the number delta, the bias,
// how many code points are handled and how many of them are basic.
struct EncodeState {
    unsigned n, delta, bias;
    size_t handled, basic;
};

// Appends the basic code points in order, then the delimiter when there are any.
static bool AppendBasic(char *out, size_t size, const unsigned *cps, size_t count, EncodeState *s)
{
    for (size_t i = 0; i < count; ++i)
        if (cps[i] < INITIAL_N && (++s->basic, !AppendChar(out, size, (char)cps[i])))
            return false;
    s->handled = s->basic;
    return s->basic == 0 || AppendChar(out, size, '-');
}

// The smallest code point of the input from n on.
static unsigned SmallestFrom(const unsigned *cps, size_t count, unsigned n)
{
    unsigned smallest = UINT_MAX;
    for (size_t i = 0; i < count; ++i)
        if (cps[i] >= n && cps[i] < smallest)
            smallest = cps[i];
    return smallest;
}

// Codes every code point n of the input, counting the smaller ones between.
static bool EncodeRound(char *out, size_t size, const unsigned *cps, size_t count, EncodeState *s)
{
    for (size_t i = 0; i < count; ++i) {
        if (cps[i] < s->n && ++s->delta == 0)
            return false;
        if (cps[i] != s->n)
            continue;
        if (!AppendNumber(out, size, s->delta, s->bias))
            return false;
        s->bias = Adapt(s->delta, (unsigned)s->handled + 1, s->handled == s->basic);
        s->delta = 0;
        ++s->handled;
    }
    return true;
}

bool PunycodeEncode(char *out, size_t size, const unsigned *codePoints, size_t count)
{
    out[0] = '\0';
    for (size_t i = 0; i < count; ++i)
        if (!IsEncodable(codePoints[i]))
            return false;
    EncodeState s = {INITIAL_N, 0, INITIAL_BIAS, 0, 0};
    if (!AppendBasic(out, size, codePoints, count, &s))
        return Fail(out);
    for (; s.handled < count; ++s.delta, ++s.n) {
        unsigned m = SmallestFrom(codePoints, count, s.n);
        if ((m - s.n) > (UINT_MAX - s.delta) / (unsigned)(s.handled + 1))
            return Fail(out);
        s.delta += (m - s.n) * (unsigned)(s.handled + 1);
        s.n = m;
        if (!EncodeRound(out, size, codePoints, count, &s))
            return Fail(out);
    }
    return true;
}

// Adds the number of variable length at text[*pos] for the bias to *i;
// false at a byte that is no digit, at the end of the text, or on overflow.
static bool ReadNumber(const char *text, size_t length, size_t *pos, unsigned bias, unsigned *i)
{
    unsigned w = 1;
    for (unsigned k = BASE;; k += BASE) {
        int digit = *pos < length ? DigitValue(text[(*pos)++]) : -1;
        if (digit < 0 || (unsigned)digit > (UINT_MAX - *i) / w)
            return false;
        *i += (unsigned)digit * w;
        unsigned t = Threshold(k, bias);
        if ((unsigned)digit < t)
            return true;
        if (w > UINT_MAX / (BASE - t))
            return false;
        w *= BASE - t;
    }
}

// Copies the basic code points before the last delimiter; the position of
// the first digit.
static bool CopyBasic(unsigned *out, size_t capacity, size_t *count, const char *text, size_t length,
                      size_t *digits)
{
    size_t basic = length;
    while (basic > 0 && text[basic - 1] != '-')
        --basic;
    basic = basic > 0 ? basic - 1 : 0;
    if (basic > capacity)
        return false;
    for (size_t j = 0; j < basic; ++j) {
        unsigned char c = (unsigned char)text[j];
        if (c == 0 || c >= INITIAL_N)
            return false;
        out[(*count)++] = c;
    }
    *digits = basic > 0 ? basic + 1 : 0;
    return true;
}

// Inserts the code point at position i of the count code points of out.
static bool InsertCodePoint(unsigned *out, size_t capacity, size_t *count, unsigned i, unsigned cp)
{
    if (!IsEncodable(cp) || cp < INITIAL_N || *count >= capacity)
        return false;
    memmove(out + i + 1, out + i, (*count - i) * sizeof *out);
    out[i] = cp;
    ++*count;
    return true;
}

bool PunycodeDecode(unsigned *out, size_t capacity, size_t *count, const char *text, size_t length)
{
    *count = 0;
    size_t pos;
    if (!CopyBasic(out, capacity, count, text, length, &pos))
        return false;
    unsigned n = INITIAL_N, i = 0, bias = INITIAL_BIAS;
    while (pos < length) {
        unsigned old = i;
        if (!ReadNumber(text, length, &pos, bias, &i))
            return false;
        unsigned points = (unsigned)*count + 1;
        bias = Adapt(i - old, points, old == 0);
        if (i / points > UINT_MAX - n)
            return false;
        n += i / points;
        i %= points;
        if (!InsertCodePoint(out, capacity, count, i++, n))
            return false;
    }
    return true;
}

// ---- The ASCII form of a host part ----

// The characters of a host part: as typed, and mapped.
struct HostCharacters {
    unsigned typed[TEXT_SIZE], mapped[TEXT_SIZE];
    size_t count;
};

// The simple part of the mapping of host names: full-width ASCII to ASCII,
// the ideographic and half-width full stops to '.', capitals to small letters.
static unsigned MapHostCharacter(unsigned cp)
{
    if (cp >= 0xFF01 && cp <= 0xFF5E)
        cp -= 0xFEE0;
    if (cp == 0x3002 || cp == 0xFF61)
        cp = '.';
    return cp >= 'A' && cp <= 'Z' ? cp + ('a' - 'A') : cp;
}

// Reads the decoded bytes of a host part; false at a byte that is no character.
static bool ReadHost(HostCharacters *h, const char *bytes, int encoding)
{
    size_t length = strlen(bytes);
    encoding = NameEncodingOf(bytes, length, encoding);
    NameCharacter c;
    h->count = 0;
    for (size_t i = 0; i < length; i += c.length) {
        ReadNameCharacter(bytes + i, length - i, encoding, &c);
        if (c.cp == 0)
            return false;
        h->typed[h->count] = c.cp;
        h->mapped[h->count++] = MapHostCharacter(c.cp);
    }
    return true;
}

static bool AllBelow(const unsigned *cps, size_t count, unsigned limit)
{
    for (size_t i = 0; i < count; ++i)
        if (cps[i] >= limit)
            return false;
    return true;
}

static bool AppendAscii(char *out, size_t size, const unsigned *cps, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!AppendChar(out, size, (char)cps[i]))
            return false;
    return true;
}

// True for the ASCII a mapped label may hold: letters, digits, '-' and '_'
// (a full-width '/', '@' or ':' must not turn into a part of the address).
static bool IsLabelAscii(unsigned cp)
{
    return (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9') || cp == '-' || cp == '_' || cp >= 0x80;
}

// Appends the label of count characters from begin: as typed when it is
// ASCII, mapped when that is, else "xn--" and the Punycode of the mapped label.
static bool AppendHostLabel(char *out, size_t size, const HostCharacters *h, size_t begin, size_t count)
{
    if (AllBelow(h->typed + begin, count, 0x80))
        return AppendAscii(out, size, h->typed + begin, count);
    for (size_t i = begin; i < begin + count; ++i)
        if (!IsLabelAscii(h->mapped[i]))
            return false;
    if (AllBelow(h->mapped + begin, count, 0x80))
        return AppendAscii(out, size, h->mapped + begin, count);
    char code[LABEL_LIMIT - ACE_PREFIX_LENGTH + 1];
    return PunycodeEncode(code, sizeof code, h->mapped + begin, count) && AppendText(out, size, ACE_PREFIX) &&
           AppendText(out, size, code);
}

// True when the mapped rest is empty or ':' and decimal digits.
static bool IsPortRest(const unsigned *rest, size_t count)
{
    for (size_t i = 1; i < count; ++i)
        if (rest[i] < '0' || rest[i] > '9')
            return false;
    return true;
}

// Appends the labels of the host name and the mapped port from its ':' on.
static bool AppendHostLabels(char *out, size_t size, const HostCharacters *h)
{
    size_t begin = 0, i = 0;
    for (; i < h->count && h->mapped[i] != ':'; ++i) {
        if (h->mapped[i] != '.')
            continue;
        if (!AppendHostLabel(out, size, h, begin, i - begin) || !AppendChar(out, size, '.'))
            return false;
        begin = i + 1;
    }
    const unsigned *rest = h->mapped + i;
    return AppendHostLabel(out, size, h, begin, i - begin) && IsPortRest(rest, h->count - i) &&
           AppendAscii(out, size, rest, h->count - i);
}

static bool IsAsciiText(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)text; *p != 0; ++p)
        if (*p >= 0x80)
            return false;
    return true;
}

bool HostToAscii(char *out, size_t size, const char *hostPart, int encoding)
{
    out[0] = '\0';
    const char *name = HostWithoutScheme(hostPart);
    char decoded[TEXT_SIZE];
    if (!DecodeEscapeBytes(decoded, name))
        return false;
    if (IsAsciiText(decoded))
        return CopyText(out, size, hostPart) || Fail(out);
    HostCharacters h;
    bool done = CopyTextRange(out, size, hostPart, name) && ReadHost(&h, decoded, encoding) &&
                AppendHostLabels(out, size, &h);
    return done || Fail(out);
}

// ---- Folder names of host parts ----

// True when the label (length bytes) is "xn--" and the Punycode HostToAscii
// gives: it decodes to characters beyond ASCII and codes back to itself.
static bool DecodeAceLabel(unsigned *cps, size_t *count, const char *label, size_t length)
{
    if (length <= ACE_PREFIX_LENGTH || length > LABEL_LIMIT || !StartsWithNoCase(label, ACE_PREFIX))
        return false;
    const char *code = label + ACE_PREFIX_LENGTH;
    size_t codeLength = length - ACE_PREFIX_LENGTH;
    char again[LABEL_LIMIT + 1];
    if (!PunycodeDecode(cps, LABEL_LIMIT, count, code, codeLength) || AllBelow(cps, *count, INITIAL_N) ||
        !PunycodeEncode(again, sizeof again, cps, *count) || strlen(again) != codeLength)
        return false;
    for (size_t i = 0; i < codeLength; ++i)
        if (UpperCaseChar(again[i]) != UpperCaseChar(code[i]))
            return false;
    return true;
}

// Appends the label (length bytes) in code page 932 when it is an "xn--"
// label whose characters code page 932 all holds, else as it is.
static bool AppendFolderLabel(char *out, size_t size, const char *label, size_t length)
{
    unsigned cps[LABEL_LIMIT];
    size_t count;
    char shown[TEXT_SIZE] = "", piece[3] = "";
    bool decoded = DecodeAceLabel(cps, &count, label, length);
    for (size_t i = 0; decoded && i < count; ++i) {
        int bytes = HeldShiftJis(cps[i], piece);
        piece[bytes] = '\0';
        decoded = bytes > 0 && AppendText(shown, sizeof shown, piece);
    }
    if (!decoded && !CopyTextRange(shown, sizeof shown, label, label + length))
        return false;
    return AppendText(out, size, shown);
}

bool HostFolderName(char *out, size_t size, const char *asciiHostPart)
{
    out[0] = '\0';
    const char *p = HostWithoutScheme(asciiHostPart);
    if (!CopyTextRange(out, size, asciiHostPart, p))
        return Fail(out);
    while (*p != '\0' && *p != ':') {
        size_t length = strcspn(p, ".:");
        if (!AppendFolderLabel(out, size, p, length) || (p[length] == '.' && !AppendChar(out, size, '.')))
            return Fail(out);
        p += length + (p[length] == '.');
    }
    return AppendText(out, size, p) || Fail(out);
}
