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

// The character that one or two bytes of code page 932 stand for: its code
// point, or 0 when they are no character of it (MultiByteToWideChar with
// MB_ERR_INVALID_CHARS on Windows, iconv elsewhere).
unsigned ShiftJisToCodePoint(const char *bytes, int count);

// Converts one character (code point cp, below 0x110000) into code page 932:
// writes its one or two bytes to out and returns their count when they
// convert back to cp itself; 0 when code page 932 lacks the character or has
// only a look-alike for it ("best fit": U+301C, U+2212, U+00A5 ...), which
// WideCharToMultiByte with WC_NO_BEST_FIT_CHARS on Windows and iconv
// elsewhere would give otherwise.
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
