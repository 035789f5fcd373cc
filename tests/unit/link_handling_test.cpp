// tests/unit/link_handling_test.cpp — link handling: resolution, verdicts, rewrites.
// Absolute and relative links resolved against their page, the verdicts, the rewrite into
// local relative paths, the climb above the server's root, and the followed link schemes.
#include "page/page.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/page_test_support.h"

struct LinkOutcome {
    std::string resolved;
    std::string page; // the page text after the rewrite
    int kind;
};

// Handles the link of a page "<a href="LINK" + after + ">" at host/a/b/
// (or the given page address) and applies the rewrite.
static LinkOutcome HandleIn(const std::string &link, const std::string &after = "\"",
                            const char *host = "host", const char *path = "/a/b/", int tagKind = LINK_NEXT_LEVEL)
{
    LoadPageBytes("<a href=\"" + link + after + ">");
    static char resolved[LINK_BUFFER_SIZE];
    int kind = HandleLink(resolved, host, path, link.c_str(), g_pageText + 9, tagKind);
    EXPECT_TRUE(ApplyRewrites());
    std::string page(g_pageText, g_pageLength);
    return {resolved, page.substr(9, page.size() - 10), kind};
}

static unsigned s_archives;
static unsigned ReadTestSetting(const char *name, unsigned defaultValue)
{
    return strcmp(name, "cbe") == 0 ? s_archives : defaultValue;
}

class LinkHandling : public ::testing::Test {
protected:
    char title[TEXT_SIZE] = "";
    void SetUp() override
    {
        UseTypicalSettings(title);
        strcpy(g_saveFolder, "C:\\save");
        s_archives = 0;
        g_readSettingNumber = ReadTestSetting;
    }
    void TearDown() override
    {
        ReleasePageText();
        g_readSettingNumber = NULL;
        UseTypicalSettings(title);
    }
};

struct Case {
    const char *link, *resolved, *page;
    int kind;
};

static void ExpectCases(const Case *cases, size_t count, const char *host = "host", const char *path = "/a/b/")
{
    for (size_t i = 0; i < count; ++i) {
        const Case &c = cases[i];
        LinkOutcome got = HandleIn(c.link, "\"", host, path);
        EXPECT_EQ(got.resolved, c.resolved) << c.link << " in " << host << path;
        EXPECT_EQ(got.page, std::string(c.page) + "\"") << c.link << " in " << host << path;
        EXPECT_EQ(got.kind, c.kind) << c.link << " in " << host << path;
    }
}

const int NEXT = LINK_NEXT_LEVEL, NOT = LINK_NOT_FOLLOWED, OUT = LINK_OUTSIDE_DATA, FTP = LINK_FTP;

// A page at host/a/b/ of a crawl of /a/ at unlimited depth, out_server off,
// ftp on: what the rules fetch leads to its stored file, what they do not
// leads to the server.
TEST_F(LinkHandling, ExamplesOfAPageAtHostABPage)
{
    const Case cases[] = {
        {"http://host/x/y.gif", "host/x/y.gif", "../../../host/x/y.gif", NEXT},
        {"/x/y.gif", "host/x/y.gif", "../../../host/x/y.gif", NEXT},
        {"http://host/a/b/", "host/a/b/", "../../../host/a/b/index.html", NEXT}, // a folder's stored page
        {"http://host/a/b", "host/a/b", "../../../host/a/b/index.html", NEXT},   // made a folder by its name
        {"http://host/other/p.html", "host/other/p.html", "http://host/other/p.html", NOT},
        {"/other/p.html", "host/other/p.html", "http://host/other/p.html", NOT},  // leads to the server
        {"http://other/z.jpg", "other/z.jpg", "http://other/z.jpg", NOT},         // out_server off
        {"ftp://ftp.host/f.zip", "ftp.host/f.zip", "../../../ftp.host/f.zip", FTP},
        {"c.html", "host/a/b/c.html", "c.html", NEXT},
        {"../c.html", "host/a/c.html", "../c.html", NEXT},
        {"./d/../e.html", "host/a/b/e.html", "./d/../e.html", NEXT},
        {"sub/", "host/a/b/sub/", "sub/index.html", NEXT},
        {"sub", "host/a/b/sub", "sub/index.html", NEXT},
        {"../", "host/a/", "../index.html", NEXT},
        {"../../x.html", "host/x.html", "http://host/x.html", NOT}, // outside the start path
        {"../../../../y.gif", "host/y.gif", "../../../host/y.gif", NEXT}, // above the root: stays on it
        {"photo+1.png", "host/a/b/photo+1.png", "photo+1.png", NEXT},
        {"my page.html", "host/a/b/my%20page.html", "my page.html", NEXT},
        {"http://u:p@host/x.gif", "u:p@host/x.gif", "../../../host/x.gif", NEXT},
        {"con.gif", "host/a/b/con.gif", "../../../host/a/b/con_.gif", NEXT}, // stored under a safe name
        {"http://host/a/100%25.gif", "host/a/100%25.gif", "../../../host/a/100%2525.gif", NEXT}, // stored as 100%25.gif
    };
    ExpectCases(cases, sizeof cases / sizeof cases[0]);
}

// The settings and the depth decide what is fetched, and so which links
// lead to stored files.
TEST_F(LinkHandling, RulesDecideWhatLeadsToTheCopy)
{
    g_scanSettings.outServer = 1;
    g_scanSettings.useFtp = 0;
    const Case outside[] = {
        {"http://other/z.jpg", "other/z.jpg", "../../../other/z.jpg", OUT},
        {"http://host:8080/x.gif", "host:8080/x.gif", "../../../host-8080/x.gif", OUT},
        {"http://other/p.html", "other/p.html", "http://other/p.html", OUT}, // another server's page
        {"ftp://ftp.host/f.zip", "ftp.host/f.zip", "ftp://ftp.host/f.zip", NOT},
    };
    ExpectCases(outside, sizeof outside / sizeof outside[0]);
    g_scanSettings.pageDepth = 1;
    g_scanSettings.depthLimit = 1;
    strcpy(g_ignorePatterns, "*.ZIP");
    s_archives = 1;
    const Case limited[] = {
        {"c.html", "host/a/b/c.html", "http://host/a/b/c.html", NEXT}, // beyond the depth limit
        {"x.gif", "host/a/b/x.gif", "x.gif", NEXT},                    // files at any depth
        {"t.zip", "host/a/b/t.zip", "http://host/a/b/t.zip", NEXT},    // ignored
        {"http://host/t.exe", "host/t.exe", "../../../archives/t.exe", NEXT},
    };
    ExpectCases(limited, sizeof limited / sizeof limited[0]);
    EXPECT_EQ(HandleIn("f.html", "\"", "host", "/a/b/", LINK_SAME_LEVEL).page, "f.html\"") << "a frame";
}

// The climb of a rewritten link counts the folders of the page's stored
// place, whatever empty, dot or escaped separators its address holds.
TEST_F(LinkHandling, PagesWhoseAddressHasEmptyDotOrEscapedSegments)
{
    const Case doubled[] = {
        {"http://host/x.gif", "host/x.gif", "../../../host/x.gif", NEXT},
        {"x.gif", "host//a/b/x.gif", "x.gif", NEXT},
        {"../../../z.gif", "host/z.gif", "../../../host/z.gif", NEXT}, // as a browser resolves it
    };
    ExpectCases(doubled, sizeof doubled / sizeof doubled[0], "host", "//a/b/");
    const Case escaped[] = {{"http://host/x.gif", "host/x.gif", "../../../host/x.gif", NEXT}};
    ExpectCases(escaped, 1, "host", "/a%2Fb/");
    EXPECT_EQ(HandleIn("http://host/a/./b/../c.gif").resolved, "host/a/c.gif");
}

// Links this program wrote climb exactly to the save folder's root: read
// back from an unchanged stored page they lead to the page's own server or
// are not followed; other links above the root stay on the root.
TEST_F(LinkHandling, LinksAboveTheRoot)
{
    const Case cases[] = {
        {"../../../host/x/y.gif", "host/x/y.gif", "../../../host/x/y.gif", NEXT},
        {"../../../other.example/z.jpg", "", "../../../other.example/z.jpg", NOT},
        {"../../../ftp.host/f.zip", "", "../../../ftp.host/f.zip", NOT},
        {"../../../archives/t.zip", "", "../../../archives/t.zip", NOT},
        {"../../../images/a.gif", "host/images/a.gif", "../../../host/images/a.gif", NEXT},
    };
    ExpectCases(cases, sizeof cases / sizeof cases[0]);
    const Case root[] = {
        {"../images/a.gif", "host/images/a.gif", "../host/images/a.gif", NEXT},
        {"../index.html", "host/index.html", "http://host/index.html", NOT}, // outside the start path /a/
        {"..", "host/", "http://host/", NOT},
    };
    ExpectCases(root, sizeof root / sizeof root[0], "host", "/");
}

// A page of an https address: its relative, rooted and protocol-relative
// links keep https; a page stored at another address than the one it
// answered from (a redirect) has its links lead from its stored folder.
TEST_F(LinkHandling, HttpsPagesAndRedirectedPages)
{
    const Case secure[] = {
        {"c.html", "https://host/a/b/c.html", "c.html", NEXT},
        {"/a/x.gif", "https://host/a/x.gif", "../../../host/a/x.gif", NEXT},
        {"//cdn/x.gif", "https://cdn/x.gif", "https://cdn/x.gif", NOT},
        {"http://host/a/y.gif", "host/a/y.gif", "../../../host/a/y.gif", NEXT}, // one server with https
        {"https://Host:443/a/", "https://Host/a/", "../../../Host/a/index.html", NEXT},
        {"../../x.html", "https://host/x.html", "https://host/x.html", NOT},
    };
    ExpectCases(secure, sizeof secure / sizeof secure[0], "https://host", "/a/b/");
    g_scanSettings.storedHostPart = "host";
    g_scanSettings.storedPathPart = "/";
    const Case redirected[] = {
        {"c.html", "https://host/a/b/c.html", "../host/a/b/c.html", NEXT},
        {"/a/x.gif", "https://host/a/x.gif", "../host/a/x.gif", NEXT},
    };
    ExpectCases(redirected, sizeof redirected / sizeof redirected[0], "https://host", "/a/b/");
}

TEST_F(LinkHandling, ContentTypeOtherThanHtmlMakesEveryLinkPageLike)
{
    g_scanSettings.contentType = "text/plain";
    EXPECT_EQ(HandleIn("http://host/x/y.gif").kind, NOT);
    // Only the media type counts: parameters such as the charset do not.
    for (const char *type : {"TEXT/HTML", "text/html; charset=UTF-8", " text/html ;charset=Shift_JIS"}) {
        g_scanSettings.contentType = type;
        EXPECT_EQ(HandleIn("http://host/x/y.gif").kind, NEXT) << type;
    }
    g_scanSettings.contentType = "text/htmlx";
    EXPECT_EQ(HandleIn("http://host/x/y.gif").kind, NOT);
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

// Every link rewritten to the copy, read back from the stored page, names
// the address it was written for.
TEST_F(LinkHandling, RewrittenLinkResolvesBackToItsAddress)
{
    const char *addresses[] = {"host/x/y.gif", "host/a/b/c.html", "host/a/q.png"};
    const char *paths[] = {"/", "/a/", "/a/b/", "/a/b/c/d/"};
    for (const char *path : paths) {
        for (const char *address : addresses) {
            std::string link = std::string("http://") + address;
            LinkOutcome first = HandleIn(link, "\"", "host", path);
            ASSERT_NE(first.page, link + "\"") << address << " in " << path;
            std::string rewritten = first.page.substr(0, first.page.size() - 1);
            LinkOutcome again = HandleIn(rewritten, "\"", "host", path);
            EXPECT_EQ(again.resolved, address) << rewritten << " in " << path;
            EXPECT_EQ(again.page, first.page) << rewritten << " in " << path;
        }
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
