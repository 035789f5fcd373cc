// address/textcalls_posix.cpp — textcalls.h without Win32, following code page 932.
#include "address/textcalls.h"

#include <iconv.h>
#include <stdlib.h>
#include <string.h>

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

char *NextChar(const char *p)
{
    if (*p == '\0')
        return (char *)p;
    if (IsLeadByte((unsigned char)p[0]) && p[1] != '\0')
        return (char *)(p + 2);
    return (char *)(p + 1);
}

// Converts length bytes at in with the converter into out (size bytes):
// the count of bytes written, or -1 when they are no whole text of the
// source encoding or the converter could not be made. The converter is left
// in its initial state either way.
static long Convert(iconv_t converter, const char *in, size_t length, char *out, size_t size)
{
    if (converter == (iconv_t)-1)
        return -1;
    char *inp = (char *)in, *outp = out;
    size_t inLeft = length, outLeft = size;
    size_t result = iconv(converter, &inp, &inLeft, &outp, &outLeft);
    iconv(converter, NULL, NULL, NULL, NULL);
    return result == (size_t)-1 || inLeft != 0 ? -1 : (long)(size - outLeft);
}

// One converter each way for the life of the program; iconv keeps no state
// between whole characters of this pair of encodings.
unsigned ShiftJisToCodePoint(const char *bytes, int count)
{
    static iconv_t converter = iconv_open("UTF-32LE", "CP932");
    unsigned char unit[8];
    if (Convert(converter, bytes, (size_t)count, (char *)unit, sizeof unit) != 4)
        return 0;
    return unit[0] | unit[1] << 8 | unit[2] << 16 | (unsigned)unit[3] << 24;
}

int CodePointToShiftJis(unsigned cp, char out[2])
{
    static iconv_t converter = iconv_open("CP932", "UTF-32LE");
    unsigned char unit[4] = {(unsigned char)cp, (unsigned char)(cp >> 8), (unsigned char)(cp >> 16), 0};
    char bytes[8];
    long n = Convert(converter, (const char *)unit, sizeof unit, bytes, sizeof bytes);
    if (n < 1 || n > 2 || ShiftJisToCodePoint(bytes, (int)n) != cp)
        return 0;
    memcpy(out, bytes, (size_t)n);
    return (int)n;
}

char *PrevChar(const char *start, const char *p)
{
    while (*start != '\0' && start < p) {
        const char *next = NextChar(start);
        if (next >= p)
            break;
        start = next;
    }
    return (char *)start;
}

char UpperCaseChar(char c)
{
    if (c >= 'a' && c <= 'z')
        return (char)(c - 'a' + 'A');
    return c;
}

// Upper-cases the double-byte character at p when it is a full-width Latin
// or Greek small letter, as the system's case mapping of code page 932 does.
static void UpperCaseWide(unsigned char *p)
{
    if (p[0] == 0x82 && p[1] >= 0x81 && p[1] <= 0x9A)
        p[1] = (unsigned char)(p[1] - 0x21);
    else if (p[0] == 0x83 && p[1] >= 0xBF && p[1] <= 0xD6)
        p[1] = (unsigned char)(p[1] - 0x20);
}

void UpperCaseText(char *text)
{
    for (char *p = text; *p != '\0'; p = NextChar(p)) {
        if (IsLeadByte((unsigned char)*p) && p[1] != '\0')
            UpperCaseWide((unsigned char *)p);
        else
            *p = UpperCaseChar(*p);
    }
}

// The key by which CompareNoCase orders one character: its upper-case form.
static unsigned FoldedChar(const char *p)
{
    // At the terminating NUL there is no byte behind it to read.
    unsigned char c[2] = {(unsigned char)p[0], p[0] != '\0' ? (unsigned char)p[1] : (unsigned char)0};
    if (IsLeadByte(c[0]) && c[1] != 0) {
        UpperCaseWide(c);
        return 0x10000u | (unsigned)(c[0] << 8) | c[1];
    }
    return (unsigned char)UpperCaseChar((char)c[0]);
}

int CompareNoCase(const char *a, const char *b)
{
    for (;;) {
        unsigned ka = FoldedChar(a), kb = FoldedChar(b);
        if (ka != kb)
            return ka < kb ? -1 : 1;
        if (ka == 0)
            return 0;
        a = NextChar(a);
        b = NextChar(b);
    }
}

bool IsLetterChar(char c)
{
    unsigned char u = (unsigned char)c;
    // ASCII letters, and the half-width katakana (0xA6 to 0xDF) that code
    // page 932 maps to letters; punctuation 0xA1 to 0xA5 is not a letter.
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= 0xA6 && u <= 0xDF);
}

struct Block {
    size_t size;
    char *data;
};

BlockHandle AllocBlock(size_t size)
{
    Block *block = (Block *)malloc(sizeof(Block));
    if (block == NULL)
        return NULL;
    block->data = (char *)calloc(size > 0 ? size : 1, 1);
    if (block->data == NULL) {
        free(block);
        return NULL;
    }
    block->size = size;
    return block;
}

BlockHandle ResizeBlock(BlockHandle handle, size_t size)
{
    Block *block = (Block *)handle;
    char *data = (char *)realloc(block->data, size > 0 ? size : 1);
    if (data == NULL)
        return NULL;
    if (size > block->size)
        memset(data + block->size, 0, size - block->size);
    block->data = data;
    block->size = size;
    return block;
}

size_t BlockSize(BlockHandle handle) { return ((Block *)handle)->size; }

char *LockBlock(BlockHandle handle) { return ((Block *)handle)->data; }

void UnlockBlock(BlockHandle) {}

void FreeBlock(BlockHandle handle)
{
    Block *block = (Block *)handle;
    if (block == NULL)
        return;
    free(block->data);
    free(block);
}
