// page/page_win.h — the page scan driver and shortcut files on Windows.
#ifndef PARVEL_PAGE_PAGE_WIN_H
#define PARVEL_PAGE_PAGE_WIN_H

#include "page/page.h"

// Loads the stored page at localPath, scans it with the settings (links
// resolve against hostPart and pathPart, the address that answered), and
// rewrites and writes it back; its links go in list, which the scan makes.
// True when the list was made (the caller frees it). A page that cannot be
// read, rewritten or written is left as stored, with a line in the log.
bool ScanStoredPage(const char *localPath, const char *hostPart, const char *pathPart,
                    const ScanSettings *settings, LinkList *list);

// The start page's shortcut, named after the title, in the shortcut folder.
void MakeStartShortcut(const char *localPath, char *title);

// The whole file in a movable block with a NUL behind it; its length in
// *length. Null when it cannot be opened or read.
BlockHandle LoadWholeFile(const char *path, size_t *length);

// Writes length bytes of text over the file, which then ends there; the
// creation time becomes now, the other times stay. False when the file
// cannot be opened or written.
bool WriteBackPage(const char *path, const char *text, size_t length);

// Writes a shell shortcut (.LNK) through the shell link object; each of the
// optional parts (null) is set only when given.
void CreatePageShortcut(const char *shortcutPath, const char *targetPath, const char *arguments,
                        const char *iconFile, int iconIndex, const char *workingFolder);

#endif
