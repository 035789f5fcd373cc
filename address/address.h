// address/address.h — interface of the portable address code.
// String primitives, address form, local path mapping, Japanese names and host names.
#ifndef PARVEL_ADDRESS_ADDRESS_H
#define PARVEL_ADDRESS_ADDRESS_H

#include "address/text.h"
#include "address/textcalls.h"

// Size of every work text buffer: 259 characters and the terminating NUL.
#define TEXT_SIZE 260

// CopyUntil's result when 259 bytes were copied without meeting a stop
// character; also the marker other operations use for an over-long text.
#define TEXT_TOO_LONG 32767

// The ignore patterns of the running crawl: wild-card patterns separated by
// spaces. Filled when a crawl starts; an entry of the start list may replace
// it for one start address.
extern char g_ignorePatterns[TEXT_SIZE];

// Replaces every '/' of the path by '\', stepping by characters.
void ToBackslashes(char *path);

// True when the text begins with the prefix, ASCII letters compared without case.
bool StartsWithNoCase(const char *text, const char *prefix);

// Position of the extension's '.' in the name, or of its terminating NUL when
// it has none. The extension is copied into output (TEXT_SIZE bytes) when
// output is not null and there is one; otherwise output is left as it was.
char *FindExtension(char *output, const char *name);

// Copies text into output (TEXT_SIZE bytes) up to the first byte of the stop
// set. Returns that byte's index in the stop set, -1 when the text ended, or
// TEXT_TOO_LONG when 259 bytes were copied without meeting one. The output
// is always terminated.
int CopyUntil(char *output, const char *text, const char *stops);

// From position, the first place that holds a byte of the stop set or where
// the keyword begins (without case); else the place of a NUL byte. Forward
// (direction 1) steps by characters (a lead byte before a byte that cannot
// end a character, such as '<', counts alone); any other direction steps back
// by bytes and must only be used where a stop character lies before the position.
char *ScanFor(const char *position, const char *keyword, const char *stops, int direction);

// True when the last segment of the name matches the wild-card pattern
// ('*' up to the next '.', '?' one byte, "*.*" everything), without case.
bool MatchWildcard(const char *name, const char *pattern);

// True when no pattern of the ignore patterns matches the file part.
bool PassesIgnorePatterns(const char *filePart);

// ---- Schemes ----

// Inside the crawl an http or ftp address carries no scheme, as it always
// has; an https address keeps this marker in front ("https://host/dir/"),
// so that it stays https wherever it goes while http and ftp addresses keep
// their form, strings and log lines. The marker is part of the host part.
#define SECURE_MARKER "https://"
#define SECURE_MARKER_LENGTH 8

// Length of the scheme at the very start of text, with its ':' ("http:" is
// 5): a letter, then letters, digits, '+', '-' or '.', then ':'. 0 when the
// text does not begin with a scheme (a ':' later, as in "File:A.png" after a
// '/', or "a.html?t=10:00", makes none).
size_t SchemeLength(const char *text);

// True when the address, or host part, carries the https marker.
bool IsSecureAddress(const char *address);

// The host part without the https marker (the text behind it).
const char *HostWithoutScheme(const char *hostPart);

// Writes the address form of what follows "http://" or "https://" (secure)
// into output (size bytes): the marker in front for https, and the default
// port (":80" of http is kept as it always was, ":443" of https dropped, so
// that one server has one form). False, with output empty, when it does not fit.
bool MakeAddressForm(char *output, size_t size, const char *rest, bool secure);

// True when two host parts name the same server for the scope rules: the
// same host part but for the https marker, letters compared without case.
// So http://host and https://host are one server.
bool SameHostPart(const char *hostPart, const char *otherHostPart);

// True when the content type's media type, before any ';' parameter and
// with the blanks around it ignored, is "text/html" without case:
// "text/html; charset=UTF-8" is a page like "text/html".
bool IsHtmlContentType(const char *contentType);

// True when a file is a style sheet: named ".css" (without case), or served
// as "text/css" when it did not come as a page.
bool IsStyleSheet(const char *fileName, const char *contentType);

// The address (address form) that a redirect's Location names, resolved
// against the address that was asked for (address form, host part without
// user information), into output (size bytes): an http or https address, a
// protocol-relative "//host/x" on the scheme of the address asked for, a path
// from '/' on its server, or a path relative to its folder, with "." and ".."
// segments resolved (never above the server's root). False, with output
// empty, for another scheme (ftp, ...) or when it does not fit.
bool ResolveLocation(char *output, size_t size, const char *asked, const char *location);

// Removes the "." and ".." segments of the path that begins at path (a '/'),
// up to its query or fragment, in place, as a browser does: ".." never climbs
// above the root, and a closing "." or ".." names its folder. False when a
// ".." would have climbed above the root.
bool RemoveDotSegments(char *path);

// Removes the "." and ".." segments of the address's path, in place, as a
// browser does before it asks for an address: ".." never climbs above the
// server's root, and "/a/b/.." is "/a/". The query stays as it is.
void NormalizeAddressPath(char *address);

// ---- Address form: [https://][user[:password]@]host[:port], path, file part ----

// Cuts the address into its host part (before the first '/' behind any
// https marker, which stays in the host part), path part
// (from the first to the last '/' before any '?' or '#'; "/" when there is
// none) and file part (the rest, query and fragment included). The outputs
// hold TEXT_SIZE bytes each and are cleared first. Returns 1, or
// TEXT_TOO_LONG with all three outputs empty when a part would not fit.
int SplitAddress(const char *address, char *hostPart, char *pathPart, char *filePart);

// Takes "user[:password]@" off the front of the host part (changed in
// place) into userName and password (TEXT_SIZE bytes each); both are empty
// when the host part holds no '@'. The first '@' and the first ':' count.
// An https marker stays in front of the host part.
void TakeUserFromHost(char *hostPart, char *userName, char *password);

// The host name of a host part (the text before its first ':', behind any
// https marker) into hostName (TEXT_SIZE bytes), and as result the port: the
// decimal digits after that ':', cut to 16 bits; 0 when there are none, for
// which the caller takes the scheme's standard port.
unsigned short HostNameAndPort(const char *hostPart, char *hostName);

// ---- Names of Japanese addresses ----

// What the bytes of an address mean beyond ASCII: the encoding of the page
// that named it, or UTF-8.
enum { NAME_SHIFT_JIS = 0, NAME_EUC_JP = 1, NAME_UTF8 = 2 };

// The Shift_JIS code of the JIS X 0208 code j1 j2 (0x21 to 0x7E each); 0
// when it is none.
unsigned JisToShiftJis(unsigned j1, unsigned j2);

// The code page 932 bytes of a character (code point cp) into out and their
// count, when code page 932 holds it: it converts back to cp itself and its
// bytes are one character (no best-fit look-alike, no stray single byte
// such as 0x80 that Windows gives for U+0080); 0 when it does not. The same
// answer on every platform.
int HeldShiftJis(unsigned cp, char out[2]);

// One character of a name as LocalNameOfBytes reads it: how many bytes it
// takes (1 to 4), its code point (0 for bytes that are no character of the
// encoding, or a JIS X 0212 character of EUC-JP), and its code page 932 bytes
// (shiftJisCount 0 when code page 932 does not hold it).
struct NameCharacter {
    size_t length;
    unsigned cp;
    char shiftJis[2];
    int shiftJisCount;
};

// Reads the character at p (left bytes there, at least 1) in the encoding.
void ReadNameCharacter(const char *p, size_t left, int encoding, NameCharacter *c);

// The encoding in which LocalNameOfBytes reads the bytes: NAME_UTF8 when they
// are well-formed UTF-8 and hold a character beyond ASCII, else encoding.
int NameEncodingOf(const char *bytes, size_t length, int encoding);

// The name in code page 932 (the ANSI code page) that shows the characters of
// one decoded path segment (length bytes, escapes already turned into bytes)
// in Windows Explorer, into out (size bytes). The bytes are read in
// NameEncodingOf's encoding: EUC-JP's JIS X 0208 pairs and half-width kana
// become their code page 932 bytes; its JIS X 0212 characters (0x8F and two
// bytes) stay escaped. ASCII stays as it is but '%', which becomes "%25"; a
// character code page 932 holds becomes its bytes; one it lacks (hangul, an
// emoji, U+301C ...) becomes the %XX escapes of its UTF-8 bytes, and a byte
// that is no character of the encoding becomes %XX (uppercase hex). So the
// same characters always give the same name, and different characters (or
// bytes that are none) give different names. False, with out empty, when
// the name does not fit.
bool LocalNameOfBytes(char *out, size_t size, const char *bytes, size_t length, int encoding);

// The UTF-8 bytes of a code page 932 text into out (size bytes), terminated;
// returns their count, or -1 with out empty when the text holds bytes that
// are no character of code page 932 or the result does not fit.
int Utf8OfShiftJis(char *out, size_t size, const char *shiftJisText);

// ---- International host names ----

// The Punycode (RFC 3492) of count code points into out (size bytes): the
// ASCII ones as they are, then '-' when there are any, then the others as
// digits. False, with out empty, when it does not fit or a code point is 0,
// a surrogate or beyond U+10FFFF.
bool PunycodeEncode(char *out, size_t size, const unsigned *codePoints, size_t count);

// The code points of Punycode text (length bytes, digits in either case) into
// out (capacity code points) and their count into *count. False when the text
// is no Punycode, would give a code point that is a surrogate or beyond
// U+10FFFF, or more than capacity code points.
bool PunycodeDecode(unsigned *out, size_t capacity, size_t *count, const char *text, size_t length);

// The ASCII form of a host part (user information removed; an https marker
// in front and a ":port" behind are kept), into out (size bytes). Escapes are
// decoded first and the bytes read as LocalNameOfBytes reads them (cp932 as
// typed in the address box is NAME_SHIFT_JIS). A label beyond ASCII is
// mapped (full-width ASCII to ASCII, ASCII capitals to small letters, U+3002
// and U+FF61 to '.') and becomes "xn--" and the Punycode of the result when it
// still holds a character beyond ASCII. A host part that is ASCII once
// decoded is copied unchanged, and so is every ASCII label. False, with out
// empty, for a byte that is no character, a mapped label with ASCII other
// than letters, digits, '-' and '_' (a full-width '/' or '@'), a port other
// than digits, a label longer than 63 bytes, or when the result does not fit.
bool HostToAscii(char *out, size_t size, const char *hostPart, int encoding);

// The folder name of an ASCII host part into out (size bytes): each "xn--"
// label (either case) that is the Punycode HostToAscii gives and whose
// characters code page 932 all holds becomes those characters in code page
// 932; every other label stays as it is, and so does everything from the
// first ':' on (the caller makes the ':' safe). False, with out empty, when
// the name does not fit.
bool HostFolderName(char *out, size_t size, const char *asciiHostPart);

// Appends to out (size bytes) the escapes of the UTF-8 bytes of the code page
// 932 character at p (the escape of its first byte alone when it is no
// character): how a browser writes a name beyond ASCII. Returns where the
// next character begins, or null when out is full.
const char *AppendCharacterEscapes(char *out, size_t size, const char *p);

// An address typed in the address box or a start list (code page 932, in
// the address form) as a browser sends it, into out (size bytes): its host
// in ASCII (HostToAscii), each character of its path beyond ASCII as the
// escapes of its UTF-8 bytes. False, with out empty, when the host cannot be
// written so or the result does not fit.
bool TypedAddressToAscii(char *out, size_t size, const char *typed);

// ---- What an address names ----

// Depth value of an FTP address.
#define DEPTH_FTP 32767

// True when the name's extension (FindExtension) is one of the count
// extensions, without case.
bool ExtensionIsOneOf(const char *name, const char *const *extensions, size_t count);

// True when the name's extension is one of the page extensions ".htm",
// ".html", ".shtml" and ".asp", without case.
bool HasPageExtension(const char *name);

// What an address names, by its file part: a page, another file, or an
// address too long to be handled. A name without extension is a folder
// (not for FTP, depth DEPTH_FTP): "/" is appended to the address (its buffer
// needs room for one more character) and host, path and file are split again.
enum { ADDRESS_PAGE = 0, ADDRESS_FILE = 1, ADDRESS_TOO_LONG = 2 };
int ClassifyAddress(char *address, int depth, char *host, char *path, char *file);

// ---- Local path mapping ----

// The save folder of the crawl run (without a trailing backslash) and its date
// folder ("YYYY-MM-DD"), filled by the engine when a crawl starts.
extern char g_saveFolder[TEXT_SIZE];
extern char g_dateFolder[TEXT_SIZE];

// Reads a number setting with its default; the engine points it at the
// settings store. While it is null every setting reads as its default.
// The mapping reads "cbd" (date folder) and "cbe" (archives folder) through
// it at every call; each is on only when it is exactly 1.
extern unsigned (*g_readSettingNumber)(const char *name, unsigned defaultValue);

// Maps an address's host part (user information already removed), path
// part and file part to its file under the save folder. Fills localPath and
// localFolder (TEXT_SIZE bytes each; the folder ends with a backslash and begins
// localPath) and returns 1. Returns TEXT_TOO_LONG, with both outputs empty,
// when the path would not fit or the path part is empty (an address that
// SplitAddress refused). The result never leaves the save folder (and the
// date folder when it is on): escapes are decoded, "." and ".." segments are
// resolved within the host's folder, and names Windows cannot create are
// made safe, the same way every time. Escaped bytes that are no UTF-8 are
// read in nameEncoding (NAME_...). Touches no file.
int MapToLocalPath(char *localPath, const char *hostPart, const char *pathPart,
                   const char *filePart, char *localFolder, int nameEncoding = NAME_SHIFT_JIS);

// The local path of the address below the save folder (and the date folder
// when it is on): the part that the address decides, a backslash between its
// folders, into output (TEXT_SIZE bytes). TEXT_TOO_LONG, with output empty,
// when MapToLocalPath refuses the address.
int MapBelowRoot(char *output, const char *hostPart, const char *pathPart, const char *filePart,
                 int nameEncoding = NAME_SHIFT_JIS);

// The folder of the save folder in which a transfer is received before it
// replaces a stored file. No address maps there: a segment of this name
// (letters in any case) is stored with '_' behind it, as a device name is.
#define TRANSFER_FOLDER_NAME "$PVTEMP"

// The transfer folder of the save folder, with its closing backslash, into
// output (TEXT_SIZE bytes). False, with output empty, when no save folder is
// set or the path would not fit.
bool GetTransferFolder(char *output);

// How many folders below that root hold a page of the host and path part
// (the host's folder included); -1 when the mapping refuses it.
int LocalFolderDepth(const char *hostPart, const char *pathPart);

// Changes every '/' of the folder path to a backslash (in place) and creates each
// folder along it, level by level; levels that exist already are passed.
void CreateFolders(char *folderPath);

// The byte that the %XX escape at p stands for (two hex digits, either
// case), or -1 when no escape begins there.
int EscapeValue(const char *p);

// Decodes every %XX escape (two hex digits) of text into its byte; "%00"
// becomes '-', so a decoded NUL never cuts the text short; nothing is
// encoded. output holds TEXT_SIZE bytes. False, with output empty, when
// text is longer than 259 bytes.
bool DecodeEscapeBytes(char *output, const char *text);

// Platform pieces (localpath_win.cpp, localpath_posix.cpp).
// DecodeEscapes gives the bytes of DecodeEscapeBytes, except that a '/' or
// backslash may come back as the other separator.
bool DecodeEscapes(char *output, const char *text);
// Creates one folder; failures (it exists, a drive part) are not reported.
void MakeFolder(const char *path);

#endif
