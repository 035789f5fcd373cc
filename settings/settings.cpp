// settings/settings.cpp — the settings store: every option is a registry value.
// Values under HKEY_CURRENT_USER\software\dwk\qex, read anew at each use and written at
// each write (flushed to disk at most once a second).
#include "settings/settings.h"

#include "address/address.h"
#include "app/surface.h"

#include <shlobj.h>
#include <string.h>

// A written value is in the registry at once; flushing the key to disk costs
// disk time for the whole system, so it is done at most once a second (a
// write within that time leaves the flush to FlushSettings or a later write).
#define FLUSH_INTERVAL_MS 1000
static DWORD s_lastFlush;
static volatile LONG s_flushPending;

static void FlushSoon(HKEY key)
{
    DWORD now = GetTickCount();
    if (s_lastFlush != 0 && now - s_lastFlush < FLUSH_INTERVAL_MS) {
        InterlockedExchange(&s_flushPending, 1);
        return;
    }
    InterlockedExchange(&s_flushPending, 0);
    RegFlushKey(key);
    s_lastFlush = now;
}

static HKEY OpenSettingsKey(void)
{
    HKEY key = NULL;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return NULL;
    return key;
}

// The settings key is opened once and kept: under Wine opening and closing
// it cost twice the read itself, at every setting read. Calls use it under
// the shared lock; it is replaced under the exclusive one.
static HKEY s_key;
static SRWLOCK s_keyLock = SRWLOCK_INIT;

// Opens the key again in place of the stale handle, unless another thread
// has done so already.
static void ReopenSettingsKey(HKEY stale)
{
    AcquireSRWLockExclusive(&s_keyLock);
    if (s_key == stale) {
        if (s_key != NULL)
            RegCloseKey(s_key);
        s_key = OpenSettingsKey();
    }
    ReleaseSRWLockExclusive(&s_keyLock);
}

// Runs call(key) on the kept key; a key deleted since it was opened (by the
// user, a script or a test) is opened anew, made again when it is gone, and
// the call made once more: every read and write reaches the key that stands.
template <class Call> static LONG OnSettingsKey(Call call)
{
    for (int tries = 0;; ++tries) {
        AcquireSRWLockShared(&s_keyLock);
        HKEY key = s_key;
        LONG result = key != NULL ? call(key) : ERROR_KEY_DELETED;
        ReleaseSRWLockShared(&s_keyLock);
        if (result != ERROR_KEY_DELETED || tries > 0)
            return result;
        ReopenSettingsKey(key);
    }
}

// True when the bytes read hold a terminated text that fits the read capacity.
static bool IsTerminatedText(const char *buffer, DWORD size)
{
    for (DWORD i = 0; i < size; ++i)
        if (buffer[i] == '\0')
            return true;
    return false;
}

// Reads the value's type and bytes; *size holds the room in data and
// receives the bytes stored. False when the value cannot be read whole.
static bool QuerySetting(const char *name, DWORD *type, void *data, DWORD *size)
{
    DWORD room = *size;
    return OnSettingsKey([&](HKEY key) {
               *size = room;
               return RegQueryValueExA(key, name, NULL, type, (BYTE *)data, size);
           }) == ERROR_SUCCESS;
}

static bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A number value holds exactly 4 bytes; anything else stored as binary is
// no number.
static bool IsNumberValue(DWORD type, DWORD size) { return !IsTextType(type) && size == sizeof(DWORD); }

void ReadSettingText(const char *name, char *buffer, const char *defaultText)
{
    DWORD type = REG_NONE, size = SETTING_TEXT_CAPACITY;
    bool found = QuerySetting(name, &type, buffer, &size);
    // A number stored where a text belongs reads as its decimal digits, as
    // a user who typed it into the registry means it.
    if (found && type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number;
        memcpy(&number, buffer, sizeof number);
        FormatText(buffer, SETTING_TEXT_CAPACITY, "%lu", (unsigned long)number);
        return;
    }
    // A value stored without its terminating zero is terminated here when it
    // fits; one that fills the whole capacity without it counts as too long.
    if (found && !IsTerminatedText(buffer, size)) {
        if (size < SETTING_TEXT_CAPACITY)
            buffer[size] = '\0';
        else
            found = false;
    }
    if (!found)
        CopyText(buffer, TEXT_SIZE, defaultText);
}

void FlushSettings(void)
{
    if (InterlockedExchange(&s_flushPending, 0) == 0)
        return;
    OnSettingsKey([](HKEY key) { return RegFlushKey(key); });
    s_lastFlush = GetTickCount();
}

// Stores the value's bytes, the flush to disk left to FlushSoon.
static void WriteSetting(const char *name, DWORD type, const void *data, DWORD size)
{
    OnSettingsKey([&](HKEY key) {
        LONG result = RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
        if (result == ERROR_SUCCESS)
            FlushSoon(key);
        return result;
    });
}

void WriteSettingText(const char *name, const char *text)
{
    WriteSetting(name, REG_SZ, text, (DWORD)lstrlenA(text) + 1);
}

// The decimal number at the start of a text (after spaces), at most
// 0xFFFFFFFF; false when the text holds no digit there.
static bool ReadDecimal(const char *text, DWORD *value)
{
    while (*text == ' ')
        ++text;
    unsigned long long number = 0;
    const char *digits = text;
    for (; *text >= '0' && *text <= '9'; ++text)
        if ((number = number * 10 + (unsigned)(*text - '0')) > 0xFFFFFFFFull)
            number = 0xFFFFFFFFull;
    *value = (DWORD)number;
    return text != digits;
}

DWORD ReadSettingNumber(const char *name, DWORD defaultValue)
{
    char data[SETTING_TEXT_CAPACITY + 1] = "";
    DWORD type = REG_NONE, size = SETTING_TEXT_CAPACITY, value;
    if (!QuerySetting(name, &type, data, &size))
        return defaultValue;
    // A text stored where a number belongs ("1" typed as a string value)
    // reads as the number it spells, not as its character codes.
    if (IsTextType(type))
        return ReadDecimal(data, &value) ? value : defaultValue;
    if (!IsNumberValue(type, size))
        return defaultValue;
    memcpy(&value, data, sizeof value);
    return value;
}

void WriteSettingNumber(const char *name, DWORD value) { WriteSetting(name, REG_DWORD, &value, sizeof value); }

// The user's Documents folder (the profile folder when the system names
// none) into buffer (MAX_PATH bytes); false when neither is known.
static bool FindDocumentsFolder(char *buffer)
{
    buffer[0] = '\0';
    return SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_PERSONAL, NULL, SHGFP_TYPE_CURRENT, buffer)) ||
           SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_PROFILE, NULL, SHGFP_TYPE_CURRENT, buffer));
}

// The default folder, Documents\Parvel followed by below, into buffer
// (TEXT_SIZE bytes).
static void GetDefaultFolder(char *buffer, const char *below)
{
    char documents[MAX_PATH];
    if (!FindDocumentsFolder(documents))
        CopyText(documents, sizeof documents, "C:");
    const char *last = CharPrevA(documents, documents + lstrlenA(documents));
    // A Documents folder too deep for a whole path gives the folder on drive C:.
    if (!FormatText(buffer, TEXT_SIZE, "%s%s%s%s", documents, *last == '\\' ? "" : "\\", DEFAULT_FOLDER_NAME, below))
        FormatText(buffer, TEXT_SIZE, "C:\\%s%s", DEFAULT_FOLDER_NAME, below);
}

// A folder setting: the stored text as it stands, or the default folder
// below Documents when none (or an empty one) is stored.
static void ReadFolderSetting(const char *name, char *buffer, const char *below)
{
    ReadSettingText(name, buffer, "");
    if (buffer[0] == '\0')
        GetDefaultFolder(buffer, below);
}

void GetSaveFolder(char *buffer) { ReadFolderSetting(REG_FOLDER, buffer, ""); }

void GetShortcutFolder(char *buffer) { ReadFolderSetting(REG_SHORTCUT, buffer, SHORTCUT_FOLDER_BELOW); }

// A flag setting is one character: its digit. Anything but a digit (an
// empty text, a letter) reads as the default 0, so that no such text is
// taken for a setting switched on.
static int ReadFlagSettingOr(const char *name, const char *defaultText)
{
    char text[TEXT_SIZE];
    ReadSettingText(name, text, defaultText);
    return text[0] >= '0' && text[0] <= '9' ? text[0] - '0' : 0;
}

static int ReadFlagSetting(const char *name) { return ReadFlagSettingOr(name, "0"); }

int GetOutServer(void) { return ReadFlagSetting(REG_OUTSERVER); }

int GetResume(void) { return ReadFlagSetting(REG_RESUME); }

int GetCacheMode(void) { return ReadFlagSetting(REG_CACHE); }

int GetUseFtp(void) { return ReadFlagSetting(REG_FTP); }

int GetIgnoreCertErrors(void) { return ReadFlagSetting(REG_CERT); }

int GetModernScan(void) { return ReadFlagSettingOr(REG_MODERN, "1"); }

DWORD GetSupervisionWait(void)
{
    DWORD wait = ReadSettingNumber(REG_WAIT, DEFAULT_WAIT);
    return wait > MAX_WAIT ? MAX_WAIT : wait;
}

int GetRetryCount(HWND mainWindow)
{
    if (IsBoxChecked(mainWindow, IDC_RETRY) != BST_CHECKED)
        return 1;
    DWORD count = ReadSettingNumber(REG_RETRY, 5);
    return count < 1 ? 1 : count > MAX_RETRY_COUNT ? MAX_RETRY_COUNT : (int)count;
}

DWORD GetTimeout(void)
{
    DWORD timeout = ReadSettingNumber(REG_TIMEOUT, 180000);
    return timeout < MIN_TIMEOUT ? MIN_TIMEOUT : timeout > MAX_TIMEOUT ? MAX_TIMEOUT : timeout;
}

unsigned long long GetDownloadTotal(void)
{
    return (unsigned long long)ReadSettingNumber(REG_DLSIZEH, 0) << 32 | ReadSettingNumber(REG_DLSIZE, 0);
}

void AddDownloadedBytes(unsigned long long byteCount)
{
    unsigned long long before = GetDownloadTotal(), total = before + byteCount;
    WriteSettingNumber(REG_DLSIZE, (DWORD)total);
    // Written only when it changes: a total below 4 GiB keeps the one value it always had.
    if (total >> 32 != before >> 32)
        WriteSettingNumber(REG_DLSIZEH, (DWORD)(total >> 32));
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
    {"*set4", "* 動作変更 : 取得の間隔(0:0ミリ秒 1:50ミリ秒 2:100ミリ秒 … 9:450ミリ秒)", REG_WAIT},
};
#define HIDDEN_COMMAND_COUNT (sizeof hiddenCommands / sizeof hiddenCommands[0])

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
    case 4:
        return 50 * (DWORD)digit;
    default:
        return (DWORD)digit;
    }
}

bool RunHiddenCommand(HWND window, const char *text)
{
    for (int command = 0; command < (int)HIDDEN_COMMAND_COUNT; ++command) {
        const HiddenCommand &hidden = hiddenCommands[command];
        if (!StartsWithNoCase(text, hidden.word))
            continue;
        char digit = text[HIDDEN_WORD_LENGTH];
        if (digit < '0' || digit > '9') {
            char refusal[TEXT_SIZE];
            FormatText(refusal, sizeof refusal, "* %s の後には 0 から 9 の数字を1つ付けてください (例: %s1)",
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
