// tests/unit/title_test.cpp — titles and start-list files in Japanese encodings.
// Titles in 7-bit JIS, EUC-JP, Shift_JIS and UTF-8 and start-list files in Shift_JIS,
// UTF-8 and UTF-16: detection, conversion into Shift_JIS, character references, and the
// start page's title taken as its shortcut's name.
#include "page/page.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "tests/unit/page_test_support.h"

// "日本語" and "ホーム表示" in each encoding, written as bytes.
#define SJIS_NIHONGO "\x93\xFA\x96\x7B\x8C\xEA"
#define EUC_NIHONGO "\xC6\xFC\xCB\xDC\xB8\xEC"
#define JIS_B_NIHONGO "\x1B$BF|K\\8l\x1B(B"
#define JIS_AT_NIHONGO "\x1B$@F|K\\8l\x1B(@"
#define SJIS_HOME_HYOJI "\x83\x7A\x81\x5B\x83\x80\x95\x5C\x8E\xA6"
#define EUC_HOME_HYOJI "\xA5\xDB\xA1\xBC\xA5\xE0\xC9\xBD\xBC\xA8"
#define JIS_HOME_HYOJI "\x1B$B%[!<%`I=<(\x1B(B"
#define SJIS_NICHI "\x93\xFA"
#define UTF8_NIHONGO "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"
#define SJIS_NIHONGO_2 "\x93\xFA\x96\x7B" // "日本"
// Half-width "ｶﾀｶﾅ" and "ﾘﾝｸ集" in Shift_JIS: the first also reads as two
// EUC-JP kanji, the second as one before bytes EUC-JP has no use for.
#define SJIS_KATAKANA "\xB6\xC0\xB6\xC5"
#define SJIS_LINK_SHU "\xD8\xDD\xB8\x8F\x57"

static std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

TEST(TitleToShiftJis, TheThreeEncodingsGiveTheSameText)
{
    struct Case { const char *source; int encoding; const char *expected; } cases[] = {
        {"Top " SJIS_NIHONGO, ENCODING_SHIFT_JIS, "Top " SJIS_NIHONGO},
        {"Top " EUC_NIHONGO, ENCODING_EUC, "Top " SJIS_NIHONGO},
        {"Top " JIS_B_NIHONGO " page", ENCODING_JIS_B, "Top " SJIS_NIHONGO " page"},
        {"Top " JIS_AT_NIHONGO, ENCODING_JIS_AT, "Top " SJIS_NIHONGO},
        {SJIS_HOME_HYOJI, ENCODING_SHIFT_JIS, SJIS_HOME_HYOJI},
        {EUC_HOME_HYOJI, ENCODING_EUC, SJIS_HOME_HYOJI},
        {JIS_HOME_HYOJI, ENCODING_JIS_B, SJIS_HOME_HYOJI},
        {"plain ascii", ENCODING_SHIFT_JIS, "plain ascii"},
        {"", ENCODING_SHIFT_JIS, ""},
        // EUC-JP half-width katakana (single shift 8E) become one byte.
        {"\x8E\xB1" EUC_NIHONGO, ENCODING_EUC, "\xB1" SJIS_NIHONGO},
        // UTF-8: kanji, "ソ" (trail byte 5C), half-width "ｱ", a character Shift_JIS
        // lacks ("é" and an emoji become '?'), and a character cut at the end.
        {"Top " UTF8_NIHONGO, ENCODING_UTF8, "Top " SJIS_NIHONGO},
        {"\xE3\x82\xBD\xEF\xBD\xB1", ENCODING_UTF8, "\x83\x5C\xB1"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80!", ENCODING_UTF8, "caf? ?!"},
        {UTF8_NIHONGO "\xE6\x97", ENCODING_UTF8, SJIS_NIHONGO},
    };
    for (const Case &c : cases) {
        char out[LINK_BUFFER_SIZE];
        EXPECT_EQ(TitleToShiftJis(c.source, out), c.encoding) << Hex(c.source);
        EXPECT_EQ(Hex(out), Hex(c.expected)) << Hex(c.source);
    }
}

TEST(TitleToShiftJis, HalfWidthKatakanaIsNotTakenForEucJp)
{
    struct Case { const char *source; int encoding; const char *expected; } cases[] = {
        {SJIS_KATAKANA, ENCODING_SHIFT_JIS, SJIS_KATAKANA},
        {SJIS_LINK_SHU, ENCODING_SHIFT_JIS, SJIS_LINK_SHU},
        {SJIS_NIHONGO SJIS_KATAKANA, ENCODING_SHIFT_JIS, SJIS_NIHONGO SJIS_KATAKANA},
        // "｢ﾘﾝｸ｣": A2 D8 is no EUC-JP character.
        {"\xA2\xD8\xDD\xB8\xA3", ENCODING_SHIFT_JIS, "\xA2\xD8\xDD\xB8\xA3"},
        {SJIS_KATAKANA "</TITLE><p>", ENCODING_SHIFT_JIS, SJIS_KATAKANA "</TITLE><p>"},
        // "テスト" in EUC-JP has only bytes of half-width katakana, but kana of its own.
        {"\xA5\xC6\xA5\xB9\xA5\xC8", ENCODING_EUC, "\x83\x65\x83\x58\x83\x67"},
        {"\xEF\xBD\xB6\xEF\xBE\x80\xEF\xBD\xB6\xEF\xBE\x85", ENCODING_UTF8, SJIS_KATAKANA},
    };
    for (const Case &c : cases) {
        char out[LINK_BUFFER_SIZE];
        EXPECT_EQ(TitleToShiftJis(c.source, out), c.encoding) << Hex(c.source);
        EXPECT_EQ(Hex(out), Hex(c.expected)) << Hex(c.source);
    }
}

TEST(DetectJapaneseEncoding, Cases)
{
    struct Case { const char *text; int expected; } cases[] = {
        // Shift_JIS and EUC-JP text is no well-formed UTF-8; nor are overlong
        // forms, surrogates and a character cut before the text goes on.
        {SJIS_HOME_HYOJI, ENCODING_SHIFT_JIS},
        {EUC_HOME_HYOJI, ENCODING_EUC},
        {"\xC0\xAF overlong", ENCODING_SHIFT_JIS}, // half-width "ﾀｯ"
        {"\xED\xA0\x80 surrogate", ENCODING_EUC},
        {"\xE6\x97 cut inside", ENCODING_SHIFT_JIS},
        {"\x1B(B then \x1B$B", ENCODING_JIS_B},          // both sequences, in either order
        {"\x1B$@x\x1B(@ and \x1B$Bx\x1B(B", ENCODING_JIS_B}, // pair 0 is tried first
        {"\x1B$Bonly kanji-in", ENCODING_SHIFT_JIS},
        // Texts that neither encoding reads throughout (0x80 is in neither)
        // go by the share of pairs with a second byte from 0xA0 on.
        {"\x80\xA4\xA2\xA4\xA2\xE0\x40\xE0\x40\xE0\x40", ENCODING_EUC}, // 2 / 3 = 0.67
        {"\x80\xA4\xA2\xE0\x40\xE0\x40", ENCODING_SHIFT_JIS},         // 1 / 2 = 0.5
        {"\x80\xA4\xA2\xA4\xA2\xA4\xA2\xE0\x40\xE0\x40\xE0\x40\xE0\x40\xE0\x40", ENCODING_EUC}, // 0.6
        {"\xA4\xA2", ENCODING_EUC},
        {"\xA4", ENCODING_SHIFT_JIS},                // a high byte before the NUL is a Shift_JIS pair
        {"\xA4\xA2\xA4", ENCODING_EUC},              // 1 / 1
        {"\x93\xFA", ENCODING_SHIFT_JIS},            // lead byte below 0xA0: not counted
        {"abc", ENCODING_SHIFT_JIS},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DetectJapaneseEncoding(c.text), c.expected) << Hex(c.text);
}

TEST(ConvertToShiftJis, BrokenInputEndsTheText)
{
    struct Case { const char *source; int encoding; const char *expected; } cases[] = {
        {EUC_NIHONGO "\xA4", ENCODING_EUC, SJIS_NIHONGO},              // lead byte without its second
        {"ab\x1B$B", ENCODING_JIS_B, "ab"},                            // text ends after kanji-in
        {"ab\x1B$BF|\x1B(B", ENCODING_JIS_B, "ab" SJIS_NICHI},         // text ends after kanji-out
        {"a\x1B$B\x7F!F|\x1B(B", ENCODING_JIS_B, "a"},                 // no JIS X 0208 code
        {"a\x1B$BF", ENCODING_JIS_B, "a"},
        {"\x8E\x40" "x", ENCODING_EUC, ""},                           // not a half-width katakana
        {"x\x1B$B\x1B(By", ENCODING_JIS_B, "xy"},
        {"\xE0\x40", ENCODING_SHIFT_JIS, "\xE0\x40"},
        {"\xB6\xC0\xB6</TITLE>", ENCODING_EUC, "\x8B\xBE"}, // '<' is never a second byte
    };
    for (const Case &c : cases) {
        char out[LINK_BUFFER_SIZE];
        ConvertToShiftJis(c.source, out, c.encoding);
        EXPECT_EQ(Hex(out), Hex(c.expected)) << Hex(c.source);
    }
}

TEST(DecodeCharacterReferences, NamedReferencesThatCodePage932CanShow)
{
    struct Case { const char *text; const char *expected; } cases[] = {
        {"&hellip;&times;&divide;&larr;&rarr;&uarr;&darr;",
         "\x81\x63\x81\x7E\x81\x80\x81\xA9\x81\xA8\x81\xAA\x81\xAB"},
        {"&alpha;&omega;&Alpha;&Omega;&ZHcy;&boxh;", "\x83\xBF\x83\xD6\x83\x9F\x83\xB6\x84\x47\x84\x9F"},
        {"&sect;&para;&deg;&plusmn;&acute;&prime;&Prime;&infin;",
         "\x81\x98\x81\xF7\x81\x8B\x81\x7D\x81\x4C\x81\x8C\x81\x8D\x81\x87"},
        {"&lsquo;&rsquo;&ldquo;&rdquo;&ne;", "\x81\x65\x81\x66\x81\x67\x81\x68\x81\x82"},
        // The longest name that decodes, and U+2225 and U+2015, whose look-alikes below do not.
        {"&CloseCurlyDoubleQuote;&DoubleVerticalBar;&horbar;", "\x81\x68\x81\x61\x81\x5C"},
        {"a&nbsp;b&NonBreakingSpace;c", "a b c"},
        {"&AMP;&bsol;&Tab;|", "&\\ |"},
        {SJIS_NIHONGO "&rarr;" SJIS_HOME_HYOJI, SJIS_NIHONGO "\x81\xA8" SJIS_HOME_HYOJI},
        // Code page 932 has only a look-alike of these, or none: they stay as written.
        {"&cent;&pound;&not;&minus;&Verbar;&mdash;&yen;", "&cent;&pound;&not;&minus;&Verbar;&mdash;&yen;"},
        {"&raquo;&copy;&hearts;&bull;&middot;&trade;&Afr;", "&raquo;&copy;&hearts;&bull;&middot;&trade;&Afr;"},
        {"&hellip &Hellip; &hellipx; &;", "&hellip &Hellip; &hellipx; &;"}, // no ';', case, unknown, none
        // A numeric reference to a look-alike, or to a lone byte of no
        // character (Windows gives 0xA0 for U+F8F0), gives '?'.
        {"&#x2212;&#x301C;&#8212;&#xF8F0;&#160;&#xFF5E;", "???? \x81\x60"},
    };
    for (const Case &c : cases) {
        char text[LINK_BUFFER_SIZE];
        snprintf(text, sizeof text, "%s", c.text);
        DecodeCharacterReferences(text);
        EXPECT_EQ(Hex(text), Hex(c.expected)) << c.text;
    }
}

class StartPageTitle : public ::testing::Test {
protected:
    char title[TEXT_SIZE] = "host/dir/";
    void SetUp() override
    {
        UseTypicalSettings(title);
        g_scanSettings.readTitle = 1;
    }
    void TearDown() override { ReleasePageText(); }
};

TEST_F(StartPageTitle, TitleInEachEncoding)
{
    struct Case { std::string page; const char *expected; } cases[] = {
        {"<html><title>" SJIS_NIHONGO "</title>", SJIS_NIHONGO},
        {"<TITLE>" EUC_NIHONGO "</TITLE><body>", SJIS_NIHONGO},
        {"<title>" JIS_B_NIHONGO "</Title>", SJIS_NIHONGO},
        {"<title lang=ja>A & B</title>", "A & B"},
        {"<meta charset=utf-8><title>" UTF8_NIHONGO "</title>", SJIS_NIHONGO},
        // References are decoded after the title's end is found.
        {"<title>Tom&#39;s &amp; &lt;/title&gt; &#x65E5;&#26085; &#233; &bogus; &#;</title>",
         "Tom's & </title> " SJIS_NICHI SJIS_NICHI " ? &bogus; &#;"},
        {"<title>abc", "abc"},
        // Half-width katakana in Shift_JIS: the end tag ends the title.
        {"<title>\xB6\xC0\xB6</title><p>after", "\xB6\xC0\xB6"},
        {"<title>" SJIS_LINK_SHU "&hellip;</title>", SJIS_LINK_SHU "\x81\x63"},
    };
    for (const Case &c : cases) {
        strcpy(title, "host/dir/");
        EXPECT_TRUE(ScanBytes(c.page).empty());
        EXPECT_EQ(Hex(title), Hex(c.expected)) << c.page;
    }
}

TEST_F(StartPageTitle, EmptyOrBlankTitleKeepsTheStartAddress)
{
    for (const char *page : {"<title></title>", "<title>\r\n   </title>", "<title", "<title>"}) {
        ScanBytes(page);
        EXPECT_STREQ(title, "host/dir/") << page;
    }
}

TEST_F(StartPageTitle, OnlyTheStartPageNamesTheShortcut)
{
    g_scanSettings.readTitle = 0;
    ScanBytes("<title>Later page</title>");
    EXPECT_STREQ(title, "host/dir/");
}

TEST_F(StartPageTitle, LongTitleIsCutToWholeCharacters)
{
    std::string doubleByte;
    for (int i = 0; i < 140; ++i)
        doubleByte += SJIS_NICHI;
    ScanBytes("<title>" + doubleByte + "</title>");
    EXPECT_EQ(strlen(title), 258u); // 129 whole characters: 130 would need 260 bytes
    EXPECT_EQ(std::string(title), doubleByte.substr(0, 258));
    ScanBytes("<title>a" + doubleByte + "</title>");
    EXPECT_EQ(std::string(title), "a" + doubleByte.substr(0, 258));
    ScanBytes("<title>" + std::string(300, 'x') + "</title>");
    EXPECT_EQ(std::string(title), std::string(259, 'x'));
    std::string euc, sjis;
    for (int i = 0; i < 140; ++i) {
        euc += EUC_NIHONGO;
        sjis += SJIS_NIHONGO;
    }
    ScanBytes("<title>" + euc + "</title>");
    EXPECT_EQ(Hex(title), Hex(sjis.substr(0, 258)));
}

TEST(TextFileToShiftJis, StartListFilesInEachEncoding)
{
    struct Case { std::string bytes; size_t size; int encoding; std::string text; } cases[] = {
        {"http://host/a/\r\n*P", 100, TEXT_SHIFT_JIS, "http://host/a/\r\n*P"},
        {"host/" SJIS_HOME_HYOJI "/;*.gif", 100, TEXT_SHIFT_JIS, "host/" SJIS_HOME_HYOJI "/;*.gif"},
        // Half-width "ﾃｽ" is also UTF-8 for a Latin letter: read as before.
        {"host/\xC3\xBD/", 100, TEXT_SHIFT_JIS, "host/\xC3\xBD/"},
        {"host/caf\xC3\xA9/", 100, TEXT_SHIFT_JIS, "host/caf\xC3\xA9/"},
        {"host/" UTF8_NIHONGO "/", 100, TEXT_UTF8, "host/" SJIS_NIHONGO "/"},
        // "あい" in UTF-8 is also well-formed Shift_JIS; it reads as Japanese.
        {"host/\xE3\x81\x82\xE3\x81\x84", 100, TEXT_UTF8, "host/\x82\xA0\x82\xA2"},
        {"host/" UTF8_NIHONGO "\xE6\x97", 100, TEXT_UTF8, "host/" SJIS_NIHONGO},  // cut at the end
        {"\xEF\xBB\xBFhost/caf\xC3\xA9/", 100, TEXT_UTF8, "host/caf?/"},
        {"\xEF\xBB\xBF" "a\xFF" "b\xC3", 100, TEXT_UTF8, "a?b"},
        {"\xEF\xBB\xBF" UTF8_NIHONGO, 5, TEXT_UTF8, SJIS_NIHONGO_2},
        {std::string("\xFF\xFEh\0/\0\xE5\x65\x2C\x67\r\0\n\0", 14), 100, TEXT_UTF16LE, "h/" SJIS_NIHONGO_2 "\r\n"},
        {std::string("\xFE\xFF\0h\0/\x65\xE5\x67\x2C", 10), 100, TEXT_UTF16BE, "h/" SJIS_NIHONGO_2},
        {std::string("\xFF\xFE" "a\0\x3D\xD8\x00\xDE" "b\0", 10), 100, TEXT_UTF16LE, "a?b"},  // U+1F600
        {std::string("\xFF\xFE" "a\0\x3D\xD8" "b\0\x00\xDE" "c\0", 12), 100, TEXT_UTF16LE, "a?b?c"},
        {std::string("\xFF\xFE" "a\0\0\0" "b\0" "c", 9), 100, TEXT_UTF16LE, "a"},
        {std::string("\xFF\xFE\xE5\x65\x2C\x67", 6), 4, TEXT_UTF16LE, SJIS_NICHI},
        {"0123456789", 5, TEXT_SHIFT_JIS, "0123"},
    };
    for (const Case &c : cases) {
        std::string bytes = c.bytes + '\0';
        char out[100];
        int encoding = TextFileToShiftJis(bytes.data(), c.bytes.size(), out, c.size);
        EXPECT_EQ(encoding, c.encoding) << Hex(c.bytes);
        EXPECT_EQ(Hex(out), Hex(c.text)) << Hex(c.bytes);
    }
}
