// app/startup.cpp — the start of the program: argument, first-run message, installation.
// The installation runs through the system's setup engine.
#include "app/app.h"

#include "settings/settings.h"

char g_startArgument[TEXT_SIZE];

// The installation script that ships beside the program.
static const char INSTALL_SCRIPT[] = "\\qexinst.inf";

static const char FIRST_RUN_TITLE[] = "Parvel インストール";
static const char FIRST_RUN_TEXT[] =
    "QEXを、このフォルダにインストールします。\n"
    "[OK]を押すとwindowsに登録して、いつでもアンインストールできる状態にします。\n"
    "バージョンアップする時は、このフォルダに解凍して上書きしてください。\n\n"
    "★ 今後、この表示はありません。\n";

void KeepStartArgument(const char *commandLine)
{
    CopyText(g_startArgument, TEXT_SIZE, commandLine != NULL ? commandLine : "");
}

bool BuildInstallCommand(bool family95, bool useSetupApi, const char *engineFolder,
                         const char *programFolder, char *program, char *parameters)
{
    const char *starter = family95 ? "\\rundll.exe" : "\\rundll32.exe";
    const char *entry = family95      ? "setupx.dll,InstallHinfSection DefaultInstall 132 "
                        : useSetupApi ? "setupapi.dll,InstallHinfSection DefaultInstall 132 "
                                      : "syssetup.dll,SetupInfObjectInstallAction DefaultInstall 132 ";
    if (FormatText(program, TEXT_SIZE, "%s%s", engineFolder, starter) &&
        FormatText(parameters, TEXT_SIZE, "%s%s%s", entry, programFolder, INSTALL_SCRIPT))
        return true;
    program[0] = parameters[0] = '\0';
    return false;
}

// The program's own folder, in its short form, without a trailing '\';
// false when it does not fit TEXT_SIZE bytes.
static bool ShortProgramFolder(char *folder)
{
    DWORD length = GetModuleFileNameA(NULL, folder, TEXT_SIZE);
    if (length == 0 || length >= TEXT_SIZE)
        return false;
    char *lastSeparator = NULL;
    for (char *p = folder; *p != '\0'; p = NextChar(p))
        if (*p == '\\')
            lastSeparator = p;
    if (lastSeparator == NULL)
        return false;
    *lastSeparator = '\0';
    char shortForm[TEXT_SIZE];
    length = GetShortPathNameA(folder, shortForm, TEXT_SIZE);
    if (length != 0 && length < TEXT_SIZE)
        CopyText(folder, TEXT_SIZE, shortForm);
    return true;
}

// True when the system folder holds the NT setup engine's library.
static bool HasNtSetupEngine(const char *systemFolder)
{
    char path[TEXT_SIZE];
    return FormatText(path, sizeof path, "%s\\syssetup.dll", systemFolder) &&
           GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

void FirstRunInstall(void)
{
    bool family95 = (GetVersion() & 0x80000000u) != 0;
    // rundll.exe lives in the Windows folder, rundll32.exe in the system folder.
    char engineFolder[TEXT_SIZE];
    UINT length = family95 ? GetWindowsDirectoryA(engineFolder, TEXT_SIZE) : GetSystemDirectoryA(engineFolder, TEXT_SIZE);
    char programFolder[TEXT_SIZE];
    if (length == 0 || length >= TEXT_SIZE || !ShortProgramFolder(programFolder))
        return;
    char program[TEXT_SIZE], parameters[TEXT_SIZE];
    if (!BuildInstallCommand(family95, !family95 && !HasNtSetupEngine(engineFolder), engineFolder, programFolder,
                             program, parameters))
        return;
    ShellExecuteA(NULL, "open", program, parameters, programFolder, SW_SHOWNORMAL);
}

void RunFirstStartSteps(void)
{
    if (ReadSettingNumber(REG_START, 0) == 2)
        return;
    MessageBoxA(NULL, FIRST_RUN_TEXT, FIRST_RUN_TITLE, MB_OK | MB_ICONINFORMATION);
    WriteSettingNumber(REG_START, 2);
    FirstRunInstall();
}
