// page/tagscan.cpp — the tag scanner: which attribute of a tag holds a link, the link texts taken from it, comments passed over, BASE tags disabled and the start page's title read.
#include "page/page.h"

#include <string.h>

ScanSettings g_scanSettings;

// What ends an attribute value; a quoted one also ends at a double quote.
static const char VALUE_STOPS[] = " <>?#'\r\n";
static const char QUOTED_VALUE_STOPS[] = "\" <>?#'\r\n";

// Bytes of the page text copied for the title.
#define TITLE_COPY 260

bool ReadTagName(char *out, const char *position)
{
    memset(out, 0, TEXT_SIZE);
    return CopyUntil(out, position + 1, "-< >\r\n") != TEXT_TOO_LONG;
}

// Copies text into out (TEXT_SIZE bytes) up to the first stop byte. False,
// with out empty, when more than 259 bytes stand before it: such a text is
// no address this crawl can handle, and a cut one would name another file.
static bool TakeWholeText(char *out, const char *text, const char *stops)
{
    if (CopyUntil(out, text, stops) != TEXT_TOO_LONG)
        return true;
    char next = text[TEXT_SIZE - 1];
    if (next == '\0' || strchr(stops, next) != NULL)
        return true;
    out[0] = '\0';
    return false;
}

// Appends the link text that begins at place, ended by a byte of stops.
static void AddFoundLink(FoundLinks *found, const char *place, const char *stops)
{
    char link[TEXT_SIZE];
    if (!TakeWholeText(link, place, stops) || found->count >= FOUND_LINK_MAX)
        return;
    size_t used = strlen(found->text), length = strlen(link);
    if (used + length + 2 > sizeof found->text)
        return;
    memcpy(found->text + used, link, length);
    found->text[used + length] = '\r';
    found->text[used + length + 1] = '\0';
    found->place[found->count++] = place;
}

int TakeAttributeValue(FoundLinks *found)
{
    const char *p = g_scanPosition;
    if (*p != '\0')
        ++p;
    while (*p == ' ')
        ++p;
    const char *stops = VALUE_STOPS;
    if (*p == '"' || *p == '\'') {
        ++p;
        stops = QUOTED_VALUE_STOPS;
    }
    g_scanPosition = (char *)p;
    AddFoundLink(found, p, stops);
    return 1;
}

// Looks for the attribute keyword up to the end of the tag and takes its
// value when "keyword=" or "keyword =" stands there. True when one was taken.
static bool TakeAttribute(FoundLinks *found, const char *keyword)
{
    g_scanPosition = ScanFor(g_scanPosition, keyword, "<>", 1);
    char direct[16], spaced[16];
    strcpy(direct, keyword);
    strcat(direct, "=");
    strcpy(spaced, keyword);
    strcat(spaced, " =");
    if (!StartsWithNoCase(g_scanPosition, direct) && !StartsWithNoCase(g_scanPosition, spaced))
        return false;
    g_scanPosition = ScanFor(g_scanPosition, "", "=", 1);
    TakeAttributeValue(found);
    return true;
}

// The address of a window.open call in the tag, when it is given in quotes.
static void TakeWindowOpen(FoundLinks *found)
{
    g_scanPosition = ScanFor(g_scanPosition, "window.open", "<>", 1);
    if (!StartsWithNoCase(g_scanPosition, "window.open"))
        return;
    g_scanPosition = ScanFor(g_scanPosition, "", "'\")>,", 1);
    if (*g_scanPosition != '\'' && *g_scanPosition != '"')
        return;
    ++g_scanPosition;
    AddFoundLink(found, g_scanPosition, QUOTED_VALUE_STOPS);
}

// True when the title text holds something a file name can show.
static bool HasVisibleCharacter(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)text; *p != 0; ++p)
        if (*p > ' ' && *p != 0x7F)
            return true;
    return false;
}

// Drops a lead byte that has lost its second byte at the end of the text.
static void DropCutCharacter(char *text)
{
    char *p = text;
    while (*p != '\0') {
        if (IsLeadByte((unsigned char)*p) && p[1] == '\0') {
            *p = '\0';
            return;
        }
        p = NextChar(p);
    }
}

// Reads the start page's title into the shortcut title.
static void TakeTitle(void)
{
    g_scanPosition = ScanFor(g_scanPosition, ">", "<>", 1);
    if (*g_scanPosition != '\0')
        ++g_scanPosition;
    static char raw[LINK_BUFFER_SIZE], converted[LINK_BUFFER_SIZE];
    memset(raw, 0, sizeof raw);
    memset(converted, 0, sizeof converted);
    size_t length = strnlen(g_scanPosition, TITLE_COPY);
    memcpy(raw, g_scanPosition, length);
    TitleToShiftJis(raw, converted);
    if (*g_scanPosition == '<' || g_scanSettings.shortcutTitle == NULL)
        return;
    *ScanFor(converted, "</TITLE>", "", 1) = '\0';
    DecodeCharacterReferences(converted);
    DropCutCharacter(converted);
    if (HasVisibleCharacter(converted))
        CopyWholeCharacters(g_scanSettings.shortcutTitle, converted, TEXT_SIZE);
}

static bool NameIsOneOf(const char *name, const char *const *names, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (CompareNoCase(name, names[i]) == 0)
            return true;
    return false;
}

// Turns the BASE tag at the scan position into a comment, so that a browser
// resolves the stored copy's links against the copy itself: its name begins
// with "!--" instead, and its closing '>' becomes "-->" when the page writes
// it back. Without that closing a browser would take the rest of the page
// for the comment and show nothing of it.
static void DisableBaseTag(void)
{
    memcpy(g_scanPosition, "!--", 3);
    char *end = ScanFor(g_scanPosition, "", "<>", 1);
    if (*end == '>')
        RecordRewrite(end, 1, "-->");
}

int ScanTag(FoundLinks *found, const char *tagName)
{
    memset(found->text, 0, sizeof found->text);
    found->count = 0;
    static const char *const anchors[] = {"AREA", "A"};
    static const char *const sources[] = {"IMG", "BGSOUND", "embed"};
    static const char *const backgrounds[] = {"th", "td", "tr", "table", "body"};
    if (strcmp(tagName, "!") == 0) {
        g_scanPosition = ScanFor(g_scanPosition, ">", ">", 1);
        return TAG_NOTHING;
    }
    if (CompareNoCase(tagName, "COMMENT") == 0) {
        g_scanPosition = ScanFor(g_scanPosition, "</COMMENT>", "", 1);
        return TAG_NOTHING;
    }
    if (CompareNoCase(tagName, "BASE") == 0) {
        DisableBaseTag();
        return TAG_NOTHING;
    }
    if (CompareNoCase(tagName, "title") == 0 && g_scanSettings.readTitle == 1) {
        TakeTitle();
        return TAG_NOTHING;
    }
    if (NameIsOneOf(tagName, anchors, 2)) {
        char *tagStart = g_scanPosition;
        TakeWindowOpen(found);
        g_scanPosition = tagStart;
        TakeAttribute(found, "href");
    } else if (NameIsOneOf(tagName, sources, 3)) {
        TakeAttribute(found, "src");
    } else if (NameIsOneOf(tagName, backgrounds, 5)) {
        TakeAttribute(found, "background");
    } else if (CompareNoCase(tagName, "frame") == 0) {
        if (TakeAttribute(found, "src"))
            return TAG_FRAME;
    }
    return found->text[0] != '\0' ? TAG_LINKS : TAG_NOTHING;
}
