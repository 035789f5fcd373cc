// address/textcalls.h — the few character and memory calls the portable code needs.
// Mapped to Win32 on Windows and to own Shift_JIS-aware versions elsewhere.
#ifndef PARVEL_ADDRESS_TEXTCALLS_H
#define PARVEL_ADDRESS_TEXTCALLS_H

#include <stddef.h>

// True when the byte starts a double-byte character of code page 932.
bool IsLeadByte(unsigned char c);

// The next character after p (CharNextA): a double-byte character is passed
// whole; at the terminating NUL, p itself.
char *NextChar(const char *p);

// The character before p, never before start (CharPrevA).
char *PrevChar(const char *start, const char *p);

// Upper-cases a whole string in place (CharUpperA on a string).
void UpperCaseText(char *text);

// The upper-case form of one single-byte character (CharUpperA on a character).
char UpperCaseChar(char c);

// Compares two strings without regard to case (lstrcmpiA): <0, 0 or >0.
int CompareNoCase(const char *a, const char *b);

// True when the single byte is a letter in code page 932 (IsCharAlphaA).
bool IsLetterChar(char c);

// Converts one character of UTF-8 (code point cp, below 0x110000) into code
// page 932: writes one or two bytes to out and returns their count; a
// character that code page 932 lacks gives '?' (WideCharToMultiByte with
// WC_NO_BEST_FIT_CHARS on Windows).
int CodePointToShiftJis(unsigned cp, char out[2]);

// Movable memory blocks (GlobalAlloc with GMEM_MOVEABLE | GMEM_ZEROINIT):
// a handle that keeps its contents when it grows; zero-filled when made and
// where it grows. Null handle on failure.
typedef void *BlockHandle;
BlockHandle AllocBlock(size_t size);
BlockHandle ResizeBlock(BlockHandle block, size_t size);
size_t BlockSize(BlockHandle block);
char *LockBlock(BlockHandle block);
void UnlockBlock(BlockHandle block);
void FreeBlock(BlockHandle block);

#endif
