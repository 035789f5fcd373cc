// address/textcalls_win.cpp — the character and memory calls of textcalls.h, passed straight to Win32.
#include "address/textcalls.h"

#include <windows.h>

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

char *NextChar(const char *p) { return CharNextA(p); }

char *PrevChar(const char *start, const char *p) { return CharPrevA(start, p); }

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
