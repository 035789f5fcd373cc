// tests/unit/text_test.cpp — cases for copying, appending and formatting into sized buffers.
#include "address/text.h"

#include <gtest/gtest.h>
#include <string.h>

// "ソ" (83 5C) and "表" (95 5C) in Shift_JIS, written as bytes.
#define SJIS_SO "\x83\x5C"
#define SJIS_HYO "\x95\x5C"

// Fills a buffer with 'Z' so that a write past size shows.
static void Prefill(char *out, size_t length, const char *start)
{
    memset(out, 'Z', length);
    memcpy(out, start, strlen(start) + 1);
}

TEST(CopyText, KeepsWholeCharactersAndTellsWhetherAllFitted)
{
    struct Case { const char *text; size_t size; const char *expected; bool fits; } cases[] = {
        {"abc", 10, "abc", true},
        {"abc", 4, "abc", true},                 // exact fit
        {"abc", 3, "ab", false},                 // one byte short
        {"a" SJIS_SO "b", 3, "a", false},        // "ソ" does not fit whole after 'a'
        {"a" SJIS_SO "b", 4, "a" SJIS_SO, false},
        {SJIS_SO SJIS_HYO, 4, SJIS_SO, false},
        {SJIS_SO SJIS_HYO, 5, SJIS_SO SJIS_HYO, true},
        {"xyz", 1, "", false},
        {"", 1, "", true},
        {"a\x83", 10, "a\x83", true},            // a lone lead byte at the end is one character
    };
    for (const Case &c : cases) {
        char out[16];
        Prefill(out, sizeof out, "");
        bool fits = CopyText(out, c.size, c.text);
        EXPECT_STREQ(out, c.expected) << "text '" << c.text << "' size " << c.size;
        EXPECT_EQ(fits, c.fits) << "text '" << c.text << "' size " << c.size;
        EXPECT_EQ(out[c.size], 'Z') << "wrote past the buffer for '" << c.text << "'";
    }
}

TEST(CopyTextRange, CopiesTheBytesUpToEnd)
{
    struct Case { const char *text; size_t begin, end, size; const char *expected; bool fits; } cases[] = {
        {"host/dir/", 0, 4, 10, "host", true},
        {"host/dir/", 4, 9, 6, "/dir/", true},   // exact fit
        {"host/dir/", 4, 9, 5, "/dir", false},
        {"a" SJIS_SO "/", 0, 3, 3, "a", false},  // the cut falls inside "ソ"
        {"a\x83/", 0, 2, 10, "a\x83", true},     // a lead byte just before end counts alone
        {"abc", 2, 2, 4, "", true},
    };
    for (const Case &c : cases) {
        char out[16];
        Prefill(out, sizeof out, "");
        bool fits = CopyTextRange(out, c.size, c.text + c.begin, c.text + c.end);
        EXPECT_STREQ(out, c.expected) << "'" << c.text << "' [" << c.begin << "," << c.end << ") size " << c.size;
        EXPECT_EQ(fits, c.fits) << "'" << c.text << "' [" << c.begin << "," << c.end << ") size " << c.size;
        EXPECT_EQ(out[c.size], 'Z') << "wrote past the buffer for '" << c.text << "'";
    }
}

TEST(AppendText, AddsBehindWhatTheBufferHolds)
{
    struct Case { const char *held, *text; size_t size; const char *expected; bool fits; } cases[] = {
        {"C:\\save", "\\a", 10, "C:\\save\\a", true},   // exact fit
        {"C:\\save", "\\ab", 10, "C:\\save\\a", false},  // one byte short
        {"abc", "d", 4, "abc", false},                  // onto a full buffer
        {"abc", "", 4, "abc", true},
        {"ab", SJIS_SO, 4, "ab", false},                // "ソ" would be cut
        {"", SJIS_HYO "x", 3, SJIS_HYO, false},
    };
    for (const Case &c : cases) {
        char out[16];
        Prefill(out, sizeof out, c.held);
        bool fits = AppendText(out, c.size, c.text);
        EXPECT_STREQ(out, c.expected) << "'" << c.held << "' + '" << c.text << "' size " << c.size;
        EXPECT_EQ(fits, c.fits) << "'" << c.held << "' + '" << c.text << "' size " << c.size;
        EXPECT_EQ(out[c.size], 'Z') << "wrote past the buffer for '" << c.held << "'";
    }
}

TEST(AppendText, RefusesABufferWithoutItsEnd)
{
    char out[8];
    memset(out, 'Z', sizeof out);
    EXPECT_FALSE(AppendText(out, 4, "a"));
    EXPECT_EQ(memcmp(out, "ZZZZZZZZ", sizeof out), 0);
}

TEST(FormatText, FillsAndCutsToWholeCharacters)
{
    struct Case { const char *argument; size_t size; const char *expected; bool fits; } cases[] = {
        {"abc", 16, "[abc] 7", true},
        {"abc", 8, "[abc] 7", true},              // exact fit
        {"abc", 7, "[abc] ", false},              // one byte short
        {"ab" SJIS_SO, 5, "[ab", false},          // the cut falls inside "ソ"
        {"ab" SJIS_SO, 6, "[ab" SJIS_SO, false},
        {SJIS_HYO SJIS_SO, 5, "[" SJIS_HYO, false},
        {"abcdefghijklmnopqrstuvwxyz", 4, "[ab", false},
    };
    for (const Case &c : cases) {
        char out[32];
        Prefill(out, sizeof out, "");
        bool fits = FormatText(out, c.size, "[%s] %d", c.argument, 7);
        EXPECT_STREQ(out, c.expected) << "argument '" << c.argument << "' size " << c.size;
        EXPECT_EQ(fits, c.fits) << "argument '" << c.argument << "' size " << c.size;
        EXPECT_EQ(out[c.size], 'Z') << "wrote past the buffer for '" << c.argument << "'";
    }
}
