// page/tagscan.cpp — the tag scanner: which attributes of a tag hold links.
// The link texts taken from them, comments passed over, BASE tags disabled and the start
// page's title read.
#include "page/page.h"

#include <string.h>

ScanSettings g_scanSettings;
int g_linksUnread;

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

// Counts a link text too long to be taken, unless its scheme is one that is
// never followed (a data: address is long by nature).
static void CountLongLink(const char *text)
{
    char start[TEXT_SIZE];
    CopyTextRange(start, sizeof start, text, text + strnlen(text, TEXT_SIZE - 1));
    if (CheckLinkScheme(start, TAG_LINKS) != LINK_NOT_FOLLOWED)
        ++g_linksUnread;
}

// Takes the link text at place, ended by a byte of stops or at end, without
// the blanks that close it.
static bool TakeLink(char *link, const char *place, const char *stops, const char *end)
{
    if (!TakeWholeText(link, place, stops, end)) {
        CountLongLink(place);
        return false;
    }
    size_t length = strlen(link);
    while (length > 0 && (link[length - 1] == ' ' || link[length - 1] == '\t'))
        link[--length] = '\0'; // blanks closing a quoted value are no part of the address
    return true;
}

// Appends the link text that begins at place, ended by a byte of stops or
// at end, to the tag's found links as the kind.
static void AddFoundLink(FoundLinks *found, const char *place, const char *stops, const char *end, int kind)
{
    char link[TEXT_SIZE];
    if (!TakeLink(link, place, stops, end))
        return;
    size_t length = strlen(link);
    size_t used = strlen(found->text);
    if (found->count >= FOUND_LINK_MAX || used + length + 2 > sizeof found->text) {
        ++g_linksUnread;
        return;
    }
    memcpy(found->text + used, link, length);
    found->text[used + length] = '\r';
    found->text[used + length + 1] = '\0';
    found->place[found->count] = place;
    found->kind[found->count++] = kind;
}

bool TakeLinkText(char *link, const char **place, const char *begin, const char *end)
{
    while (begin < end && (*begin == ' ' || *begin == '\t' || *begin == '\r' || *begin == '\n'))
        ++begin;
    *place = begin;
    return TakeLink(link, begin, "?#\r\n", end) && link[0] != '\0';
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

// Takes the link of an attribute's value as the kind.
static void TakeValue(FoundLinks *found, const Attribute *attribute, int kind)
{
    const char *value = attribute->value;
    if (attribute->quote != 0) {
        while (*value == ' ' || *value == '\t')
            ++value;
        AddFoundLink(found, value, QUOTED_VALUE_STOPS, attribute->valueEnd, kind);
    } else {
        AddFoundLink(found, value, VALUE_STOPS, attribute->valueEnd, kind);
    }
}

// Takes each candidate address of a srcset value.
static void TakeSrcset(FoundLinks *found, const Attribute *attribute, int kind)
{
    const char *p = attribute->value;
    TextRange candidate;
    while (NextSrcsetAddress(&p, attribute->valueEnd, &candidate))
        AddFoundLink(found, candidate.begin, QUOTED_VALUE_STOPS, candidate.end, kind);
}

// Takes each address that the style text of a style attribute names: what
// the page needs to be shown.
static void TakeStyleAttribute(FoundLinks *found, const Attribute *attribute)
{
    const char *p = attribute->value;
    TextRange named;
    while (NextStyleAddress(&p, attribute->valueEnd, &named)) {
        while (named.begin < named.end && IsBlank(*named.begin)) // url(" a.png"): the address begins after them
            ++named.begin;
        AddFoundLink(found, named.begin, QUOTED_VALUE_STOPS, named.end, TAG_NEEDED);
    }
}

// Takes the address of a refresh's content.
static void TakeRefresh(FoundLinks *found, const Attribute *attribute, int kind)
{
    TextRange address;
    if (RefreshAddress(attribute->value, attribute->valueEnd, &address))
        AddFoundLink(found, address.begin, QUOTED_VALUE_STOPS, address.end, kind);
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
    AddFoundLink(found, p, "\"' <>?#\r\n", close != NULL ? close : tagEnd, TAG_LINKS);
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
    // The page's own encoding decides; a JIS page's title says by its escapes.
    if (g_pageEncoding == ENCODING_JIS_B || g_pageEncoding == ENCODING_JIS_AT)
        TitleToShiftJis(raw, converted);
    else
        ConvertToShiftJis(raw, converted, g_pageEncoding);
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

// How an attribute's value holds its links.
enum { FORM_ADDRESS, FORM_SRCSET, FORM_REFRESH };

// What another attribute of the tag must say for the entry to apply.
enum { WHEN_ALWAYS, WHEN_LINK_REL_FOLLOWED, WHEN_IMAGE_BUTTON, WHEN_REFRESH };

// The attributes of each tag that hold links, and what the links are. The
// entries marked modern apply only with the setting on; without it the
// tags are read exactly as pages before style sheets were.
struct LinkAttribute {
    const char *tag;
    const char *attribute;
    int kind;
    int form;
    int when;
    bool modern;
};
static const LinkAttribute LINK_ATTRIBUTES[] = {
    {"A", "href", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"AREA", "href", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"IMG", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"BGSOUND", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"EMBED", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"BODY", "background", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"TABLE", "background", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"TR", "background", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"TH", "background", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"TD", "background", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"FRAME", "src", TAG_FRAME, FORM_ADDRESS, WHEN_ALWAYS, false},
    {"LINK", "href", TAG_NEEDED, FORM_ADDRESS, WHEN_LINK_REL_FOLLOWED, true},
    {"SCRIPT", "src", TAG_NEEDED, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"IFRAME", "src", TAG_FRAME, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"IMG", "srcset", TAG_LINKS, FORM_SRCSET, WHEN_ALWAYS, true},
    {"IMG", "data-src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"IMG", "data-srcset", TAG_LINKS, FORM_SRCSET, WHEN_ALWAYS, true},
    {"SOURCE", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"SOURCE", "srcset", TAG_LINKS, FORM_SRCSET, WHEN_ALWAYS, true},
    {"VIDEO", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"VIDEO", "poster", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"AUDIO", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"TRACK", "src", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"INPUT", "src", TAG_LINKS, FORM_ADDRESS, WHEN_IMAGE_BUTTON, true},
    {"OBJECT", "data", TAG_LINKS, FORM_ADDRESS, WHEN_ALWAYS, true},
    {"META", "content", TAG_LINKS, FORM_REFRESH, WHEN_REFRESH, true},
};
#define LINK_ATTRIBUTE_COUNT (sizeof LINK_ATTRIBUTES / sizeof LINK_ATTRIBUTES[0])

// The tokens of a LINK's rel that name what the page needs to be shown.
static const char *const FOLLOWED_RELS[] = {"stylesheet", "icon", "apple-touch-icon", "apple-touch-icon-precomposed",
                                           "manifest", "preload"};

static bool EntryApplies(const LinkAttribute &entry, const char *tagName)
{
    return (!entry.modern || g_scanSettings.modern == 1) && CompareNoCase(tagName, entry.tag) == 0;
}

// True when the tag has an entry in the table.
static bool HasLinkAttributes(const char *tagName)
{
    for (const LinkAttribute &entry : LINK_ATTRIBUTES)
        if (EntryApplies(entry, tagName))
            return true;
    return false;
}

// True when the value, read as words separated by blanks, holds the word
// (without case).
static bool ValueHoldsWord(const Attribute *attribute, const char *word)
{
    size_t length = strlen(word);
    const char *p = attribute->value, *end = attribute->valueEnd;
    while (p < end) {
        while (p < end && IsBlank(*p))
            ++p;
        const char *start = p;
        while (p < end && !IsBlank(*p))
            ++p;
        if ((size_t)(p - start) == length && StartsWithNoCase(start, word))
            return true;
    }
    return false;
}

// The first attribute of the tag with the name; false when there is none
// with a value.
static bool FindAttribute(const char *p, const char *name, Attribute *found)
{
    while (ReadAttribute(&p, found))
        if (found->value != NULL && NameIs(found, name))
            return true;
    return false;
}

// True when the other attributes of the tag let the entry apply.
static bool ConditionHolds(const LinkAttribute &entry, const char *attributes)
{
    Attribute other;
    switch (entry.when) {
    case WHEN_LINK_REL_FOLLOWED:
        if (FindAttribute(attributes, "rel", &other))
            for (const char *rel : FOLLOWED_RELS)
                if (ValueHoldsWord(&other, rel))
                    return true;
        return false;
    case WHEN_IMAGE_BUTTON:
        return FindAttribute(attributes, "type", &other) && ValueHoldsWord(&other, "image");
    case WHEN_REFRESH:
        return FindAttribute(attributes, "http-equiv", &other) && ValueHoldsWord(&other, "refresh");
    default:
        return true;
    }
}

// Takes the links of an attribute's value by the entry's form.
static void TakeEntryValue(FoundLinks *found, const LinkAttribute &entry, const Attribute *attribute)
{
    if (entry.form == FORM_SRCSET)
        TakeSrcset(found, attribute, entry.kind);
    else if (entry.form == FORM_REFRESH)
        TakeRefresh(found, attribute, entry.kind);
    else
        TakeValue(found, attribute, entry.kind);
}

// Takes the attribute's links when an entry of the tag names it and has
// not been taken yet (only the first attribute of a name counts).
static void TakeNamedAttribute(FoundLinks *found, const char *tagName, const Attribute *attribute,
                               const char *attributes, bool *taken)
{
    for (size_t i = 0; i < LINK_ATTRIBUTE_COUNT; ++i) {
        const LinkAttribute &entry = LINK_ATTRIBUTES[i];
        if (taken[i] || !EntryApplies(entry, tagName) || !NameIs(attribute, entry.attribute))
            continue;
        taken[i] = true;
        if (ConditionHolds(entry, attributes))
            TakeEntryValue(found, entry, attribute);
    }
}

// Walks the tag's attributes from p and takes the links of those the table
// names for the tag, and, with the setting on, those of a style attribute;
// the scan position is left at the tag's end.
static int TakeLinkAttributes(FoundLinks *found, const char *tagName, const char *p)
{
    const char *attributes = p;
    bool taken[LINK_ATTRIBUTE_COUNT] = {};
    bool styleTaken = false;
    Attribute attribute;
    while (ReadAttribute(&p, &attribute)) {
        if (attribute.value == NULL)
            continue;
        TakeNamedAttribute(found, tagName, &attribute, attributes, taken);
        if (g_scanSettings.modern == 1 && !styleTaken && NameIs(&attribute, "style")) {
            styleTaken = true;
            TakeStyleAttribute(found, &attribute);
        }
    }
    g_scanPosition = (char *)p;
    return found->count == 0 ? TAG_NOTHING : found->kind[0];
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
    if (g_scanSettings.modern == 1 && CompareNoCase(tagName, "style") == 0) {
        g_scanPosition = (char *)TagEnd(attributes);
        return TAG_STYLE_BLOCK;
    }
    if (!HasLinkAttributes(tagName) && g_scanSettings.modern != 1) {
        g_scanPosition = (char *)TagEnd(attributes);
        return TAG_NOTHING;
    }
    if (CompareNoCase(tagName, "A") == 0 || CompareNoCase(tagName, "AREA") == 0) // a window.open address comes first
        TakeWindowOpen(found, attributes, TagEnd(attributes));
    return TakeLinkAttributes(found, tagName, attributes);
}
