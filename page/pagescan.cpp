// page/pagescan.cpp — the page scan driver's walk over the tags of a page or a style sheet.
// Records each accepted link with its kind; names the start page's shortcut file.
#include "page/page.h"

#include <string.h>

// Records one link text found at place as the kind, when it is not empty,
// not a fragment and of a followed scheme: resolved, given its kind and
// appended.
static void RecordLink(const char *link, const char *place, int foundKind, const char *hostPart,
                       const char *pathPart, LinkList *list)
{
    static char resolved[LINK_BUFFER_SIZE];
    if (link[0] == '\0' || link[0] == '#' || CheckLinkScheme(link, foundKind) == LINK_NOT_FOLLOWED)
        return;
    int kind = HandleLink(resolved, hostPart, pathPart, link, place, foundKind);
    AppendLink(list, resolved, kind, PageNameEncoding());
}

// Records the link texts of one tag.
static void RecordFoundLinks(const FoundLinks *found, const char *hostPart, const char *pathPart, LinkList *list)
{
    const char *p = found->text;
    for (int index = 0; *p != '\0' && index < found->count; ++index) {
        char link[TEXT_SIZE];
        CopyUntil(link, p, "\r");
        p += strlen(link);
        if (*p == '\r')
            ++p;
        RecordLink(link, found->place[index], found->kind[index], hostPart, pathPart, list);
    }
}

// Records every address the style text from begin to end names: what the
// page needs to be shown.
static void RecordStyleLinks(const char *begin, const char *end, const char *hostPart, const char *pathPart,
                             LinkList *list)
{
    TextRange named;
    while (NextStyleAddress(&begin, end, &named)) {
        char link[TEXT_SIZE];
        const char *place;
        if (TakeLinkText(link, &place, named.begin, named.end))
            RecordLink(link, place, TAG_NEEDED, hostPart, pathPart, list);
    }
}

// The style block after a STYLE tag (the scan position at the tag's end):
// its addresses are recorded and the scan goes on at its closing tag.
static void ScanStyleBlock(const char *hostPart, const char *pathPart, LinkList *list)
{
    char *begin = g_scanPosition + (*g_scanPosition == '>' ? 1 : 0);
    char *end = begin;
    while (*end != '\0' && !(end[0] == '<' && end[1] == '/' && StartsWithNoCase(end + 2, "style")))
        ++end;
    RecordStyleLinks(begin, end, hostPart, pathPart, list);
    g_scanPosition = end;
}

// Records the links of every tag of the page text.
static void ScanTags(const char *hostPart, const char *pathPart, LinkList *list)
{
    static FoundLinks found; // one page is scanned at a time, as its page text is one
    BeginTagScan();
    while (*g_pageText != '\0') {
        g_scanPosition = ScanFor(g_scanPosition, "", "<", 1);
        if (*g_scanPosition == '\0')
            break;
        char tagName[TEXT_SIZE];
        if (!ReadTagName(tagName, g_scanPosition)) {
            ++g_scanPosition;
        } else {
            ++g_scanPosition;
            int result = ScanTag(&found, tagName);
            if (result == TAG_STYLE_BLOCK) {
                ScanStyleBlock(hostPart, pathPart, list);
                continue;
            }
            if (result == TAG_NOTHING) {
                if (*g_scanPosition != '\0')
                    ++g_scanPosition;
            } else {
                RecordFoundLinks(&found, hostPart, pathPart, list);
            }
        }
        g_scanPosition = ScanFor(g_scanPosition, "", "<>\r\n ", 1);
        if (*g_scanPosition == '\0')
            break;
    }
}

int g_pageEncoding;

int PageNameEncoding(void)
{
    if (g_pageEncoding == ENCODING_UTF8)
        return NAME_UTF8;
    return g_pageEncoding == ENCODING_EUC ? NAME_EUC_JP : NAME_SHIFT_JIS;
}

bool ScanPage(const char *hostPart, const char *pathPart, LinkList *list)
{
    g_linksUnread = 0;
    g_pageEncoding = PageEncoding(g_pageText, g_scanSettings.contentType, g_scanSettings.styleSheet == 1);
    g_scanPosition = g_pageText;
    if (g_scanSettings.styleSheet == 1)
        RecordStyleLinks(g_pageText, g_pageText + strlen(g_pageText), hostPart, pathPart, list);
    else
        ScanTags(hostPart, pathPart, list);
    return ApplyRewrites();
}

// True when the name, up to its first '.', is one Windows keeps for a device.
static bool IsDeviceName(const char *name)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    static const char *const numbered[] = {"COM", "LPT"};
    char base[TEXT_SIZE];
    CopyUntil(base, name, ".");
    for (const char *device : devices)
        if (CompareNoCase(base, device) == 0)
            return true;
    for (const char *device : numbered)
        if (strlen(base) == 4 && StartsWithNoCase(base, device) && base[3] >= '1' && base[3] <= '9')
            return true;
    return false;
}

// Inserts '-' at index of the title, dropping its last character when the
// title would not fit TEXT_SIZE otherwise.
static void InsertDash(char *title, size_t index)
{
    size_t length = strlen(title);
    if (length + 1 > TEXT_SIZE - 1) {
        *PrevChar(title, title + length) = '\0';
        length = strlen(title);
    }
    if (index > length)
        index = length;
    memmove(title + index + 1, title + index, length - index + 1);
    title[index] = '-';
}

void MakeShortcutName(char *title)
{
    char clean[TEXT_SIZE];
    size_t used = 0;
    for (const char *p = title; *p != '\0';) {
        const char *next = NextChar(p);
        unsigned char c = (unsigned char)*p;
        if (next - p == 1 && (c < ' ' || c == 0x7F)) {
            // Control characters cannot stand in a file name: a line break or
            // tab of a title becomes one space.
            if (used > 0 && used < TEXT_SIZE - 1 && clean[used - 1] != ' ')
                clean[used++] = ' ';
            p = next;
            continue;
        }
        if (used + (size_t)(next - p) > TEXT_SIZE - 1)
            break;
        if (next - p == 1 && strchr("\\/:,;*?\"<>|", c) != NULL) {
            clean[used++] = '-';
        } else {
            memcpy(clean + used, p, (size_t)(next - p));
            used += (size_t)(next - p);
        }
        p = next;
    }
    clean[used] = '\0';
    while (used > 0 && clean[used - 1] == ' ') // a trail byte is never a space
        clean[--used] = '\0';
    const char *start = clean;
    while (*start == ' ')
        ++start;
    memmove(title, start, strlen(start) + 1);
    if (title[0] == '\0')
        CopyText(title, TEXT_SIZE, "-");
    if (IsDeviceName(title))
        InsertDash(title, strcspn(title, "."));
}

bool BuildShortcutPath(char *path, const char *folder, const char *title)
{
    path[0] = '\0';
    size_t fixed = strlen(folder) + strlen("\\") + strlen(".LNK");
    if (fixed >= TEXT_SIZE - 1)
        return false;
    char name[TEXT_SIZE];
    CopyText(name, TEXT_SIZE - fixed, title); // the title may be cut: it only names the shortcut
    if (name[0] == '\0')
        return false;
    if (!FormatText(path, TEXT_SIZE, "%s\\%s.LNK", folder, name)) {
        path[0] = '\0';
        return false;
    }
    return true;
}
