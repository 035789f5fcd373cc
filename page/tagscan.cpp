// page/tagscan.cpp — the tag scanner: which attribute of a tag holds a link.
// The link texts taken from it, comments passed over, BASE tags disabled and the start
// page's title read.
#include "page/page.h"

#include <string.h>

ScanSettings g_scanSettings;

// True while the page's title may still come: the start page's, before its
// first TITLE and before its body.
static bool s_titleOpen;

void BeginTagScan(void) { s_titleOpen = g_scanSettings.readTitle == 1; }

// What ends an unquoted attribute value's link text; a quoted one ends at
// its quote, '?', '#' or a line break, and holds spaces.
static const char VALUE_STOPS[] = " \t<>?#'\r\n";
static const char QUOTED_VALUE_STOPS[] = "?#\r\n";

// Bytes a quoted value may run before its closing quote. A quote that stays
// open longer ends at the tag's first '>' instead, so that an unclosed quote
// never takes in the rest of the page.
#define QUOTE_LIMIT 4096

// Bytes of the page text copied for the title.
#define TITLE_COPY 260

bool ReadTagName(char *out, const char *position)
{
    memset(out, 0, TEXT_SIZE);
    return CopyUntil(out, position + 1, "-< >\r\n") != TEXT_TOO_LONG;
}

// Copies text into out (TEXT_SIZE bytes) up to the first stop byte (or the
// end, when not null). False, with out empty, when more than 259 bytes stand
// before it: such a text is no address this crawl can handle, and a cut one
// would name another file.
static bool TakeWholeText(char *out, const char *text, const char *stops, const char *end)
{
    size_t length = 0;
    while (text[length] != '\0' && strchr(stops, text[length]) == NULL && (end == NULL || text + length < end))
        ++length;
    if (!CopyTextRange(out, TEXT_SIZE, text, text + length)) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// Appends the link text that begins at place, ended by a byte of stops or
// at end, to the tag's found links.
static void AddFoundLink(FoundLinks *found, const char *place, const char *stops, const char *end)
{
    char link[TEXT_SIZE];
    if (!TakeWholeText(link, place, stops, end) || found->count >= FOUND_LINK_MAX)
        return;
    size_t length = strlen(link);
    while (length > 0 && (link[length - 1] == ' ' || link[length - 1] == '\t'))
        link[--length] = '\0'; // blanks closing a quoted value are no part of the address
    size_t used = strlen(found->text);
    if (used + length + 2 > sizeof found->text)
        return;
    memcpy(found->text + used, link, length);
    found->text[used + length] = '\r';
    found->text[used + length + 1] = '\0';
    found->place[found->count++] = place;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

static const char *SkipBlanks(const char *p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

// One attribute of a tag as it stands in the page.
struct Attribute {
    const char *name;
    size_t nameLength;
    const char *value;    // first byte of the value, behind its quote; null without '='
    const char *valueEnd; // the byte that ends it: its quote, a blank, '>' or NUL
    char quote;           // the quote that opened it, or 0
};

// The end of a value opened by the quote just before p: its closing quote,
// or, when none comes within QUOTE_LIMIT bytes, the first '>'.
static const char *QuotedValueEnd(const char *p, char quote)
{
    const char *close = (const char *)memchr(p, quote, strnlen(p, QUOTE_LIMIT));
    return close != NULL ? close : p + strcspn(p, ">");
}

// Reads the value after an attribute's '=' at p; returns where the tag goes on.
static const char *ReadValue(const char *p, Attribute *attribute)
{
    p = SkipBlanks(p + 1);
    attribute->quote = *p == '"' || *p == '\'' ? *p : 0;
    if (attribute->quote != 0) {
        attribute->value = p + 1;
        attribute->valueEnd = QuotedValueEnd(p + 1, attribute->quote);
        return *attribute->valueEnd == attribute->quote ? attribute->valueEnd + 1 : attribute->valueEnd;
    }
    attribute->value = p;
    while (*p != '\0' && *p != '>' && !IsBlank(*p))
        ++p;
    attribute->valueEnd = p;
    return p;
}

// Reads the attribute at *p and moves *p past it. False at the end of the
// tag, where *p is left: its '>' (outside quotes) or the end of the page.
static bool ReadAttribute(const char **p, Attribute *attribute)
{
    const char *q = SkipBlanks(*p);
    while (*q == '/')
        q = SkipBlanks(q + 1);
    if (*q == '>' || *q == '\0') {
        *p = q;
        return false;
    }
    attribute->name = q;
    while (*q != '\0' && *q != '>' && *q != '=' && *q != '/' && !IsBlank(*q))
        ++q;
    if (q == attribute->name) // a stray '=' or quote: taken as a name of its own
        ++q;
    attribute->nameLength = (size_t)(q - attribute->name);
    attribute->value = NULL;
    attribute->valueEnd = q;
    attribute->quote = 0;
    const char *after = SkipBlanks(q);
    *p = *after == '=' ? ReadValue(after, attribute) : q;
    return true;
}

static bool NameIs(const Attribute *attribute, const char *name)
{
    char text[TEXT_SIZE];
    if (attribute->nameLength >= sizeof text)
        return false;
    memcpy(text, attribute->name, attribute->nameLength);
    text[attribute->nameLength] = '\0';
    return CompareNoCase(text, name) == 0;
}

// The end of the tag whose attributes begin at p: its '>' outside quotes,
// or the end of the page.
static const char *TagEnd(const char *p)
{
    Attribute attribute;
    while (ReadAttribute(&p, &attribute))
        ;
    return p;
}

// Takes the link of an attribute's value.
static void TakeValue(FoundLinks *found, const Attribute *attribute)
{
    const char *value = attribute->value;
    if (attribute->quote != 0) {
        while (*value == ' ' || *value == '\t')
            ++value;
        AddFoundLink(found, value, QUOTED_VALUE_STOPS, attribute->valueEnd);
    } else {
        AddFoundLink(found, value, VALUE_STOPS, attribute->valueEnd);
    }
}

// The address of a window.open call in the tag, when it is given in quotes.
static void TakeWindowOpen(FoundLinks *found, const char *tagStart, const char *tagEnd)
{
    const char *p = tagStart;
    while (p < tagEnd && !StartsWithNoCase(p, "window.open"))
        ++p;
    if (p >= tagEnd)
        return;
    p += strcspn(p, "'\")>,");
    if (p >= tagEnd || (*p != '\'' && *p != '"'))
        return;
    char quote = *p++;
    const char *close = (const char *)memchr(p, quote, (size_t)(tagEnd - p));
    AddFoundLink(found, p, "\"' <>?#\r\n", close != NULL ? close : tagEnd);
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
    g_scanPosition = (char *)TagEnd(ScanFor(g_scanPosition, "", " \t\r\n>", 1));
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
        CopyText(g_scanSettings.shortcutTitle, TEXT_SIZE, converted);
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

// The attribute of each tag that holds a link, and what the link is.
struct LinkAttribute {
    const char *tag;
    const char *attribute;
    int result;
};
static const LinkAttribute LINK_ATTRIBUTES[] = {
    {"A", "href", TAG_LINKS},           {"AREA", "href", TAG_LINKS},       {"IMG", "src", TAG_LINKS},
    {"BGSOUND", "src", TAG_LINKS},      {"EMBED", "src", TAG_LINKS},       {"BODY", "background", TAG_LINKS},
    {"TABLE", "background", TAG_LINKS}, {"TR", "background", TAG_LINKS},   {"TH", "background", TAG_LINKS},
    {"TD", "background", TAG_LINKS},    {"FRAME", "src", TAG_FRAME},
};

// The entry of the tag in the table; null for a tag without links.
static const LinkAttribute *LinkAttributeOf(const char *tagName)
{
    for (const LinkAttribute &entry : LINK_ATTRIBUTES)
        if (CompareNoCase(tagName, entry.tag) == 0)
            return &entry;
    return NULL;
}

// Walks the tag's attributes from p and takes the value of the first one
// named as the entry says; the scan position is left at the tag's end.
static int TakeLinkAttribute(FoundLinks *found, const LinkAttribute *entry, const char *p)
{
    Attribute attribute;
    bool taken = false;
    while (ReadAttribute(&p, &attribute)) {
        if (taken || attribute.value == NULL || !NameIs(&attribute, entry->attribute))
            continue;
        TakeValue(found, &attribute);
        taken = true;
    }
    g_scanPosition = (char *)p;
    return found->text[0] == '\0' ? TAG_NOTHING : entry->result;
}

// True for the tags that end the head of a page: the document's title is
// the first TITLE before them (an SVG picture has titles of its own).
static bool EndsTheHead(const char *tagName)
{
    return CompareNoCase(tagName, "body") == 0 || CompareNoCase(tagName, "svg") == 0;
}

int ScanTag(FoundLinks *found, const char *tagName)
{
    memset(found->text, 0, sizeof found->text);
    found->count = 0;
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
    if (CompareNoCase(tagName, "title") == 0 && s_titleOpen) {
        s_titleOpen = false;
        TakeTitle();
        return TAG_NOTHING;
    }
    if (EndsTheHead(tagName))
        s_titleOpen = false;
    const char *attributes = g_scanPosition + strlen(tagName);
    const LinkAttribute *entry = LinkAttributeOf(tagName);
    if (entry == NULL) {
        g_scanPosition = (char *)TagEnd(attributes);
        return TAG_NOTHING;
    }
    if (entry->attribute[0] == 'h') // the anchors: a window.open address comes first
        TakeWindowOpen(found, attributes, TagEnd(attributes));
    return TakeLinkAttribute(found, entry, attributes);
}
