// fuzz/page_scan_fuzz.cpp — libFuzzer target over the scan and rewrite of a whole page: besides the sanitizers it checks that the rewritten page is the stored one with only absolute link texts replaced by their local relative paths, and that every rewritten link was recorded.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "page/page.h"

// What the first byte of an input chooses.
enum {
    FLAG_HTML = 1,      // the page came as "text/html"
    FLAG_OUT_SERVER = 2,
    FLAG_FTP = 4,
    FLAG_TITLE = 8,     // the page is a start page
    FLAG_IGNORE = 64,   // ignore patterns "*.GIF *.ZIP"
};

static const char *const pagePaths[] = {"/", "/a/", "/a/b/", "/a/b/c/d/"};
static const char HOST[] = "host";

static void Fail(const char *what)
{
    fprintf(stderr, "page_scan_fuzz: %s\n", what);
    abort();
}

// The address an absolute link text stands for, as link handling builds it.
static std::string AddressOf(const std::string &link)
{
    if (link.size() >= 2 && link[0] == '/' && link[1] == '/')
        return link.substr(2); // protocol-relative, on the page's scheme (http)
    if (!link.empty() && link[0] == '/')
        return HOST + link;
    size_t colon = link.find(':');
    if (colon == std::string::npos || colon + 3 > link.size())
        return std::string();
    bool secure = colon == 5 && strncasecmp(link.c_str(), "https", 5) == 0;
    static char form[LINK_BUFFER_SIZE];
    return MakeAddressForm(form, sizeof form, link.c_str() + colon + 3, secure) ? form : std::string();
}

// The address as its host, path and file parts give it: a bare host gains
// the '/' of its path part.
static std::string LocalPartsOf(const std::string &address)
{
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    if (address.size() >= LINK_BUFFER_SIZE || SplitAddress(address.c_str(), host, path, file) != 1)
        return std::string(TEXT_SIZE, '?'); // never rewritten
    return std::string(HostWithoutScheme(host)) + path + file;
}

static bool IsValueStop(char c, bool quoted)
{
    return c == '\0' || strchr(quoted ? "\" <>?#'\r\n" : " <>?#'\r\n", c) != NULL;
}

// The addresses a rewrite may stand for: a value ends at a double quote
// only when it was quoted, so a text with one inside has two readings.
typedef std::vector<std::string> Readings;

// True when the rewritten page begins, at out, with the local relative path
// of an absolute link that begins at in; both are moved past it and the
// link's possible addresses are added to rewritten.
static bool SkipRewrite(const std::string &input, size_t &in, const std::string &output, size_t &out,
                        const std::string &climb, std::vector<Readings> &rewritten)
{
    Readings readings;
    size_t inAfter = in, outAfter = out;
    for (int quoted = 0; quoted < 2; ++quoted) {
        size_t end = in;
        while (end < input.size() && !IsValueStop(input[end], quoted != 0))
            ++end;
        std::string link = input.substr(in, end - in);
        std::string local = climb + LocalPartsOf(AddressOf(link));
        if (link.empty() || output.compare(out, local.size(), local) != 0)
            continue;
        // Two readings can give the same local path; only the one after
        // which the pages go on alike can be the rewrite.
        size_t next = out + local.size();
        bool goesOn = (end == input.size() && next == output.size()) ||
                      (end < input.size() && next < output.size() && input[end] == output[next]);
        if (!goesOn)
            continue;
        readings.push_back(AddressOf(link));
        if (readings.size() == 1) {
            inAfter = end;
            outAfter = next;
        }
    }
    if (readings.empty())
        return false;
    in = inAfter;
    out = outAfter;
    rewritten.push_back(readings);
    return true;
}

// True when a BASE tag name at in became "!--" at out, and the tag's own
// closing '>' (when a '>' comes before any '<') became "-->".
static bool SkipDisabledBase(const std::string &input, size_t &in, const std::string &output, size_t &out,
                             size_t textEnd)
{
    if (in == 0 || input[in - 1] != '<' || input.size() - in < 4 || strncasecmp(&input[in], "base", 4) != 0 ||
        output.compare(out, 3, "!--") != 0)
        return false;
    // The first '<' or '>' by characters, as the scanner steps.
    size_t end = (size_t)(ScanFor(input.c_str() + in, "", "<>", 1) - input.c_str());
    if (end >= textEnd || input[end] != '>') {
        in += 3;
        out += 3;
        return true;
    }
    size_t inside = end - in - 3;
    if (output.compare(out + 3, inside, input, in + 3, inside) != 0 || output.compare(out + 3 + inside, 3, "-->") != 0)
        return false;
    in = end + 1;
    out += 3 + inside + 3;
    return true;
}

// Walks the stored and the rewritten page together: they may differ only
// where a link was rewritten or a BASE tag disabled.
static void CheckRewrittenPage(const std::string &input, const std::string &output, const char *pagePath,
                               std::vector<Readings> &rewritten)
{
    std::string climb;
    for (const char *p = pagePath; *p != '\0'; ++p)
        if (*p == '/')
            climb += "../";
    size_t textEnd = strnlen(input.data(), input.size());
    size_t in = 0, out = 0;
    while (in < input.size() || out < output.size()) {
        if (in < input.size() && out < output.size() && input[in] == output[out]) {
            ++in;
            ++out;
            continue;
        }
        if (in >= textEnd || out >= output.size())
            Fail("the page differs outside its text");
        if (!SkipRewrite(input, in, output, out, climb, rewritten) && !SkipDisabledBase(input, in, output, out, textEnd)) {
            fprintf(stderr, "stored   at %zu: %.40s\nrewritten at %zu: %.40s\n", in, input.c_str() + in, out,
                    output.c_str() + out);
            Fail("the page differs outside a rewritten link");
        }
    }
}

// Every rewritten link must be one of the recorded addresses, each recorded
// address standing for at most one rewrite.
static void CheckRecorded(const LinkList &list, const std::vector<Readings> &rewritten)
{
    std::vector<std::string> recorded;
    size_t offset = 0;
    char address[TEXT_SIZE + 1];
    int result;
    for (int n = 0; (result = TakeLink(&list, &offset, address)) != 0; ++n) {
        recorded.push_back(result == 1 ? address : "");
        if (LinkKind(&list, n) > LINK_FTP)
            Fail("a link kind out of range");
    }
    if ((int)recorded.size() != list.count)
        Fail("the link list and its count disagree");
    std::vector<bool> used(recorded.size(), false);
    for (const Readings &readings : rewritten) {
        bool found = false;
        for (size_t i = 0; i < recorded.size() && !found; ++i)
            for (const std::string &reading : readings)
                if (!used[i] && recorded[i] == reading) {
                    used[i] = found = true;
                    break;
                }
        if (!found)
            Fail("a rewritten link was not recorded");
    }
}

static void CheckTitle(const char *title)
{
    if (strnlen(title, TEXT_SIZE) >= TEXT_SIZE)
        Fail("the title overran its buffer");
    for (const char *p = title; *p != '\0'; p = NextChar(p))
        if (IsLeadByte((unsigned char)*p) && p[1] == '\0')
            Fail("the title ends inside a character");
    char name[TEXT_SIZE], path[TEXT_SIZE];
    strcpy(name, title);
    MakeShortcutName(name);
    if (name[0] == '\0')
        Fail("the shortcut name is empty");
    for (const char *p = name; *p != '\0'; p = NextChar(p))
        if (NextChar(p) - p == 1 && (strchr("\\/:,;*?\"<>|", *p) != NULL || (unsigned char)*p < ' '))
            Fail("the shortcut name is no file name");
    if (BuildShortcutPath(path, "C:\\shortcuts", name) && strlen(path) > TEXT_SIZE - 1)
        Fail("the shortcut path is too long");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int flags = data[0];
    const char *pagePath = pagePaths[(flags >> 4) & 3];
    std::string input((const char *)data + 1, size - 1);
    static char title[TEXT_SIZE];
    strcpy(title, "host/a/");
    g_scanSettings.startPath = "/a/";
    g_scanSettings.contentType = (flags & FLAG_HTML) ? "text/html" : "text/plain";
    g_scanSettings.outServer = (flags & FLAG_OUT_SERVER) ? 1 : 0;
    g_scanSettings.useFtp = (flags & FLAG_FTP) ? 1 : 0;
    g_scanSettings.readTitle = (flags & FLAG_TITLE) ? 1 : 0;
    g_scanSettings.shortcutTitle = title;
    strcpy(g_ignorePatterns, (flags & FLAG_IGNORE) ? "*.GIF *.ZIP" : "");

    BlockHandle block = AllocBlock(input.size() + 1);
    memcpy(LockBlock(block), input.data(), input.size());
    UnlockBlock(block);
    SetPageText(block, input.size());
    LinkList list;
    if (!CreateLinkList(&list))
        Fail("no link list");
    if (!ScanPage(HOST, pagePath, &list))
        Fail("the rewritten page could not be built");
    if (g_pageText[g_pageLength] != '\0')
        Fail("the rewritten page lost its closing NUL");
    std::string output(g_pageText, g_pageLength);
    std::vector<Readings> rewritten;
    CheckRewrittenPage(input, output, pagePath, rewritten);
    CheckRecorded(list, rewritten);
    CheckTitle(title);
    FreeLinkList(&list);
    ReleasePageText();
    return 0;
}
