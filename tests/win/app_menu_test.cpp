// tests/win/app_menu_test.cpp — the options menu: items, order, check marks, actions.
// The flag toggles and presets carried out as the menu would, and the trailing '\' rule of
// the folder choice.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings.h"
#include "tests/win/window_fixture.h"

namespace {

std::string Setting(const char *name)
{
    char text[TEXT_SIZE];
    ReadSettingText(name, text, "(none)");
    return text;
}

struct MenuItem {
    int id;
    std::string text;
    bool checked, separator;
};

std::vector<MenuItem> ItemsOf(HMENU menu)
{
    std::vector<MenuItem> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[STRING_SIZE] = "";
        GetMenuStringA(menu, (UINT)i, text, sizeof text, MF_BYPOSITION);
        UINT state = GetMenuState(menu, (UINT)i, MF_BYPOSITION);
        items.push_back({(int)GetMenuItemID(menu, i), text, (state & MF_CHECKED) != 0, (state & MF_SEPARATOR) != 0});
    }
    return items;
}

std::string Loaded(int id)
{
    char text[STRING_SIZE];
    LoadText(id, text);
    return text;
}

class OptionsMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSettings();
        window = CreateTestWindow();
        ASSERT_NE(window, (HWND)NULL);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        ClearSettings();
    }
    // Builds the menu as ShowOptionsMenu does and carries out the command.
    void Choose(int command)
    {
        MenuFlags flags;
        HMENU menu = BuildOptionsMenu(&flags);
        RunOptionsCommand(window, command, &flags);
        DestroyMenu(menu);
    }
    bool CheckedItem(int command)
    {
        MenuFlags flags;
        HMENU menu = BuildOptionsMenu(&flags);
        bool checked = (GetMenuState(menu, (UINT)command, MF_BYCOMMAND) & MF_CHECKED) != 0;
        DestroyMenu(menu);
        return checked;
    }
    HWND window = NULL;
};

TEST_F(OptionsMenu, ItemsComeInOrderWithTheirTextsAndOnlyTheModernScanCheckedWhenNothingIsStored)
{
    const struct {
        int id, stringId;
    } expected[] = {{3, 27}, {0, 0}, {5, 28}, {6, 29}, {7, 30}, {8, 31}, {0, 0},
                    {4, 32}, {2, 33}, {10, 34}, {11, 41}, {12, 42}, {1, 35}, {9, 36}};
    MenuFlags flags;
    HMENU menu = BuildOptionsMenu(&flags);
    std::vector<MenuItem> items = ItemsOf(menu);
    DestroyMenu(menu);
    ASSERT_EQ(items.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < items.size(); ++i) {
        if (expected[i].id == 0) {
            EXPECT_TRUE(items[i].separator) << "item " << i;
            continue;
        }
        EXPECT_EQ(items[i].id, expected[i].id) << "item " << i;
        EXPECT_EQ(items[i].text, Loaded(expected[i].stringId)) << "item " << i;
        EXPECT_EQ(items[i].checked, expected[i].id == MENU_MODERN) << "item " << i;
    }
    EXPECT_EQ(flags.resume + flags.cache + flags.outServer + flags.useFtp + flags.ignoreCert, 0);
    EXPECT_EQ(flags.modern, 1);
}

TEST_F(OptionsMenu, EachFlagIsCheckedOnlyWhenItsValueIsExactlyOne)
{
    const struct {
        const char *name;
        int command;
    } flags[] = {{REG_RESUME, MENU_RESUME}, {REG_CACHE, MENU_CACHE}, {REG_OUTSERVER, MENU_OUTSERVER}, {REG_FTP, MENU_FTP},
                 {REG_CERT, MENU_CERT}, {REG_MODERN, MENU_MODERN}};
    for (const auto &flag : flags) {
        for (const char *value : {"0", "1", "2", "11", "x"}) {
            ClearSettings();
            WriteSettingText(flag.name, value);
            bool expected = value[0] == '1';
            EXPECT_EQ(CheckedItem(flag.command), expected) << flag.name << "=" << value;
            for (const auto &other : flags)
                if (other.command != flag.command)
                    EXPECT_EQ(CheckedItem(other.command), other.command == MENU_MODERN)
                        << other.name << " while " << flag.name << "=" << value; // the modern scan is on by default
        }
    }
}

TEST_F(OptionsMenu, FlagTogglesStoreOneThenZeroAndTheCheckMarkFollows)
{
    const struct {
        const char *name;
        int command;
    } flags[] = {{REG_RESUME, MENU_RESUME}, {REG_CACHE, MENU_CACHE}, {REG_OUTSERVER, MENU_OUTSERVER}, {REG_FTP, MENU_FTP},
                 {REG_CERT, MENU_CERT}};
    for (const auto &flag : flags) {
        ClearSettings();
        Choose(flag.command);
        EXPECT_EQ(Setting(flag.name), "1") << flag.name;
        EXPECT_TRUE(CheckedItem(flag.command)) << flag.name;
        Choose(flag.command);
        EXPECT_EQ(Setting(flag.name), "0") << flag.name;
        EXPECT_FALSE(CheckedItem(flag.command)) << flag.name;
        for (const auto &other : flags)
            if (other.command != flag.command)
                EXPECT_EQ(Setting(other.name), "(none)") << other.name << " untouched by " << flag.name;
    }
    // The modern scan is on until switched off: its first toggle stores 0.
    ClearSettings();
    Choose(MENU_MODERN);
    EXPECT_EQ(Setting(REG_MODERN), "0");
    EXPECT_FALSE(CheckedItem(MENU_MODERN));
    Choose(MENU_MODERN);
    EXPECT_EQ(Setting(REG_MODERN), "1");
}

TEST_F(OptionsMenu, CacheModeTwoShowsUncheckedAndChoosingItStoresOne)
{
    WriteSettingText(REG_CACHE, "2");
    EXPECT_FALSE(CheckedItem(MENU_CACHE));
    Choose(MENU_CACHE);
    EXPECT_EQ(Setting(REG_CACHE), "1");
}

TEST_F(OptionsMenu, PresetsReplaceTheIgnoreBoxAndStoreNothing)
{
    const struct {
        int command;
        const char *text;
    } presets[] = {{5, "*.EXE *.ZIP *.LZH"},
                   {6, "INDEX.*"},
                   {7, "*.GIF *.JPG *.JPEG"},
                   {8, "*.GIF *.JPG *.JPEG *.EXE *.ZIP *.LZH *.CGI *.PL"}};
    for (const auto &preset : presets) {
        SetDlgItemTextA(window, IDC_IGNORE, "*.OLD *.TXT");
        Choose(preset.command);
        EXPECT_EQ(ControlText(window, IDC_IGNORE), preset.text) << "command " << preset.command;
    }
    EXPECT_EQ(Setting(REG_IGNORE), "(none)") << "stored only at the next Search";
}

TEST_F(OptionsMenu, DismissalAndUnknownCommandsChangeNothing)
{
    SetDlgItemTextA(window, IDC_IGNORE, "*.OLD");
    for (int command : {0, 11, 99, -1}) {
        Choose(command);
        EXPECT_EQ(ControlText(window, IDC_IGNORE), "*.OLD") << command;
        for (const char *name : {REG_RESUME, REG_CACHE, REG_OUTSERVER, REG_FTP, REG_FOLDER, REG_SHORTCUT})
            EXPECT_EQ(Setting(name), "(none)") << name << " after command " << command;
    }
    EXPECT_TRUE(LogLines(window).empty());
}

TEST(FolderChoice, OneTrailingBackslashIsRemovedByCharacters)
{
    const struct {
        const char *path, *expected;
    } cases[] = {
        {"C:\\", "C:"},
        {"D:\\", "D:"},
        {"C:\\save\\", "C:\\save"},
        {"C:\\save", "C:\\save"},
        {"C:\\save\\\\", "C:\\save\\"},
        {"\\", ""},
        {"", ""},
        {"C:\\\x83\x5C", "C:\\\x83\x5C"},          // ソ ends in the byte of '\'
        {"C:\\\x83\x5C\\", "C:\\\x83\x5C"},
        {"C:\\\x95\x5C\x83\x5C", "C:\\\x95\x5C\x83\x5C"}, // 表ソ
    };
    for (const auto &c : cases) {
        char path[TEXT_SIZE];
        lstrcpynA(path, c.path, sizeof path);
        RemoveTrailingBackslash(path);
        EXPECT_STREQ(path, c.expected) << "path [" << c.path << "]";
    }
}

TEST(FolderChoice, MenuCheckFlagIsCheckedOnlyForOne)
{
    EXPECT_EQ(MenuCheckFlag(1), (UINT)MF_CHECKED);
    for (int value : {0, 2, -1, 49})
        EXPECT_EQ(MenuCheckFlag(value), 0u) << value;
}

} // namespace
