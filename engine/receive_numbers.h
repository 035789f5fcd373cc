// engine/receive_numbers.h — the portable numbers of a transfer.
// Percentage, throughput over the rate window, remaining time, animation period, the
// date year of an interrupted file, byte counts and Content-Range starts, the status texts
// of a transfer, the size a file system holds, the fields of an HTTP date.
#ifndef PARVEL_ENGINE_RECEIVE_NUMBERS_H
#define PARVEL_ENGINE_RECEIVE_NUMBERS_H

#include <stddef.h>

// Milliseconds between two showings of a transfer's progress; the throughput
// shown covers a window of at least this long.
#define PROGRESS_INTERVAL 50

// The highest integer rate, remaining time and percentage shown: larger values are cut here
// so that no conversion overflows whatever the sizes and times.
#define RATE_CEILING 2147483647L
#define PERCENT_CEILING 100

// Bytes per second over a window of windowBytes bytes received in
// elapsedTicks milliseconds, fraction cut off. When no time has passed the
// rate cannot be measured: previousRate (the last one shown) is kept.
long WindowRate(unsigned long long windowBytes, unsigned long elapsedTicks, long previousRate);

// Percentage of the expected size received, fraction cut off, at most 100
// (more bytes than announced show 100). 0 when no size was announced.
int ReceivedPercent(unsigned long long total, unsigned long long expected);

// Seconds still to come at the given rate, fraction cut off, at most
// RATE_CEILING; 0 when the rate is 0 (not measured yet) or nothing more is
// expected.
long RemainingSeconds(unsigned long long total, unsigned long long expected, long rate);

// Period of the busy animation in milliseconds for a transfer of unknown
// size: 5 x (65 - rate / 100), at least 0, plus 100.
long AnimationPeriodUnknownSize(long rate);

// Period for a known size: 5 x (50 - rate / 100) - 2 x percent, at least 0,
// plus 100.
long AnimationPeriodKnownSize(long rate, int percent);

// Position of the file progress bar (range 0 to 100) for an unknown size:
// the rate divided by 50, at most 100.
int UnknownSizeBarPosition(long rate);

// The year a received file's dates get: the server's year, or 1980 when the
// transfer was broken off by the user (the crawl state no longer running)
// on a server that cannot continue files, so that the next update check
// fetches the file again in full.
int StoredFileYear(int serverYear, int brokenOffByUser, int resumePossible);

// The first byte position of a Content-Range value "bytes S-E/T" (spaces
// allowed around the parts, the unit without case, T a number past E or "*");
// -1 when the text is not of that form or a position does not fit 63 bits.
long long ContentRangeStart(const char *value);

// The whole file's size T of such a value; -1 when it is "*" (unknown) or
// the text is not of that form.
long long ContentRangeTotal(const char *value);

// Reads a Content-Length value: decimal digits, spaces allowed around them.
// False for any other text and for a count that does not fit 63 bits.
bool ReadByteCount(const char *text, unsigned long long *count);

// What the status text and title of a transfer show after a read.
struct TransferFigures {
    unsigned long long total;    // bytes received so far
    unsigned long long expected; // bytes announced; 0 when none
    long rate;                   // bytes per second over the last window
};

// The status text: receivedFormat (string 11: name, bytes, rate) when no size
// was announced, else sizedFormat (string 12: name, bytes, size, percent, rate,
// minutes and seconds left). Byte counts are passed as long long.
void FormatTransferStatus(char *output, size_t size, const char *receivedFormat, const char *sizedFormat,
                          const char *name, const TransferFigures *figures);

// The title text: "<KB received>KB - name" without a size, "<percent>% - name" with one.
void FormatTransferTitle(char *output, size_t size, const char *name, const TransferFigures *figures);

// True when a file of the size cannot be stored on a file system of that name
// (as the system names it: "FAT32", "FAT", "NTFS" ...): FAT holds at most 4 GiB - 1.
bool TooBigForFileSystem(const char *fileSystemName, unsigned long long size);

// The fields of a date of Last-Modified, in GMT.
struct HttpDate {
    int year, month, day, hour, minute, second;
};

// Reads an HTTP date in one of its three forms: "Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT" (years 70 to 99 are 1970 to 1999,
// the others 2000 to 2069) and "Sun Nov  6 08:49:37 1994"; the weekday name
// is not checked. The zone may be GMT, UTC or UT, a numeric offset ("+0000",
// "+0900", "-0500": the date is moved to GMT) or missing (taken as GMT).
// False for any other text and for a date that does not exist or lies
// outside the years 1601 to 30827, which a file time cannot hold.
bool ParseHttpDate(const char *text, HttpDate *date);

// Size of a date text in the first of those forms, with its NUL (years up to 30827).
#define HTTP_DATE_SIZE 32

// Writes the date in the first form, "Sun, 06 Nov 1994 08:49:37 GMT"; weekday
// 0 is Sunday (as the system counts). False when a field is out of range.
bool FormatHttpDate(char *output, size_t size, const HttpDate *date, int weekday);

#endif
