// tests/win/settings_test.cpp — the settings store in the registry.
// Defaults, conversions, read limits, the download total and the hidden commands.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <functional>
#include <string>

#include "settings/settings.h"
#include "tests/win/window_fixture.h"

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearSettings(); }
    void TearDown() override { ClearSettings(); }
};

static bool SettingsKeyExists(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

static void StoreRaw(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
    RegCloseKey(key);
}

// The user's Documents folder and the folder below it where files go
// when no folder is set.
static std::string DocumentsFolder(const char *below)
{
    char documents[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_PERSONAL, NULL, SHGFP_TYPE_CURRENT, documents);
    return std::string(documents) + below;
}

static const std::string kDefaultSave = DocumentsFolder("\\Parvel");

TEST_F(SettingsTest, EveryValueReadsItsDefaultWithNoKey)
{
    ASSERT_FALSE(SettingsKeyExists());
    char text[260];
    GetSaveFolder(text);
    EXPECT_EQ(text, kDefaultSave);
    EXPECT_TRUE(SettingsKeyExists()) << "the first read creates the key";
    GetShortcutFolder(text);
    EXPECT_EQ(text, DocumentsFolder("\\Parvel\\ショートカット"));
    WriteSettingText("folder", "");
    GetSaveFolder(text);
    EXPECT_EQ(text, kDefaultSave) << "an empty folder setting names no folder";
    EXPECT_EQ(GetOutServer(), 0);
    EXPECT_EQ(GetResume(), 0);
    EXPECT_EQ(GetCacheMode(), 0);
    EXPECT_EQ(GetUseFtp(), 0);
    EXPECT_EQ(GetTimeout(), 180000u);
    struct { const char *name; DWORD expected; } numbers[] = {
        {"start", 0}, {"rewre", 0}, {"DLSIZE", 0}, {"retry", 5}, {"timeout", 180000}, {"cbd", 0}, {"cbe", 0}};
    EXPECT_EQ(ReadSettingNumber("start", 0), 0u);
    EXPECT_EQ(ReadSettingNumber("retry", 5), 5u);
    for (auto &n : numbers)
        EXPECT_EQ(ReadSettingNumber(n.name, n.expected), n.expected) << n.name;
    ReadSettingText("IGNORE", text, "");
    EXPECT_STREQ(text, "");
    ReadSettingText("PURL", text, "");
    EXPECT_STREQ(text, "");
}

TEST_F(SettingsTest, WrittenValuesReadBackWithTheirConversions)
{
    WriteSettingText("out_server", "1");
    WriteSettingText("resume", "1");
    WriteSettingText("cache", "2");
    WriteSettingText("ftp", "0");
    WriteSettingText("folder", "C:\\保存");
    WriteSettingText("shortcut", "D:");
    WriteSettingText("IGNORE", "*.GIF *.JPG");
    WriteSettingText("PURL", "http://host/dir/");
    WriteSettingNumber("timeout", 3000);
    WriteSettingNumber("start", 2);
    EXPECT_EQ(GetOutServer(), 1);
    EXPECT_EQ(GetResume(), 1);
    EXPECT_EQ(GetCacheMode(), 2);
    EXPECT_EQ(GetUseFtp(), 0);
    EXPECT_EQ(GetTimeout(), 3000u);
    EXPECT_EQ(ReadSettingNumber("start", 0), 2u);
    char text[260];
    GetSaveFolder(text);
    EXPECT_STREQ(text, "C:\\保存");
    GetShortcutFolder(text);
    EXPECT_STREQ(text, "D:");
    ReadSettingText("IGNORE", text, "");
    EXPECT_STREQ(text, "*.GIF *.JPG");
    // A flag is its first character's digit, whatever follows; no digit is 0.
    WriteSettingText("ftp", "10");
    EXPECT_EQ(GetUseFtp(), 1);
    WriteSettingText("ftp", "");
    EXPECT_EQ(GetUseFtp(), 0);
}

static void StoreNumber(const char *name, DWORD value) { StoreRaw(name, REG_DWORD, &value, sizeof value); }

static void StoreText(const char *name, const char *text) { StoreRaw(name, REG_SZ, text, lstrlenA(text) + 1); }

TEST_F(SettingsTest, ValuesOfTheOtherTypeOrOutOfRangeReadAsMeant)
{
    HWND window = CreateTestWindow();
    ASSERT_NE(window, (HWND)NULL);
    CheckDlgButton(window, IDC_RETRY, BST_CHECKED);
    struct Case { const char *what; std::function<void()> store; std::function<DWORD()> read; DWORD expected; };
    auto number = [](const char *name, DWORD d) { return [=] { return ReadSettingNumber(name, d); }; };
    auto retry = [&] { return (DWORD)GetRetryCount(window); };
    Case cases[] = {
        {"rewre \"1\" as text", [] { StoreText("rewre", "1"); }, number("rewre", 0), 1},
        {"cbd \" 1\" as text", [] { StoreText("cbd", " 1"); }, number("cbd", 0), 1},
        {"retry \"20\" as text", [] { StoreText("retry", "20"); }, retry, 20},
        {"retry \"x\" as text", [] { StoreText("retry", "x"); }, retry, 5},
        {"retry 0", [] { StoreNumber("retry", 0); }, retry, 1},
        {"retry 0xFFFFFFFF", [] { StoreNumber("retry", 0xFFFFFFFF); }, retry, MAX_RETRY_COUNT},
        {"timeout 0", [] { StoreNumber("timeout", 0); }, GetTimeout, 1000},
        {"timeout 999", [] { StoreNumber("timeout", 999); }, GetTimeout, 1000},
        {"timeout 1001", [] { StoreNumber("timeout", 1001); }, GetTimeout, 1001},
        {"timeout 0xFFFFFFFF", [] { StoreNumber("timeout", 0xFFFFFFFF); }, GetTimeout, MAX_TIMEOUT},
        {"timeout \"99999999999\"", [] { StoreText("timeout", "99999999999"); }, GetTimeout, MAX_TIMEOUT},
        {"DLSIZE of 2 bytes", [] { StoreRaw("DLSIZE", REG_BINARY, "\x05\x01", 2); }, number("DLSIZE", 0), 0},
        {"resume 1 as number", [] { StoreNumber("resume", 1); }, [] { return (DWORD)GetResume(); }, 1},
        {"cache 0 as number", [] { StoreNumber("cache", 0); }, [] { return (DWORD)GetCacheMode(); }, 0},
        {"ftp \"x\"", [] { StoreText("ftp", "x"); }, [] { return (DWORD)GetUseFtp(); }, 0},
        {"wait missing", [] {}, GetSupervisionWait, DEFAULT_WAIT},
        {"wait 0", [] { StoreNumber("wait", 0); }, GetSupervisionWait, 0},
        {"wait 0xFFFFFFFF", [] { StoreNumber("wait", 0xFFFFFFFF); }, GetSupervisionWait, MAX_WAIT},
    };
    for (auto &c : cases) {
        ClearSettings();
        c.store();
        EXPECT_EQ(c.read(), c.expected) << c.what;
    }
    DestroyWindow(window);
}

static DWORD ReadRaw(const char *name)
{
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, SETTINGS_KEY, name, RRF_RT_REG_DWORD, NULL, &value, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

// The key the program keeps open is deleted, or deleted and made anew by
// another writer, between two reads: the next read and write reach the key
// that stands, not the one deleted.
TEST_F(SettingsTest, KeyDeletedOrMadeAnewMeanwhileIsTheOneUsed)
{
    const DWORD nine = 9;
    const struct {
        const char *change;
        std::function<void()> act;
        DWORD read;
    } cases[] = {
        {"deleted", [] { ClearSettings(); }, 7},
        {"made anew", [&] { ClearSettings(); StoreRaw("wait", REG_DWORD, &nine, sizeof nine); }, 9},
    };
    for (const auto &c : cases) {
        WriteSettingNumber("wait", 3);
        ASSERT_EQ(ReadSettingNumber("wait", 7), 3u) << c.change;
        c.act();
        EXPECT_EQ(ReadSettingNumber("wait", 7), c.read) << c.change;
        ClearSettings();
        WriteSettingNumber("wait", 4);
        EXPECT_EQ(ReadRaw("wait"), 4u) << c.change << ": a write after the key was deleted";
    }
}

TEST_F(SettingsTest, TextsReadWithACapacityOf80Bytes)
{
    char text[260];
    std::string fits(79, 'x'), tooLong(80, 'x');
    WriteSettingText("folder", fits.c_str());
    GetSaveFolder(text);
    EXPECT_EQ(std::string(text), fits);
    WriteSettingText("folder", tooLong.c_str());
    GetSaveFolder(text);
    EXPECT_EQ(text, kDefaultSave);
}

TEST_F(SettingsTest, TextStoredWithoutTerminatorIsTerminatedOrRefused)
{
    char text[260];
    memset(text, 'Z', sizeof text);
    StoreRaw("folder", REG_BINARY, "C:\\x", 4);
    GetSaveFolder(text);
    EXPECT_STREQ(text, "C:\\x");
    std::string full(80, 'y');
    StoreRaw("folder", REG_BINARY, full.data(), 80);
    GetSaveFolder(text);
    EXPECT_EQ(text, kDefaultSave);
}

TEST_F(SettingsTest, RetryCountFollowsTheRetryBox)
{
    HWND window = CreateTestWindow();
    ASSERT_NE(window, (HWND)NULL);
    WriteSettingNumber("retry", 20);
    CheckDlgButton(window, IDC_RETRY, BST_UNCHECKED);
    EXPECT_EQ(GetRetryCount(window), 1);
    CheckDlgButton(window, IDC_RETRY, BST_CHECKED);
    EXPECT_EQ(GetRetryCount(window), 20);
    ClearSettings();
    EXPECT_EQ(GetRetryCount(window), 5);
    DestroyWindow(window);
}

// "DLSIZE" keeps the low 32 bits as it always held the total; "DLSIZEH" the carry.
TEST_F(SettingsTest, DownloadTotalCarriesPast32Bits)
{
    struct Case { DWORD low, high; bool hasHigh; unsigned long long added; DWORD newLow, newHigh; } cases[] = {
        {0, 0, false, 2000, 2000, 0},
        {0xFFFFFFF0u, 0, false, 0x0F, 0xFFFFFFFFu, 0},
        {0xFFFFFFF0u, 0, false, 0x20, 0x10, 1},
        {0x10, 1, true, 5368709120ULL, 0x40000010u, 2},
        {0xFFFFFFFFu, 0xFFFFFFFFu, true, 1, 0, 0}, // wraps at 2^64
    };
    for (const Case &c : cases) {
        ClearSettings();
        WriteSettingNumber("DLSIZE", c.low);
        if (c.hasHigh)
            WriteSettingNumber("DLSIZEH", c.high);
        AddDownloadedBytes(c.added);
        EXPECT_EQ(ReadSettingNumber("DLSIZE", 0), c.newLow) << c.low << " + " << c.added;
        EXPECT_EQ(ReadSettingNumber("DLSIZEH", 0), c.newHigh) << c.low << " + " << c.added;
        EXPECT_EQ(GetDownloadTotal(), (unsigned long long)c.newHigh << 32 | c.newLow) << c.low << " + " << c.added;
    }
}

TEST(HiddenCommandValue, DigitsGiveTheAnnouncedValues)
{
    struct Case { int command, digit; DWORD expected; } cases[] = {
        {0, 0, 0}, {0, 1, 1}, {0, 2, 2}, {1, 1, 1}, {1, 9, 9},
        {2, 0, 5}, {2, 1, 10}, {2, 3, 20}, {2, 9, 50},
        {3, 0, 3000}, {3, 1, 63000}, {3, 2, 93000}, {3, 3, 123000}, {3, 9, 303000},
        {4, 0, 0}, {4, 2, 100}, {4, 9, 450},
    };
    for (auto &c : cases)
        EXPECT_EQ(HiddenCommandValue(c.command, c.digit), c.expected)
            << "*set" << c.command << c.digit;
}

class HiddenCommandTest : public SettingsTest {
protected:
    HWND window = NULL;
    void SetUp() override
    {
        SettingsTest::SetUp();
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
        AppendLog(window, "earlier line");
    }
    void TearDown() override
    {
        DestroyWindow(window);
        SettingsTest::TearDown();
    }
};

TEST_F(HiddenCommandTest, EachCommandWritesItsValueAndOneLine)
{
    struct Case { const char *text, *name; DWORD expected; const char *line; } cases[] = {
        {"*set01", "cbd", 1, "* 動作変更 : 日付分類機能(0:OFF 1:ON)"},
        {"*set02", "cbd", 2, "* 動作変更 : 日付分類機能(0:OFF 1:ON)"},
        {"*set11", "cbe", 1, "* 動作変更 : EXE,ZIP,LZH,CAB分類機能(0:OFF 1:ON)"},
        {"*set23", "retry", 20, "* 動作変更 : リトライ回数(0:5回 1:10回 2:15回 … 9:50回)"},
        {"*SET21", "retry", 10, "* 動作変更 : リトライ回数(0:5回 1:10回 2:15回 … 9:50回)"},
        {"*set30", "timeout", 3000, "* 動作変更 : タイムアウト時間(0:3秒 1:約1分 2:約1分30秒 … 9:5約5分)"},
        {"*Set39 trailing", "timeout", 303000, "* 動作変更 : タイムアウト時間(0:3秒 1:約1分 2:約1分30秒 … 9:5約5分)"},
        {"*set40", "wait", 0, "* 動作変更 : 取得の間隔(0:0ミリ秒 1:50ミリ秒 2:100ミリ秒 … 9:450ミリ秒)"},
    };
    for (auto &c : cases) {
        size_t before = LogLines(window).size();
        EXPECT_TRUE(RunHiddenCommand(window, c.text)) << c.text;
        EXPECT_EQ(ReadSettingNumber(c.name, 12345), c.expected) << c.text;
        auto lines = LogLines(window);
        ASSERT_EQ(lines.size(), before + 1) << c.text;
        EXPECT_EQ(lines.front(), "earlier line") << "the log is not cleared";
        EXPECT_EQ(lines.back(), c.line) << c.text;
    }
}

TEST_F(HiddenCommandTest, CommandWithoutDigitIsRefusedWithOneLine)
{
    const char *texts[] = {"*set0", "*set1x", "*set2 ", "*set3-1"};
    for (const char *text : texts) {
        size_t before = LogLines(window).size();
        EXPECT_TRUE(RunHiddenCommand(window, text)) << text;
        auto lines = LogLines(window);
        ASSERT_EQ(lines.size(), before + 1) << text;
        EXPECT_NE(lines.back().find("0 から 9"), std::string::npos) << lines.back();
    }
    const char *names[] = {"cbd", "cbe", "retry", "timeout"};
    for (const char *name : names)
        EXPECT_EQ(ReadSettingNumber(name, 777), 777u) << name << " was written";
}

TEST_F(HiddenCommandTest, OtherTextsAreNoCommands)
{
    const char *texts[] = {"", "http://host/", "*set", "*set5", "*D", " *set01"};
    for (const char *text : texts)
        EXPECT_FALSE(RunHiddenCommand(window, text)) << text;
    EXPECT_EQ(LogLines(window).size(), 1u);
}
