// address/textcalls_win.cpp — the calls of textcalls.h, passed straight to Win32.
#include "address/textcalls.h"

#include <windows.h>

#include <string.h>

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

char *NextChar(const char *p) { return CharNextA(p); }

char *PrevChar(const char *start, const char *p) { return CharPrevA(start, p); }

unsigned ShiftJisToCodePoint(const char *bytes, int count)
{
    wchar_t wide[2];
    int units = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, count, wide, 2);
    return units == 1 ? (unsigned)wide[0] : 0;
}

// The UTF-16 units of the code point into wide; their count.
static int ToUtf16(unsigned cp, wchar_t wide[2])
{
    if (cp < 0x10000) {
        wide[0] = (wchar_t)cp;
        return 1;
    }
    wide[0] = (wchar_t)(0xD800 + ((cp - 0x10000) >> 10));
    wide[1] = (wchar_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
    return 2;
}

int CodePointToShiftJis(unsigned cp, char out[2])
{
    wchar_t wide[2];
    int units = ToUtf16(cp, wide);
    char bytes[8];
    BOOL defaulted = FALSE;
    int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, units, bytes, sizeof bytes, NULL, &defaulted);
    if (n < 1 || n > 2 || defaulted || ShiftJisToCodePoint(bytes, n) != cp)
        return 0;
    memcpy(out, bytes, (size_t)n);
    return n;
}

void UpperCaseText(char *text) { CharUpperA(text); }

char UpperCaseChar(char c)
{
    // CharUpperA takes a single character when the high word of its argument is zero.
    return (char)(UINT_PTR)CharUpperA((LPSTR)(UINT_PTR)(unsigned char)c);
}

int CompareNoCase(const char *a, const char *b) { return lstrcmpiA(a, b); }

bool IsLetterChar(char c) { return IsCharAlphaA(c) != 0; }

BlockHandle AllocBlock(size_t size) { return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size); }

BlockHandle ResizeBlock(BlockHandle block, size_t size)
{
    return GlobalReAlloc((HGLOBAL)block, size, GMEM_MOVEABLE | GMEM_ZEROINIT);
}

size_t BlockSize(BlockHandle block) { return GlobalSize((HGLOBAL)block); }

char *LockBlock(BlockHandle block) { return (char *)GlobalLock((HGLOBAL)block); }

void UnlockBlock(BlockHandle block) { GlobalUnlock((HGLOBAL)block); }

void FreeBlock(BlockHandle block) { GlobalFree((HGLOBAL)block); }
