// tests/unit/names_test.cpp — local names of Japanese path segments, Punycode and host names.
#include "address/address.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

// "日本" in each form, written as bytes (the Windows build compiles literals into code page 932).
#define UTF8_NIHON "\xE6\x97\xA5\xE6\x9C\xAC"
#define SJIS_NIHON "\x93\xFA\x96\x7B"
#define EUC_NIHON "\xC6\xFC\xCB\xDC"
#define UTF8_NIHONGO UTF8_NIHON "\xE8\xAA\x9E"
#define SJIS_NIHONGO SJIS_NIHON "\x8C\xEA"

// The bytes with those beyond printable ASCII as \xHH, for failure messages.
static std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes)
        out += c >= 0x20 && c < 0x7F ? std::string(1, (char)c) : std::string("\\x") + digits[c >> 4] + digits[c & 15];
    return out;
}

// The same table runs natively (iconv) and under Wine (the Windows calls):
// both must give these names.
TEST(LocalNameOfBytes, ShowsWhatCodePage932HoldsAndEscapesTheRest)
{
    struct Case { const char *bytes; int encoding; const char *expected; } cases[] = {
        {UTF8_NIHON ".html", NAME_SHIFT_JIS, SJIS_NIHON ".html"},
        {SJIS_NIHON ".html", NAME_SHIFT_JIS, SJIS_NIHON ".html"},
        {EUC_NIHON "\x8E\xB1.html", NAME_EUC_JP, SJIS_NIHON "\xB1.html"}, // half-width kana of EUC-JP
        {"100%_a%41", NAME_UTF8, "100%25_a%2541"},
        // Look-alikes: held only where the character converts back to itself.
        {"\xEF\xBD\x9E\xE3\x80\x9C", NAME_SHIFT_JIS, "\x81\x60%E3%80%9C"},       // U+FF5E held, U+301C not
        {"\xEF\xBC\x8D\xE2\x88\x92", NAME_SHIFT_JIS, "\x81\x7C%E2%88%92"},       // U+FF0D held, U+2212 not
        {"\xE2\x88\xA5\xE2\x80\x96", NAME_SHIFT_JIS, "\x81\x61%E2%80%96"},       // U+2225 held, U+2016 not
        {"\xE2\x80\x95\xE2\x80\x94", NAME_SHIFT_JIS, "\x81\x5C%E2%80%94"},       // U+2015 held, U+2014 not
        {"\xEF\xBF\xA0\xEF\xBF\xA1\xEF\xBF\xA2", NAME_SHIFT_JIS, "\x81\x91\x81\x92\x81\xCA"}, // full-width
        {"\xC2\xA2\xC2\xA3\xC2\xAC\xC2\xA5", NAME_SHIFT_JIS, "%C2%A2%C2%A3%C2%AC%C2%A5"}, // ¥ is never '\'
        {"\xE3\x82\xBD\xEF\xBD\xB1", NAME_EUC_JP, "\x83\x5C\xB1"},               // trail byte '\', half-width
        {"\xED\x95\x9C\xF0\x9F\x98\x80", NAME_SHIFT_JIS, "%ED%95%9C%F0%9F%98%80"}, // hangul, emoji
        // Bytes that are no character of the encoding.
        {"a\x83", NAME_SHIFT_JIS, "a%83"},
        {"\x83 \x80\xA0\xFD", NAME_SHIFT_JIS, "%83 %80%A0%FD"},
        {"\x85\x40", NAME_SHIFT_JIS, "%85@"},                                       // unassigned pair
        {"\xA9\xA1\x8E\x41\x8F\xB0\xA1", NAME_EUC_JP, "%A9%A1%8EA%8F%B0%A1"},   // row 9, bad kana, JIS X 0212
        {UTF8_NIHON "\xFF", NAME_UTF8, SJIS_NIHON "%FF"},
        {UTF8_NIHON "\xFF", NAME_SHIFT_JIS, "\xE6\x97\xA5\xE6\x9C\xAC%FF"}, // read as Shift_JIS
    };
    for (const Case &c : cases) {
        char name[TEXT_SIZE];
        EXPECT_TRUE(LocalNameOfBytes(name, sizeof name, c.bytes, strlen(c.bytes), c.encoding)) << Hex(c.bytes);
        EXPECT_EQ(Hex(name), Hex(c.expected)) << Hex(c.bytes) << " as " << c.encoding;
    }
}

TEST(LocalNameOfBytes, FailsEmptyWhenTheNameDoesNotFit)
{
    char name[8];
    EXPECT_TRUE(LocalNameOfBytes(name, 8, "a" UTF8_NIHONGO, 10, NAME_UTF8));
    EXPECT_EQ(Hex(name), Hex("a" SJIS_NIHONGO));
    EXPECT_FALSE(LocalNameOfBytes(name, 7, "a" UTF8_NIHONGO, 10, NAME_UTF8));
    EXPECT_STREQ(name, "");
    EXPECT_FALSE(LocalNameOfBytes(name, 3, "%", 1, NAME_UTF8));
    EXPECT_STREQ(name, "");
}

TEST(Utf8OfShiftJis, GivesBackTheUtf8OfEveryHeldName)
{
    const char *utf8Names[] = {"a " UTF8_NIHONGO ".html", "\xEF\xBD\x9E\xE2\x80\x95\xE3\x82\xBD\xEF\xBD\xB1", ""};
    for (const char *utf8 : utf8Names) {
        char name[TEXT_SIZE], back[TEXT_SIZE];
        ASSERT_TRUE(LocalNameOfBytes(name, sizeof name, utf8, strlen(utf8), NAME_SHIFT_JIS));
        EXPECT_EQ(Utf8OfShiftJis(back, sizeof back, name), (int)strlen(utf8)) << Hex(utf8);
        EXPECT_EQ(Hex(back), Hex(utf8));
    }
    const char *notShiftJis[] = {"a\x83", "\x80", "\x85\x40", "\x83 "};
    for (const char *text : notShiftJis) {
        char back[TEXT_SIZE] = "x";
        EXPECT_EQ(Utf8OfShiftJis(back, sizeof back, text), -1) << Hex(text);
        EXPECT_STREQ(back, "");
    }
    char small[9];
    EXPECT_EQ(Utf8OfShiftJis(small, sizeof small, SJIS_NIHONGO), -1);
}

static std::vector<unsigned> CodePoints(const char32_t *text)
{
    return std::vector<unsigned>(text, text + std::char_traits<char32_t>::length(text));
}

TEST(Punycode, EncodesAndDecodesTheJapaneseSamplesOfRfc3492)
{
    struct Case { const char32_t *text; const char *code; } cases[] = {
        {U"なぜみんな日本語を話してくれないのか", "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"},
        {U"3年B組金八先生", "3B-ww4c5e180e575a65lsy2b"},
        {U"安室奈美恵-with-SUPER-MONKEYS", "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
        {U"Hello-Another-Way-それぞれの場所", "Hello-Another-Way--fc4qua05auwb3674vfr0b"},
        {U"ひとつ屋根の下2", "2-u9tlzr9756bt3uc0v"},
        {U"MajiでKoiする5秒前", "MajiKoi5-783gue6qz075azm5e"},
        {U"パフィーdeルンバ", "de-jg4avhby1noc0d"},
        {U"そのスピードで", "d9juau41awczczp"},
        {U"日本語", "wgv71a119e"},
    };
    for (const Case &c : cases) {
        std::vector<unsigned> text = CodePoints(c.text), decoded(64);
        char code[64];
        size_t count;
        EXPECT_TRUE(PunycodeEncode(code, sizeof code, text.data(), text.size()));
        EXPECT_STREQ(code, c.code);
        ASSERT_TRUE(PunycodeDecode(decoded.data(), decoded.size(), &count, c.code, strlen(c.code))) << c.code;
        decoded.resize(count);
        EXPECT_EQ(decoded, text) << c.code;
    }
    unsigned out[8];
    size_t count;
    const char *notPunycode[] = {"-abc", "99999999999", "a\x80-b", "wgv71a119", "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"};
    for (const char *code : notPunycode) // over, cut, out of range, or more than out holds
        EXPECT_FALSE(PunycodeDecode(out, 8, &count, code, strlen(code))) << code;
    char small[10];
    std::vector<unsigned> nihongo = CodePoints(U"日本語");
    EXPECT_FALSE(PunycodeEncode(small, sizeof small, nihongo.data(), nihongo.size()));
    EXPECT_STREQ(small, "");
}

TEST(HostToAscii, GivesTheLabelsBeyondAsciiInTheirAsciiForm)
{
    struct Case { const char *host; int encoding; const char *expected; } cases[] = {
        {UTF8_NIHONGO ".jp", NAME_UTF8, "xn--wgv71a119e.jp"},
        {SJIS_NIHONGO ".jp:8080", NAME_SHIFT_JIS, "xn--wgv71a119e.jp:8080"},
        {"https://" EUC_NIHON "\xB8\xEC.JP", NAME_EUC_JP, "https://xn--wgv71a119e.JP"},
        {"%E6%97%A5%E6%9C%AC%E8%AA%9E.jp", NAME_SHIFT_JIS, "xn--wgv71a119e.jp"},
        {UTF8_NIHONGO "\xE3\x80\x82jp", NAME_UTF8, "xn--wgv71a119e.jp"},               // ideographic full stop
        {"\x82\x60\x82\x61\x82\x62" SJIS_NIHON ".jp\x81\x46\x82\x57\x82\x4f", NAME_SHIFT_JIS, "xn--abc-v08fl0d.jp:80"},
        {"\xEF\xBC\xA5\xEF\xBC\xB8\xEF\xBC\x8E\xEF\xBD\x8A\xEF\xBD\x90", NAME_UTF8, "ex.jp"}, // full-width only
        {"Example.COM:80", NAME_SHIFT_JIS, "Example.COM:80"},
        {"\xED\x95\x9C\xEA\xB5\xAD.kr", NAME_SHIFT_JIS, "xn--3e0b707e.kr"},
    };
    for (const Case &c : cases) {
        char out[TEXT_SIZE];
        EXPECT_TRUE(HostToAscii(out, sizeof out, c.host, c.encoding)) << Hex(c.host);
        EXPECT_STREQ(out, c.expected) << Hex(c.host);
    }
    // A label of 41 hiragana codes into 63 bytes, one of 42 into 65: too long.
    std::string label41;
    for (unsigned i = 0; i < 42; ++i)
        label41 += std::string("\xE3\x81") + (char)(0x81 + i);
    std::string label42 = label41;
    label41.resize(41 * 3);
    char out[TEXT_SIZE];
    EXPECT_TRUE(HostToAscii(out, sizeof out, (label41 + ".jp").c_str(), NAME_UTF8));
    EXPECT_EQ(strlen(out), 63u + 3u);
    // Too long, no character, a full-width '/' or a letter in the port.
    const char *refused[] = {label42.c_str(), "\x83.jp", "\xFF.jp", "a\x81\x5E" SJIS_NIHON, SJIS_NIHON ":8\x82\x60"};
    for (const char *host : refused) {
        EXPECT_FALSE(HostToAscii(out, sizeof out, host, NAME_SHIFT_JIS)) << Hex(host);
        EXPECT_STREQ(out, "");
    }
    EXPECT_FALSE(HostToAscii(out, 17, UTF8_NIHONGO ".jp", NAME_UTF8));
}

TEST(HostFolderName, ShowsTheLabelsCodePage932Holds)
{
    struct Case { const char *host, *expected; } cases[] = {
        {"xn--wgv71a119e.jp:8080", SJIS_NIHONGO ".jp:8080"},
        {"https://www.XN--WGV71A119E.jp", "https://www." SJIS_NIHONGO ".jp"},
        {"xn--abc-v08fl0d..jp.", "abc" SJIS_NIHON "..jp."},
        {"xn--3e0b707e.kr", "xn--3e0b707e.kr"},  // hangul: code page 932 lacks it
        {"xn--abc-.xn--.xn--99999999999", "xn--abc-.xn--.xn--99999999999"}, // ASCII only, empty, overflow
        {"example.com", "example.com"},
    };
    for (const Case &c : cases) {
        char out[TEXT_SIZE];
        EXPECT_TRUE(HostFolderName(out, sizeof out, c.host)) << c.host;
        EXPECT_EQ(Hex(out), Hex(c.expected)) << c.host;
    }
    char out[9];
    EXPECT_FALSE(HostFolderName(out, sizeof out, "xn--wgv71a119e.jp"));
    EXPECT_STREQ(out, "");
}
