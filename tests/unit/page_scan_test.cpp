// tests/unit/page_scan_test.cpp — the driver's walk over a whole page.
// Which links are recorded with which kind, the rewritten page, and the mends (two links
// in one tag, NUL bytes, many links, over-long rewrites); the link list, the rewrites and
// the shortcut name.
#include "page/page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/page_test_support.h"

class PageScan : public ::testing::Test {
protected:
    char title[TEXT_SIZE] = "host/a/";
    void SetUp() override { UseTypicalSettings(title); }
    void TearDown() override { ReleasePageText(); }
};

typedef std::vector<RecordedLink> Links;

TEST_F(PageScan, EmptyPageStaysEmpty)
{
    EXPECT_TRUE(ScanBytes("").empty());
    EXPECT_EQ(g_pageLength, 0u);
    EXPECT_TRUE(ScanBytes("no tags at all").empty());
    EXPECT_EQ(PageBytes(), "no tags at all");
}

TEST_F(PageScan, KindsOfTheRecordedLinks)
{
    std::string page =
        "<frame src=menu.html>"
        "<img src='http://host/x/y.gif'>"
        "<a href=\"http://other/p.html\">"
        "<img src=http://other/z.jpg>"
        "<a href='ftp://ftp.host/f.zip'>"
        "<a href=#top><a href=https://host/s.html><a href='mailto:me@host'>"
        "<a href=\"javascript:go()\"><a href=dir/x:y.html><a href=''>"
        "<a href=HTTP://host/a/b/c.html>"
        "<a href=c.html><a href=c.html>";
    Links expected = {
        {"host/a/b/menu.html", LINK_SAME_LEVEL},
        {"host/x/y.gif", LINK_NEXT_LEVEL},
        {"other/p.html", LINK_NOT_FOLLOWED},
        {"other/z.jpg", LINK_NOT_FOLLOWED},
        {"ftp.host/f.zip", LINK_FTP},
        {"https://host/s.html", LINK_NOT_FOLLOWED}, // the same server, outside the start path
        {"host/a/b/dir/x:y.html", LINK_NEXT_LEVEL},  // a ':' after the first segment makes no scheme
        {"host/a/b/c.html", LINK_NEXT_LEVEL},
        {"host/a/b/c.html", LINK_NEXT_LEVEL},
        {"host/a/b/c.html", LINK_NEXT_LEVEL},
    };
    EXPECT_EQ(ScanBytes(page), expected);
    g_scanSettings.outServer = 1;
    g_scanSettings.useFtp = 0;
    expected[2].kind = LINK_OUTSIDE_DATA;
    expected[3].kind = LINK_OUTSIDE_DATA;
    expected[4].kind = LINK_NOT_FOLLOWED;
    expected[5].kind = LINK_OUTSIDE_DATA;
    EXPECT_EQ(ScanBytes(page), expected);
    g_scanSettings.outServer = 2; // only exactly 1 follows other servers
    expected[2].kind = expected[3].kind = expected[5].kind = LINK_NOT_FOLLOWED;
    EXPECT_EQ(ScanBytes(page), expected);
}

TEST_F(PageScan, RewrittenPage)
{
    std::string page =
        "<html><BASE HREF='http://host/dir/'>\r\n"
        "<body background=\"http://host/a/bg.gif\">\n"
        "<img src=\"http://other/z.jpg\" alt=\"http://host/x.gif\"> text\n"
        "<a href=\"http://host/a/b/c.html?q=1#f\">c</a> <a href=\"http://other/p.html\">p</a>\n"
        "<a href=/x/y.gif>y</a><a href=\"../c.html\">rel</a>\n"
        "<!-- <img src=\"http://host/hidden.gif\"> --></html>";
    std::string expected =
        "<html><!--E HREF='http://host/dir/'-->\r\n"
        "<body background=\"../../../host/a/bg.gif\">\n"
        "<img src=\"http://other/z.jpg\" alt=\"http://host/x.gif\"> text\n" // out_server off: not fetched
        "<a href=\"../../../host/a/b/c.html?q=1#f\">c</a> <a href=\"http://other/p.html\">p</a>\n"
        "<a href=../../../host/x/y.gif>y</a><a href=\"../c.html\">rel</a>\n"
        "<!-- <img src=\"http://host/hidden.gif\"> --></html>";
    Links links = ScanBytes(page);
    EXPECT_EQ(PageBytes(), expected);
    EXPECT_EQ(g_pageLength, expected.size());
    Links wanted = {
        {"host/a/bg.gif", LINK_NEXT_LEVEL}, {"other/z.jpg", LINK_NOT_FOLLOWED},
        {"host/a/b/c.html", LINK_NEXT_LEVEL}, {"other/p.html", LINK_NOT_FOLLOWED},
        {"host/x/y.gif", LINK_NEXT_LEVEL}, {"host/a/c.html", LINK_NEXT_LEVEL},
    };
    EXPECT_EQ(links, wanted);
}

TEST_F(PageScan, ScanningTheRewrittenPageAgainFindsTheSameAddresses)
{
    std::string page = "<img src=http://host/x.gif><a href='http://host/a/b/c.html'>"
                       "<frame src=\"http://other/f.png\"><a href=/a/d.htm>";
    Links first = ScanBytes(page);
    std::string rewritten = PageBytes();
    EXPECT_EQ(rewritten, "<img src=../../../host/x.gif><a href='../../../host/a/b/c.html'>"
                         "<frame src=\"http://other/f.png\"><a href=../../../host/a/d.htm>");
    Links second = ScanBytes(rewritten);
    EXPECT_EQ(second, first);
    EXPECT_EQ(PageBytes(), rewritten);
}

TEST_F(PageScan, TagNamesAndComments)
{
    std::string longName = "<" + std::string(259, 'x') + "<img src=a.gif>";
    EXPECT_EQ(ScanBytes(longName), (Links{{"host/a/b/a.gif", 1}}));
    EXPECT_TRUE(ScanBytes("<!-- <img src=a.gif> -->").empty());
    EXPECT_EQ(ScanBytes("<!-- <b> --> <img src=a.gif>"), (Links{{"host/a/b/a.gif", 1}}));
    EXPECT_TRUE(ScanBytes("<comment><img src=a.gif></COMMENT>").empty());
    EXPECT_EQ(ScanBytes("<img\r\nsrc=a.gif>"), (Links{{"host/a/b/a.gif", 1}}));
    EXPECT_TRUE(ScanBytes("<<img src=a.gif>").empty()); // the empty tag's '<' takes the second one along
    EXPECT_TRUE(ScanBytes("<img src=a.gif").size() == 1);
    EXPECT_TRUE(ScanBytes("<").empty());
    EXPECT_TRUE(ScanBytes("<title").empty());
}

TEST_F(PageScan, TagsRightAfterTextInOtherEncodingsAreFound)
{
    // UTF-8 "、" (E3 80 81) and EUC-JP "よ" (A4 E8) end in bytes that code
    // page 932 takes for lead bytes; the '<' after them still opens a tag.
    EXPECT_EQ(ScanBytes("<p>\xe3\x80\x81<a href=\"x.html\">x</a>"), (Links{{"host/a/b/x.html", 1}}));
    EXPECT_EQ(ScanBytes("\xa4\xe8<img src=y.gif>\xa4\xe8<img src=z.gif>"),
              (Links{{"host/a/b/y.gif", 1}, {"host/a/b/z.gif", 1}}));
    // A Shift_JIS character whose trail byte is 5C stays whole.
    EXPECT_EQ(ScanBytes("\x83\x5c<img src=w.gif>"), (Links{{"host/a/b/w.gif", 1}}));
}

TEST_F(PageScan, TwoLinksOfOneTagAreRewrittenAtTheirOwnPlaces)
{
    g_scanSettings.outServer = 1;
    struct Case { const char *page, *expected; } cases[] = {
        {"<a href=\"http://host/a/p.html\" onclick=\"window.open('http://host/a/w.html')\">",
         "<a href=\"../../../host/a/p.html\" onclick=\"window.open('../../../host/a/w.html')\">"},
        {"<a onclick=\"window.open('http://host/w.gif')\" href=\"http://host/a/p.html\">",
         "<a onclick=\"window.open('../../../host/w.gif')\" href=\"../../../host/a/p.html\">"},
        {"<area href=http://o/x.gif onclick=window.open('http://host/a/w.html')>",
         "<area href=../../../o/x.gif onclick=window.open('../../../host/a/w.html')>"},
        // The window.open address lies inside the unquoted href value: only
        // the first of the two overlapping texts is rewritten.
        {"<a href=http://o/window.open\"http://o/z.gif\">", "<a href=http://o/window.open\"../../../o/z.gif\">"},
    };
    for (const Case &c : cases) {
        ScanBytes(c.page);
        EXPECT_EQ(PageBytes(), c.expected) << c.page;
    }
    Links links = ScanBytes("<a href=\"http://host/a/p.html\" onclick=\"window.open('w.html')\">");
    EXPECT_EQ(links, (Links{{"host/a/b/w.html", 1}, {"host/a/p.html", 1}}));
}

TEST_F(PageScan, BytesFromANulOnAreKeptBehindTheRewrittenText)
{
    std::string page = std::string("<img src='http://host/x.gif'>") + '\0' +
                       "<img src='http://host/y.gif'>" + '\0' + "\xFF tail";
    Links links = ScanBytes(page);
    EXPECT_EQ(links, (Links{{"host/x.gif", 1}}));
    std::string expected = std::string("<img src='../../../host/x.gif'>") + '\0' +
                           "<img src='http://host/y.gif'>" + '\0' + "\xFF tail";
    EXPECT_EQ(PageBytes(), expected);
    EXPECT_EQ(g_pageText[g_pageLength], '\0');
    std::string nulFirst = std::string("\0<img src=http://host/x.gif>", 27);
    EXPECT_TRUE(ScanBytes(nulFirst).empty());
    EXPECT_EQ(PageBytes(), nulFirst);
}

TEST_F(PageScan, ShorterRewriteLeavesNoStaleBytes)
{
    ScanBytes("<img src=\"http://host/a/long-name.gif\">end", "host", "/");
    EXPECT_EQ(PageBytes(), "<img src=\"../host/a/long-name.gif\">end");
    EXPECT_EQ(g_pageLength, strlen(g_pageText));
}

TEST_F(PageScan, MoreThan65536LinksAreAllRecorded)
{
    const int count = 70000;
    std::string page;
    for (int i = 0; i < count; ++i)
        page += "<img src=http://host/p" + std::to_string(i) + ".gif>";
    LoadPageBytes(page);
    LinkList list;
    ASSERT_TRUE(CreateLinkList(&list));
    ASSERT_TRUE(ScanPage("host", "/", &list));
    ASSERT_EQ(list.count, count);
    size_t offset = 0;
    char address[TEXT_SIZE + 1];
    int n = 0;
    while (TakeLink(&list, &offset, address) == 1) {
        ASSERT_EQ(std::string(address), "host/p" + std::to_string(n) + ".gif");
        ASSERT_EQ(LinkKind(&list, n), LINK_NEXT_LEVEL) << n;
        ++n;
    }
    EXPECT_EQ(n, count);
    EXPECT_EQ(PageBytes().substr(0, 28), "<img src=../host/p0.gif><img");
    FreeLinkList(&list);
}

TEST(LinkList, LongAddressesAndDepths)
{
    LinkList list;
    ASSERT_TRUE(CreateLinkList(&list));
    std::string fits(259, 'a'), over(260, 'b'), huge(LINK_BUFFER_SIZE - 1, 'c');
    ASSERT_TRUE(AppendLink(&list, fits.c_str(), LINK_NEXT_LEVEL, NAME_SHIFT_JIS));
    ASSERT_TRUE(AppendLink(&list, over.c_str(), LINK_SAME_LEVEL, NAME_SHIFT_JIS));
    ASSERT_TRUE(AppendLink(&list, huge.c_str(), LINK_FTP, NAME_SHIFT_JIS));
    ASSERT_TRUE(AppendLink(&list, "host/x", LINK_NOT_FOLLOWED, NAME_SHIFT_JIS));
    size_t offset = 0;
    char address[TEXT_SIZE + 1];
    EXPECT_EQ(TakeLink(&list, &offset, address), 1);
    EXPECT_EQ(std::string(address), fits);
    EXPECT_EQ(TakeLink(&list, &offset, address), TEXT_TOO_LONG);
    EXPECT_STREQ(address, "");
    EXPECT_EQ(TakeLink(&list, &offset, address), TEXT_TOO_LONG);
    EXPECT_EQ(TakeLink(&list, &offset, address), 1);
    EXPECT_STREQ(address, "host/x");
    EXPECT_EQ(TakeLink(&list, &offset, address), 0);
    EXPECT_EQ(LinkKind(&list, 2), LINK_FTP);
    EXPECT_EQ(LinkKind(&list, 4), LINK_NOT_FOLLOWED);
    FreeLinkList(&list);

    struct Case { int kind, depth, limit, expected; } cases[] = {
        {LINK_NOT_FOLLOWED, 1, 2, -1}, {LINK_NEXT_LEVEL, 1, 2, 2}, {LINK_SAME_LEVEL, 1, 2, 1},
        {LINK_OUTSIDE_DATA, 1, 2, 4}, {LINK_FTP, 1, 2, 32767},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LinkDepth(c.kind, c.depth, c.limit), c.expected) << "kind " << c.kind;
}

TEST(Rewrites, OrderOverlapAndBounds)
{
    LoadPageBytes("0123456789");
    EXPECT_TRUE(RecordRewrite(g_pageText + 6, 2, "BB"));
    EXPECT_TRUE(RecordRewrite(g_pageText + 1, 2, "A"));
    EXPECT_FALSE(RecordRewrite(g_pageText + 2, 2, "X"));   // overlaps the one at 1
    EXPECT_FALSE(RecordRewrite(g_pageText + 7, 1, "X"));   // inside the one at 6
    EXPECT_FALSE(RecordRewrite(g_pageText + 9, 2, "X"));   // runs past the text
    EXPECT_FALSE(RecordRewrite(g_pageText + 3, 0, "X"));
    EXPECT_TRUE(RecordRewrite(g_pageText + 3, 3, "CCCCC")); // between the two
    ASSERT_TRUE(ApplyRewrites());
    EXPECT_EQ(PageBytes(), "0A" "CCCCC" "BB" "89");
    EXPECT_EQ(g_scanPosition, g_pageText);
    ReleasePageText();
    EXPECT_STREQ(g_pageText, "");
    EXPECT_EQ(g_pageLength, 0u);
}

TEST(ShortcutName, Cases)
{
    struct Case { const char *title, *expected; } cases[] = {
        {"host/dir/", "host-dir-"},
        {"a\\b/c:d,e;f*g?h\"i<j>k|l", "a-b-c-d-e-f-g-h-i-j-k-l"},
        {"\x83\x5C\x95\x5C:x", "\x83\x5C\x95\x5C-x"}, // trail bytes equal to '\' stay
        {"\r\n  My\tSite \r\n", "My Site"},
        {"CON", "CON-"},
        {"com1.txt", "com1-.txt"},
        {"lpt9", "lpt9-"},
        {"COM0", "COM0"},
        {"CONSOLE", "CONSOLE"},
        {"", "-"},
        {"\r\n", "-"},
        {"a.b", "a.b"},
    };
    for (const Case &c : cases) {
        char title[TEXT_SIZE];
        strcpy(title, c.title);
        MakeShortcutName(title);
        EXPECT_STREQ(title, c.expected) << c.title;
    }
    char full[TEXT_SIZE];
    std::string nul(259, 'x');
    memcpy(full, "NUL.", 4);
    memcpy(full + 4, nul.data(), 255);
    full[259] = '\0';
    MakeShortcutName(full);
    EXPECT_EQ(strlen(full), 259u);
    EXPECT_EQ(std::string(full, 5), "NUL-.");
}

TEST(ShortcutPath, FitsWithWholeCharacters)
{
    char path[TEXT_SIZE];
    ASSERT_TRUE(BuildShortcutPath(path, "A:", "Top page"));
    EXPECT_STREQ(path, "A:\\Top page.LNK");
    std::string folder = "C:\\" + std::string(200, 'f');
    std::string title;
    for (int i = 0; i < 40; ++i)
        title += "\x93\xFA";
    ASSERT_TRUE(BuildShortcutPath(path, folder.c_str(), title.c_str()));
    EXPECT_LE(strlen(path), 259u);
    // 259 - 203 - 5 = 51 bytes of room: 25 whole characters.
    EXPECT_EQ(std::string(path), folder + "\\" + title.substr(0, 50) + ".LNK");
    std::string tooLong(254, 'f');
    EXPECT_FALSE(BuildShortcutPath(path, tooLong.c_str(), "x"));
    EXPECT_STREQ(path, "");
    std::string oneByte(253, 'f');
    EXPECT_TRUE(BuildShortcutPath(path, oneByte.c_str(), "xy"));
    EXPECT_EQ(strlen(path), 259u);
    EXPECT_FALSE(BuildShortcutPath(path, oneByte.c_str(), "\x93\xFA"));
}

TEST_F(PageScan, StyleSheetsScriptsAndSrcsetsOfAPage)
{
    g_scanSettings.modern = 1;
    std::string page = "<link rel=stylesheet href=http://cdn/s.css><script src=\"//cdn/j.js\"></script>"
                       "<img srcset=\"http://host/a/1.png 1x, http://other/2.png 2x\">"
                       "<style>p{background:url(http://host/x/p.png)} @import 'http://cdn/i.css';</style>"
                       "<a href=\"javascript:go()\" style='b:url(\"data:image/gif;base64,R0==\")'>";
    Links expected = {
        {"cdn/s.css", LINK_OUTSIDE_DATA}, // what the page needs comes from any server
        {"cdn/j.js", LINK_OUTSIDE_DATA},
        {"host/a/1.png", LINK_NEXT_LEVEL},
        {"other/2.png", LINK_NOT_FOLLOWED}, // pictures follow out_server
        {"host/x/p.png", LINK_NEXT_LEVEL},
        {"cdn/i.css", LINK_OUTSIDE_DATA},
    };
    EXPECT_EQ(ScanBytes(page), expected);
    EXPECT_EQ(PageBytes(), "<link rel=stylesheet href=../../../cdn/s.css><script src=\"../../../cdn/j.js\"></script>"
                           "<img srcset=\"../../../host/a/1.png 1x, http://other/2.png 2x\">"
                           "<style>p{background:url(../../../host/x/p.png)} @import '../../../cdn/i.css';</style>"
                           "<a href=\"javascript:go()\" style='b:url(\"data:image/gif;base64,R0==\")'>");
}

TEST_F(PageScan, AStyleSheetIsScannedForWhatItNames)
{
    g_scanSettings.modern = 1;
    g_scanSettings.styleSheet = 1;
    g_scanSettings.contentType = "text/css";
    std::string sheet = "@import url(\"http://host/a/x.css\");/*url(http://host/no.png)*/\n"
                        "body{background:url(/img/b.png)}.f{src:url(http://fonts/f.woff2?v=1)format('woff2')}"
                        "h1{background:url(../c.gif)}";
    Links expected = {{"host/a/x.css", LINK_NEXT_LEVEL}, {"host/img/b.png", LINK_NEXT_LEVEL},
                      {"fonts/f.woff2", LINK_OUTSIDE_DATA}, {"host/a/c.gif", LINK_NEXT_LEVEL}};
    EXPECT_EQ(ScanBytes(sheet), expected);
    EXPECT_EQ(PageBytes(), "@import url(\"../../../host/a/x.css\");/*url(http://host/no.png)*/\n"
                           "body{background:url(../../../host/img/b.png)}"
                           ".f{src:url(../../../fonts/f.woff2?v=1)format('woff2')}h1{background:url(../c.gif)}");
}

TEST_F(PageScan, LinksBeyondWhatATagOrALinkTextHoldsAreCounted)
{
    g_scanSettings.modern = 1;
    std::string srcset;
    for (int i = 0; i < FOUND_LINK_MAX + 6; ++i)
        srcset += "p" + std::to_string(i) + ".png " + std::to_string(i + 1) + "x,";
    std::string page = "<img srcset=\"" + srcset + "\"><img src=" + std::string(300, 'a') +
                       "><img src=\"data:" + std::string(300, 'b') + "\">";
    EXPECT_EQ(ScanBytes(page).size(), (size_t)FOUND_LINK_MAX);
    EXPECT_EQ(g_linksUnread, 7); // six candidates and one long address; a long data: address is never followed
}

TEST_F(PageScan, PagesInEachEncodingLinkJapaneseNames)
{
    // UTF-8: the link's bytes escaped as they stand; a name already leading to
    // its stored file stays; an absolute one leads there in UTF-8 escapes.
    std::string utf8 = "<meta charset=\"utf-8\"><a href=\"\xE6\x97\xA5.html\">"
                       "<img src=\"http://host/a/\xE5\x86\x99.png\"><a href=\"http://\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.jp/\">";
    EXPECT_EQ(ScanBytes(utf8), (Links{{"host/a/b/%E6%97%A5.html", LINK_NEXT_LEVEL},
                                      {"host/a/%E5%86%99.png", LINK_NEXT_LEVEL},
                                      {"xn--wgv71a119e.jp/", LINK_NOT_FOLLOWED}}));
    EXPECT_EQ(PageBytes(), "<meta charset=\"utf-8\"><a href=\"\xE6\x97\xA5.html\">"
                           "<img src=\"../../../host/a/%E5%86%99.png\"><a href=\"http://\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.jp/\">");
    // Shift_JIS, declared by the response: its own bytes are sent; the stored
    // name is written for the browser in UTF-8 escapes.
    g_scanSettings.contentType = "text/html; charset=Shift_JIS";
    EXPECT_EQ(ScanBytes("<a href=\"\x93\xFA.html\"><img src=\"\x95\x5C\x8E\x86.png\">"),
              (Links{{"host/a/b/%93%FA.html", LINK_NEXT_LEVEL}, {"host/a/b/%95%5C%8E%86.png", LINK_NEXT_LEVEL}}));
    EXPECT_EQ(PageBytes(), "<a href=\"../../../host/a/b/%E6%97%A5.html\"><img src=\"../../../host/a/b/%E8%A1%A8%E7%B4%99.png\">");
}

TEST(PageEncoding, ByteOrderMarkThenServerThenPageThenDetection)
{
    struct Case { const char *text, *contentType; bool sheet; int encoding; } cases[] = {
        {"\xEF\xBB\xBF<meta charset=euc-jp>", "text/html; charset=Shift_JIS", false, ENCODING_UTF8},
        {"<meta charset=euc-jp>", "text/html; charset=\"shift_jis\"", false, ENCODING_SHIFT_JIS},
        {"<META http-equiv=Content-Type content=\"text/html; charset=EUC-JP\">", "text/html", false, ENCODING_EUC},
        {"<meta charset='x-sjis'>", NULL, false, ENCODING_SHIFT_JIS},
        {"<meta charset=iso-8859-1>\xE6\x97\xA5", "text/html", false, ENCODING_UTF8}, // others: detected
        {"@charset \"UTF-8\"; a{}", "text/css", true, ENCODING_UTF8},
        {"\x93\xFA\x96\x7B", "text/html", false, ENCODING_SHIFT_JIS},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PageEncoding(c.text, c.contentType, c.sheet), c.encoding) << c.text;
}
