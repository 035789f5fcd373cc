// tests/win/page_files_test.cpp — the stored page's file operations and shortcut files.
// Whole files loaded, pages written back with their length and times, and .LNK files made
// through the shell link object.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "page/page_win.h"
#include "tests/win/test_files.h"

static int g_folderCount;

// A new empty folder under the temporary folder.
static std::string NewTempFolder(void)
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string folder = std::string(base) + "pvpage" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(++g_folderCount);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

static FILETIME FileTimeOf(WORD year)
{
    SYSTEMTIME day = {year, 7, 0, 4, 12, 0, 0, 0};
    FILETIME time;
    SystemTimeToFileTime(&day, &time);
    return time;
}

static void SetAllTimes(const std::string &path, const FILETIME &time)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
}

static void ReadTimes(const std::string &path, FILETIME *created, FILETIME *accessed, FILETIME *written)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    GetFileTime(file, created, accessed, written);
    CloseHandle(file);
}

static bool RunningUnderWine(void)
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

TEST(WriteBackPage, FileEndsWhereTheTextEnds)
{
    std::string path = NewTempFolder() + "\\page.html";
    struct Case { std::string before, text; } cases[] = {
        {"0123456789abcdef", "xyz"},
        {"short", "a much longer page than before"},
        {"something", ""},
        {"old", std::string("text\0tail", 9)},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(WriteBytes(path, c.before));
        EXPECT_TRUE(WriteBackPage(path.c_str(), c.text.data(), c.text.size())) << c.text;
        EXPECT_EQ(ReadBytes(path), c.text) << "over " << c.before;
    }
}

TEST(WriteBackPage, KeepsLastWriteAndAccessTimesAndSetsCreationTime)
{
    std::string path = NewTempFolder() + "\\page.html";
    EXPECT_TRUE(WriteBytes(path, "<img src=http://host/x.gif>"));
    FILETIME old = FileTimeOf(1999);
    SetAllTimes(path, old);
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    ASSERT_TRUE(WriteBackPage(path.c_str(), "<img src=../host/x.gif>", 23));
    FILETIME created, accessed, written;
    ReadTimes(path, &created, &accessed, &written);
    EXPECT_EQ(CompareFileTime(&written, &old), 0);
    EXPECT_EQ(CompareFileTime(&accessed, &old), 0);
    if (RunningUnderWine()) {
        // Wine on this file system keeps no creation time of its own: it
        // reports the last-write time, which must not have moved.
        EXPECT_EQ(CompareFileTime(&created, &old), 0);
    } else {
        EXPECT_GE(CompareFileTime(&created, &before), 0) << "the creation time is the time of the rewrite";
    }
}

TEST(WriteBackPage, FileThatCannotBeOpenedIsLeftAlone)
{
    std::string folder = NewTempFolder();
    std::string missing = folder + "\\missing.html";
    EXPECT_FALSE(WriteBackPage(missing.c_str(), "x", 1));
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "no file is made";

    std::string held = folder + "\\held.html";
    EXPECT_TRUE(WriteBytes(held, "stored page"));
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteBackPage(held.c_str(), "new", 3));
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(held), "stored page");
}

TEST(LoadWholeFile, WholeFileWithClosingNul)
{
    std::string folder = NewTempFolder();
    std::string path = folder + "\\page.html";
    std::string bytes("<html>\0after the nul\xFF", 21);
    EXPECT_TRUE(WriteBytes(path, bytes));
    size_t length = 99;
    BlockHandle block = LoadWholeFile(path.c_str(), &length);
    ASSERT_NE(block, (BlockHandle)NULL);
    EXPECT_EQ(length, bytes.size());
    char *text = LockBlock(block);
    EXPECT_EQ(std::string(text, length), bytes);
    EXPECT_EQ(text[length], '\0');
    UnlockBlock(block);
    FreeBlock(block);

    EXPECT_TRUE(WriteBytes(path, ""));
    block = LoadWholeFile(path.c_str(), &length);
    ASSERT_NE(block, (BlockHandle)NULL);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(*LockBlock(block), '\0');
    UnlockBlock(block);
    FreeBlock(block);
}

TEST(LoadWholeFile, FailuresGiveNoBlock)
{
    std::string folder = NewTempFolder();
    size_t length = 99;
    EXPECT_EQ(LoadWholeFile((folder + "\\missing.html").c_str(), &length), (BlockHandle)NULL);
    EXPECT_EQ(length, 0u);
    std::string held = folder + "\\held.html";
    EXPECT_TRUE(WriteBytes(held, "stored page"));
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LoadWholeFile(held.c_str(), &length), (BlockHandle)NULL);
    CloseHandle(holder);
    EXPECT_EQ(LoadWholeFile(folder.c_str(), &length), (BlockHandle)NULL) << "a folder is no page";
}

struct ShortcutParts {
    std::string target, icon, folder;
    int iconIndex;
};

// Reads a .LNK file back through the shell link object.
static bool ReadShortcut(const std::string &path, ShortcutParts *parts)
{
    CoInitialize(NULL);
    IShellLinkA *link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link)))
        return false;
    IPersistFile *file = NULL;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file));
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    ok = ok && SUCCEEDED(file->Load(wide, STGM_READ));
    char text[MAX_PATH] = "";
    if (ok) {
        link->GetPath(text, MAX_PATH, NULL, 0);
        parts->target = text;
        text[0] = '\0';
        link->GetIconLocation(text, MAX_PATH, &parts->iconIndex);
        parts->icon = text;
        text[0] = '\0';
        link->GetWorkingDirectory(text, MAX_PATH);
        parts->folder = text;
    }
    if (file != NULL)
        file->Release();
    link->Release();
    return ok;
}

TEST(CreatePageShortcut, WritesALinkFileToTheStoredPage)
{
    std::string folder = NewTempFolder();
    std::string target = folder + "\\index.html";
    EXPECT_TRUE(WriteBytes(target, "<html>"));
    std::string icon = folder + "\\parvel.exe";
    EXPECT_TRUE(WriteBytes(icon, "MZ"));
    std::string path = folder + "\\\x93\xFA\x96\x7B Top.LNK"; // a Japanese name
    CreatePageShortcut(path.c_str(), target.c_str(), NULL, icon.c_str(), 2, folder.c_str());
    std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 20u) << path;
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x4C\0\0\0", 4)) << "a shell link header";
    ShortcutParts parts;
    ASSERT_TRUE(ReadShortcut(path, &parts));
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, parts.target.c_str(), -1, target.c_str(), -1),
              CSTR_EQUAL) << parts.target;
    EXPECT_EQ(parts.iconIndex, 2);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, parts.icon.c_str(), -1, icon.c_str(), -1),
              CSTR_EQUAL) << parts.icon;
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, parts.folder.c_str(), -1, folder.c_str(), -1),
              CSTR_EQUAL) << parts.folder;

    std::string other = folder + "\\other.html";
    EXPECT_TRUE(WriteBytes(other, "<html>"));
    CreatePageShortcut(path.c_str(), other.c_str(), NULL, icon.c_str(), 2, folder.c_str());
    ASSERT_TRUE(ReadShortcut(path, &parts));
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, parts.target.c_str(), -1, other.c_str(), -1),
              CSTR_EQUAL) << "a second shortcut of the same name replaces the first";
}

TEST(CreatePageShortcut, MissingFolderMakesNoFile)
{
    std::string path = NewTempFolder() + "\\no such folder\\page.LNK";
    CreatePageShortcut(path.c_str(), "C:\\x.html", NULL, NULL, 0, NULL);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}
