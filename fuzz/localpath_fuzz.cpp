// fuzz/localpath_fuzz.cpp — libFuzzer target over the address form, local paths and names.
// Over SplitAddress, host part parsing and MapToLocalPath: every mapped path stays in
// the save folder, names only creatable files and never the transfer folder. Over the
// names of Japanese segments and host names: stable, distinct, safe, and Punycode reversible.
#include "address/address.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// Input: one byte of switches, then the address (or, with switch 4, three
// parts separated by NUL bytes; with switch 16, two halves of bytes for the
// names, read in the encoding that the top bits give).
enum { kDateFolderOn = 1, kArchivesOn = 2, kRawParts = 4, kDriveRoot = 8, kNames = 16 };

static unsigned s_switches;

static unsigned ReadFuzzSetting(const char *name, unsigned defaultValue)
{
    if (strcmp(name, "cbd") == 0)
        return (s_switches & kDateFolderOn) ? 1 : 0;
    if (strcmp(name, "cbe") == 0)
        return (s_switches & kArchivesOn) ? 1 : 0;
    return defaultValue;
}

static void Require(bool condition)
{
    if (!condition)
        abort();
}

static size_t CharLength(const unsigned char *p)
{
    if (!IsLeadByte(p[0]))
        return 1;
    bool validTrail = (p[1] >= 0x40 && p[1] <= 0x7E) || (p[1] >= 0x80 && p[1] <= 0xFC);
    return validTrail ? 2 : 1;
}

static bool IsDeviceName(const char *begin, const char *end)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    const char *stop = begin;
    while (stop < end && *stop != '.')
        ++stop;
    while (stop > begin && stop[-1] == ' ')
        --stop;
    size_t length = (size_t)(stop - begin);
    char name[8] = "";
    if (length == 0 || length > 7)
        return false;
    for (size_t i = 0; i < length; ++i)
        name[i] = UpperCaseChar(begin[i]);
    name[length] = '\0';
    for (const char *device : devices)
        if (strcmp(name, device) == 0)
            return true;
    return length == 4 && (strncmp(name, "COM", 3) == 0 || strncmp(name, "LPT", 3) == 0) && name[3] >= '1' &&
           name[3] <= '9';
}

// Each segment below the root is a name Windows creates as a plain file or
// folder: not empty, "." or "..", no refused character, no lone lead byte,
// no trailing '.' or ' ', no device name, never the transfer folder's name.
static void RequireSafeSegments(const char *below)
{
    const char *segment = below;
    for (const char *p = below;; ) {
        bool atEnd = *p == '\0';
        if (atEnd || *p == '\\') {
            size_t length = (size_t)(p - segment);
            Require(length > 0);
            Require(!(length == 1 && segment[0] == '.') && !(length == 2 && segment[0] == '.' && segment[1] == '.'));
            Require(p[-1] != '.' && p[-1] != ' ');
            Require(!IsDeviceName(segment, p));
            char name[TEXT_SIZE];
            memcpy(name, segment, length);
            name[length] = '\0';
            Require(CompareNoCase(name, TRANSFER_FOLDER_NAME) != 0);
            if (atEnd)
                return;
            segment = p + 1;
            ++p;
            continue;
        }
        size_t length = CharLength((const unsigned char *)p);
        if (length == 1) {
            unsigned char c = (unsigned char)*p;
            Require(c >= 0x20 && strchr("*\"<>|?:/", c) == NULL && !IsLeadByte(c));
        }
        p += length;
    }
}

static void RequireSoundMapping(const char *host, const char *path, const char *file)
{
    char localPath[TEXT_SIZE], localFolder[TEXT_SIZE];
    int result = MapToLocalPath(localPath, host, path, file, localFolder);
    Require(result == 1 || result == TEXT_TOO_LONG);
    if (result != 1) {
        Require(localPath[0] == '\0' && localFolder[0] == '\0');
        return;
    }
    char root[2 * TEXT_SIZE];
    strcpy(root, g_saveFolder);
    if (!(s_switches & kDriveRoot))
        strcat(root, "\\");
    if (s_switches & kDateFolderOn)
        strcat(root, g_dateFolder);
    size_t rootLength = strlen(root);
    size_t pathLength = strlen(localPath), folderLength = strlen(localFolder);
    Require(pathLength < TEXT_SIZE && pathLength > rootLength);
    Require(strncmp(localPath, root, rootLength) == 0);
    Require(folderLength >= rootLength && strncmp(localPath, localFolder, folderLength) == 0);
    Require(localFolder[folderLength - 1] == '\\' && folderLength < pathLength);
    RequireSafeSegments(localPath + rootLength);

    char again[TEXT_SIZE], againFolder[TEXT_SIZE];
    Require(MapToLocalPath(again, host, path, file, againFolder) == 1);
    Require(strcmp(again, localPath) == 0 && strcmp(againFolder, localFolder) == 0);
}

// ---- Names of decoded segments and host names ----

static bool IsRefusedByte(unsigned char c) { return c < 0x20 || strchr("*\"<>|?:/\\", c) != NULL; }

static size_t CountRefused(const char *bytes, size_t length)
{
    size_t count = 0;
    for (size_t i = 0; i < length; ++i)
        count += IsRefusedByte((unsigned char)bytes[i]);
    return count;
}

static bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// The name is whole code page 932 characters, each '%' begins an escape, and
// it holds no more refused single bytes than the input did: those are
// MakeSafeSegment's to handle.
static void RequireSafeName(const char *name, const char *bytes, size_t length)
{
    size_t refused = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p != 0;) {
        size_t charLength = CharLength(p);
        if (charLength == 1) {
            Require(*p < 0x80 || (*p >= 0xA1 && *p <= 0xDF));
            Require(*p != '%' || (IsUpperHex((char)p[1]) && IsUpperHex((char)p[2])));
            refused += IsRefusedByte(*p);
        }
        p += charLength;
    }
    Require(refused <= CountRefused(bytes, length));
}

// The name of the bytes, checked to be the same every time; false when it did not fit.
static bool StableName(char *name, const char *bytes, size_t length, int encoding)
{
    char again[TEXT_SIZE];
    bool fits = LocalNameOfBytes(name, TEXT_SIZE, bytes, length, encoding);
    Require(LocalNameOfBytes(again, sizeof again, bytes, length, encoding) == fits && strcmp(name, again) == 0);
    if (fits)
        RequireSafeName(name, bytes, length);
    return fits;
}

// Two inputs read the same way never share a name; UTF-8 and the page's
// encoding may show the same characters.
static void RequireDistinctNames(const char *a, size_t aLength, const char *b, size_t bLength, int encoding)
{
    char aName[TEXT_SIZE], bName[TEXT_SIZE];
    if (!StableName(aName, a, aLength, encoding) || !StableName(bName, b, bLength, encoding))
        return;
    bool sameReading = NameEncodingOf(a, aLength, encoding) == NameEncodingOf(b, bLength, encoding);
    bool sameBytes = aLength == bLength && memcmp(a, b, aLength) == 0;
    Require(!sameReading || sameBytes || strcmp(aName, bName) != 0);
}

// Punycode decodes what it encodes: code points from three bytes each.
static void RequirePunycodeReverses(const uint8_t *bytes, size_t length)
{
    static unsigned cps[400], back[400];
    size_t count = 0, backCount;
    for (size_t i = 0; i + 2 < length && count < 400; i += 3) {
        unsigned cp = ((unsigned)bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]) % 0x110000;
        cps[count++] = cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) ? 0x80 + bytes[i] : cp;
    }
    static char code[4096];
    Require(PunycodeEncode(code, sizeof code, cps, count));
    Require(PunycodeDecode(back, 400, &backCount, code, strlen(code)));
    Require(backCount == count && memcmp(back, cps, count * sizeof *cps) == 0);
}

// A host part's ASCII form is ASCII, and its folder name is made from it.
static void RequireHostForms(const char *host, size_t length, int encoding)
{
    char text[TEXT_SIZE], ascii[TEXT_SIZE], folder[TEXT_SIZE];
    if (length >= TEXT_SIZE)
        return;
    memcpy(text, host, length);
    text[length] = '\0';
    if (!HostToAscii(ascii, sizeof ascii, text, encoding))
        return;
    for (const char *p = ascii; *p != '\0'; ++p)
        Require((unsigned char)*p < 0x80);
    Require(HostFolderName(folder, sizeof folder, ascii));
}

static void RequireSoundNames(const uint8_t *data, size_t size)
{
    int encoding = (s_switches >> 5) % 3;
    size_t half = size / 2;
    const char *a = (const char *)data, *b = a + half;
    RequireDistinctNames(a, half, b, size - half, encoding);
    RequirePunycodeReverses(data, size);
    RequireHostForms(a, half, encoding);
}

// Copies the next NUL-ended piece of the input (at most 259 bytes) into
// part and moves past it.
static void TakePart(const uint8_t **data, const uint8_t *end, char *part)
{
    size_t length = 0;
    while (*data < end && **data != 0 && length < TEXT_SIZE - 1)
        part[length++] = (char)*(*data)++;
    part[length] = '\0';
    while (*data < end && **data != 0)
        ++*data;
    if (*data < end)
        ++*data;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    s_switches = data[0];
    g_readSettingNumber = ReadFuzzSetting;
    strcpy(g_saveFolder, (s_switches & kDriveRoot) ? "C:\\" : "C:\\save");
    strcpy(g_dateFolder, "1999-07-04\\");
    const uint8_t *p = data + 1, *end = data + size;
    if (s_switches & kNames) {
        RequireSoundNames(p, size - 1);
        return 0;
    }

    if (s_switches & kRawParts) {
        char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
        TakePart(&p, end, host);
        TakePart(&p, end, path);
        TakePart(&p, end, file);
        RequireSoundMapping(host, path, file);
        return 0;
    }

    static char address[20000];
    size_t length = size - 1 < sizeof address - 1 ? size - 1 : sizeof address - 1;
    memcpy(address, p, length);
    address[length] = '\0';
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], user[TEXT_SIZE], password[TEXT_SIZE], name[TEXT_SIZE];
    int split = SplitAddress(address, host, path, file);
    Require(split == 1 || split == TEXT_TOO_LONG);
    if (split == 1) {
        Require(path[0] == '/' && strlen(host) + strlen(path) + strlen(file) <= strlen(address) + 1);
        TakeUserFromHost(host, user, password);
        HostNameAndPort(host, name);
        Require(strlen(name) <= strlen(host));
    } else {
        Require(host[0] == '\0' && path[0] == '\0' && file[0] == '\0');
    }
    RequireSoundMapping(host, path, file);
    return 0;
}
