// settings/settings.h — interface of the settings store under the user's registry key.
// One accessor per setting, the download total and the hidden commands.
#ifndef PARVEL_SETTINGS_SETTINGS_H
#define PARVEL_SETTINGS_SETTINGS_H

#include <windows.h>

// Capacity with which text values are read: 79 characters and the NUL.
#define SETTING_TEXT_CAPACITY 80

// Primitives. Every call opens the key anew; every write is flushed at once.
// Text buffers of the callers hold 260 bytes. A value stored with the other
// type reads as a user means it: a number read as text gives its decimal
// digits, a text read as a number the number it spells (the default when it
// spells none).
void ReadSettingText(const char *name, char *buffer, const char *defaultText);
void WriteSettingText(const char *name, const char *text);
DWORD ReadSettingNumber(const char *name, DWORD defaultValue);
void WriteSettingNumber(const char *name, DWORD value);

// Accessors with each setting's default and conversion.
// The folders: the stored setting as it stands; when none is stored, a
// folder under the user's Documents (Documents\Parvel, and its
// ショートカット folder for shortcuts), made when first written to.
#define DEFAULT_FOLDER_NAME "Parvel"
#define SHORTCUT_FOLDER_BELOW "\\ショートカット"
void GetSaveFolder(char *buffer);
void GetShortcutFolder(char *buffer);
int GetOutServer(void);
int GetResume(void);
int GetCacheMode(void);
int GetUseFtp(void);
// 1 when servers whose certificate cannot be verified are fetched anyway.
int GetIgnoreCertErrors(void);
// 1 when style sheets, scripts, inline frames, responsive pictures and media
// are followed as well; on unless switched off.
int GetModernScan(void);
// Attempts per address: 1 with the retry box clear, else "retry" within 1
// to MAX_RETRY_COUNT (0 or a number too large for an int would skip every
// address or retry it without end).
#define MAX_RETRY_COUNT 50
int GetRetryCount(HWND mainWindow);
// The receive time-out in milliseconds: "timeout" within MIN_TIMEOUT and
// MAX_TIMEOUT, so that a transfer neither ends before it can begin nor
// waits for a stalled server without end.
#define MIN_TIMEOUT 1000
#define MAX_TIMEOUT 3600000
DWORD GetTimeout(void);
// How long the fetch supervision holds a worker in each cycle, in ms:
// "wait" (100 when missing) up to MAX_WAIT; 0 holds it not at all.
#define DEFAULT_WAIT 100
#define MAX_WAIT 1000
DWORD GetSupervisionWait(void);

// The running total of bytes downloaded: "DLSIZE" holds its low 32 bits, as
// it always did, and "DLSIZEH" the bits above.
unsigned long long GetDownloadTotal(void);

// Adds the bytes of one transfer to the running total (wraps at 2^64).
void AddDownloadedBytes(unsigned long long byteCount);

// Flushes the settings key to disk when a write since the last flush left it
// to later (writes flush at most once a second): at the end of a run and of
// the program.
void FlushSettings(void);

// Carries out a hidden command ("*set0" to "*set3" followed by a digit)
// typed into the address box. Returns true when the text was one (carried
// out, or refused for a missing digit), false when it is no hidden command.
bool RunHiddenCommand(HWND window, const char *text);

// The value a hidden command stores for digit d (0 to 9): the date folder,
// archives folder, retry count and receive time-out in milliseconds.
DWORD HiddenCommandValue(int command, int digit);

#endif
