// tests/unit/receive_numbers_test.cpp — the numbers of the receive loop.
// Rates without time, percentages past 100, remaining time, animation periods, the 1980
// rule, byte counts and Content-Range starts across 4 GiB, status texts, file system limits.
#include <gtest/gtest.h>

#include "engine/receive_numbers.h"

TEST(ReceiveNumbers, WindowRate)
{
    struct Case { unsigned long long bytes; unsigned long ticks; long previous, expected; } cases[] = {
        {5000, 1000, 0, 5000},
        {1500, 250, 0, 6000},
        {1, 3, 0, 333},             // fraction cut off
        {8192, 0, 0, 0},            // no time passed at the start: nothing measured yet
        {8192, 0, 4321, 4321},      // no time passed later: the last rate stays
        {0, 0, 0, 0},
        {0, 500, 77, 0},            // time but no bytes: 0
        {4294967295UL, 1, 0, RATE_CEILING}, // more than 31 bits per second is cut
        {4294967295UL, 4294967295UL, 0, 1000},
        {5368709120ULL, 5000, 0, 1073741824L},
    };
    for (const Case &c : cases)
        EXPECT_EQ(WindowRate(c.bytes, c.ticks, c.previous), c.expected)
            << c.bytes << " bytes in " << c.ticks << " ms, previous " << c.previous;
}

TEST(ReceiveNumbers, ReceivedPercent)
{
    struct Case { unsigned long long total, expected; int percent; } cases[] = {
        {0, 1000, 0},      {999, 1000, 99}, {1000, 1000, 100}, {1, 3, 33},
        {1200, 1000, 100}, // more bytes than announced: shown as 100
        {4294967295UL, 1, 100},
        {5, 0, 0},         // no size announced
        {2147483648UL, 4294967295UL, 50},
        {4294967295ULL, 5368709120ULL, 79}, {4294967296ULL, 5368709120ULL, 80},
        {4294967297ULL, 4294967296ULL, 100}, {5368709119ULL, 5368709120ULL, 99},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ReceivedPercent(c.total, c.expected), c.percent) << c.total << " of " << c.expected;
}

TEST(ReceiveNumbers, RemainingSeconds)
{
    struct Case { unsigned long long total, expected; long rate, seconds; } cases[] = {
        {0, 10000, 1000, 10},
        {2500, 10000, 1000, 7}, // 7.5 cut off
        {0, 4294967295UL, 100, 42949672L},
        {0, 4294967295UL, 1, RATE_CEILING}, // does not fit a 32-bit long: cut
        {4294967296ULL, 5368709120ULL, 1048576, 1024},
        {4294967295ULL, 4294967297ULL, 1, 2},
        {10000, 10000, 1000, 0},
        {12000, 10000, 1000, 0}, // more than announced: nothing left
        {0, 10000, 0, 0},        // rate not measured: no estimate
        {0, 10000, -5, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RemainingSeconds(c.total, c.expected, c.rate), c.seconds)
            << c.total << " of " << c.expected << " at " << c.rate;
}

TEST(ReceiveNumbers, AnimationPeriods)
{
    struct Unknown { long rate, period; } unknown[] = {
        {0, 425}, {99, 425}, {100, 420}, {3250, 265}, {6500, 100}, {6600, 100}, {RATE_CEILING, 100},
    };
    for (const Unknown &c : unknown)
        EXPECT_EQ(AnimationPeriodUnknownSize(c.rate), c.period) << "rate " << c.rate;
    struct Known { long rate; int percent; long period; } known[] = {
        {0, 0, 350}, {0, 50, 250}, {0, 100, 150}, {1000, 0, 300}, {5000, 0, 100},
        {2500, 50, 125}, {4000, 60, 100}, {RATE_CEILING, 100, 100},
    };
    for (const Known &c : known)
        EXPECT_EQ(AnimationPeriodKnownSize(c.rate, c.percent), c.period) << "rate " << c.rate << ", " << c.percent << "%";
}

TEST(ReceiveNumbers, UnknownSizeBarPosition)
{
    struct Case { long rate; int position; } cases[] = {
        {0, 0}, {49, 0}, {50, 1}, {2500, 50}, {5000, 100}, {RATE_CEILING, 100},
    };
    for (const Case &c : cases)
        EXPECT_EQ(UnknownSizeBarPosition(c.rate), c.position) << "rate " << c.rate;
}

TEST(ReceiveNumbers, StoredFileYear)
{
    struct Case { int year, brokenOff, resume, stored; } cases[] = {
        {2003, 0, 0, 2003}, // finished or timed out: the server's year
        {2003, 0, 1, 2003},
        {2003, 1, 0, 1980}, // stopped or skipped on a server that cannot continue
        {2003, 1, 1, 2003}, // stopped on one that can: the next run continues it
    };
    for (const Case &c : cases)
        EXPECT_EQ(StoredFileYear(c.year, c.brokenOff, c.resume), c.stored)
            << c.year << " broken off " << c.brokenOff << " resume " << c.resume;
}

TEST(ReceiveNumbers, ContentRangeStartAndTotal)
{
    struct Case { const char *value; long long start, total; } cases[] = {
        {"bytes 7500-11999/12000", 7500, 12000},
        {"bytes 0-9/10", 0, 10},
        {"BYTES 100-199/*", 100, -1},
        {"  bytes  42 - 99 / 100 ", 42, 100},
        {"bytes 4294967294-4294967294/4294967295", 4294967294LL, 4294967295LL},
        {"bytes 4294967295-4294967297/4294967298", 4294967295LL, 4294967298LL},
        {"bytes 4294967296-4294967297/4294967298", 4294967296LL, 4294967298LL},
        {"bytes 4831849365-5368709119/5368709120", 4831849365LL, 5368709120LL},
        {"bytes 9223372036854775807-9223372036854775807/*", 9223372036854775807LL, -1},
        {"bytes 9223372036854775808-9223372036854775808/*", -1, -1}, // beyond 63 bits
        {"bytes 0-9/99999999999999999999", -1, -1},
        {"bytes */12000", -1, -1},                          // the answer of an unsatisfiable range
        {"bytes 200-100/300", -1, -1},
        {"bytes 0-9/9", -1, -1},                            // the total must hold the range
        {"bytes 0-9/10x", -1, -1},
        {"bytes 0-9/", -1, -1},
        {"bytes 5-/10", -1, -1},
        {"bytes=5-9/10", -1, -1},
        {"items 5-9/10", -1, -1},
        {"bytes 5-9", -1, -1},
        {"", -1, -1},
        {"bytes99999999999999999999-1/2", -1, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ContentRangeStart(c.value), c.start) << "'" << c.value << "'";
        EXPECT_EQ(ContentRangeTotal(c.value), c.total) << "'" << c.value << "'";
    }
}

TEST(ReceiveNumbers, ReadByteCount)
{
    struct Case { const char *text; bool read; unsigned long long count; } cases[] = {
        {"12000", true, 12000}, {" 0 ", true, 0}, {"4294967295", true, 4294967295ULL},
        {"4294967296", true, 4294967296ULL}, {"5368709120", true, 5368709120ULL},
        {"9223372036854775807", true, 9223372036854775807ULL},
        {"9223372036854775808", false, 0}, {"", false, 0}, {"-1", false, 0}, {"12 34", false, 0}, {"1e9", false, 0},
    };
    for (const Case &c : cases) {
        unsigned long long count = 0;
        EXPECT_EQ(ReadByteCount(c.text, &count), c.read) << "'" << c.text << "'";
        EXPECT_EQ(count, c.count) << "'" << c.text << "'";
    }
}

// The formats of strings 11 and 12 of the string table.
static const char RECEIVED[] = "%s : %lldバイト受信済み\n効率%ldバイト/秒";
static const char RECEIVED_OF[] = "%s : サイズ %lld/%lld %d％受信済み\n効率%ldバイト/秒 残り%ld分%ld秒";

TEST(ReceiveNumbers, TransferTextsAcross4GiB)
{
    struct Case { TransferFigures figures; const char *status, *title; } cases[] = {
        {{3000, 0, 1500}, "a : 3000バイト受信済み\n効率1500バイト/秒", "2KB - a"},
        {{1000, 3000, 1000}, "a : サイズ 1000/3000 33％受信済み\n効率1000バイト/秒 残り0分2秒", "33% - a"},
        {{2147483647ULL, 0, 0}, "a : 2147483647バイト受信済み\n効率0バイト/秒", "2097151KB - a"},
        {{4294967296ULL, 0, 0}, "a : 4294967296バイト受信済み\n効率0バイト/秒", "4194304KB - a"},
        {{4294967296ULL, 5368709120ULL, 1048576},
         "a : サイズ 4294967296/5368709120 80％受信済み\n効率1048576バイト/秒 残り17分4秒", "80% - a"},
        {{5368709120ULL, 5368709120ULL, 2147483647L},
         "a : サイズ 5368709120/5368709120 100％受信済み\n効率2147483647バイト/秒 残り0分0秒", "100% - a"},
    };
    for (const Case &c : cases) {
        char status[260], title[260];
        FormatTransferStatus(status, sizeof status, RECEIVED, RECEIVED_OF, "a", &c.figures);
        FormatTransferTitle(title, sizeof title, "a", &c.figures);
        EXPECT_STREQ(status, c.status) << c.figures.total << " of " << c.figures.expected;
        EXPECT_STREQ(title, c.title) << c.figures.total << " of " << c.figures.expected;
    }
}

TEST(ReceiveNumbers, TooBigForFileSystem)
{
    struct Case { const char *fileSystem; unsigned long long size; bool tooBig; } cases[] = {
        {"FAT32", 4294967295ULL, false}, {"FAT32", 4294967296ULL, true}, {"FAT32", 5368709120ULL, true},
        {"fat32", 4294967297ULL, true},  {"FAT", 4294967296ULL, true},    {"NTFS", 5368709120ULL, false},
        {"exFAT", 5368709120ULL, false}, {"", 5368709120ULL, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TooBigForFileSystem(c.fileSystem, c.size), c.tooBig) << c.fileSystem << " " << c.size;
}

TEST(ReceiveNumbers, ParseHttpDate)
{
    struct Case { const char *text; bool read; HttpDate date; } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", true, {1994, 11, 6, 8, 49, 37}},
        {"Sunday, 06-Nov-94 08:49:37 GMT", true, {1994, 11, 6, 8, 49, 37}},
        {"Sun Nov  6 08:49:37 1994", true, {1994, 11, 6, 8, 49, 37}},
        {"Monday, 01-Jan-01 00:00:00 GMT", true, {2001, 1, 1, 0, 0, 0}},
        {"  mon, 1 jan 2001 00:00:00 utc  ", true, {2001, 1, 1, 0, 0, 0}},
        {"Fri, 31 Dec 9999 23:59:59 GMT", true, {9999, 12, 31, 23, 59, 59}},
        {"Tue, 29 Feb 2000 12:00:00 GMT", true, {2000, 2, 29, 12, 0, 0}},
        {"Mon, 01 Jan 1601 00:00:00 GMT", true, {1601, 1, 1, 0, 0, 0}},
        {"Sun, 31 Dec 30827 23:59:59 GMT", true, {30827, 12, 31, 23, 59, 59}},
        {"Mon, 01 Jan 30828 00:00:00 GMT", false, {}}, // beyond a file time
        {"Sun, 31 Dec 1600 23:59:59 GMT", false, {}},
        {"Thu, 29 Feb 2001 00:00:00 GMT", false, {}},  // no such day
        {"Thu, 29 Feb 1900 00:00:00 GMT", false, {}},
        {"Blursday, 32 Foo 20x9 25:61:61 GMT", false, {}},
        {"Sat, 32 Jan 2000 00:00:00 GMT", false, {}},
        {"Sat, 01 Jan 2000 24:00:00 GMT", false, {}},
        {"Sat, 01 Jan 2000 23:60:00 GMT", false, {}},
        {"Sat, 01 Jan 2000", false, {}},
        {"Sat, 01 Jan 2000 00:00:00", true, {2000, 1, 1, 0, 0, 0}},  // no zone: GMT
        {"Sat, 01 Jan 2000 10:20:30 +0000", true, {2000, 1, 1, 10, 20, 30}},
        {"Sat, 01 Jan 2000 10:20:30 -0000", true, {2000, 1, 1, 10, 20, 30}},
        {"Sat, 01 Jan 2000 10:20:30 UT", true, {2000, 1, 1, 10, 20, 30}},
        {"Sat, 01 Jan 2000 08:20:30 +0900", true, {1999, 12, 31, 23, 20, 30}},
        {"Tue, 28 Feb 2000 23:50:00 -0130", true, {2000, 2, 29, 1, 20, 0}},
        {"Sun, 31 Dec 2000 22:00:00 -0200", true, {2001, 1, 1, 0, 0, 0}},
        {"Mon, 01 Jan 1601 00:00:00 +0100", false, {}}, // before 1601 in GMT
        {"Sat, 01 Jan 2000 00:00:00 +2400", false, {}},
        {"Sat, 01 Jan 2000 00:00:00 +0960", false, {}},
        {"Sat, 01 Jan 2000 00:00:00 +900", false, {}},
        {"Sat, 01 Jan 2000 00:00:00 GMTX", false, {}},
        {"Sunday, 06-Nov-94 08:49:37 +0000", true, {1994, 11, 6, 8, 49, 37}},
        {"Sat, 01 Jan 2000 00:00:00 GMT+9", false, {}},
        {"Sat, 01 Jan 2000 00:00:00 JST", false, {}},
        {"Sat, 01 Xyz 2000 00:00:00 GMT", false, {}},
        {"Sat, 01 Jan 99999999999 00:00:00 GMT", false, {}},
        {"Sat, 01 Jan 2000 0:0:0 GMT", false, {}},
        {"Sun Nov  6 08:49:37", false, {}},
        {"Sun Nov  6 08:49:37 1994 x", false, {}},
        {"garbage", false, {}},
        {"", false, {}},
        {"978307200", false, {}},
    };
    for (const Case &c : cases) {
        HttpDate date = {-1, -1, -1, -1, -1, -1};
        bool read = ParseHttpDate(c.text, &date);
        EXPECT_EQ(read, c.read) << "'" << c.text << "'";
        if (c.read && read) {
            EXPECT_EQ(date.year, c.date.year) << c.text;
            EXPECT_EQ(date.month, c.date.month) << c.text;
            EXPECT_EQ(date.day, c.date.day) << c.text;
            EXPECT_EQ(date.hour, c.date.hour) << c.text;
            EXPECT_EQ(date.minute, c.date.minute) << c.text;
            EXPECT_EQ(date.second, c.date.second) << c.text;
        } else if (!read) {
            EXPECT_EQ(date.year, -1) << "left unchanged: '" << c.text << "'";
        }
    }
}

TEST(ReceiveNumbers, FormatHttpDate)
{
    struct Case { HttpDate date; int weekday; const char *text; } cases[] = {
        {{1994, 11, 6, 8, 49, 37}, 0, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {{2001, 2, 3, 4, 5, 6}, 6, "Sat, 03 Feb 2001 04:05:06 GMT"},
        {{30827, 12, 31, 23, 59, 59}, 0, "Sun, 31 Dec 30827 23:59:59 GMT"},
        {{2000, 13, 1, 0, 0, 0}, 6, NULL},
        {{1600, 12, 31, 0, 0, 0}, 0, NULL},
        {{2000, 1, 1, 0, 0, 0}, 7, NULL},
    };
    for (const Case &c : cases) {
        char text[HTTP_DATE_SIZE] = "";
        bool written = FormatHttpDate(text, sizeof text, &c.date, c.weekday);
        EXPECT_EQ(written, c.text != NULL) << c.date.year << "-" << c.date.month << " weekday " << c.weekday;
        if (c.text != NULL)
            EXPECT_STREQ(text, c.text);
    }
}
