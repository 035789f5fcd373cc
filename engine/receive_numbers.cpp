// engine/receive_numbers.cpp — the portable numbers of a transfer.
// Rates, percentages, remaining time, animation periods, the 1980 rule, byte counts,
// the Content-Range start, the status texts, file system limits and the HTTP date reader.
#include "engine/receive_numbers.h"

#include <string.h>

#include "address/text.h"
#include "address/textcalls.h"

long WindowRate(unsigned long long windowBytes, unsigned long elapsedTicks, long previousRate)
{
    if (elapsedTicks == 0)
        return previousRate;
    double rate = (double)windowBytes / ((double)elapsedTicks * 0.001);
    return rate >= (double)RATE_CEILING ? RATE_CEILING : (long)rate;
}

int ReceivedPercent(unsigned long long total, unsigned long long expected)
{
    if (expected == 0)
        return 0;
    double percent = (double)total / (double)expected * 100.0;
    return percent >= PERCENT_CEILING ? PERCENT_CEILING : (int)percent;
}

long RemainingSeconds(unsigned long long total, unsigned long long expected, long rate)
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

// The largest byte position or count read: what a signed 64-bit number holds.
static const long long POSITION_CEILING = 9223372036854775807LL;

// Reads the decimal digits at *p (at least one) into *value, moving *p past
// them; false when there are none or the number passes 63 bits.
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

// Reads a Content-Range value "bytes S-E/T" into its positions; total is -1
// for an unknown one ("*"). False when the text is not of that form.
static bool ReadContentRange(const char *value, long long *start, long long *total)
{
    const char *p = SkipSpaces(value);
    if (!StartsWithBytesUnit(p))
        return false;
    p = SkipSpaces(p + 5);
    long long end;
    if (!ReadNumber(&p, start))
        return false;
    p = SkipSpaces(p);
    if (*p != '-')
        return false;
    p = SkipSpaces(p + 1);
    if (!ReadNumber(&p, &end) || end < *start)
        return false;
    p = SkipSpaces(p);
    if (*p != '/')
        return false;
    p = SkipSpaces(p + 1);
    *total = -1;
    if (*p == '*')
        ++p;
    else if (!ReadNumber(&p, total) || *total <= end)
        return false;
    return *SkipSpaces(p) == '\0';
}

long long ContentRangeStart(const char *value)
{
    long long start, total;
    return ReadContentRange(value, &start, &total) ? start : -1;
}

long long ContentRangeTotal(const char *value)
{
    long long start, total;
    return ReadContentRange(value, &start, &total) ? total : -1;
}

bool ReadByteCount(const char *text, unsigned long long *count)
{
    const char *p = SkipSpaces(text);
    long long value;
    if (!ReadNumber(&p, &value) || *SkipSpaces(p) != '\0')
        return false;
    *count = (unsigned long long)value;
    return true;
}

// --- Status texts ---------------------------------------------------------------------

void FormatTransferStatus(char *output, size_t size, const char *receivedFormat, const char *sizedFormat,
                          const char *name, const TransferFigures *f)
{
    if (f->expected == 0) {
        FormatText(output, size, receivedFormat, name, (long long)f->total, f->rate);
        return;
    }
    long remaining = RemainingSeconds(f->total, f->expected, f->rate);
    FormatText(output, size, sizedFormat, name, (long long)f->total, (long long)f->expected,
               ReceivedPercent(f->total, f->expected), f->rate, remaining / 60, remaining % 60);
}

void FormatTransferTitle(char *output, size_t size, const char *name, const TransferFigures *f)
{
    if (f->expected == 0)
        FormatText(output, size, "%lluKB - %s", f->total / 1024, name);
    else
        FormatText(output, size, "%d%% - %s", ReceivedPercent(f->total, f->expected), name);
}

// --- File system limits -----------------------------------------------------------------

// The largest file a file system of that name holds; 0 when it sets no limit below 64 bits.
static unsigned long long LargestFileOn(const char *fileSystemName)
{
    // FAT keeps a file's size in 32 bits.
    if (CompareNoCase(fileSystemName, "FAT32") == 0 || CompareNoCase(fileSystemName, "FAT") == 0)
        return 4294967295ULL;
    return 0;
}

bool TooBigForFileSystem(const char *fileSystemName, unsigned long long size)
{
    unsigned long long largest = LargestFileOn(fileSystemName);
    return largest != 0 && size > largest;
}

// --- HTTP dates ---------------------------------------------------------------------

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

static bool IsAsciiLetter(char c) { return LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z'; }

// True when the length letters at p spell name (lower case), in any case.
static bool NamesMatch(const char *p, const char *name, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (LowerAscii(p[i]) != name[i])
            return false;
    return true;
}

// Reads the month's three-letter name at *p (any case) into *month (1 to 12).
static bool ReadMonth(const char **p, int *month)
{
    static const char *const MONTH_NAMES[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                              "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int m = 0; m < 12; ++m) {
        if (NamesMatch(*p, MONTH_NAMES[m], 3)) {
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

// Reads the zone at p, after which only spaces may follow: "GMT", "UTC",
// "UT" or "Z" (any case), a numeric offset "+hhmm" or "-hhmm", or nothing,
// which servers that leave the zone out mean as GMT. *offset receives the
// zone's minutes east of GMT.
static bool ReadZoneAndEnd(const char *p, int *offset)
{
    static const char *const GMT_NAMES[] = {"gmt", "utc", "ut", "z"};
    p = SkipSpaces(p);
    *offset = 0;
    if (*p == '+' || *p == '-') {
        int sign = *p == '-' ? -1 : 1, hhmm = 0;
        ++p;
        if (!ReadDigits(&p, 4, 4, &hhmm) || hhmm / 100 > 23 || hhmm % 100 > 59)
            return false;
        *offset = sign * (hhmm / 100 * 60 + hhmm % 100);
    } else if (IsAsciiLetter(*p)) {
        size_t length = 0;
        while (IsAsciiLetter(p[length]))
            ++length;
        bool known = false;
        for (const char *name : GMT_NAMES)
            known = known || (strlen(name) == length && NamesMatch(p, name, length));
        if (!known)
            return false;
        p += length;
    }
    return *SkipSpaces(p) == '\0';
}

// Days from 1 March of the year 0 to the date of the Gregorian calendar
// (positive for every year a file time holds).
static long long DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    long long era = year / 400, yearOfEra = year - era * 400;
    long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra;
}

// The date of the Gregorian calendar that lies days after 1 March of the year 0.
static void CivilFromDays(long long days, HttpDate *date)
{
    long long era = days / 146097, dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long shifted = (5 * dayOfYear + 2) / 153;
    date->day = (int)(dayOfYear - (153 * shifted + 2) / 5 + 1);
    date->month = (int)(shifted < 10 ? shifted + 3 : shifted - 9);
    date->year = (int)(yearOfEra + era * 400 + (date->month <= 2));
}

// Moves a date given in a zone offset minutes east of GMT to GMT.
static void MoveToGmt(HttpDate *date, int offset)
{
    long long minutes = DaysFromCivil(date->year, date->month, date->day) * 1440 + date->hour * 60 +
                        date->minute - offset;
    CivilFromDays(minutes / 1440, date);
    date->hour = (int)(minutes % 1440 / 60);
    date->minute = (int)(minutes % 60);
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
static bool ReadDayFirstForm(const char *p, HttpDate *date, int *offset)
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
    return ReadClock(&p, date) && ReadZoneAndEnd(p, offset);
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
    int offset = 0;
    bool read = *p == ',' ? ReadDayFirstForm(SkipSpaces(p + 1), &fields, &offset)
                          : *p == ' ' && ReadMonthFirstForm(SkipSpaces(p), &fields);
    if (!read || !FieldsExist(&fields))
        return false;
    MoveToGmt(&fields, offset);
    if (!FieldsExist(&fields))
        return false;
    *date = fields;
    return true;
}

bool FormatHttpDate(char *output, size_t size, const HttpDate *date, int weekday)
{
    static const char *const DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const MONTH_TITLES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (weekday < 0 || weekday > 6 || date->month < 1 || date->month > 12 || date->year < 1601 ||
        date->year > 30827)
        return false;
    return FormatText(output, size, "%s, %02d %s %04d %02d:%02d:%02d GMT", DAY_NAMES[weekday], date->day,
                      MONTH_TITLES[date->month - 1], date->year, date->hour, date->minute, date->second);
}
