// tests/unit/link_handling_test.cpp — link handling: absolute and relative links resolved against their page, the verdicts, the rewrite into local relative paths, the climb above the server's root, and the link schemes that are followed.
#include "page/page.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/page_test_support.h"

struct LinkOutcome {
    std::string resolved;
    std::string page; // the page text after the rewrite
    int verdict;
};

// Handles the link of a page "<a href="LINK" + after + ">" at host/a/b/
// (or the given page address) and applies the rewrite.
static LinkOutcome HandleIn(const std::string &link, const std::string &after = "\"",
                            const char *host = "host", const char *path = "/a/b/")
{
    LoadPageBytes("<a href=\"" + link + after + ">");
    static char resolved[LINK_BUFFER_SIZE];
    int verdict = HandleLink(resolved, host, path, link.c_str(), g_pageText + 9);
    EXPECT_TRUE(ApplyRewrites());
    std::string page(g_pageText, g_pageLength);
    return {resolved, page.substr(9, page.size() - 10), verdict};
}

class LinkHandling : public ::testing::Test {
protected:
    char title[TEXT_SIZE] = "";
    void SetUp() override { UseTypicalSettings(title); }
    void TearDown() override { ReleasePageText(); }
};

TEST_F(LinkHandling, ExamplesOfAPageAtHostABPage)
{
    struct Case { const char *link, *after; int ftp; const char *resolved, *page; int verdict; } cases[] = {
        {"http://host/x/y.gif", "\"", 1, "host/x/y.gif", "../../../host/x/y.gif\"", VERDICT_SAME_SERVER},
        {"/x/y.gif", "\"", 1, "host/x/y.gif", "../../../host/x/y.gif\"", VERDICT_SAME_SERVER},
        {"http://host/a/b/c.html", "?q=1\"", 1, "host/a/b/c.html", "../../../host/a/b/c.html?q=1\"", VERDICT_SAME_SERVER},
        {"http://host/a/b/", "\"", 1, "host/a/b/", "../../../host/a/b/\"", VERDICT_SAME_SERVER},
        {"http://host/other/p.html", "\"", 1, "host/other/p.html", "http://host/other/p.html\"", VERDICT_OUTSIDE},
        {"http://other/p.html", "\"", 1, "other/p.html", "http://other/p.html\"", VERDICT_OUTSIDE},
        {"http://other/z.jpg", "\"", 1, "other/z.jpg", "../../../other/z.jpg\"", VERDICT_OUTSIDE},
        {"ftp://ftp.host/f.zip", "\"", 1, "ftp.host/f.zip", "../../../ftp.host/f.zip\"", VERDICT_FTP},
        {"ftp://ftp.host/f.zip", "\"", 0, "ftp.host/f.zip", "ftp://ftp.host/f.zip\"", VERDICT_FTP},
        {"c.html", "\"", 1, "host/a/b/c.html", "c.html\"", VERDICT_SAME_SERVER},
        {"../c.html", "\"", 1, "host/a/c.html", "../c.html\"", VERDICT_SAME_SERVER},
        {"./d/../e.html", "\"", 1, "host/a/b/e.html", "./d/../e.html\"", VERDICT_SAME_SERVER},
        {"../../../host/x/y.gif", "\"", 1, "host/x/y.gif", "../../../host/x/y.gif\"", VERDICT_SAME_SERVER},
    };
    for (const Case &c : cases) {
        g_scanSettings.useFtp = c.ftp;
        LinkOutcome got = HandleIn(c.link, c.after);
        EXPECT_EQ(got.resolved, c.resolved) << c.link;
        EXPECT_EQ(got.page, c.page) << c.link;
        EXPECT_EQ(got.verdict, c.verdict) << c.link;
    }
}

TEST_F(LinkHandling, AbsoluteLinkEdges)
{
    struct Case { const char *link; const char *resolved, *page; int verdict; } cases[] = {
        {"HTTP://host/x.gif", "host/x.gif", "../../../host/x.gif", VERDICT_SAME_SERVER},
        {"Http://HOST/a/", "HOST/a/", "../../../HOST/a/", VERDICT_SAME_SERVER},
        {"http://host:8080/x.gif", "host:8080/x.gif", "../../../host:8080/x.gif", VERDICT_OUTSIDE},
        {"http://user@host/x.gif", "user@host/x.gif", "../../../user@host/x.gif", VERDICT_OUTSIDE},
        {"http://host/x/", "host/x/", "http://host/x/", VERDICT_OUTSIDE},  // a folder outside the start path
        {"http://host/A/y.html", "host/A/y.html", "../../../host/A/y.html", VERDICT_SAME_SERVER}, // start path without case
        {"http://host/a/data", "host/a/data", "../../../host/a/data", VERDICT_SAME_SERVER}, // no extension: a file
        {"http://host", "host", "http://host", VERDICT_OUTSIDE},       // the root is outside /a/
        {"http:", "", "http:", VERDICT_OUTSIDE},
        {"http:/", "", "http:/", VERDICT_OUTSIDE},
        {"//other/x.gif", "other/x.gif", "../../../other/x.gif", VERDICT_OUTSIDE}, // protocol-relative
        {"https://host/a/y.gif", "https://host/a/y.gif", "../../../host/a/y.gif", VERDICT_SAME_SERVER},
        {"HTTPS://Host:443/a/", "https://Host/a/", "../../../Host/a/", VERDICT_SAME_SERVER}, // default port dropped
        {"https://host:8443/x.gif", "https://host:8443/x.gif", "../../../host:8443/x.gif", VERDICT_OUTSIDE},
        {"https://other/p.html", "https://other/p.html", "https://other/p.html", VERDICT_OUTSIDE},
        {"http://host/a/p.ASP", "host/a/p.ASP", "../../../host/a/p.ASP", VERDICT_SAME_SERVER},
        {"http://host/a/p.shtml", "host/a/p.shtml", "../../../host/a/p.shtml", VERDICT_SAME_SERVER},
        {"http://host/b/p.htm", "host/b/p.htm", "http://host/b/p.htm", VERDICT_OUTSIDE},
    };
    for (const Case &c : cases) {
        LinkOutcome got = HandleIn(c.link);
        EXPECT_EQ(got.resolved, c.resolved) << c.link;
        EXPECT_EQ(got.page, std::string(c.page) + "\"") << c.link;
        EXPECT_EQ(got.verdict, c.verdict) << c.link;
    }
}

// A page of an https address: its relative, rooted and protocol-relative
// links keep https; a page that answered from another address than the one
// it is stored at (a redirect) has its links climb from the stored folder,
// relative ones rewritten too.
TEST_F(LinkHandling, HttpsPagesAndRedirectedPages)
{
    struct Case { const char *link, *stored, *resolved, *page; } cases[] = {
        {"c.html", NULL, "https://host/a/b/c.html", "c.html"},
        {"/a/x.gif", NULL, "https://host/a/x.gif", "../../../host/a/x.gif"},
        {"//cdn/x.gif", NULL, "https://cdn/x.gif", "../../../cdn/x.gif"},
        {"http://host/a/y.gif", NULL, "host/a/y.gif", "../../../host/a/y.gif"}, // http and https: one server
        {"../../a/z.gif", NULL, "https://host/a/z.gif", "../../a/z.gif"},
        {"c.html", "/", "https://host/a/b/c.html", "../host/a/b/c.html"},
        {"/a/x.gif", "/", "https://host/a/x.gif", "../host/a/x.gif"},
        {"../../x.html", "/", "https://host/x.html", "../../x.html"}, // outside the start path /a/: kept
    };
    for (const Case &c : cases) {
        g_scanSettings.storedPathPart = c.stored;
        LinkOutcome got = HandleIn(c.link, "\"", "https://host", "/a/b/");
        EXPECT_EQ(got.resolved, c.resolved) << c.link << " stored at " << (c.stored ? c.stored : "/a/b/");
        EXPECT_EQ(got.page, std::string(c.page) + "\"") << c.link << " stored at " << (c.stored ? c.stored : "/a/b/");
    }
    g_scanSettings.storedPathPart = NULL;
}

TEST_F(LinkHandling, PageDepthGivesTheClimb)
{
    EXPECT_EQ(HandleIn("http://host/x.gif", "\"", "host", "/").page, "../host/x.gif\"");
    EXPECT_EQ(HandleIn("http://host/x.gif", "\"", "host", "/a/").page, "../../host/x.gif\"");
}

TEST_F(LinkHandling, ContentTypeOtherThanHtmlMakesEveryLinkPageLike)
{
    g_scanSettings.contentType = "text/plain";
    LinkOutcome got = HandleIn("http://other/z.jpg");
    EXPECT_EQ(got.page, "http://other/z.jpg\"");
    EXPECT_EQ(got.verdict, VERDICT_OUTSIDE);
    got = HandleIn("http://host/x/y.gif");
    EXPECT_EQ(got.page, "http://host/x/y.gif\"");
    EXPECT_EQ(got.verdict, VERDICT_OUTSIDE);
    // Only the media type counts: parameters such as the charset do not.
    for (const char *type : {"TEXT/HTML", "text/html; charset=UTF-8", " text/html ;charset=Shift_JIS"}) {
        g_scanSettings.contentType = type;
        EXPECT_EQ(HandleIn("http://host/x/y.gif").verdict, VERDICT_SAME_SERVER) << type;
    }
    g_scanSettings.contentType = "text/htmlx";
    EXPECT_EQ(HandleIn("http://host/x/y.gif").verdict, VERDICT_OUTSIDE);
}

TEST_F(LinkHandling, IgnoredFilesAreNotRewritten)
{
    strcpy(g_ignorePatterns, "*.GIF *.ZIP");
    LinkOutcome got = HandleIn("http://other/z.gif");
    EXPECT_EQ(got.page, "http://other/z.gif\"");
    EXPECT_EQ(got.verdict, VERDICT_SAME_SERVER);
    EXPECT_EQ(HandleIn("ftp://f/x.zip").page, "ftp://f/x.zip\"");
    EXPECT_EQ(HandleIn("http://other/z.jpg").page, "../../../other/z.jpg\"");
}

TEST_F(LinkHandling, RewriteThatWouldNotFitLeavesTheLink)
{
    // 3 * "../" + "host/" + file: the file may have 259 - 14 characters.
    std::string fits = "http://host/" + std::string(245 - 4, 'f') + ".gif";
    std::string over = "http://host/" + std::string(246 - 4, 'f') + ".gif";
    LinkOutcome got = HandleIn(fits);
    EXPECT_EQ(got.page.size(), 259u + 1);
    EXPECT_EQ(got.page.substr(0, 14), "../../../host/");
    got = HandleIn(over);
    EXPECT_EQ(got.page, over + "\"");
    EXPECT_EQ(got.resolved, over.substr(7));
}

TEST_F(LinkHandling, RelativeLinks)
{
    const int same = VERDICT_SAME_SERVER, outside = VERDICT_OUTSIDE;
    struct Case { const char *link, *path, *resolved; int verdict; } cases[] = {
        {"../c/", "/a/bbb/", "host/a/c/", same},
        {"sub/", "/a/bbb/", "host/a/bbb/sub/", same},
        {"sub", "/a/b/", "host/a/b/sub", same},
        {"./", "/a/b/", "host/a/b/", same},
        {".", "/a/b/", "host/a/b/", same},
        {"..", "/a/b/", "host/a/", same},
        {"../../x.html", "/a/b/", "host/x.html", same}, // outside the start path: the admission test decides
        {"a//b", "/", "host/a//b", same},
        {"x/../../y.html", "/a/b/", "host/a/y.html", same},
        // Climbing above the root: the first other segment is a host name,
        // and the link is judged as the absolute link to that address.
        {"../x.html", "/", "x.html", outside},
        {"../../../host/x/y.gif", "/a/b/", "host/x/y.gif", same},
        {"../../../other/z.jpg", "/a/b/", "other/z.jpg", outside},
        {"../../../host/a/b/c.html", "/a/b/", "host/a/b/c.html", same},
        {"../../../host/b/c.html", "/a/b/", "host/b/c.html", outside},
        {"./.././../h2/p.html", "/a/", "h2/p.html", outside},
        {"../.hidden/../z", "/", "z", outside},
        // Only '.' segments above the root: the server's root page.
        {"../", "/", "host/", same},
        {"../..", "/a/", "host/", same},
        {"../../../", "/a/b/", "host/", same},
        {"..", "/", "host/", same},
    };
    for (const Case &c : cases) {
        LinkOutcome got = HandleIn(c.link, "\"", "host", c.path);
        EXPECT_EQ(got.resolved, c.resolved) << c.link << " in " << c.path;
        EXPECT_EQ(got.verdict, c.verdict) << c.link << " in " << c.path;
        EXPECT_EQ(got.page, std::string(c.link) + "\"") << c.link;
    }
}

TEST_F(LinkHandling, RewrittenLinkResolvesBackToItsAddress)
{
    const char *addresses[] = {"host/x/y.gif", "host/a/b/c.html", "other/z.jpg", "host/a/", "host:81/q.png"};
    const char *paths[] = {"/", "/a/", "/a/b/", "/a/b/c/d/"};
    for (const char *path : paths)
        for (const char *address : addresses) {
            std::string link = std::string("http://") + address;
            LinkOutcome first = HandleIn(link, "\"", "host", path);
            ASSERT_NE(first.page, link + "\"") << address << " in " << path;
            std::string rewritten = first.page.substr(0, first.page.size() - 1);
            LinkOutcome again = HandleIn(rewritten, "\"", "host", path);
            EXPECT_EQ(again.resolved, address) << rewritten << " in " << path;
            EXPECT_EQ(again.verdict, first.verdict) << rewritten << " in " << path;
        }
}

TEST(CheckLinkScheme, Cases)
{
    struct Case { const char *link; int kind, expected; } cases[] = {
        {"http://h/x", 1, 1},
        {"HTTP://h/x", 2, 2},
        {"ftp://h/x", 1, 2},
        {"FTP://h/x", 1, 2},
        {"https://h/x", 1, 1},
        {"Https://h/x", 2, 2},
        {"data:image/gif;base64,R0", 1, 0},
        {"about:blank", 1, 0},
        {"C:/x.gif", 1, 0},
        {"mailto:a@b", 1, 0},
        {"javascript:go()", 1, 0},
        {"x.html", 1, 1},
        {"x.html", 2, 2},
        {"dir/a:b.html", 1, 1},
        {"/wiki/File:A.png", 1, 1},
        {"a.html?t=10:00", 1, 1},
        {"1x:y", 1, 1}, // a scheme begins with a letter
        {":x", 1, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CheckLinkScheme(c.link, c.kind), c.expected) << c.link;
}
