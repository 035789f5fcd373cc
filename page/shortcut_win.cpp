// page/shortcut_win.cpp — shell shortcuts (.LNK files) made through the shell's link object.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "page/page_win.h"

// Sets the optional parts that are given on the link object.
static void SetLinkParts(IShellLinkA *link, const char *targetPath, const char *arguments, const char *iconFile,
                         int iconIndex, const char *workingFolder)
{
    if (targetPath != NULL)
        link->SetPath(targetPath);
    if (arguments != NULL)
        link->SetArguments(arguments);
    if (iconFile != NULL)
        link->SetIconLocation(iconFile, iconIndex);
    if (workingFolder != NULL)
        link->SetWorkingDirectory(workingFolder);
}

void CreatePageShortcut(const char *shortcutPath, const char *targetPath, const char *arguments,
                        const char *iconFile, int iconIndex, const char *workingFolder)
{
    // Each fetch worker is a thread of its own: COM is set up for it here.
    CoInitialize(NULL);
    IShellLinkA *link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link)))
        return;
    IPersistFile *file = NULL;
    if (FAILED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        link->Release();
        return;
    }
    SetLinkParts(link, targetPath, arguments, iconFile, iconIndex, workingFolder);
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, shortcutPath, -1, widePath, MAX_PATH) > 0)
        file->Save(widePath, TRUE);
    file->Release();
    link->Release();
}
