// tests/unit/tag_scan_test.cpp — the tag scanner.
// Tag names, the attribute of each tag kind, values and their ends, window.open,
// comments, BASE tags, and where the scan position is left.
#include "page/page.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/page_test_support.h"

struct TagOutcome {
    int result;
    std::string links; // link texts, each followed by '|'
    std::string places; // for each link, the page text from its place on
};

// Loads the page, reads the tag name at its first '<' and runs ScanTag.
static TagOutcome ScanFirstTag(const std::string &page)
{
    LoadPageBytes(page);
    char name[TEXT_SIZE];
    g_scanPosition = strchr(g_pageText, '<');
    EXPECT_TRUE(ReadTagName(name, g_scanPosition)) << page;
    ++g_scanPosition;
    static FoundLinks found;
    TagOutcome outcome{ScanTag(&found, name), "", ""};
    for (char *p = found.text; *p != '\0'; ++p)
        outcome.links += *p == '\r' ? '|' : *p;
    for (int i = 0; i < found.count; ++i)
        outcome.places += std::string(found.place[i], strcspn(found.place[i], "\"' >")) + "|";
    return outcome;
}

class TagScan : public ::testing::Test {
protected:
    char title[TEXT_SIZE] = "start";
    void SetUp() override { UseTypicalSettings(title); }
    void TearDown() override { ReleasePageText(); }
};

TEST_F(TagScan, AttributesOfEachTagKind)
{
    struct Case { const char *page; int result; const char *links; } cases[] = {
        {"<IMG SRC='a.gif'>", TAG_LINKS, "a.gif|"},
        {"<img src = 'a.gif'>", TAG_LINKS, "a.gif|"},
        {"<img src=a.gif>", TAG_LINKS, "a.gif|"},
        {"<img  src='a.gif'>", TAG_LINKS, "a.gif|"},
        {"<img src  = 'a.gif'>", TAG_LINKS, "a.gif|"},
        {"<img src\t= 'a.gif'>", TAG_LINKS, "a.gif|"},
        // Names are matched whole, values read to their matching quote.
        {"<img alt='x' lowsrc='l.gif' src='a.gif'>", TAG_LINKS, "a.gif|"},
        {"<img alt='src' src='a.gif'>", TAG_LINKS, "a.gif|"},
        {"<img srcset=\"a.png 2x\" src=\"b.png\">", TAG_LINKS, "b.png|"},
        {"<img data-src=x.gif xsrc=y.gif>", TAG_NOTHING, ""},
        {"<img alt=\"<< \x91\x4F\x82\xD6\" title=\"a > b\" src=\"prev.gif\">", TAG_LINKS, "prev.gif|"},
        {"<img src=\" a.gif \">", TAG_LINKS, "a.gif|"},
        {"<a href='dir/page.html?x=1#top'>", TAG_LINKS, "dir/page.html|"},
        {"<a href='my page.html'>", TAG_LINKS, "my page.html|"},
        {"<a href=\"it's.html\">", TAG_LINKS, "it's.html|"},
        {"<a href=a\"b.html>", TAG_LINKS, "a\"b.html|"},
        {"<A HREF=\"x.html\">", TAG_LINKS, "x.html|"},
        {"<area shape=rect href='m.html'>", TAG_LINKS, "m.html|"},
        {"<bgsound src='s.mid'>", TAG_LINKS, "s.mid|"},
        {"<EMBED src=\"m.swf\">", TAG_LINKS, "m.swf|"},
        {"<body background='bg.gif'>", TAG_LINKS, "bg.gif|"},
        {"<td background = 'bg.gif'>", TAG_LINKS, "bg.gif|"},
        {"<TH background=b.gif>", TAG_LINKS, "b.gif|"},
        {"<tr background=b.gif>", TAG_LINKS, "b.gif|"},
        {"<table background=b.gif>", TAG_LINKS, "b.gif|"},
        {"<frame src='menu.html'>", TAG_FRAME, "menu.html|"},
        {"<frame name=x>", TAG_NOTHING, ""},
        {"<iframe src='x.html'>", TAG_NOTHING, ""},
        {"<script src='x.js'>", TAG_NOTHING, ""},
        {"<img> src='x.gif'", TAG_NOTHING, ""},
        {"<img src=''>", TAG_LINKS, "|"},
        {"<img src=", TAG_LINKS, "|"},
    };
    for (const Case &c : cases) {
        TagOutcome got = ScanFirstTag(c.page);
        EXPECT_EQ(got.result, c.result) << c.page;
        EXPECT_EQ(got.links, c.links) << c.page;
    }
}

TEST_F(TagScan, WindowOpenAddressComesFirst)
{
    struct Case { const char *page; const char *links; } cases[] = {
        {"<a href=p.html onclick=window.open('w.html')>", "w.html|p.html|"},
        {"<a onclick=\"window.open('w.html?x=1','n')\" href='p.html'>", "w.html|p.html|"},
        {"<a href=# onclick='WINDOW.OPEN(\"w.html\")'>", "w.html||"},
        {"<a href=p.html onclick=window.open(v)>", "p.html|"},
        {"<a href=p.html onclick=window.open()>", "p.html|"},
        {"<a onclick=window.open,'w.html'>", ""},
        {"<area onclick=window.open('w.html')>", "w.html|"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ScanFirstTag(c.page).links, c.links) << c.page;
}

TEST_F(TagScan, EachLinkKnowsItsOwnPlace)
{
    TagOutcome got = ScanFirstTag("<a href=p.html onclick=window.open('w.html')>");
    EXPECT_EQ(got.places, "w.html|p.html|");
    got = ScanFirstTag("<img src = \"a.gif\">");
    EXPECT_EQ(got.places, "a.gif|");
}

// The scan goes on after the tag's '>' outside quotes; a quote that stays
// open beyond the limit ends at the tag's first '>' instead.
TEST_F(TagScan, ScanPositionIsLeftAtTheTagsEnd)
{
    struct Case { std::string page, rest, links; } cases[] = {
        {"<a onclick=window.open('w.html') href='p.html'>x", ">x", "w.html|p.html|"},
        {"<img alt=x>rest", ">rest", ""},
        {"<p title=\"a > b\">rest", ">rest", ""},
        {"<img alt=\"open src=a.gif>rest", ">rest", ""},
        {"<img alt=\"" + std::string(4100, 'x') + "\" src=a.gif>rest<", ">rest<", ""},
        {"<img alt=\"" + std::string(4000, 'x') + "\" src=a.gif>rest", ">rest", "a.gif|"},
    };
    for (const Case &c : cases) {
        TagOutcome got = ScanFirstTag(c.page);
        EXPECT_EQ(std::string(g_scanPosition), c.rest) << c.page.substr(0, 40);
        EXPECT_EQ(got.links, c.links) << c.page.substr(0, 40);
    }
}

TEST_F(TagScan, ValueOfMoreThan259CharactersIsNotTaken)
{
    std::string fits(259, 'x'), over(260, 'x');
    EXPECT_EQ(ScanFirstTag("<img src='" + fits + "'>").links, fits + "|");
    EXPECT_EQ(ScanFirstTag("<img src=" + fits).links, fits + "|");
    TagOutcome got = ScanFirstTag("<img src='" + over + "'>");
    EXPECT_EQ(got.links, "");
    EXPECT_EQ(got.result, TAG_NOTHING);
}

TEST_F(TagScan, CommentsArePassedOver)
{
    ScanFirstTag("<!-- a > b -->");
    EXPECT_STREQ(g_scanPosition, "> b -->");
    ScanFirstTag("<COMMENT><img src=x.gif></comment>after");
    EXPECT_STREQ(g_scanPosition, "</comment>after");
    TagOutcome got = ScanFirstTag("<comment><img src=x.gif>");
    EXPECT_EQ(got.result, TAG_NOTHING);
    EXPECT_EQ(*g_scanPosition, '\0');
}

TEST_F(TagScan, BaseTagIsDisabled)
{
    // The name is overwritten at once; the closing "-->" comes with the
    // rewrites, so that a browser's comment ends with the tag.
    TagOutcome got = ScanFirstTag("<BASE HREF='http://host/dir/'><p>text");
    EXPECT_EQ(got.result, TAG_NOTHING);
    EXPECT_EQ(got.links, "");
    EXPECT_EQ(PageBytes(), "<!--E HREF='http://host/dir/'><p>text");
    ASSERT_TRUE(ApplyRewrites());
    EXPECT_EQ(PageBytes(), "<!--E HREF='http://host/dir/'--><p>text");
    struct Case { const char *page, *stored; } cases[] = {
        {"<base>", "<!--e-->"},
        {"<BASE HREF=x", "<!--E HREF=x"},          // never closed: nothing to end
        {"<BASE HREF=x<p>", "<!--E HREF=x<p>"},    // a '<' comes first
        {"<Base\r\nhref=\"x\">", "<!--e\r\nhref=\"x\"-->"},
    };
    for (const Case &c : cases) {
        ScanFirstTag(c.page);
        ASSERT_TRUE(ApplyRewrites());
        EXPECT_EQ(PageBytes(), c.stored) << "page: " << c.page;
    }
}

TEST(ReadTagName, StopsAndLength)
{
    struct Case { std::string text; bool ok; const char *name; } cases[] = {
        {"<IMG SRC=x>", true, "IMG"},
        {"<!-- x -->", true, "!"},
        {"<a\r\nhref=x>", true, "a"},
        {"<td\tbackground=x>", true, "td\tbackground=x"},
        {"<b<i>", true, "b"},
        {"</a>", true, "/a"},
        {"<", true, ""},
        {"<" + std::string(258, 'x') + ">", true, ""},
        {"<" + std::string(259, 'x') + ">", false, ""},
    };
    for (const Case &c : cases) {
        char name[TEXT_SIZE];
        EXPECT_EQ(ReadTagName(name, c.text.c_str()), c.ok) << c.text;
        if (c.ok && c.name[0] != '\0') {
            EXPECT_STREQ(name, c.name) << c.text;
        }
    }
}

TEST_F(TagScan, TodaysSourcesAreReadOnlyWithTheModernSetting)
{
    struct Case { const char *page; int result; const char *links; } cases[] = {
        {"<link rel=\"stylesheet\" href=\"s.css\">", TAG_NEEDED, "s.css|"},
        {"<LINK href=a.css REL='Alternate StyleSheet'>", TAG_NEEDED, "a.css|"}, // rel after href
        {"<link rel=\"shortcut icon\" href=i.ico>", TAG_NEEDED, "i.ico|"},
        {"<link rel=preload as=font href=f.woff2>", TAG_NEEDED, "f.woff2|"},
        {"<link rel=canonical href=c.html>", TAG_NOTHING, ""},
        {"<link rel=stylesheets href=c.css>", TAG_NOTHING, ""}, // a whole word only
        {"<script src=j.js></script>", TAG_NEEDED, "j.js|"},
        {"<iframe src=f.html>", TAG_FRAME, "f.html|"},
        {"<img src=a.png srcset=\"b.png 2x, c.png 480w\" data-src=d.png data-srcset='e.png 1x,f.png'>", TAG_LINKS,
         "a.png|b.png|c.png|d.png|e.png|f.png|"},
        {"<source srcset=\"s.webp\" src=s.mp4>", TAG_LINKS, "s.webp|s.mp4|"},
        {"<video src=v.mp4 poster=p.jpg>", TAG_LINKS, "v.mp4|p.jpg|"},
        {"<audio src=a.mp3>", TAG_LINKS, "a.mp3|"},
        {"<track src=t.vtt>", TAG_LINKS, "t.vtt|"},
        {"<input type=image src=b.gif>", TAG_LINKS, "b.gif|"},
        {"<input type=text src=b.gif>", TAG_NOTHING, ""},
        {"<object data=o.svg>", TAG_LINKS, "o.svg|"},
        {"<meta http-equiv=\"Refresh\" content=\"0; URL='next.html'\">", TAG_LINKS, "next.html|"},
        {"<meta name=x content=\"0; url=next.html\">", TAG_NOTHING, ""},
        {"<div style=\"background:url(' bg.png') ; x:url(b.gif)\">", TAG_NEEDED, "bg.png|b.gif|"},
        {"<img src=a.gif style='background:url(b.gif)'>", TAG_LINKS, "a.gif|b.gif|"},
    };
    for (const Case &c : cases) {
        g_scanSettings.modern = 1;
        TagOutcome got = ScanFirstTag(c.page);
        EXPECT_EQ(got.result, c.result) << c.page;
        EXPECT_EQ(got.links, c.links) << c.page;
        g_scanSettings.modern = 0;
        got = ScanFirstTag(c.page);
        std::string src = strncmp(c.page, "<img", 4) == 0 ? std::string(c.links, 6) : ""; // IMG src only
        EXPECT_EQ(got.links, src) << "setting off: " << c.page;
    }
}

TEST(StyleText, AddressesOfStyleSheetsSrcsetsAndRefreshes)
{
    struct Case { bool (*next)(const char **, const char *, TextRange *); const char *text, *addresses; } cases[] = {
        {NextStyleAddress, "a{background:url(a.png)}", "a.png|"},
        {NextStyleAddress, "b{background:URL( \"b c.png\" )}", "b c.png|"},
        {NextStyleAddress, "@import \"i.css\";@import url(j.css) screen;@import x;", "i.css|j.css|"},
        {NextStyleAddress, "/* url(no.png) */p{content:\"url(no2.png)\"}q{x:url('q.png')}", "q.png|"},
        {NextStyleAddress, ".a{b:url(a.png)}.f{src:url(f.woff2)format(\"woff2\"),url(f.woff)}", "a.png|f.woff2|f.woff|"},
        {NextStyleAddress, "x{y:myurl(z)} /* url(a.png)", ""},
        {NextStyleAddress, "a:url(&quot;a b.png&quot;);b:url( &#39;c.png&#39;)", "a b.png|c.png|"},
        {NextStyleAddress, "x{y:url(data:image/png;base64,AA==)}", "data:image/png;base64,AA==|"},
        {NextSrcsetAddress, "a.png 1x, b.png 2x", "a.png|b.png|"},
        {NextSrcsetAddress, "a.png,, b.png , c.png 100w,d,e.png", "a.png|b.png|c.png|d,e.png|"},
        {NextSrcsetAddress, "data:image/png;base64,QQ== 1x, f.png (x, y) 2x, g.png", "data:image/png;base64,QQ==|f.png|g.png|"},
        {NextSrcsetAddress, " , ", ""},
    };
    for (const Case &c : cases) {
        std::string got;
        const char *p = c.text, *end = c.text + strlen(c.text);
        TextRange range;
        while (c.next(&p, end, &range))
            got += std::string(range.begin, range.end) + "|";
        EXPECT_EQ(got, c.addresses) << c.text;
    }
    const char *refreshes[][2] = {{"0; url=n.html", "n.html"}, {"5;URL='n.html'", "n.html"}, {"0, n.html", "n.html"},
                                  {"10", ""}, {"x; url=n.html", ""}};
    for (const auto &r : refreshes) {
        TextRange range{NULL, NULL};
        std::string got = RefreshAddress(r[0], r[0] + strlen(r[0]), &range) ? std::string(range.begin, range.end) : "";
        EXPECT_EQ(got, r[1]) << r[0];
    }
}
