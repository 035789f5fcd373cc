// tests/unit/strings_test.cpp — cases for the string primitives.
// Prefix tests, extensions, scans, wild cards, ignore patterns.
#include "address/address.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

// Shift_JIS samples written as bytes, so the tests build with any compiler:
// "ソ" is 83 5C and "表" is 95 5C, whose trail bytes equal '\'.
#define SJIS_SO "\x83\x5C"
#define SJIS_HYO "\x95\x5C"
#define SJIS_A_FULL_SMALL "\x82\x81"  // ａ
#define SJIS_A_FULL_CAPITAL "\x82\x60" // Ａ

TEST(StartsWithNoCase, Cases)
{
    struct Case { const char *text, *prefix; bool expected; } cases[] = {
        {"HTTP://host/", "http://", true},
        {"ht", "http", false},
        {"abc", "", true},
        {"", "", true},
        {"", "a", false},
        {"*SET0" "1", "*set0", true},
        {SJIS_SO "a", SJIS_HYO "a", false},       // differ only in a double-byte character
        {SJIS_SO "abc", SJIS_SO "AB", true},
        {"\x83" "a", "\x83" "A", false},          // a lead byte makes a double-byte character: no folding
        {"a" SJIS_SO, "A" "\x83", false},          // half a character is not a prefix of the whole
    };
    for (const Case &c : cases)
        EXPECT_EQ(StartsWithNoCase(c.text, c.prefix), c.expected)
            << "text '" << c.text << "' prefix '" << c.prefix << "'";
}

TEST(FindExtension, Cases)
{
    struct Case { const char *name, *expected; size_t position; } cases[] = {
        {"file.html", ".html", 4},
        {"dir.d/file", "", 10},
        {"noext", "", 5},
        {"file.", ".", 4},
        {"a.cgi?x=1", "", 9},
        {"a.cgi?x=1.2", ".2", 9},
        {".htaccess", ".htaccess", 0},
        {"c:name", "", 6},
        {"dir\\x", "", 5},
        {"", "", 0},
    };
    for (const Case &c : cases) {
        char out[TEXT_SIZE] = "untouched";
        char *at = FindExtension(out, c.name);
        EXPECT_EQ((size_t)(at - c.name), c.position) << "name '" << c.name << "'";
        EXPECT_STREQ(at, c.expected) << "name '" << c.name << "'";
        EXPECT_STREQ(out, *c.expected ? c.expected : "untouched") << "name '" << c.name << "'";
    }
    EXPECT_STREQ(FindExtension(NULL, "x.gif"), ".gif");
}

TEST(FindExtension, LongExtensionIsCutToTheBuffer)
{
    std::string name = "a." + std::string(400, 'x');
    char out[TEXT_SIZE + 8];
    memset(out, 'Z', sizeof out);
    FindExtension(out, name.c_str());
    EXPECT_EQ(strlen(out), (size_t)TEXT_SIZE - 1);
    EXPECT_EQ(out[TEXT_SIZE], 'Z') << "wrote past the 260-byte buffer";
}

TEST(CopyUntil, Cases)
{
    struct Case { const char *text, *stops, *expected; int result; } cases[] = {
        {"a:b@c", ":@", "a", 0},
        {"a@b", ":@", "a", 1},
        {"abc", "x", "abc", -1},
        {"", "x", "", -1},
        {":x", ":", "", 0},
        {"abc", "", "abc", -1},
        {"host/path", "/", "host", 0},
    };
    for (const Case &c : cases) {
        char out[TEXT_SIZE];
        EXPECT_EQ(CopyUntil(out, c.text, c.stops), c.result) << "text '" << c.text << "' stops '" << c.stops << "'";
        EXPECT_STREQ(out, c.expected) << "text '" << c.text << "'";
    }
}

TEST(CopyUntil, StopsAfter259Bytes)
{
    std::string text(300, 'q');
    char out[TEXT_SIZE + 8];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(CopyUntil(out, text.c_str(), ":"), TEXT_TOO_LONG);
    EXPECT_EQ(std::string(out), std::string(259, 'q'));
    EXPECT_EQ(out[TEXT_SIZE], 'Z');
    // A text of exactly 259 bytes ends normally.
    EXPECT_EQ(CopyUntil(out, text.substr(0, 259).c_str(), ":"), -1);
    // A stop character right after 259 bytes is not reached.
    EXPECT_EQ(CopyUntil(out, (text.substr(0, 259) + ":").c_str(), ":"), TEXT_TOO_LONG);
}

TEST(ScanFor, Forward)
{
    const char *text = "host/dir/a.html?x#y";
    EXPECT_EQ(ScanFor(text, "", "/", 1) - text, 4);
    EXPECT_EQ(ScanFor(text + 5, "", "#?/", 1) - text, 8);
    EXPECT_EQ(ScanFor(text, "", "#?", 1) - text, 15);
    EXPECT_EQ(ScanFor(text, "", "", 1) - text, (long)strlen(text)); // nothing stops: the NUL
    EXPECT_EQ(ScanFor(text, "", "h", 1) - text, 0);                 // stop at the very first position
    const char *at = "user@host";
    EXPECT_EQ(ScanFor(at, "@", "@", 1) - at, 4);
    const char *page = "<head><TiTlE>x</title>";
    EXPECT_EQ(ScanFor(page, "</TITLE>", "", 1) - page, 14);          // keyword without case
    const char *empty = "";
    EXPECT_EQ(ScanFor(empty, "", "/", 1), empty);
}

TEST(ScanFor, ForwardStepsOverDoubleByteCharacters)
{
    // The trail byte 5C of "ソ" must not be found as '\'.
    const char *text = SJIS_SO "x\\y";
    EXPECT_EQ(ScanFor(text, "", "\\", 1) - text, 3);
}

TEST(ScanFor, ALeadByteNeverSwallowsAByteThatCannotEndACharacter)
{
    // Pages in UTF-8 or EUC-JP put bytes that code page 932 takes for lead
    // bytes directly before '<', quotes and spaces.
    struct Case { const char *text, *stops; long at; } cases[] = {
        {"\xe3\x80\x81<a href=x>", "<", 3},   // UTF-8 "、" then a tag
        {"\xa4\xe8<p>", "<", 2},               // EUC-JP: second byte E8 is a 932 lead byte
        {"\x82\"x\"", "\"", 1},                // lead byte before a quote
        {"\x82 src", " ", 1},
        {"\x82\x7f<", "<", 2},                 // 7F ends no character either
        {"\x82\xa0<", "<", 2},                 // a real pair is passed whole
        {"\x82\x5c<", "\\<", 2},              // its trail byte 5C is no '\\'
        {"\x82", "<", 1},                       // a lead byte last: the NUL
    };
    for (const Case &c : cases)
        EXPECT_EQ(ScanFor(c.text, "", c.stops, 1) - c.text, c.at) << "text: " << c.text << " stops: " << c.stops;
}

TEST(ScanFor, Backward)
{
    const char *text = "host/dir/file";
    EXPECT_EQ(ScanFor(text + 12, "", "/", 0) - text, 8);
    EXPECT_EQ(ScanFor(text + 8, "", "/", 0) - text, 8);
}

TEST(MatchWildcard, Cases)
{
    struct Case { const char *name, *pattern; bool expected; } cases[] = {
        {"photo.jpeg", "*.JP?G", true},
        {"x.gif", "*abc.GIF", true},
        {"abc.gif", "a*.gif", true},
        {"xbc.gif", "a*.gif", false},
        {"a.b.c", "*.*", true},
        {"noext", "*.*", true},
        {"x.tar.gz", "*.gz", false},
        {"README", "*", true},
        {"a.b", "*", false},
        {"dir/a.gif", "*.GIF", true},
        {"dir\\a.gif", "*.GIF", true},
        {"a", "??", false},
        {"ab", "??", true},
        {"a.gif", "*.GIF", true},
        {"a.b.gif", "*.GIF", false},
        {"a.gif?x=1", "*.GIF", false},
        {"index.html", "INDEX.*", true},
        {"index", "INDEX.*", false},
        {"index.html.bak", "INDEX.*", false},
        {"Index.HTML", "index.html", true},
        {"abc", "*.GIF", false},
        {"dir" SJIS_SO "index.html", "INDEX.*", false}, // the trail byte is no folder separator
        {SJIS_A_FULL_SMALL ".gif", SJIS_A_FULL_CAPITAL ".GIF", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MatchWildcard(c.name, c.pattern), c.expected)
            << "name '" << c.name << "' pattern '" << c.pattern << "'";
}

TEST(MatchWildcard, LongInputsAreCutNotOverrun)
{
    std::string name = std::string(500, 'a') + ".gif";
    EXPECT_FALSE(MatchWildcard(name.c_str(), "*.GIF")); // the copy ends before ".gif"
    EXPECT_TRUE(MatchWildcard(name.c_str(), "*"));
}

TEST(PassesIgnorePatterns, Cases)
{
    struct Case { const char *patterns, *file; bool expected; } cases[] = {
        {"*.GIF *.JPG", "a.gif", false},
        {"*.GIF *.JPG", "a.htm", true},
        {"*.GIF *.JPG", "b.JPG", false},
        {"  INDEX.* ", "index.html", false},
        {"", "anything.exe", true},
        {"   ", "x", true},
        {"*.GIF *.JPG *.JPEG *.EXE *.ZIP *.LZH *.CGI *.PL", "run.cgi", false},
        {"*.GIF *.JPG *.JPEG *.EXE *.ZIP *.LZH *.CGI *.PL", "run.cgi?a=1", true},
    };
    for (const Case &c : cases) {
        strcpy(g_ignorePatterns, c.patterns);
        EXPECT_EQ(PassesIgnorePatterns(c.file), c.expected)
            << "patterns '" << c.patterns << "' file '" << c.file << "'";
    }
    g_ignorePatterns[0] = '\0';
}

TEST(ToBackslashes, StepsByCharacters)
{
    char path[] = "C:/save/" SJIS_SO "/a/";
    ToBackslashes(path);
    EXPECT_STREQ(path, "C:\\save\\" SJIS_SO "\\a\\");
    char lone[] = "a\x83/";  // a lead byte takes the next byte as its trail
    ToBackslashes(lone);
    EXPECT_STREQ(lone, "a\x83/");
}
