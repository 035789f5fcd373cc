// address/localpath_posix.cpp — the local path mapping's platform pieces without Win32.
// Own escape decoding, folder creation with mkdir.
#include "address/address.h"

#include <sys/stat.h>

bool DecodeEscapes(char *output, const char *text) { return DecodeEscapeBytes(output, text); }

void MakeFolder(const char *path)
{
    // The mapping writes Windows separators; here '/' separates.
    char native[TEXT_SIZE];
    if (!CopyText(native, sizeof native, path))
        return;
    for (char *p = native; *p != '\0'; p = NextChar(p))
        if (*p == '\\')
            *p = '/';
    mkdir(native, 0777);
}
