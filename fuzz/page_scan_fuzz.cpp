// fuzz/page_scan_fuzz.cpp — libFuzzer target over the scan and rewrite of a whole page.
// Besides the sanitizers it checks that the rewritten page is the stored one with only
// link texts replaced, each by the server address of a recorded link or by a local link
// that stays in the save folder and leads to where a recorded link is stored.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
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
    FLAG_AT_LIMIT = 128, // the page stands at the depth limit 1, else at 0 of an unlimited crawl
};

// A second byte of 1 to 3 after the flags chooses how the text is read (and
// is no part of it): 1 a page with style sheets, scripts and srcsets
// followed, 2 a style sheet, 3 both. Any other byte begins the page, read as
// pages before style sheets were.
enum { MODE_MODERN = 1, MODE_STYLE_SHEET = 2 };

static const char *const pagePaths[] = {"/", "/a/", "/a/b/", "/a/b/c/d/"};
static const char HOST[] = "host";

static void Fail(const char *what)
{
    fprintf(stderr, "page_scan_fuzz: %s\n", what);
    abort();
}

// One recorded address: its text, where the crawl stores it below the save
// folder's root, and whether a rewrite stood for it already.
struct Recorded {
    std::string address, below;
    bool used;
};

// The place below the root where the crawl stores an address of the kind
// (the folder rule as the admission test applies it); empty when none.
static std::string BelowOf(const std::string &recorded, int kind, int nameEncoding)
{
    char address[TEXT_SIZE + 1], host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
    char user[TEXT_SIZE], password[TEXT_SIZE], below[TEXT_SIZE];
    if (recorded.empty() || recorded.size() >= TEXT_SIZE)
        return std::string();
    strcpy(address, recorded.c_str());
    if (SplitAddress(address, host, path, file) != 1)
        return std::string();
    TakeUserFromHost(host, user, password);
    if (ClassifyAddress(address, kind == LINK_FTP ? DEPTH_FTP : 0, host, path, file) == ADDRESS_TOO_LONG ||
        MapBelowRoot(below, host, path, file, nameEncoding) != 1)
        return std::string();
    return below;
}

// The local link from a page folder of the given depth to the place below
// the root, escaped as a link's text: a character beyond ASCII as the
// escapes of its UTF-8 bytes.
static std::string LocalLinkTo(const std::string &below, int depth)
{
    std::string link;
    for (int i = 0; i < depth; ++i)
        link += "../";
    for (const char *p = below.c_str(); *p != '\0';) {
        const char *next = NextChar(p);
        char escaped[4];
        if (next - p == 1 && *p == '\\') {
            link += '/';
        } else if (next - p == 1 && strchr("%#? '\"&<>", *p) != NULL) {
            snprintf(escaped, sizeof escaped, "%%%02X", (unsigned char)*p);
            link += escaped;
        } else if (next - p > 1 || (unsigned char)*p >= 0x80) {
            char character[3] = {p[0], next - p > 1 ? p[1] : '\0', '\0'}, utf8[8];
            int count = Utf8OfShiftJis(utf8, sizeof utf8, character);
            for (int i = 0; i < count; ++i) {
                snprintf(escaped, sizeof escaped, "%%%02X", (unsigned char)utf8[i]);
                link += escaped;
            }
        } else {
            link.append(p, (size_t)(next - p));
        }
        p = next;
    }
    return link;
}

// Where a link followed on disk from the page's folder (below the root,
// '/' between folders) leads: the place below the root as the bytes a
// browser reads (UTF-8), with backslashes; "\x01" when it climbs out of the
// save folder, "" when it cannot be told.
static std::string FollowOnDisk(const std::string &pageFolder, const std::string &link)
{
    std::string joined = "/" + pageFolder + link;
    char path[2 * TEXT_SIZE], decoded[TEXT_SIZE];
    if (joined.size() >= sizeof path)
        return std::string();
    strcpy(path, joined.c_str());
    if (!RemoveDotSegments(path))
        return "\x01";
    if (!DecodeEscapeBytes(decoded, path + 1))
        return std::string();
    for (char *p = decoded; *p != '\0'; ++p)
        if (*p == '/')
            *p = '\\';
    return decoded;
}

// True when the rewrite text stands for the recorded address: its server
// address, or a local link that leads on disk, from the page's folder, to
// where the address is stored (and never out of the save folder).
static bool StandsFor(const std::string &text, const Recorded &r, const std::string &pageFolder)
{
    if (text.compare(0, 7, "http://") == 0 || text.compare(0, 8, "https://") == 0)
        return text == (IsSecureAddress(r.address.c_str()) ? r.address : "http://" + r.address);
    std::string target = FollowOnDisk(pageFolder, text);
    if (target == "\x01")
        Fail("a rewritten link leaves the save folder");
    char below[3 * TEXT_SIZE];
    return !r.below.empty() && Utf8OfShiftJis(below, sizeof below, r.below.c_str()) >= 0 &&
           strcasecmp(target.c_str(), below) == 0;
}

// The texts a rewrite of the link to the recorded address may have put in
// its place: its server address, its local link, or the link as written
// with a folder's index.html.
static std::vector<std::string> RewriteForms(const std::string &link, const Recorded &r, int depth)
{
    std::vector<std::string> forms = {link + "index.html", link + "/index.html",
                                      IsSecureAddress(r.address.c_str()) ? r.address : "http://" + r.address};
    if (!r.below.empty())
        forms.push_back(LocalLinkTo(r.below, depth));
    return forms;
}

// The ends a link beginning at in may have: a quoted value, an unquoted
// one, a window.open address, a quote never closed, a style address (a
// string cut by the end of its STYLE block too, or one between &quot;
// references), a srcset candidate (only a
// blank ends it; commas that close it are no part of it).
static std::vector<size_t> LinkEnds(const std::string &input, size_t in)
{
    static const char *const stops[] = {"\"?#\r\n", "'?#\r\n", " \t\f<>?#'\r\n", "\"' <>?#\r\n", ">?#\r\n",
                                        " \t\f)?#\r\n", ",?#\r\n", " \t\f?#\r\n"};
    std::vector<size_t> ends;
    for (const char *stop : stops) {
        size_t end = in;
        while (end < input.size() && input[end] != '\0' && strchr(stop, input[end]) == NULL)
            ++end;
        while (end > in && (input[end - 1] == ' ' || input[end - 1] == '\t'))
            --end;
        if (end > in && end - in < TEXT_SIZE)
            ends.push_back(end);
        while (end > in && input[end - 1] == ',')
            --end;
        if (end > in && end - in < TEXT_SIZE)
            ends.push_back(end);
    }
    for (const char *reference : {"&quot;", "&#39;", "&#34;", "&apos;"}) {
        size_t end = std::min(input.find(reference, in), input.find_first_of("?#\r\n", in));
        if (end != std::string::npos && end > in && end - in < TEXT_SIZE)
            ends.push_back(end);
    }
    const char *blockEnd = strcasestr(input.c_str() + in, "</style"); // a string cut by its block's end
    if (blockEnd != NULL) {
        size_t end = std::min((size_t)(blockEnd - input.c_str()), input.find_first_of("?#\r\n", in));
        if (end > in && end - in < TEXT_SIZE)
            ends.push_back(end);
    }
    return ends;
}

// True when the rewritten page has, at out, a rewrite of a link that begins
// at in: the link resolves to a recorded address not yet used, the text
// stands for it, and the pages go on alike after it. Both are moved past it.
// Of several readings that fit, the longest link counts (a shorter one can
// resolve to another recorded address whose rewrite begins alike).
static bool SkipRewrite(const std::string &input, size_t &in, const std::string &output, size_t &out,
                        std::vector<Recorded> &recorded, const char *pagePath, const std::string &pageFolder,
                        int depth)
{
    static char resolved[LINK_BUFFER_SIZE];
    Recorded *best = NULL;
    size_t bestEnd = 0, bestNext = 0;
    for (size_t end : LinkEnds(input, in)) {
        std::string link = input.substr(in, end - in);
        HandleLink(resolved, HOST, pagePath, link.c_str(), NULL, LINK_NEXT_LEVEL);
        for (Recorded &r : recorded) {
            if (r.used || r.address != resolved || end <= bestEnd)
                continue;
            for (const std::string &form : RewriteForms(link, r, depth)) {
                size_t next = out + form.size();
                bool goesOn = (end == input.size() && next == output.size()) ||
                              (end < input.size() && next < output.size() && input[end] == output[next]);
                if (form != link && output.compare(out, form.size(), form) == 0 && goesOn &&
                    StandsFor(form, r, pageFolder)) {
                    best = &r;
                    bestEnd = end;
                    bestNext = next;
                    break;
                }
            }
        }
    }
    if (best == NULL)
        return false;
    best->used = true;
    in = bestEnd;
    out = bestNext;
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
// where a link was rewritten, each rewrite standing for a recorded address
// of its own, or a BASE tag disabled.
static void CheckRewrittenPage(const std::string &input, const std::string &output, const char *pagePath,
                               std::vector<Recorded> &recorded)
{
    char below[TEXT_SIZE];
    if (MapBelowRoot(below, HOST, pagePath, "") != 1)
        Fail("the page has no place");
    std::string pageFolder = below;
    pageFolder = pageFolder.substr(0, pageFolder.rfind('\\') + 1);
    for (char &c : pageFolder)
        if (c == '\\')
            c = '/';
    int depth = LocalFolderDepth(HOST, pagePath);
    size_t textEnd = strnlen(input.data(), input.size());
    size_t in = 0, out = 0, synced = 0;
    while (in < input.size() || out < output.size()) {
        if (in < input.size() && out < output.size() && input[in] == output[out]) {
            ++in;
            ++out;
            continue;
        }
        // A rewrite may begin alike ("../" became "../index.html"): it began
        // at most one link's length back, after the last one. The earliest
        // beginning counts ("./index.html" is the end of that one too).
        bool skipped = false;
        size_t most = in - synced < TEXT_SIZE ? in - synced : TEXT_SIZE;
        for (size_t back = most + 1; back-- > 0 && !skipped;) {
            size_t rewindIn = in - back, rewindOut = out - back;
            if (rewindIn == 0 || input[rewindIn - 1] == '\0' || strchr("=\"' \t\r\n\f(,;", input[rewindIn - 1]) == NULL)
                continue; // a link text begins after an '=', a quote, a blank, or a '(', ',' or ';'
            skipped = SkipRewrite(input, rewindIn, output, rewindOut, recorded, pagePath, pageFolder, depth);
            if (skipped) {
                in = rewindIn;
                out = rewindOut;
            }
        }
        if (!skipped && (in >= textEnd || out >= output.size())) {
            fprintf(stderr, "at %zu of %zu (text %zu), rewritten at %zu\n", in, input.size(), textEnd, out);
            Fail("the page differs outside its text");
        }
        if (!skipped && !SkipDisabledBase(input, in, output, out, textEnd)) {
            fprintf(stderr, "stored   at %zu: %.40s\nrewritten at %zu: %.40s\n", in, input.c_str() + in, out,
                    output.c_str() + out);
            Fail("the page differs outside a rewritten link");
        }
        synced = in;
    }
}

// The recorded addresses with their places; the kinds in range.
static std::vector<Recorded> RecordedOf(const LinkList &list)
{
    std::vector<Recorded> recorded;
    size_t offset = 0;
    char address[TEXT_SIZE + 1];
    int result;
    for (int n = 0; (result = TakeLink(&list, &offset, address)) != 0; ++n) {
        int kind = LinkKind(&list, n);
        if (kind > LINK_FTP)
            Fail("a link kind out of range");
        std::string text = result == 1 ? address : "";
        recorded.push_back({text, BelowOf(text, kind, LinkNameEncoding(&list, n)), false});
    }
    if ((int)recorded.size() != list.count)
        Fail("the link list and its count disagree");
    return recorded;
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
    int mode = size >= 2 && data[1] >= 1 && data[1] <= 3 ? data[1] : 0;
    std::string input((const char *)data + (mode != 0 ? 2 : 1), size - (mode != 0 ? 2 : 1));
    static char title[TEXT_SIZE];
    strcpy(title, "host/a/");
    g_scanSettings.startPath = "/a/";
    g_scanSettings.contentType = (flags & FLAG_HTML) ? "text/html" : "text/plain";
    g_scanSettings.outServer = (flags & FLAG_OUT_SERVER) ? 1 : 0;
    g_scanSettings.useFtp = (flags & FLAG_FTP) ? 1 : 0;
    g_scanSettings.readTitle = (flags & FLAG_TITLE) ? 1 : 0;
    g_scanSettings.shortcutTitle = title;
    g_scanSettings.pageDepth = (flags & FLAG_AT_LIMIT) ? 1 : 0;
    g_scanSettings.depthLimit = (flags & FLAG_AT_LIMIT) ? 1 : 32512;
    g_scanSettings.modern = mode != 0 ? 1 : 0;
    g_scanSettings.styleSheet = (mode & MODE_STYLE_SHEET) ? 1 : 0;
    strcpy(g_saveFolder, "C:\\save");
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
    std::vector<Recorded> recorded = RecordedOf(list);
    CheckRewrittenPage(input, output, pagePath, recorded);
    CheckTitle(title);
    FreeLinkList(&list);
    ReleasePageText();
    return 0;
}
