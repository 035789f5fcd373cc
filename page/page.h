// page/page.h — interface of page processing.
// The page text and its rewrites, the tag scanner, link handling, the link list, and the
// shortcut name.
#ifndef PARVEL_PAGE_PAGE_H
#define PARVEL_PAGE_PAGE_H

#include <stddef.h>

#include "address/address.h"

// Size of the scratch buffers of one tag: its found links, one link text,
// the resolved address, and the title work texts.
#define LINK_BUFFER_SIZE 16384

// ---- Page text ----

// The stored page in one movable block: g_pageLength bytes of the file and
// a NUL behind them. The text that is scanned ends at its first NUL; the
// bytes from that NUL on are kept and written back unchanged behind the
// rewritten text. g_scanPosition is where scanning stands. One page text
// exists at a time; the page text does not move while it is scanned, so
// pointers into it stay valid until the rewrites are applied.
extern char *g_pageText;
extern char *g_scanPosition;
extern size_t g_pageLength;

// Takes over the block (length bytes of file and a NUL; AllocBlock'ed with
// length + 1 bytes) as the page text; the scan position is its first byte.
void SetPageText(BlockHandle block, size_t length);

// Frees the page text and the rewrites not yet applied.
void ReleasePageText(void);

// Notes that the found text of foundLength bytes at place (inside the
// scanned text) is to become text. False, with nothing noted, when the
// range overlaps one noted before or when memory runs out.
bool RecordRewrite(const char *place, size_t foundLength, const char *text);

// Builds the rewritten page in one forward pass: the page text with every
// noted rewrite carried out, followed by the bytes from the first NUL on.
// g_pageText and g_pageLength then describe the new text, and the scan
// position is its first byte. False when memory runs out; the page text is
// then unchanged and the rewrites are forgotten.
bool ApplyRewrites(void);

// ---- What a scan reads from the crawl ----

struct ScanSettings {
    const char *startPath;   // scope of the start address's pages
    const char *contentType; // content type of the response that brought the page
    int outServer;           // setting out_server: follow other servers' files when 1
    int useFtp;              // setting ftp: follow FTP links when not 0
    int readTitle;           // 1 while the start page's title is to be read
    char *shortcutTitle;     // TEXT_SIZE bytes; receives the start page's title
    int pageDepth;           // depth value of the page being scanned
    int depthLimit;          // the crawl's depth limit
    // Host and path part of the address the page is stored at when its links
    // resolve against another address (a redirect to another folder, scheme
    // or server); null when the page answered where it is stored.
    const char *storedHostPart;
    const char *storedPathPart;
    int addressEncoding; // what the escaped bytes of the page's own address that are no UTF-8 mean
    int modern;     // 1: style sheets, scripts, inline frames, srcset and media are followed too
    int styleSheet; // 1: the text is a style sheet, not a page
};
extern ScanSettings g_scanSettings;

// ---- Tag scanner ----

// What a found link is: a link or picture of the next level (TAG_LINKS), a
// frame source of the same level (TAG_FRAME), or what a page needs to be
// shown (TAG_NEEDED: a style sheet, script, font or icon, or what a style
// sheet names), fetched from any server. ScanTag returns the kind of the
// tag's first found link, TAG_NOTHING, or TAG_STYLE_BLOCK for a STYLE tag
// whose block follows (its style text is read by the driver).
enum { TAG_NOTHING = 0, TAG_LINKS = 1, TAG_FRAME = 2, TAG_NEEDED = 5, TAG_STYLE_BLOCK = 6 };

// The link texts of one tag, each followed by a CR, where each begins in
// the page text and what each is. Links beyond FOUND_LINK_MAX are counted
// in g_linksUnread.
#define FOUND_LINK_MAX 64
struct FoundLinks {
    char text[FOUND_LINK_MAX * TEXT_SIZE];
    const char *place[FOUND_LINK_MAX];
    int kind[FOUND_LINK_MAX];
    int count;
};

// Links of the page scanned last that could not be read: beyond a tag's
// FOUND_LINK_MAX, or a followed link text longer than 259 characters.
extern int g_linksUnread;

// The link text of the value from begin to end into link (TEXT_SIZE bytes):
// blanks around it dropped, ended by '?', '#' or a line break; *place is
// moved to its first byte. False, with link empty, when it is empty or
// longer than 259 characters (counted as unread unless its scheme is one
// that is never followed).
bool TakeLinkText(char *link, const char **place, const char *begin, const char *end);

// ---- Style text and srcset values ----

// A piece of the page text: from begin up to end.
struct TextRange {
    const char *begin, *end;
};

// The next address that the style text names by url(...) or @import, from
// *position up to end: its range (inside the quotes when quoted); *position
// moves past it. Comments and other strings are passed over. False when
// none is left.
bool NextStyleAddress(const char **position, const char *end, TextRange *found);

// The next candidate address of a srcset value (addresses with width or
// density descriptors, separated by commas); *position moves past the
// candidate's descriptors. False when none is left.
bool NextSrcsetAddress(const char **position, const char *end, TextRange *found);

// The address of a refresh's content ("5; url=page.html"), without its
// quotes. False when there is none.
bool RefreshAddress(const char *begin, const char *end, TextRange *found);

// Takes the tag name after the '<' at position into out (TEXT_SIZE bytes),
// up to the first of "-< >\r\n". False when 259 characters were taken
// without meeting one of them.
bool ReadTagName(char *out, const char *position);

// With the scan position on the first character of the tag name: collects
// the tag's link texts into found and returns what it found (see above); leaves the scan position at the tag's end ('>' outside quoted
// values); disables a BASE tag (its name in the page text, its closing as a
// rewrite); reads the start page's title (the first TITLE before the body).
int ScanTag(FoundLinks *found, const char *tagName);

// Begins the tags of a new page: its title is read (when the scan settings
// say so) from its first TITLE before the body.
void BeginTagScan(void);


// ---- Japanese titles ----

// Encoding codes of DetectJapaneseEncoding.
enum { ENCODING_JIS_B = 0, ENCODING_JIS_AT = 1, ENCODING_EUC = 2, ENCODING_SHIFT_JIS = 3, ENCODING_UTF8 = 4 };

int DetectJapaneseEncoding(const char *text);

// The encoding of a page (or style sheet) as a browser settles it: a UTF-8
// byte-order mark, the charset of the response's content type, the page's
// META declaration (a style sheet's @charset), else DetectJapaneseEncoding.
// Charset names other than the Japanese ones and UTF-8 are passed over.
int PageEncoding(const char *text, const char *contentType, bool styleSheet);

// The encoding of the page text being scanned, settled when its scan began.
extern int g_pageEncoding;

// Converts source into Shift_JIS in destination, which must hold at least
// as many bytes as source with its NUL. A code that is no JIS X 0208
// character ends the text there.
void ConvertToShiftJis(const char *source, char *destination, int encoding);

// DetectJapaneseEncoding, then ConvertToShiftJis; returns the encoding. A
// text in UTF-8 (valid throughout but for a character cut at its end, with at
// least one character beyond ASCII) becomes Shift_JIS as well, a character
// that Shift_JIS lacks becoming '?'.
int TitleToShiftJis(const char *source, char *destination);

// ---- Text files ----

// Encodings of a text file (a start list) that TextFileToShiftJis tells apart.
enum { TEXT_SHIFT_JIS = 0, TEXT_UTF8 = 1, TEXT_UTF16LE = 2, TEXT_UTF16BE = 3 };

// The encoding of a text file's bytes (length bytes, a NUL after them): a
// byte-order mark decides (UTF-8, UTF-16 little- or big-endian). Without one
// the text is UTF-8 when it is UTF-8 throughout (a character cut at its end
// aside), holds a character beyond ASCII, and either cannot be Shift_JIS or
// reads in UTF-8 as Japanese text (kana, kanji, full-width forms, Japanese
// punctuation and symbols), which Shift_JIS bytes almost never do; any other
// text is Shift_JIS, as start lists always were.
int DetectTextFileEncoding(const char *bytes, size_t length);

// The text of a file's bytes (length bytes, a NUL after them) in Shift_JIS,
// into output (size bytes, at least 1): a Shift_JIS text as it stands, cut
// at size - 1 bytes; a UTF-8 or UTF-16 one converted, without its byte-order
// mark, whole characters only, a character that Shift_JIS lacks or bytes
// that are no character becoming '?'. Ends at a NUL character. Returns the
// encoding.
int TextFileToShiftJis(const char *bytes, size_t length, char *output, size_t size);

// Decodes the character references of a Shift_JIS text in place: numeric
// ones (&#39; &#x3042;; '?' for a character code page 932 cannot show) and
// the HTML named ones whose character code page 932 can show (&nbsp; as a
// space); other named references stay as they are.
void DecodeCharacterReferences(char *text);

// ---- Link handling ----

// Link kinds of recorded addresses.
enum { LINK_NOT_FOLLOWED = 0, LINK_NEXT_LEVEL = 1, LINK_SAME_LEVEL = 2, LINK_OUTSIDE_DATA = 3, LINK_FTP = 4 };

// Scope verdicts of a link: the same server, another server or outside the
// start path, FTP.
enum { VERDICT_SAME_SERVER = 0, VERDICT_OUTSIDE = 1, VERDICT_FTP = 32767 };

// The kind for a link text: 0 when its scheme is neither http nor ftp, 2
// for ftp, the given kind for http or no scheme.
int CheckLinkScheme(const char *linkText, int kind);

// Resolves the link text of the page (host part without user information,
// path part beginning and ending with '/') into resolved (LINK_BUFFER_SIZE
// bytes, in the address form, spaces as %20) as a browser resolves it, and
// returns the link's kind: the tag's kind (tagKind; TAG_NEEDED is a link of
// the next level whose other server's files are fetched whatever out_server
// says), or another server's data, FTP, or not followed, by the link's scope
// and the settings. The
// rewrite is noted at place (when not null): a link to what the crawl's
// rules fetch leads to its stored file (a relative one that does so already
// stays as written); a relative or rooted link to what they do not fetch
// becomes the address on the server. A relative link that climbs to the
// save folder's root as this program's rewritten links do is read back
// safely: to the page's own server, or not followed.
int HandleLink(char *resolved, const char *hostPart, const char *pathPart, const char *linkText,
               const char *place, int tagKind);

// ---- Link list ----

// The addresses recorded in one page, each followed by a space, and the kind
// of each. Belongs to one call of the page scan driver.
struct LinkList {
    BlockHandle text;
    BlockHandle kinds;
    int count;
    size_t used; // length of the text
};

bool CreateLinkList(LinkList *list);
void FreeLinkList(LinkList *list);

// Appends the address, its kind and what the escaped bytes of its path that
// are no UTF-8 mean (NAME_...). False when memory ran out.
bool AppendLink(LinkList *list, const char *address, int kind, int nameEncoding);

// Takes the address that begins at *offset in the list's text into address
// (TEXT_SIZE + 1 bytes, room for the '/' the admission test may add) and
// moves *offset past it. Returns 1, TEXT_TOO_LONG (address empty) for an
// address longer than 259 characters, or 0 at the end of the list.
int TakeLink(const LinkList *list, size_t *offset, char *address);

// The kind of the n-th recorded address, and what its bytes mean.
int LinkKind(const LinkList *list, int n);
int LinkNameEncoding(const LinkList *list, int n);

// What the escaped bytes of the links of the page being scanned mean: the
// page's encoding as a name encoding (NAME_...).
int PageNameEncoding(void);

// The depth value a link of the kind gets for a page at pageDepth; -1 for a
// link that is not followed.
int LinkDepth(int kind, int pageDepth, int depthLimit);

// ---- The driver's scan ----

// Scans the page text from its start: every tag's links are resolved,
// classified and recorded in list; then the rewrites are applied. False
// when the rewritten page could not be built (the page text is then as it
// was loaded, BASE tags aside). The caller clears the start page's title
// flag afterwards.
bool ScanPage(const char *hostPart, const char *pathPart, LinkList *list);

// ---- Shortcut name ----

// Makes a title a file name in place: each of "\\/:,;*?\"<>|" becomes '-',
// a run of control characters (line breaks, tabs) one space, surrounding
// spaces are trimmed, and a device name ("CON", "COM1", ...) gets a '-'
// behind it. Double-byte characters are kept whole; an empty result
// becomes "-".
void MakeShortcutName(char *title);

// The shortcut path "folder\title.LNK" into path (TEXT_SIZE bytes), the
// title cut to whole characters so the path fits 259 characters. False,
// with path empty, when not even one character of the title fits.
bool BuildShortcutPath(char *path, const char *folder, const char *title);

#endif
