// page/linklist.cpp — the addresses recorded in one page with the kind of each.
// And the depth value each kind gives its fetch.
#include "page/page.h"

#include <string.h>

// First sizes of the list's text and of its kind table. A list lives as long
// as its page's links are walked, one list per level of nesting, so it starts
// small and doubles as it grows.
#define LINK_TEXT_FIRST 256
#define KIND_TABLE_FIRST 16

// Depth values of FTP addresses and of outside data.
#define OUTSIDE_DATA_EXTRA 2

bool CreateLinkList(LinkList *list)
{
    list->text = AllocBlock(LINK_TEXT_FIRST);
    list->kinds = AllocBlock(KIND_TABLE_FIRST);
    list->count = 0;
    list->used = 0;
    if (list->text != NULL && list->kinds != NULL)
        return true;
    FreeLinkList(list);
    return false;
}

void FreeLinkList(LinkList *list)
{
    FreeBlock(list->text);
    FreeBlock(list->kinds);
    list->text = NULL;
    list->kinds = NULL;
    list->count = 0;
    list->used = 0;
}

// Grows the block, doubling it, until it holds at least size bytes.
static bool Grow(BlockHandle *block, size_t size)
{
    size_t have = BlockSize(*block);
    if (have >= size)
        return true;
    while (have < size)
        have = have > 0 ? 2 * have : size;
    BlockHandle grown = ResizeBlock(*block, have);
    if (grown == NULL)
        return false;
    *block = grown;
    return true;
}

// The kind table's byte of a link: its kind in the low four bits, its name
// encoding above them.
#define KIND_BITS 4
#define KIND_MASK 15

bool AppendLink(LinkList *list, const char *address, int kind, int nameEncoding)
{
    size_t length = strlen(address);
    if (!Grow(&list->text, list->used + length + 10) || !Grow(&list->kinds, (size_t)list->count + 1))
        return false;
    char *text = LockBlock(list->text);
    memcpy(text + list->used, address, length);
    text[list->used + length] = ' ';
    text[list->used + length + 1] = '\0';
    UnlockBlock(list->text);
    list->used += length + 1;
    char *kinds = LockBlock(list->kinds);
    kinds[list->count] = (char)(kind | nameEncoding << KIND_BITS);
    UnlockBlock(list->kinds);
    ++list->count;
    return true;
}

int TakeLink(const LinkList *list, size_t *offset, char *address)
{
    address[0] = '\0';
    if (*offset >= list->used)
        return 0;
    const char *text = LockBlock(list->text);
    const char *start = text + *offset;
    const char *space = strchr(start, ' ');
    size_t length = space != NULL ? (size_t)(space - start) : strlen(start);
    int result = TEXT_TOO_LONG;
    if (CopyTextRange(address, TEXT_SIZE, start, start + length))
        result = 1;
    else
        address[0] = '\0';
    *offset += length + 1;
    UnlockBlock(list->text);
    return result;
}

// The kind table's byte of the n-th link; 0 for none.
static int KindByte(const LinkList *list, int n)
{
    if (n < 0 || n >= list->count)
        return 0;
    const char *kinds = LockBlock(list->kinds);
    int byte = (unsigned char)kinds[n];
    UnlockBlock(list->kinds);
    return byte;
}

int LinkKind(const LinkList *list, int n) { return KindByte(list, n) & KIND_MASK; }

int LinkNameEncoding(const LinkList *list, int n) { return KindByte(list, n) >> KIND_BITS; }

int LinkDepth(int kind, int pageDepth, int depthLimit)
{
    switch (kind) {
    case LINK_NEXT_LEVEL:
        return pageDepth + 1;
    case LINK_SAME_LEVEL:
        return pageDepth;
    case LINK_OUTSIDE_DATA:
        return depthLimit + OUTSIDE_DATA_EXTRA;
    case LINK_FTP:
        return DEPTH_FTP;
    default:
        return -1;
    }
}
