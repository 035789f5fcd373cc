// tests/unit/page_test_support.h — helpers of the page tests.
// A page text loaded from bytes, the scan settings of a typical crawl, and the recorded
// links read back.
#ifndef PARVEL_TESTS_UNIT_PAGE_TEST_SUPPORT_H
#define PARVEL_TESTS_UNIT_PAGE_TEST_SUPPORT_H

#include "page/page.h"

#include <string.h>

#include <ostream>
#include <string>
#include <vector>

// Makes the bytes (NULs included) the page text.
inline void LoadPageBytes(const std::string &bytes)
{
    BlockHandle block = AllocBlock(bytes.size() + 1);
    char *text = LockBlock(block);
    memcpy(text, bytes.data(), bytes.size());
    UnlockBlock(block);
    SetPageText(block, bytes.size());
}

// The whole page text as it stands, bytes from a NUL on included.
inline std::string PageBytes(void) { return std::string(g_pageText, g_pageLength); }

// The settings of a crawl below /a/ of a server at unlimited depth, with a
// page of depth 1 that came as "text/html", out_server off and ftp on, saved
// in C:\save; no title is read.
inline void UseTypicalSettings(char *title)
{
    g_scanSettings.startPath = "/a/";
    g_scanSettings.contentType = "text/html";
    g_scanSettings.outServer = 0;
    g_scanSettings.useFtp = 1;
    g_scanSettings.readTitle = 0;
    g_scanSettings.shortcutTitle = title;
    g_scanSettings.pageDepth = 1;
    g_scanSettings.depthLimit = 32512; // unlimited
    g_scanSettings.storedHostPart = NULL;
    g_scanSettings.storedPathPart = NULL;
    g_scanSettings.modern = 0;
    g_scanSettings.styleSheet = 0;
    g_ignorePatterns[0] = '\0';
    strcpy(g_saveFolder, "C:\\save");
}

struct RecordedLink {
    std::string address;
    int kind;
    bool operator==(const RecordedLink &other) const { return address == other.address && kind == other.kind; }
};

inline std::vector<RecordedLink> RecordedLinks(const LinkList &list)
{
    std::vector<RecordedLink> links;
    size_t offset = 0;
    char address[TEXT_SIZE + 1];
    for (int n = 0; TakeLink(&list, &offset, address) != 0; ++n)
        links.push_back({address, LinkKind(&list, n)});
    return links;
}

inline std::ostream &operator<<(std::ostream &out, const RecordedLink &link)
{
    return out << "{" << link.address << ", " << link.kind << "}";
}

// Scans the bytes as a page of host/a/b/ and returns what was recorded; the
// rewritten page is left as the page text.
inline std::vector<RecordedLink> ScanBytes(const std::string &bytes, const char *host = "host",
                                           const char *path = "/a/b/")
{
    LoadPageBytes(bytes);
    LinkList list;
    if (!CreateLinkList(&list))
        return {};
    ScanPage(host, path, &list);
    std::vector<RecordedLink> links = RecordedLinks(list);
    FreeLinkList(&list);
    return links;
}

#endif
