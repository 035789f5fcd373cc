// address/text.cpp — copy, append and format into a sized buffer.
// Never cuts a double-byte character.
#include "address/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "address/textcalls.h"

// Bytes of the longest start of the length bytes at text that ends on a
// character boundary and takes at most limit bytes.
static size_t WholeCharacterLength(const char *text, size_t length, size_t limit)
{
    size_t used = 0;
    while (used < length) {
        size_t step = (size_t)(NextChar(text + used) - (text + used));
        if (step == 0 || step > length - used)
            step = 1;
        if (used + step > limit)
            break;
        used += step;
    }
    return used;
}

// Copies the length bytes at text into output as whole characters.
static bool CopyBytes(char *output, size_t size, const char *text, size_t length)
{
    if (size == 0)
        return false;
    size_t kept = WholeCharacterLength(text, length, size - 1);
    memmove(output, text, kept);
    output[kept] = '\0';
    return kept == length;
}

bool CopyText(char *output, size_t size, const char *text) { return CopyBytes(output, size, text, strlen(text)); }

bool CopyTextRange(char *output, size_t size, const char *begin, const char *end)
{
    return CopyBytes(output, size, begin, end > begin ? (size_t)(end - begin) : 0);
}

bool AppendText(char *output, size_t size, const char *text)
{
    const char *end = (const char *)memchr(output, '\0', size);
    if (end == NULL)
        return false;
    size_t used = (size_t)(end - output);
    return CopyBytes(output + used, size - used, text, strlen(text));
}

// A formatted text that was cut after size - 1 bytes: a lead byte left as
// its last character has lost its trail byte and goes too.
static void DropCutLeadByte(char *output, size_t length)
{
    if (length == 0)
        return;
    const char *last = PrevChar(output, output + length);
    if (last == output + length - 1 && IsLeadByte((unsigned char)*last))
        output[length - 1] = '\0';
}

bool FormatText(char *output, size_t size, const char *format, ...)
{
    if (size == 0)
        return false;
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(output, size, format, arguments);
    va_end(arguments);
    // Some C libraries leave a cut text unterminated and return -1.
    output[size - 1] = '\0';
    if (length >= 0 && (size_t)length < size)
        return true;
    DropCutLeadByte(output, strlen(output));
    return false;
}

bool AppendWord(char *output, size_t size, const char *text)
{
    const char *end = (const char *)memchr(output, '\0', size);
    if (end == NULL)
        return false;
    size_t used = (size_t)(end - output);
    if (FormatText(output + used, size - used, "%s ", text))
        return true;
    output[used] = '\0';
    return false;
}
