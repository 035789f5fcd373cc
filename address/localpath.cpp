// address/localpath.cpp — maps an address to its file under the save folder.
// Date and archives folders, decoding, safe names, confinement; creates the folders.
#include "address/address.h"

#include <string.h>

char g_saveFolder[TEXT_SIZE];
char g_dateFolder[TEXT_SIZE];
unsigned (*g_readSettingNumber)(const char *name, unsigned defaultValue);

static const char ARCHIVES_FOLDER[] = "archives";
static const char DIRECTORY_FILE[] = "index.html";

// Extensions of the files that "cbe" gathers in the archives folder, as its
// announcement "EXE,ZIP,LZH,CAB" names them.
static const char *const ARCHIVE_EXTENSIONS[] = {".exe", ".zip", ".lzh", ".cab"};

// Device names of Windows: a file segment named so, with or without an
// extension, would open the device instead of a file.
static const char *const DEVICE_NAMES[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",   "COM7",    "COM8",
    "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};

static bool SettingIsOn(const char *name)
{
    return g_readSettingNumber != NULL && g_readSettingNumber(name, 0) == 1;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int EscapeValue(const char *p)
{
    int high = p[0] == '%' ? HexValue(p[1]) : -1;
    int low = high >= 0 ? HexValue(p[2]) : -1;
    return low >= 0 ? high * 16 + low : -1;
}

bool DecodeEscapeBytes(char *output, const char *text)
{
    output[0] = '\0';
    if (strlen(text) > TEXT_SIZE - 1)
        return false;
    size_t length = 0;
    for (const char *p = text; *p != '\0';) {
        int byte = EscapeValue(p);
        if (byte >= 0) {
            output[length++] = byte == 0 ? '-' : (char)byte;
            p += 3;
        } else {
            output[length++] = *p++;
        }
    }
    output[length] = '\0';
    return true;
}

// Bytes of the character at p, not reaching end: 2 only for a lead byte
// followed by a valid trail byte of code page 932, so a lone lead byte never
// swallows the separator or character behind it.
static size_t CharLength(const char *p, const char *end)
{
    if (!IsLeadByte((unsigned char)p[0]) || p + 1 >= end)
        return 1;
    unsigned char trail = (unsigned char)p[1];
    bool valid = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
    return valid ? 2 : 1;
}

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// True for a single-byte character that Windows refuses in a file name.
static bool IsRefusedChar(unsigned char c)
{
    return c < 0x20 || strchr("*\"<>|?:/\\", c) != NULL || IsLeadByte(c);
}

// True when the segment's name before its first '.', without trailing
// spaces, is a device name; *nameLength receives that name's length.
static bool NamesDevice(const char *segment, size_t *nameLength)
{
    size_t length = 0;
    while (segment[length] != '\0' && segment[length] != '.')
        ++length;
    while (length > 0 && segment[length - 1] == ' ')
        --length;
    for (const char *device : DEVICE_NAMES) {
        size_t deviceLength = strlen(device);
        if (deviceLength != length)
            continue;
        size_t i = 0;
        while (i < length && UpperCaseChar(segment[i]) == device[i])
            ++i;
        if (i == length) {
            *nameLength = length;
            return true;
        }
    }
    return false;
}

// Copies the segment from begin to end into output (TEXT_SIZE bytes) as a
// name Windows can create as a plain file or folder: refused characters and
// lone lead bytes become '-', a device name gets '_' behind it ("CON.txt"
// becomes "CON_.txt"), and so does the transfer folder's name, and trailing
// '.' or ' ' become '-'. False when the result would not fit.
static bool MakeSafeSegment(char *output, const char *begin, const char *end)
{
    size_t length = 0;
    for (const char *p = begin; p < end;) {
        size_t charLength = CharLength(p, end);
        if (length + charLength > TEXT_SIZE - 2)
            return false;
        if (charLength == 2) {
            output[length++] = p[0];
            output[length++] = p[1];
        } else {
            output[length++] = IsRefusedChar((unsigned char)*p) ? '-' : *p;
        }
        p += charLength;
    }
    output[length] = '\0';
    size_t nameLength;
    if (NamesDevice(output, &nameLength)) {
        memmove(output + nameLength + 1, output + nameLength, length - nameLength + 1);
        output[nameLength] = '_';
        ++length;
    } else if (CompareNoCase(output, TRANSFER_FOLDER_NAME) == 0) {
        output[length++] = '_';
        output[length] = '\0';
    }
    for (size_t i = length; i > 0 && (output[i - 1] == '.' || output[i - 1] == ' '); --i)
        output[i - 1] = '-';
    return true;
}

// The local path as it is built: a fixed root (save folder, date folder,
// host or archives folder) and below it a stack of folder segments, each
// ending with '\'. ".." removes the last segment but never the root.
struct PathBuilder {
    char text[TEXT_SIZE];
    size_t length;
    size_t segmentStarts[TEXT_SIZE];
    size_t segmentCount;
};

// Appends text to the path; false, with the path as it was, when it does not fit.
static bool AppendToPath(PathBuilder *path, const char *text)
{
    if (!AppendText(path->text, sizeof path->text, text)) {
        path->text[path->length] = '\0';
        return false;
    }
    path->length += strlen(text);
    return true;
}

static bool AppendFolder(PathBuilder *path, const char *safeName)
{
    size_t start = path->length;
    if (!AppendToPath(path, safeName) || !AppendToPath(path, "\\"))
        return false;
    path->segmentStarts[path->segmentCount++] = start;
    return true;
}

static void RemoveLastFolder(PathBuilder *path)
{
    if (path->segmentCount == 0)
        return;
    path->length = path->segmentStarts[--path->segmentCount];
    path->text[path->length] = '\0';
}

// The name of a decoded segment's bytes as Windows shows it (code page 932;
// characters it cannot hold as escapes, LocalNameOfBytes) and made safe.
static bool NameSegment(char *safeName, const char *begin, const char *end, int nameEncoding)
{
    char named[TEXT_SIZE];
    return LocalNameOfBytes(named, sizeof named, begin, (size_t)(end - begin), nameEncoding) &&
           MakeSafeSegment(safeName, named, named + strlen(named));
}

// Applies one decoded folder segment: "" and "." change nothing, ".."
// climbs one folder within the root, any other name becomes a folder.
static bool ApplyFolderSegment(PathBuilder *path, const char *begin, const char *end, int nameEncoding)
{
    size_t length = (size_t)(end - begin);
    if (length == 0 || (length == 1 && begin[0] == '.'))
        return true;
    if (length == 2 && begin[0] == '.' && begin[1] == '.') {
        RemoveLastFolder(path);
        return true;
    }
    char safeName[TEXT_SIZE];
    return NameSegment(safeName, begin, end, nameEncoding) && AppendFolder(path, safeName);
}

// The end of the segment that begins at p: the next '/' or '\' that is a
// character of its own, or the end of the text.
static const char *SegmentEnd(const char *p)
{
    const char *end = p + strlen(p);
    while (p < end && !IsSeparator(*p))
        p += CharLength(p, end);
    return p;
}

// Applies every segment of a decoded text as a folder segment.
static bool ApplyFolders(PathBuilder *path, const char *decoded, int nameEncoding)
{
    for (const char *p = decoded;;) {
        const char *end = SegmentEnd(p);
        if (!ApplyFolderSegment(path, p, end, nameEncoding))
            return false;
        if (*end == '\0')
            return true;
        p = end + 1;
    }
}

// Applies a decoded file name: the segments before its last separator are
// folders; the last one is the file's name. A name that is empty, "." or
// ".." names a folder, whose file is "index.html". safeName receives the
// name that the file gets.
static bool ApplyFileName(PathBuilder *path, const char *decoded, char *safeName, int nameEncoding)
{
    const char *p = decoded;
    const char *end = SegmentEnd(p);
    while (*end != '\0') {
        if (!ApplyFolderSegment(path, p, end, nameEncoding))
            return false;
        p = end + 1;
        end = SegmentEnd(p);
    }
    bool namesFolder = p == end || strcmp(p, ".") == 0 || strcmp(p, "..") == 0;
    if (namesFolder) {
        if (!ApplyFolderSegment(path, p, end, nameEncoding))
            return false;
        CopyText(safeName, TEXT_SIZE, DIRECTORY_FILE);
        return true;
    }
    return NameSegment(safeName, p, end, nameEncoding);
}

static bool IsArchive(const char *filePart)
{
    return ExtensionIsOneOf(filePart, ARCHIVE_EXTENSIONS, sizeof ARCHIVE_EXTENSIONS / sizeof ARCHIVE_EXTENSIONS[0]);
}

// True when the text ends with a '\' that is a character of its own.
static bool EndsWithBackslash(const char *text)
{
    bool ends = false;
    for (const char *p = text; *p != '\0'; p = NextChar(p))
        ends = *p == '\\';
    return ends;
}

// The save folder, '\', and the date folder when "cbd" is on: the part of
// the path that no address can change.
static bool StartAtSaveFolder(PathBuilder *path)
{
    path->text[0] = '\0';
    path->length = 0;
    path->segmentCount = 0;
    if (!AppendToPath(path, g_saveFolder))
        return false;
    if (!EndsWithBackslash(g_saveFolder) && !AppendToPath(path, "\\"))
        return false;
    return !SettingIsOn("cbd") || AppendToPath(path, g_dateFolder);
}

// Appends the folder that the address's path climbs in: the archives folder,
// or the host part's own folder (the whole host part is one name; its ':'
// become '-', so 'server:81' is the folder 'server-81'; a Japanese host's
// "xn--" labels are written as the user reads them). An https address
// shares the folder of the same host over http. An empty host part adds no
// folder.
static bool AppendRootFolder(PathBuilder *path, const char *hostPart, bool archive)
{
    char safeName[TEXT_SIZE];
    if (archive) {
        CopyText(safeName, sizeof safeName, ARCHIVES_FOLDER);
    } else {
        char decoded[TEXT_SIZE], named[TEXT_SIZE];
        if (!DecodeEscapes(decoded, HostWithoutScheme(hostPart)) || !HostFolderName(named, sizeof named, decoded) ||
            !MakeSafeSegment(safeName, named, named + strlen(named)))
            return false;
    }
    return safeName[0] == '\0' || (AppendToPath(path, safeName) && AppendToPath(path, "\\"));
}

// Builds the local folder into path and the file's safe name into safeName.
static bool BuildLocalPath(PathBuilder *path, char *safeName, const char *hostPart, const char *pathPart,
                           const char *filePart, int nameEncoding)
{
    bool archive = SettingIsOn("cbe") && IsArchive(filePart);
    char fileName[TEXT_SIZE], decoded[TEXT_SIZE];
    CopyUntil(fileName, filePart, "#?");
    if (!StartAtSaveFolder(path) || !AppendRootFolder(path, hostPart, archive))
        return false;
    if (!archive && (!DecodeEscapes(decoded, pathPart) || !ApplyFolders(path, decoded, nameEncoding)))
        return false;
    return DecodeEscapes(decoded, fileName) && ApplyFileName(path, decoded, safeName, nameEncoding);
}

int MapToLocalPath(char *localPath, const char *hostPart, const char *pathPart, const char *filePart,
                   char *localFolder, int nameEncoding)
{
    localPath[0] = '\0';
    localFolder[0] = '\0';
    if (pathPart[0] == '\0')
        return TEXT_TOO_LONG;
    PathBuilder path;
    char safeName[TEXT_SIZE];
    if (!BuildLocalPath(&path, safeName, hostPart, pathPart, filePart, nameEncoding))
        return TEXT_TOO_LONG;
    if (!FormatText(localPath, TEXT_SIZE, "%s%s", path.text, safeName)) {
        localPath[0] = '\0';
        return TEXT_TOO_LONG;
    }
    CopyText(localFolder, TEXT_SIZE, path.text);
    return 1;
}

bool GetTransferFolder(char *output)
{
    output[0] = '\0';
    PathBuilder path;
    path.text[0] = '\0';
    path.length = 0;
    bool fits = g_saveFolder[0] != '\0' && AppendToPath(&path, g_saveFolder) &&
                (EndsWithBackslash(g_saveFolder) || AppendToPath(&path, "\\")) &&
                AppendToPath(&path, TRANSFER_FOLDER_NAME "\\");
    if (fits)
        CopyText(output, TEXT_SIZE, path.text);
    return fits;
}

int MapBelowRoot(char *output, const char *hostPart, const char *pathPart, const char *filePart, int nameEncoding)
{
    char localPath[TEXT_SIZE], localFolder[TEXT_SIZE];
    PathBuilder root;
    output[0] = '\0';
    if (MapToLocalPath(localPath, hostPart, pathPart, filePart, localFolder, nameEncoding) != 1 ||
        !StartAtSaveFolder(&root))
        return TEXT_TOO_LONG;
    CopyText(output, TEXT_SIZE, localPath + root.length);
    return 1;
}

int LocalFolderDepth(const char *hostPart, const char *pathPart)
{
    char below[TEXT_SIZE];
    if (MapBelowRoot(below, hostPart, pathPart, "") != 1)
        return -1;
    int depth = 0;
    for (const char *p = below; *p != '\0'; p = NextChar(p))
        depth += *p == '\\';
    return depth;
}

void CreateFolders(char *folderPath)
{
    ToBackslashes(folderPath);
    if (folderPath[0] == '\0')
        return;
    bool endsWithSeparator = false;
    for (char *p = folderPath; *p != '\0'; p = NextChar(p)) {
        endsWithSeparator = *p == '\\';
        if (endsWithSeparator) {
            *p = '\0';
            MakeFolder(folderPath);
            *p = '\\';
        }
    }
    if (!endsWithSeparator)
        MakeFolder(folderPath);
}
