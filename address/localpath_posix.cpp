// address/localpath_posix.cpp — the platform pieces of the local path mapping for builds without Win32: own escape decoding, folder creation with mkdir.
#include "address/address.h"

#include <string.h>
#include <sys/stat.h>

bool DecodeEscapes(char *output, const char *text) { return DecodeEscapeBytes(output, text); }

void MakeFolder(const char *path)
{
    // The mapping writes Windows separators; here '/' separates.
    if (strlen(path) > TEXT_SIZE - 1)
        return;
    char native[TEXT_SIZE];
    strcpy(native, path);
    for (char *p = native; *p != '\0'; p = NextChar(p))
        if (*p == '\\')
            *p = '/';
    mkdir(native, 0777);
}
