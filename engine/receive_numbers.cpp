// engine/receive_numbers.cpp — the portable numbers of a transfer: rates, percentages, remaining time, animation periods, the 1980 rule and the Content-Range start.
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
