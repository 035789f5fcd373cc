// tests/unit/localpath_test.cpp — cases for the local path mapping.
// Layout, date and archives folders, decoding, confinement in the save folder, safe
// names, paths too long, folder creation.
#include "address/address.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <filesystem>
#include <random>
#include <string>

#define SJIS_SO "\x83\x5C"  // ソ: its trail byte equals '\'
#define SJIS_HYO "\x95\x5C" // 表

// The settings the mapping reads, served from the test instead of the store.
static unsigned s_dateSetting, s_archiveSetting;
static int s_settingReads;

static unsigned ReadTestSetting(const char *name, unsigned defaultValue)
{
    ++s_settingReads;
    if (strcmp(name, "cbd") == 0)
        return s_dateSetting;
    if (strcmp(name, "cbe") == 0)
        return s_archiveSetting;
    return defaultValue;
}

class LocalPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        strcpy(g_saveFolder, "C:\\save");
        strcpy(g_dateFolder, "1999-07-04\\");
        s_dateSetting = s_archiveSetting = 0;
        s_settingReads = 0;
        g_readSettingNumber = ReadTestSetting;
    }
    void TearDown() override { g_readSettingNumber = NULL; }
};

struct Mapping {
    int result;
    std::string path, folder;
};

static Mapping MapAddress(const char *address)
{
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], user[TEXT_SIZE], password[TEXT_SIZE];
    char localPath[TEXT_SIZE], localFolder[TEXT_SIZE];
    SplitAddress(address, host, path, file);
    TakeUserFromHost(host, user, password);
    int result = MapToLocalPath(localPath, host, path, file, localFolder);
    return {result, localPath, localFolder};
}

// The local path must begin with the given root, hold no "." or ".." segment
// below it, and end with the folder's name; the folder ends with '\'.
static void ExpectConfined(const std::string &label, const Mapping &m, const std::string &root)
{
    ASSERT_EQ(m.result, 1) << label;
    EXPECT_EQ(m.path.compare(0, root.size(), root), 0) << label << ": '" << m.path << "' leaves " << root;
    EXPECT_EQ(m.path.compare(0, m.folder.size(), m.folder), 0) << label << ": folder is no prefix";
    EXPECT_EQ(m.folder.back(), '\\') << label;
    std::string below = "\\" + m.path.substr(root.size()) + "\\";
    EXPECT_EQ(below.find("\\..\\"), std::string::npos) << label << ": " << m.path;
    EXPECT_EQ(below.find("\\.\\"), std::string::npos) << label << ": " << m.path;
    EXPECT_EQ(m.path.find(':', 2), std::string::npos) << label << ": " << m.path;
}

struct Case {
    const char *address;
    unsigned dateSetting, archiveSetting;
    const char *path;
};

static void RunCases(const Case *cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const Case &c = cases[i];
        s_dateSetting = c.dateSetting;
        s_archiveSetting = c.archiveSetting;
        Mapping m = MapAddress(c.address);
        std::string label = std::string("'") + c.address + "' cbd=" + std::to_string(c.dateSetting) +
                            " cbe=" + std::to_string(c.archiveSetting);
        EXPECT_EQ(m.result, 1) << label;
        EXPECT_EQ(m.path, c.path) << label;
        ExpectConfined(label, m, c.dateSetting == 1 ? "C:\\save\\1999-07-04\\" : "C:\\save\\");
    }
}

TEST_F(LocalPath, Layout)
{
    const Case cases[] = {
        {"server/dir/sub/page.html?x=1", 0, 0, "C:\\save\\server\\dir\\sub\\page.html"},
        {"server/dir/", 0, 0, "C:\\save\\server\\dir\\index.html"},
        {"server", 0, 0, "C:\\save\\server\\index.html"},
        {"server:81/a.gif", 0, 0, "C:\\save\\server-81\\a.gif"},
        {"user:pw@server:81/a.gif", 0, 0, "C:\\save\\server-81\\a.gif"},
        {"server/%7Euser/", 0, 0, "C:\\save\\server\\~user\\index.html"},
        {"server/a+b.html", 0, 0, "C:\\save\\server\\a+b.html"},     // a '+' is part of the name
        {"server/list.cgi?page=2", 0, 0, "C:\\save\\server\\list.cgi"},
        {"server/list.cgi?page=3", 0, 0, "C:\\save\\server\\list.cgi"},
        {"server/x.html#top", 0, 0, "C:\\save\\server\\x.html"},
        {"server/a b/%20c.txt", 0, 0, "C:\\save\\server\\a b\\ c.txt"},
        {"server/100%/50%25.html", 0, 0, "C:\\save\\server\\100%25\\50%25.html"}, // a '%' of a name is escaped
        {"server/%2541", 0, 0, "C:\\save\\server\\%2541"},         // one pass of decoding only
        {"server/" SJIS_SO "/" SJIS_HYO ".html", 0, 0, "C:\\save\\server\\" SJIS_SO "\\" SJIS_HYO ".html"},
        {"server/%83%5C/%95%5C.html", 0, 0, "C:\\save\\server\\" SJIS_SO "\\" SJIS_HYO ".html"},
        {"server/" SJIS_SO, 0, 0, "C:\\save\\server\\" SJIS_SO},
        {"server//a///b.gif", 0, 0, "C:\\save\\server\\a\\b.gif"},
        // An empty file name (a query only) is the folder's page, like a directory address.
        {"server/dir/?a=1", 0, 0, "C:\\save\\server\\dir\\index.html"},
        {"server/+x", 0, 0, "C:\\save\\server\\+x"},
        // A decoded separator in the file name opens a folder.
        {"server/a%2fb.html", 0, 0, "C:\\save\\server\\a\\b.html"},
        {"server/a%5cb%2f", 0, 0, "C:\\save\\server\\a\\b\\index.html"},
        // An https address shares the folder of the same host over http.
        {"https://server/dir/a.gif", 0, 0, "C:\\save\\server\\dir\\a.gif"},
        {"https://user:pw@server:8443/", 0, 0, "C:\\save\\server-8443\\index.html"},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LocalPath, DateAndArchivesFolders)
{
    const Case cases[] = {
        {"server/dir/sub/page.html", 1, 0, "C:\\save\\1999-07-04\\server\\dir\\sub\\page.html"},
        {"server/dir/sub/page.html", 2, 0, "C:\\save\\server\\dir\\sub\\page.html"},
        {"server/pub/tool.LZH", 0, 1, "C:\\save\\archives\\tool.LZH"},
        {"other/x/y/tool.LZH", 0, 1, "C:\\save\\archives\\tool.LZH"},
        {"server/a.EXE", 0, 1, "C:\\save\\archives\\a.EXE"},
        {"server/a.Zip", 0, 1, "C:\\save\\archives\\a.Zip"},
        {"server/a.lzh", 0, 1, "C:\\save\\archives\\a.lzh"},
        {"server/a.cab", 0, 1, "C:\\save\\archives\\a.cab"},
        {"server/a.zip", 1, 1, "C:\\save\\1999-07-04\\archives\\a.zip"},
        {"server/a.zip", 0, 2, "C:\\save\\server\\a.zip"},
        {"server/a.zip", 0, 0, "C:\\save\\server\\a.zip"},
        {"server/a.tar", 0, 1, "C:\\save\\server\\a.tar"},
        {"server/tool.zip?dl=1", 0, 1, "C:\\save\\server\\tool.zip"},  // '?' after the '.': no extension
        {"server/a+b.zip", 0, 1, "C:\\save\\archives\\a+b.zip"},
        {"server/a%2fb.zip", 0, 1, "C:\\save\\archives\\a\\b.zip"},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

// Every attempt to climb out of the host's folder (or the archives folder)
// stays inside it; nothing lands above the save folder or the date folder.
TEST_F(LocalPath, EscapesStayInsideTheSaveFolder)
{
    const Case cases[] = {
        {"host/../../x.exe", 0, 0, "C:\\save\\host\\x.exe"},
        {"host/../../x.exe", 0, 1, "C:\\save\\archives\\x.exe"},
        {"host/../../../x.html", 1, 0, "C:\\save\\1999-07-04\\host\\x.html"},
        {"host/%2e%2e/%2e%2e/x", 0, 0, "C:\\save\\host\\x"},
        {"host/%2E%2E/%2e./.%2e/x", 0, 0, "C:\\save\\host\\x"},
        {"host/a/..%5c..%5cx", 0, 0, "C:\\save\\host\\x"},
        {"host/a/..%2f..%2f..%2fx.exe", 0, 1, "C:\\save\\archives\\x.exe"},
        {"host/a/b/../c/./d", 0, 0, "C:\\save\\host\\a\\c\\d"},
        {"host/a/..", 0, 0, "C:\\save\\host\\index.html"},
        {"host/a/%2e%2e", 0, 0, "C:\\save\\host\\index.html"},
        {"host/a/.", 0, 0, "C:\\save\\host\\a\\index.html"},
        {"host/..", 0, 0, "C:\\save\\host\\index.html"},
        {"../x", 0, 0, "C:\\save\\--\\x"},
        {"./x", 0, 0, "C:\\save\\-\\x"},
        {"%2e%2e/x", 0, 0, "C:\\save\\--\\x"},
        {"..%2f..%2fwindows/x", 0, 0, "C:\\save\\..-..-windows\\x"},
        {"..%5c..%5c/x", 1, 0, "C:\\save\\1999-07-04\\..-..-\\x"},
        {"/x", 0, 0, "C:\\save\\x"},
        {"host/C:/x", 0, 0, "C:\\save\\host\\C-\\x"},
        {"host/%43%3a%5cwindows%5cwin.ini", 0, 0, "C:\\save\\host\\C-\\windows\\win.ini"},
        {"host/%5c%5cserver%5cshare%5cx", 0, 0, "C:\\save\\host\\server\\share\\x"},
        {"host/a/%5c%5c%3f%5cC:%5cx", 0, 0, "C:\\save\\host\\a\\-\\C-\\x"},
        {"C:%5cwindows/x", 0, 0, "C:\\save\\C--windows\\x"},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LocalPath, NamesWindowsCannotCreateAreMadeSafe)
{
    const Case cases[] = {
        {"host/a*b<c>d|e\"f.html", 0, 0, "C:\\save\\host\\a-b-c-d-e-f.html"},
        {"host/a%2ab%3cc%3ed%7ce%22f.html", 0, 0, "C:\\save\\host\\a-b-c-d-e-f.html"},
        {"host/a%3fb.html", 0, 0, "C:\\save\\host\\a-b.html"},
        {"host/a:b/c:d", 0, 0, "C:\\save\\host\\a-b\\c-d"},
        {"a:b:c/x", 0, 0, "C:\\save\\a-b-c\\x"},
        {"host/a%09b%0d%0a.txt", 0, 0, "C:\\save\\host\\a-b--.txt"},
        {"host/a%00b.html", 0, 0, "C:\\save\\host\\a-b.html"},       // %00 does not cut the path
        {"host/%00/x.html", 0, 0, "C:\\save\\host\\-\\x.html"},
        {"host/x%00", 0, 0, "C:\\save\\host\\x-"},
        {"host/con", 0, 0, "C:\\save\\host\\con_"},
        {"host/CON.txt", 0, 0, "C:\\save\\host\\CON_.txt"},
        {"host/aux/x", 0, 0, "C:\\save\\host\\aux_\\x"},
        {"host/Nul/", 0, 0, "C:\\save\\host\\Nul_\\index.html"},
        {"host/prn.a.b", 0, 0, "C:\\save\\host\\prn_.a.b"},
        {"host/COM1", 0, 0, "C:\\save\\host\\COM1_"},
        {"host/com9.gif", 0, 0, "C:\\save\\host\\com9_.gif"},
        {"host/LPT1.html", 0, 0, "C:\\save\\host\\LPT1_.html"},
        {"host/lpt9", 0, 0, "C:\\save\\host\\lpt9_"},
        {"host/COM1%20.txt", 0, 0, "C:\\save\\host\\COM1_ .txt"},
        {"host/conout$", 0, 0, "C:\\save\\host\\conout$_"},
        {"$PVTEMP/a.html", 0, 0, "C:\\save\\$PVTEMP_\\a.html"},   // never the transfer folder
        {"host/%24pvtemp/", 0, 0, "C:\\save\\host\\$pvtemp_\\index.html"},
        {"host/$pvtemp.gif", 0, 0, "C:\\save\\host\\$pvtemp.gif"},
        {"con/x", 0, 0, "C:\\save\\con_\\x"},
        {"host/com10", 0, 0, "C:\\save\\host\\com10"},
        {"host/com0", 0, 0, "C:\\save\\host\\com0"},
        {"host/console", 0, 0, "C:\\save\\host\\console"},
        {"host/xcon", 0, 0, "C:\\save\\host\\xcon"},
        {"host/a./b.", 0, 0, "C:\\save\\host\\a-\\b-"},
        {"host/a%20/b%20", 0, 0, "C:\\save\\host\\a-\\b-"},
        {"host/a.%20./x", 0, 0, "C:\\save\\host\\a---\\x"},
        {"host/.../x", 0, 0, "C:\\save\\host\\---\\x"},
        {"host/.htaccess", 0, 0, "C:\\save\\host\\.htaccess"},
        {"host/con.", 0, 0, "C:\\save\\host\\con_-"},
        {"host./x", 0, 0, "C:\\save\\host-\\x"},
        // Trail bytes are never taken for '\' or '|': "ソ" and "表" stay whole.
        {"host/" SJIS_SO "./x", 0, 0, "C:\\save\\host\\" SJIS_SO "-\\x"},
        {"host/a" SJIS_HYO "b/c", 0, 0, "C:\\save\\host\\a" SJIS_HYO "b\\c"},
        {"host/\x83\x7C.html", 0, 0, "C:\\save\\host\\\x83\x7C.html"},
        // A lead byte without a valid trail byte is no character: its escape.
        {"host/a%83/b", 0, 0, "C:\\save\\host\\a%83\\b"},
        {"host/a%83%5c", 0, 0, "C:\\save\\host\\a" SJIS_SO},
        {"host/x%83%22", 0, 0, "C:\\save\\host\\x%83-"},
        {"host/x\x83", 0, 0, "C:\\save\\host\\x%83"},
        {"host/%83..%5cx", 0, 0, "C:\\save\\host\\%83--\\x"},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

// The same address maps to the same path every time, so the visited list
// and the update check find the stored file again.
TEST_F(LocalPath, SameAddressSamePath)
{
    const char *addresses[] = {"host/a*b/CON.txt", "host/%2e%2e/x%00y", "h:1/" SJIS_SO "/"};
    for (const char *address : addresses) {
        Mapping first = MapAddress(address), second = MapAddress(address);
        EXPECT_EQ(first.path, second.path) << address;
        EXPECT_EQ(first.folder, second.folder) << address;
    }
}

TEST_F(LocalPath, SettingsAreReadAtEveryMapping)
{
    EXPECT_EQ(MapAddress("server/a.zip").path, "C:\\save\\server\\a.zip");
    s_archiveSetting = 1;
    EXPECT_EQ(MapAddress("server/a.zip").path, "C:\\save\\archives\\a.zip");
    s_dateSetting = 1;
    EXPECT_EQ(MapAddress("server/a.zip").path, "C:\\save\\1999-07-04\\archives\\a.zip");
    EXPECT_GE(s_settingReads, 5);
    g_readSettingNumber = NULL;  // no settings store: both are off
    EXPECT_EQ(MapAddress("server/a.zip").path, "C:\\save\\server\\a.zip");
}

TEST_F(LocalPath, FolderOutput)
{
    struct FolderCase { const char *address, *folder; } cases[] = {
        {"server/dir/sub/page.html?x=1", "C:\\save\\server\\dir\\sub\\"},
        {"server", "C:\\save\\server\\"},
        {"server/a%2fb.html", "C:\\save\\server\\a\\"},
        {"server/a/..", "C:\\save\\server\\"},
        {"/x", "C:\\save\\"},
    };
    for (const FolderCase &c : cases)
        EXPECT_EQ(MapAddress(c.address).folder, c.folder) << "'" << c.address << "'";
}

TEST_F(LocalPath, SaveFolderForms)
{
    struct FolderCase { const char *saveFolder, *address, *path; } cases[] = {
        {"C:\\", "host/a", "C:\\host\\a"},                        // a drive's root keeps one '\'
        {"C:\\" SJIS_SO, "host/a", "C:\\" SJIS_SO "\\host\\a"},   // a trail byte 5C is no '\'
        {"C:\\100%41", "host/a", "C:\\100%41\\host\\a"},          // the save folder is never decoded
        {"C:\\a..b", "host/../x", "C:\\a..b\\host\\x"},
    };
    for (const FolderCase &c : cases) {
        strcpy(g_saveFolder, c.saveFolder);
        Mapping m = MapAddress(c.address);
        EXPECT_EQ(m.result, 1) << c.saveFolder;
        EXPECT_EQ(m.path, c.path) << "save folder '" << c.saveFolder << "', '" << c.address << "'";
    }
}

// A path that does not fit 260 bytes is refused with its own result and
// empty outputs; no byte past either output is written.
TEST_F(LocalPath, PathsThatDoNotFitAreRefused)
{
    // "C:\save\" is 8 bytes and "h\" 2 more: a file name of 249 bytes fills 259.
    std::string fits = "h/" + std::string(249, 'f');
    std::string tooLong = "h/" + std::string(250, 'f');
    std::string deepFits = "h/" + std::string(120, 'a') + "/" + std::string(128, 'b');
    std::string deepTooLong = "h/" + std::string(120, 'a') + "/" + std::string(129, 'b');
    std::string escapedFits = "h/" + [] { std::string s; for (int i = 0; i < 83; ++i) s += "%41"; return s; }();
    std::string deviceTooLong = "h/" + std::string(245, 'd') + "/con";   // '_' no longer fits
    std::string climbBack = "h/" + std::string(200, 'a') + "/../" + std::string(200, 'b').substr(0, 49);
    struct LongCase { std::string address; int result; size_t length; } cases[] = {
        {fits, 1, 259},
        {tooLong, TEXT_TOO_LONG, 0},
        {deepFits, 1, 259},
        {deepTooLong, TEXT_TOO_LONG, 0},
        {escapedFits, 1, 93},
        {deviceTooLong, TEXT_TOO_LONG, 0},
        {climbBack, 1, 59},
        {"h/" + std::string(16000, 'x'), TEXT_TOO_LONG, 0},                  // SplitAddress refused it
        {"h/" + std::string(200, 'x') + "/?" + std::string(250, 'q'), 1, 221},
    };
    for (const LongCase &c : cases) {
        char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE];
        char localPath[TEXT_SIZE + 4], localFolder[TEXT_SIZE + 4];
        memset(localPath, 'Z', sizeof localPath);
        memset(localFolder, 'Z', sizeof localFolder);
        SplitAddress(c.address.c_str(), host, path, file);
        int result = MapToLocalPath(localPath, host, path, file, localFolder);
        std::string label = c.address.substr(0, 24) + "... (" + std::to_string(c.address.size()) + " bytes)";
        EXPECT_EQ(result, c.result) << label;
        EXPECT_EQ(strlen(localPath), c.length) << label;
        if (result != 1) {
            EXPECT_STREQ(localFolder, "") << label;
        }
        EXPECT_EQ(memcmp(localPath + TEXT_SIZE, "ZZZZ", 4), 0) << "local path overrun by " << label;
        EXPECT_EQ(memcmp(localFolder + TEXT_SIZE, "ZZZZ", 4), 0) << "local folder overrun by " << label;
    }
    s_dateSetting = 1;   // the date folder's 11 bytes push the fitting name out
    EXPECT_EQ(MapAddress(fits.c_str()).result, TEXT_TOO_LONG);
    strcpy(g_saveFolder, std::string(259, 's').c_str());
    EXPECT_EQ(MapAddress("h/a").result, TEXT_TOO_LONG);
}

// Separators may come back as either '/' or '\' from the platform decoder.
static std::string WithBackslashes(std::string text)
{
    for (char &c : text)
        if (c == '/')
            c = '\\';
    return text;
}

TEST(DecodeEscapes, Cases)
{
    struct DecodeCase { const char *text, *expected; } cases[] = {
        {"server/%7Euser/", "server/~user/"},
        {"/%7e%7E/", "/~~/"},
        {"a%2fb%5Cc", "a/b\\c"},
        {"%25%32%35", "%25"},
        {"%4", "%4"},
        {"%%41", "%A"},
        {"%g1%1g", "%g1%1g"},
        {"100%", "100%"},
        {"%00", "-"},
        {"a%00b", "a-b"},
        {"%83%5C", SJIS_SO},
        {SJIS_HYO "%41", SJIS_HYO "A"},
        {"%ff%FE%80", "\xff\xfe\x80"},
        {"ab%20c", "ab c"},
        {"%3f%23%3A", "?#:"},
        {"server:81", "server:81"},
        {"a?b#c", "a?b#c"},
        {"", ""},
    };
    for (const DecodeCase &c : cases) {
        char out[TEXT_SIZE] = "old";
        EXPECT_TRUE(DecodeEscapes(out, c.text)) << "'" << c.text << "'";
        EXPECT_EQ(WithBackslashes(out), WithBackslashes(c.expected)) << "'" << c.text << "'";
        char own[TEXT_SIZE];
        EXPECT_TRUE(DecodeEscapeBytes(own, c.text));
        EXPECT_STREQ(own, c.expected) << "'" << c.text << "'";
    }
}

// Every byte that an escape can stand for comes out as that byte, from the
// platform decoder as from the own one.
TEST(DecodeEscapes, EveryByte)
{
    for (int byte = 0; byte < 256; ++byte) {
        char text[16], out[TEXT_SIZE];
        snprintf(text, sizeof text, "x/%%%02Xy", byte);
        ASSERT_TRUE(DecodeEscapes(out, text));
        std::string expected = std::string("x/") + (byte == 0 ? '-' : (char)byte) + "y";
        EXPECT_EQ(WithBackslashes(out), WithBackslashes(expected)) << "escape " << text;
    }
}

TEST(DecodeEscapes, TextTooLongIsRefused)
{
    char out[TEXT_SIZE + 4];
    memset(out, 'Z', sizeof out);
    EXPECT_FALSE(DecodeEscapes(out, std::string(260, 'a').c_str()));
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(DecodeEscapes(out, std::string(259, 'a').c_str()));
    EXPECT_EQ(strlen(out), 259u);
    EXPECT_EQ(memcmp(out + TEXT_SIZE, "ZZZZ", 4), 0);
}

// Folder tests work in a folder of their own under the system's temporary folder.
class Folders : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        base = (std::filesystem::temp_directory_path() / ("pvfolders" + std::to_string(random()))).string();
        std::filesystem::create_directory(base);
    }
    void TearDown() override { std::filesystem::remove_all(base); }
    std::string base;
};

// A file can be created at the path: the folders it needs exist.
static bool CanCreateFile(std::string path)
{
#ifndef _WIN32
    for (char *p = &path[0]; *p != '\0'; p = NextChar(p))
        if (*p == '\\')
            *p = '/';
#endif
    FILE *file = fopen(path.c_str(), "wb");
    if (file == NULL)
        return false;
    fclose(file);
    return true;
}

TEST_F(Folders, CreatesEveryLevel)
{
    std::string folder = base + "/host/dir/" SJIS_SO "/sub/";
    ASSERT_FALSE(CanCreateFile(folder + "a.html"));
    char text[TEXT_SIZE];
    strcpy(text, folder.c_str());
    CreateFolders(text);
    EXPECT_EQ(strchr(text, '/'), nullptr) << "the caller's text is changed to '\\' separators: " << text;
    EXPECT_TRUE(CanCreateFile(folder + "a.html"));
    strcpy(text, folder.c_str());
    CreateFolders(text);   // levels that exist already are passed
    EXPECT_TRUE(CanCreateFile(folder + "b.html"));
}

TEST_F(Folders, LastSegmentWithoutSeparatorIsAFolderToo)
{
    char text[TEXT_SIZE];
    strcpy(text, (base + "/x/y").c_str());
    CreateFolders(text);
    EXPECT_TRUE(CanCreateFile(base + "/x/y/z.txt"));
    char empty[TEXT_SIZE] = "";
    CreateFolders(empty);
    EXPECT_STREQ(empty, "");
}

// The folder of a mapping, created, holds the file of the mapping, also for
// names that were made safe.
TEST_F(Folders, MappedFolderHoldsTheMappedFile)
{
    strcpy(g_saveFolder, base.c_str());
    g_readSettingNumber = NULL;
    const char *addresses[] = {"host:81/a/" SJIS_HYO "/CON.txt", "host/%2e%2e/b*c/x%00y.gif", "host/d./e%20/?q"};
    for (const char *address : addresses) {
        Mapping m = MapAddress(address);
        ASSERT_EQ(m.result, 1) << address;
        char folder[TEXT_SIZE];
        strcpy(folder, m.folder.c_str());
        CreateFolders(folder);
        EXPECT_TRUE(CanCreateFile(m.path)) << address << " -> " << m.path;
    }
}

// Japanese names: the escaped bytes of an address read as UTF-8 when they
// are, else in the linking page's encoding; stored in code page 932, what it
// cannot hold as escapes of UTF-8, a '%' of a name escaped; a Japanese host's
// folder in Japanese.
TEST_F(LocalPath, JapaneseNamesAsWindowsShowsThem)
{
    struct Case { const char *address; int encoding; const char *path; } cases[] = {
        {"host/%E6%97%A5/%E5%86%99.png", NAME_SHIFT_JIS, "C:\\save\\host\\\x93\xFA\\\x8E\xCA.png"},
        {"host/%93%FA/%8E%CA.png", NAME_SHIFT_JIS, "C:\\save\\host\\\x93\xFA\\\x8E\xCA.png"},
        {"host/%C6%FC/%BC%CC.png", NAME_EUC_JP, "C:\\save\\host\\\x93\xFA\\\x8E\xCA.png"},
        {"host/%C6%FC.png", NAME_UTF8, "C:\\save\\host\\%C6%FC.png"}, // no UTF-8, no other reading
        {"host/a%F0%9F%98%80.png", NAME_UTF8, "C:\\save\\host\\a%F0%9F%98%80.png"},
        {"host/%E3%80%9C.html", NAME_UTF8, "C:\\save\\host\\%E3%80%9C.html"}, // U+301C: no best fit
        {"host/%EF%BD%9E.html", NAME_UTF8, "C:\\save\\host\\\x81\x60.html"},   // U+FF5E
        {"xn--wgv71a119e.jp/a.html", NAME_UTF8, "C:\\save\\\x93\xFA\x96\x7B\x8C\xEA.jp\\a.html"},
    };
    for (const Case &c : cases) {
        char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], localPath[TEXT_SIZE], folder[TEXT_SIZE];
        SplitAddress(c.address, host, path, file);
        EXPECT_EQ(MapToLocalPath(localPath, host, path, file, folder, c.encoding), 1) << c.address;
        EXPECT_EQ(std::string(localPath), c.path) << c.address << " in " << c.encoding;
    }
}
