// address/address.h — interface of the portable address code: string primitives, address form and local path mapping.
#ifndef PARVEL_ADDRESS_ADDRESS_H
#define PARVEL_ADDRESS_ADDRESS_H

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

// Copies as many whole characters of text as fit into output of the given
// size (at least 1) and terminates it: a double-byte character is never cut.
void CopyWholeCharacters(char *output, const char *text, size_t size);

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
// (direction 1) steps by characters; any other direction steps back by bytes
// and must only be used where a stop character lies before the position.
char *ScanFor(const char *position, const char *keyword, const char *stops, int direction);

// True when the last segment of the name matches the wild-card pattern
// ('*' up to the next '.', '?' one byte, "*.*" everything), without case.
bool MatchWildcard(const char *name, const char *pattern);

// True when no pattern of the ignore patterns matches the file part.
bool PassesIgnorePatterns(const char *filePart);

#endif
