// address/text.h — copy, append and format into a sized buffer.
// Never cuts a double-byte character.
#ifndef PARVEL_ADDRESS_TEXT_H
#define PARVEL_ADDRESS_TEXT_H

#include <stddef.h>

#if defined(__GNUC__)
#define PARVEL_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PARVEL_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// Every call writes into output of size bytes (at least 1), keeps as many
// whole characters as fit (a double-byte character is kept whole or not at
// all), always terminates output and returns true only when the whole text
// fitted. A text that did not fit leaves its longest whole-character start.

// Copies text into output.
bool CopyText(char *output, size_t size, const char *text);

// Copies the bytes from begin up to end (a lead byte just before end counts
// alone, as before a NUL).
bool CopyTextRange(char *output, size_t size, const char *begin, const char *end);

// Appends text behind what output already holds; false, with output as it
// was, when output holds no terminated text within size.
bool AppendText(char *output, size_t size, const char *text);

// Appends text and one space when both fit whole, as a list of words
// grows; false, with output as it was, when they do not.
bool AppendWord(char *output, size_t size, const char *text);

// Formats printf-style into output. The arguments must not point into output.
bool FormatText(char *output, size_t size, const char *format, ...) PARVEL_PRINTF_FORMAT(3, 4);

#endif
