// tests/win/app_startup_test.cpp — the start argument's bound and the installation.
// The setup engine's command line with its overflow rule, and the installation script run
// through the real setup engine and uninstalled again.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings.h"
#include "tests/win/test_files.h"
#include "tests/win/window_fixture.h"

namespace {

const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Parvel";

TEST(StartArgument, IsKeptUpTo259CharactersAndNeverCutsACharacter)
{
    std::string ascii300(300, 'a');
    std::string kanjiAtEnd = std::string(258, 'b') + "\x95\x5C"; // 表 on bytes 259 and 260
    const struct {
        std::string commandLine, kept;
    } cases[] = {
        {"", ""},
        {"\"C:\\a b\\list.txt\"", "\"C:\\a b\\list.txt\""},
        {std::string(259, 'c'), std::string(259, 'c')},
        {ascii300, std::string(259, 'a')},
        {kanjiAtEnd, std::string(258, 'b')},
    };
    for (const auto &c : cases) {
        KeepStartArgument(c.commandLine.c_str());
        EXPECT_EQ(std::string(g_startArgument), c.kept) << "length " << c.commandLine.size();
    }
    KeepStartArgument(NULL);
    EXPECT_STREQ(g_startArgument, "");
}

TEST(InstallCommand, NamesTheEngineOfEachFamilyAndTheScriptBesideTheProgram)
{
    const struct {
        bool family95, setupApi;
        const char *engineFolder, *program, *parameters;
    } cases[] = {
        {false, false, "C:\\WINNT\\system32", "C:\\WINNT\\system32\\rundll32.exe",
         "syssetup.dll,SetupInfObjectInstallAction DefaultInstall 132 C:\\TOOLS\\WEBTOOL\\qexinst.inf"},
        {false, true, "C:\\windows\\system32", "C:\\windows\\system32\\rundll32.exe",
         "setupapi.dll,InstallHinfSection DefaultInstall 132 C:\\TOOLS\\WEBTOOL\\qexinst.inf"},
        {true, false, "C:\\WINDOWS", "C:\\WINDOWS\\rundll.exe",
         "setupx.dll,InstallHinfSection DefaultInstall 132 C:\\TOOLS\\WEBTOOL\\qexinst.inf"},
    };
    for (const auto &c : cases) {
        char program[TEXT_SIZE], parameters[TEXT_SIZE];
        ASSERT_TRUE(BuildInstallCommand(c.family95, c.setupApi, c.engineFolder, "C:\\TOOLS\\WEBTOOL", program, parameters));
        EXPECT_STREQ(program, c.program);
        EXPECT_STREQ(parameters, c.parameters);
    }
}

TEST(InstallCommand, AFolderTooLongToFitLeavesTheInstallationOut)
{
    const char *start = "syssetup.dll,SetupInfObjectInstallAction DefaultInstall 132 ";
    size_t room = 259 - strlen(start) - strlen("\\qexinst.inf");
    const struct {
        size_t folderLength, engineLength;
        bool fits;
    } cases[] = {
        {room, 10, true}, {room + 1, 10, false}, {1000, 10, false},
        {10, 259 - 13, true}, {10, 259 - 12, false},
    };
    for (const auto &c : cases) {
        std::string folder = "C:" + std::string(c.folderLength - 2, 'f');
        std::string engine = "C:" + std::string(c.engineLength - 2, 'e');
        char program[TEXT_SIZE] = "x", parameters[TEXT_SIZE] = "x";
        EXPECT_EQ(BuildInstallCommand(false, false, engine.c_str(), folder.c_str(), program, parameters), c.fits)
            << "folder " << c.folderLength << " engine " << c.engineLength;
        if (c.fits) {
            EXPECT_EQ(strlen(parameters), strlen(start) + c.folderLength + 12);
        } else {
            EXPECT_STREQ(program, "");
            EXPECT_STREQ(parameters, "");
        }
    }
}

// Runs a command line and waits for it (at most 60 s); true when it ended.
bool RunAndWait(std::string commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

std::string UninstallValue(const char *name)
{
    char value[1024] = "";
    DWORD size = sizeof value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    if (RegQueryValueExA(key, name, NULL, NULL, (BYTE *)value, &size) != ERROR_SUCCESS)
        value[0] = '\0';
    RegCloseKey(key);
    return value;
}

bool SettingsKeyExists(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(InstallScript, TheSetupEngineRegistersTheProgramAndItsUninstallRemovesTheEntry)
{
    std::string folder = MakeTempFolder("pvs");
    HANDLE script = CreateFileA(BesideProgram("qexinst.inf").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(script, INVALID_HANDLE_VALUE) << "qexinst.inf missing beside the test program";
    CloseHandle(script);
    ASSERT_TRUE(CopyFileA(BesideProgram("qexinst.inf").c_str(), (folder + "\\qexinst.inf").c_str(), FALSE));
    RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);
    WriteSettingText(REG_FOLDER, "C:\\save");

    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    char program[TEXT_SIZE], parameters[TEXT_SIZE];
    ASSERT_TRUE(BuildInstallCommand(false, true, system, folder.c_str(), program, parameters));
    ASSERT_TRUE(RunAndWait(std::string("\"") + program + "\" " + parameters));

    EXPECT_EQ(UninstallValue("DisplayName"), "Parvel 1st MIX");
    std::string uninstall = UninstallValue("UninstallString");
    EXPECT_NE(uninstall.find("DefaultUninstall"), std::string::npos) << uninstall;
    EXPECT_NE(uninstall.find("qexinst.inf"), std::string::npos) << uninstall;
    EXPECT_NE(UninstallValue("DisplayIcon").find("parvel.exe"), std::string::npos);

    // The uninstall command as the system's program list would run it.
    ASSERT_TRUE(RunAndWait(uninstall));
    EXPECT_EQ(UninstallValue("DisplayName"), "(no key)");
    EXPECT_FALSE(SettingsKeyExists()) << "the settings go with the program";
}

} // namespace
