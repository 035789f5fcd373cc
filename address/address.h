// address/address.h — interface of the portable address code.
// String primitives, address form and local path mapping.
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
// made safe, the same way every time. Touches no file.
int MapToLocalPath(char *localPath, const char *hostPart, const char *pathPart,
                   const char *filePart, char *localFolder);

// The local path of the address below the save folder (and the date folder
// when it is on): the part that the address decides, a backslash between its
// folders, into output (TEXT_SIZE bytes). TEXT_TOO_LONG, with output empty,
// when MapToLocalPath refuses the address.
int MapBelowRoot(char *output, const char *hostPart, const char *pathPart, const char *filePart);

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
