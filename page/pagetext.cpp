// page/pagetext.cpp — the page text in its movable block and the rewrites noted on it.
// The rewrites are noted while the page is scanned and carried out in one forward pass.
#include "page/page.h"

#include <string.h>

// An empty text for the time no page is loaded.
static char g_emptyText[1];

char *g_pageText = g_emptyText;
char *g_scanPosition = g_emptyText;
size_t g_pageLength;

static BlockHandle g_pageBlock;

// Length of the scanned text: up to the first NUL.
static size_t g_textLength;

// One noted rewrite: foundLength bytes at offset place of the page text
// become textLength bytes at textOffset of the rewrite texts.
struct Rewrite {
    size_t place;
    size_t foundLength;
    size_t textOffset;
    size_t textLength;
};

// The rewrites in the order of their places, and their texts.
static BlockHandle g_rewriteBlock;
static size_t g_rewriteCount;
static BlockHandle g_rewriteTextBlock;
static size_t g_rewriteTextUsed;

static void ForgetRewrites(void)
{
    FreeBlock(g_rewriteBlock);
    FreeBlock(g_rewriteTextBlock);
    g_rewriteBlock = NULL;
    g_rewriteTextBlock = NULL;
    g_rewriteCount = 0;
    g_rewriteTextUsed = 0;
}

void SetPageText(BlockHandle block, size_t length)
{
    ReleasePageText();
    g_pageBlock = block;
    g_pageText = LockBlock(block);
    g_pageLength = length;
    g_textLength = strlen(g_pageText);
    g_scanPosition = g_pageText;
}

void ReleasePageText(void)
{
    if (g_pageBlock != NULL) {
        UnlockBlock(g_pageBlock);
        FreeBlock(g_pageBlock);
    }
    g_pageBlock = NULL;
    g_pageText = g_emptyText;
    g_scanPosition = g_emptyText;
    g_pageLength = 0;
    g_textLength = 0;
    ForgetRewrites();
}

// Makes the block hold at least size bytes, growing it to twice what is
// needed so that many small additions cost linear time.
static bool EnsureBlock(BlockHandle *block, size_t size)
{
    if (*block == NULL) {
        *block = AllocBlock(size * 2);
        return *block != NULL;
    }
    if (BlockSize(*block) >= size)
        return true;
    BlockHandle grown = ResizeBlock(*block, size * 2);
    if (grown == NULL)
        return false;
    *block = grown;
    return true;
}

// Index at which a rewrite at place belongs: after every rewrite that begins
// before it. Rewrites come nearly in order, so the search starts at the end.
static size_t InsertionIndex(const Rewrite *list, size_t place)
{
    size_t i = g_rewriteCount;
    while (i > 0 && list[i - 1].place > place)
        --i;
    return i;
}

static bool Overlaps(const Rewrite *list, size_t index, size_t place, size_t length)
{
    if (index > 0 && list[index - 1].place + list[index - 1].foundLength > place)
        return true;
    if (index < g_rewriteCount && place + length > list[index].place)
        return true;
    return false;
}

bool RecordRewrite(const char *place, size_t foundLength, const char *text)
{
    if (place < g_pageText || foundLength == 0)
        return false;
    size_t offset = (size_t)(place - g_pageText);
    if (offset > g_textLength || foundLength > g_textLength - offset)
        return false;
    size_t textLength = strlen(text);
    if (!EnsureBlock(&g_rewriteBlock, (g_rewriteCount + 1) * sizeof(Rewrite)) ||
        !EnsureBlock(&g_rewriteTextBlock, g_rewriteTextUsed + textLength + 1))
        return false;
    Rewrite *list = (Rewrite *)LockBlock(g_rewriteBlock);
    size_t index = InsertionIndex(list, offset);
    bool overlaps = Overlaps(list, index, offset, foundLength);
    if (!overlaps) {
        memmove(list + index + 1, list + index, (g_rewriteCount - index) * sizeof(Rewrite));
        list[index] = Rewrite{offset, foundLength, g_rewriteTextUsed, textLength};
        ++g_rewriteCount;
        char *texts = LockBlock(g_rewriteTextBlock);
        memcpy(texts + g_rewriteTextUsed, text, textLength);
        g_rewriteTextUsed += textLength;
        UnlockBlock(g_rewriteTextBlock);
    }
    UnlockBlock(g_rewriteBlock);
    return !overlaps;
}

// Length of the page once the rewrites are carried out.
static size_t RewrittenLength(const Rewrite *list)
{
    size_t length = g_pageLength;
    for (size_t i = 0; i < g_rewriteCount; ++i)
        length = length - list[i].foundLength + list[i].textLength;
    return length;
}

// Copies the page into output with the rewrites carried out.
static void CopyRewritten(char *output, const Rewrite *list, const char *texts)
{
    size_t from = 0;
    char *out = output;
    for (size_t i = 0; i < g_rewriteCount; ++i) {
        memcpy(out, g_pageText + from, list[i].place - from);
        out += list[i].place - from;
        memcpy(out, texts + list[i].textOffset, list[i].textLength);
        out += list[i].textLength;
        from = list[i].place + list[i].foundLength;
    }
    memcpy(out, g_pageText + from, g_pageLength - from);
}

bool ApplyRewrites(void)
{
    if (g_rewriteCount == 0) {
        ForgetRewrites();
        g_scanPosition = g_pageText;
        return true;
    }
    Rewrite *list = (Rewrite *)LockBlock(g_rewriteBlock);
    size_t length = RewrittenLength(list);
    BlockHandle block = AllocBlock(length + 1);
    if (block == NULL) {
        UnlockBlock(g_rewriteBlock);
        ForgetRewrites();
        g_scanPosition = g_pageText;
        return false;
    }
    char *output = LockBlock(block);
    char *texts = LockBlock(g_rewriteTextBlock);
    CopyRewritten(output, list, texts);
    UnlockBlock(g_rewriteTextBlock);
    UnlockBlock(g_rewriteBlock);
    ForgetRewrites();
    UnlockBlock(g_pageBlock);
    FreeBlock(g_pageBlock);
    g_pageBlock = block;
    g_pageText = output;
    g_pageLength = length;
    g_textLength = strlen(g_pageText);
    g_scanPosition = g_pageText;
    return true;
}
