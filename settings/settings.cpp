// settings/settings.cpp — the settings store: every option is a value under HKEY_CURRENT_USER\software\dwk\qex, read anew at each use and flushed at each write.
#include "settings/settings.h"

#include "address/address.h"
#include "app/app.h"

static HKEY OpenSettingsKey(void)
{
    HKEY key = NULL;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return NULL;
    return key;
}

// True when the bytes read hold a terminated text that fits the read capacity.
static bool IsTerminatedText(const char *buffer, DWORD size)
{
    for (DWORD i = 0; i < size; ++i)
        if (buffer[i] == '\0')
            return true;
    return false;
}

void ReadSettingText(const char *name, char *buffer, const char *defaultText)
{
    HKEY key = OpenSettingsKey();
    DWORD size = SETTING_TEXT_CAPACITY;
    bool found = key != NULL &&
                 RegQueryValueExA(key, name, NULL, NULL, (BYTE *)buffer, &size) == ERROR_SUCCESS;
    // A value stored without its terminating zero is terminated here when it
    // fits; one that fills the whole capacity without it counts as too long.
    if (found && !IsTerminatedText(buffer, size)) {
        if (size < SETTING_TEXT_CAPACITY)
            buffer[size] = '\0';
        else
            found = false;
    }
    if (!found)
        lstrcpynA(buffer, defaultText, TEXT_SIZE);
    if (key != NULL)
        RegCloseKey(key);
}

void WriteSettingText(const char *name, const char *text)
{
    HKEY key = OpenSettingsKey();
    if (key == NULL)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1);
    RegFlushKey(key);
    RegCloseKey(key);
}

DWORD ReadSettingNumber(const char *name, DWORD defaultValue)
{
    HKEY key = OpenSettingsKey();
    DWORD value = 0, size = sizeof value;
    if (key == NULL || RegQueryValueExA(key, name, NULL, NULL, (BYTE *)&value, &size) != ERROR_SUCCESS)
        value = defaultValue;
    if (key != NULL)
        RegCloseKey(key);
    return value;
}

void WriteSettingNumber(const char *name, DWORD value)
{
    HKEY key = OpenSettingsKey();
    if (key == NULL)
        return;
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
    RegFlushKey(key);
    RegCloseKey(key);
}

void GetSaveFolder(char *buffer) { ReadSettingText(REG_FOLDER, buffer, "A:"); }

void GetShortcutFolder(char *buffer) { ReadSettingText(REG_SHORTCUT, buffer, "A:"); }

// A flag setting is one character: its code minus that of '0'.
static int ReadFlagSetting(const char *name)
{
    char text[TEXT_SIZE];
    ReadSettingText(name, text, "0");
    return (unsigned char)text[0] - '0';
}

int GetOutServer(void) { return ReadFlagSetting(REG_OUTSERVER); }

int GetResume(void) { return ReadFlagSetting(REG_RESUME); }

int GetCacheMode(void) { return ReadFlagSetting(REG_CACHE); }

int GetUseFtp(void) { return ReadFlagSetting(REG_FTP); }

int GetIgnoreCertErrors(void) { return ReadFlagSetting(REG_CERT); }

int GetRetryCount(HWND mainWindow)
{
    if (IsDlgButtonChecked(mainWindow, IDC_RETRY) != BST_CHECKED)
        return 1;
    return (int)ReadSettingNumber(REG_RETRY, 5);
}

DWORD GetTimeout(void) { return ReadSettingNumber(REG_TIMEOUT, 180000); }

void AddDownloadedBytes(DWORD byteCount)
{
    WriteSettingNumber(REG_DLSIZE, ReadSettingNumber(REG_DLSIZE, 0) + byteCount);
}

struct HiddenCommand {
    const char *word;
    const char *announcement;
    const char *valueName;
};

static const HiddenCommand hiddenCommands[] = {
    {"*set0", "* 動作変更 : 日付分類機能(0:OFF 1:ON)", REG_CBD},
    {"*set1", "* 動作変更 : EXE,ZIP,LZH,CAB分類機能(0:OFF 1:ON)", REG_CBE},
    {"*set2", "* 動作変更 : リトライ回数(0:5回 1:10回 2:15回 … 9:50回)", REG_RETRY},
    {"*set3", "* 動作変更 : タイムアウト時間(0:3秒 1:約1分 2:約1分30秒 … 9:5約5分)", REG_TIMEOUT},
};

#define HIDDEN_WORD_LENGTH 5

DWORD HiddenCommandValue(int command, int digit)
{
    switch (command) {
    case 2:
        return 5 * (DWORD)(digit + 1);
    case 3:
        // 0 is 3 seconds; from 1 on, about one minute plus half a minute per
        // further digit, as the announcement promises (9 is about 5 minutes).
        return digit == 0 ? 3000 : 33000 + 30000 * (DWORD)digit;
    default:
        return (DWORD)digit;
    }
}

bool RunHiddenCommand(HWND window, const char *text)
{
    for (int command = 0; command < 4; ++command) {
        const HiddenCommand &hidden = hiddenCommands[command];
        if (!StartsWithNoCase(text, hidden.word))
            continue;
        char digit = text[HIDDEN_WORD_LENGTH];
        if (digit < '0' || digit > '9') {
            char refusal[TEXT_SIZE];
            wsprintfA(refusal, "* %s の後には 0 から 9 の数字を1つ付けてください (例: %s1)",
                      hidden.word, hidden.word);
            AppendLog(window, refusal);
            return true;
        }
        AppendLog(window, hidden.announcement);
        WriteSettingNumber(hidden.valueName, HiddenCommandValue(command, digit - '0'));
        return true;
    }
    return false;
}
