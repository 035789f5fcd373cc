// engine/receive_numbers.cpp — the portable numbers of a transfer: rates, percentages, remaining time, animation periods, the 1980 rule, the Content-Range start and the HTTP date reader.
#include "engine/receive_numbers.h"

long WindowRate(unsigned long windowBytes, unsigned long elapsedTicks, long previousRate)
{
    if (elapsedTicks == 0)
        return previousRate;
    double rate = (double)windowBytes / ((double)elapsedTicks * 0.001);
    return rate >= (double)RATE_CEILING ? RATE_CEILING : (long)rate;
}

int ReceivedPercent(unsigned long total, unsigned long expected)
{
    if (expected == 0)
        return 0;
    double percent = (double)total / (double)expected * 100.0;
    return percent >= PERCENT_CEILING ? PERCENT_CEILING : (int)percent;
}

long RemainingSeconds(unsigned long total, unsigned long expected, long rate)
{
    if (rate <= 0 || total >= expected)
        return 0;
    double seconds = (double)(expected - total) / (double)rate;
    return seconds >= (double)RATE_CEILING ? RATE_CEILING : (long)seconds;
}

long AnimationPeriodUnknownSize(long rate)
{
    long steps = 65 - rate / 100;
    return (steps > 0 ? 5 * steps : 0) + 100;
}

long AnimationPeriodKnownSize(long rate, int percent)
{
    long period = 5 * (50 - rate / 100) - 2L * percent;
    return (period > 0 ? period : 0) + 100;
}

int UnknownSizeBarPosition(long rate)
{
    long position = rate / 50;
    return position > 100 ? 100 : position < 0 ? 0 : (int)position;
}

int StoredFileYear(int serverYear, int brokenOffByUser, int resumePossible)
{
    return brokenOffByUser && resumePossible != 1 ? 1980 : serverYear;
}

static const char *SkipSpaces(const char *p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

// The largest byte position a 32-bit size allows.
static const long long POSITION_CEILING = 4294967295LL;

// Reads the decimal digits at *p (at least one) into *value, moving *p past
// them; false when there are none or the number passes 32 bits.
static bool ReadNumber(const char **p, long long *value)
{
    const char *q = *p;
    long long number = 0;
    if (*q < '0' || *q > '9')
        return false;
    for (; *q >= '0' && *q <= '9'; ++q) {
        if (number > (POSITION_CEILING - (*q - '0')) / 10)
            return false;
        number = number * 10 + (*q - '0');
    }
    *p = q;
    *value = number;
    return true;
}

static bool StartsWithBytesUnit(const char *p)
{
    const char unit[] = "bytes";
    for (int i = 0; unit[i] != '\0'; ++i)
        if ((p[i] | 0x20) != unit[i])
            return false;
    return p[5] == ' ' || p[5] == '\t';
}

long long ContentRangeStart(const char *value)
{
    const char *p = SkipSpaces(value);
    if (!StartsWithBytesUnit(p))
        return -1;
    p = SkipSpaces(p + 5);
    long long start, end;
    if (!ReadNumber(&p, &start))
        return -1;
    p = SkipSpaces(p);
    if (*p != '-')
        return -1;
    p = SkipSpaces(p + 1);
    if (!ReadNumber(&p, &end) || end < start)
        return -1;
    p = SkipSpaces(p);
    if (*p != '/')
        return -1;
    return start;
}

// --- HTTP dates ---------------------------------------------------------------------

static const char *const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

static bool IsAsciiLetter(char c) { return LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z'; }

// Reads the month's three-letter name at *p (any case) into *month (1 to 12).
static bool ReadMonth(const char **p, int *month)
{
    for (int m = 0; m < 12; ++m) {
        const char *name = kMonthNames[m];
        if (LowerAscii((*p)[0]) == LowerAscii(name[0]) && LowerAscii((*p)[1]) == LowerAscii(name[1]) &&
            LowerAscii((*p)[2]) == LowerAscii(name[2])) {
            *p += 3;
            *month = m + 1;
            return true;
        }
    }
    return false;
}

// Reads minDigits to maxDigits decimal digits at *p into *value.
static bool ReadDigits(const char **p, int minDigits, int maxDigits, int *value)
{
    int count = 0, number = 0;
    while (count < maxDigits && (*p)[count] >= '0' && (*p)[count] <= '9') {
        number = number * 10 + ((*p)[count] - '0');
        ++count;
    }
    if (count < minDigits)
        return false;
    *p += count;
    *value = number;
    return true;
}

static bool ReadChar(const char **p, char c)
{
    if (**p != c)
        return false;
    ++*p;
    return true;
}

// "HH:MM:SS", two digits each.
static bool ReadClock(const char **p, HttpDate *date)
{
    return ReadDigits(p, 2, 2, &date->hour) && ReadChar(p, ':') && ReadDigits(p, 2, 2, &date->minute) &&
           ReadChar(p, ':') && ReadDigits(p, 2, 2, &date->second);
}

// " GMT" or " UTC" and nothing but spaces after it.
static bool ReadZoneAndEnd(const char *p)
{
    p = SkipSpaces(p);
    bool zone = (LowerAscii(p[0]) == 'g' && LowerAscii(p[1]) == 'm' && LowerAscii(p[2]) == 't') ||
                (LowerAscii(p[0]) == 'u' && LowerAscii(p[1]) == 't' && LowerAscii(p[2]) == 'c');
    return zone && *SkipSpaces(p + 3) == '\0';
}

static bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

static bool FieldsExist(const HttpDate *date)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date->year < 1601 || date->year > 30827 || date->month < 1 || date->month > 12)
        return false;
    int monthDays = days[date->month - 1] + (date->month == 2 && IsLeapYear(date->year) ? 1 : 0);
    return date->day >= 1 && date->day <= monthDays && date->hour <= 23 && date->minute <= 59 &&
           date->second <= 59;
}

// After the weekday and ", ": "06 Nov 1994 08:49:37 GMT" or "06-Nov-94 08:49:37 GMT".
static bool ReadDayFirstForm(const char *p, HttpDate *date)
{
    if (!ReadDigits(&p, 1, 2, &date->day))
        return false;
    if (*p == '-') {
        ++p;
        if (!ReadMonth(&p, &date->month) || !ReadChar(&p, '-') || !ReadDigits(&p, 2, 2, &date->year))
            return false;
        date->year += date->year >= 70 ? 1900 : 2000;
    } else {
        p = SkipSpaces(p);
        if (!ReadMonth(&p, &date->month))
            return false;
        p = SkipSpaces(p);
        if (!ReadDigits(&p, 4, 5, &date->year))
            return false;
    }
    p = SkipSpaces(p);
    return ReadClock(&p, date) && ReadZoneAndEnd(p);
}

// After the weekday and a space: "Nov  6 08:49:37 1994".
static bool ReadMonthFirstForm(const char *p, HttpDate *date)
{
    if (!ReadMonth(&p, &date->month))
        return false;
    p = SkipSpaces(p);
    if (!ReadDigits(&p, 1, 2, &date->day))
        return false;
    p = SkipSpaces(p);
    if (!ReadClock(&p, date))
        return false;
    p = SkipSpaces(p);
    return ReadDigits(&p, 4, 5, &date->year) && *SkipSpaces(p) == '\0';
}

bool ParseHttpDate(const char *text, HttpDate *date)
{
    HttpDate fields = {0, 0, 0, 0, 0, 0};
    const char *p = SkipSpaces(text);
    const char *name = p;
    while (IsAsciiLetter(*p))
        ++p;
    if (p - name < 3)
        return false;
    bool read = *p == ',' ? ReadDayFirstForm(SkipSpaces(p + 1), &fields)
                          : *p == ' ' && ReadMonthFirstForm(SkipSpaces(p), &fields);
    if (!read || !FieldsExist(&fields))
        return false;
    *date = fields;
    return true;
}
