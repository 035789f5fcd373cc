// app/app.h — the application shell: window procedure, animation, input, menu, start-up.
#ifndef PARVEL_APP_APP_H
#define PARVEL_APP_APP_H

#include <windows.h>

#include <shellapi.h>

#include "address/address.h"
#include "app/ids.h"
#include "app/surface.h"

// The calls Windows allows only on the thread that owns the window. The
// window procedure makes them through this table, so that a test can see
// on which thread they are made.
struct WindowThreadCalls {
    UINT_PTR(WINAPI *SetTimer)(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure);
    BOOL(WINAPI *KillTimer)(HWND window, UINT_PTR id);
};
extern WindowThreadCalls g_windowThreadCalls;

// The main window's procedure (dialog 101).
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the selected access log line with the shell on a thread of its own;
// nothing happens when no line is selected.
void OpenLogLine(HWND window);

// True when the log line names a program or script (by its extension:
// what the system calls dangerous, and at least .exe .com .bat .cmd .scr
// .pif .msi .js .jse .vbs .vbe .wsf .ps1 .hta .lnk .url .reg .chm .cpl .msc
// .jar .scf, without case): OpenLogLine then shows it selected in its
// folder instead of running it. An address ("://") is none.
bool IsProgramOrScript(const char *line);

// The shell call OpenLogLine's thread makes (ShellExecuteA); a test may
// replace it to see what would be opened.
extern HINSTANCE(WINAPI *g_shellOpen)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

// ---- Power-off notice (app/poweroff.cpp) ----

// How long the notice counts down: its seconds and the length of one
// second in milliseconds (a test makes the seconds short).
struct PowerOffCountdown {
    int seconds;
    UINT secondMs;
};
extern PowerOffCountdown g_powerOffCountdown;

// Shows the notice (dialog 102) over the window, counting down; when the
// count runs out the computer is switched off, when the user cancels (its
// button, Escape or its close box) a log line says the power stays on.
void ShowPowerOffNotice(HWND window);

// ---- Busy animation (app/animation.cpp) ----

// Size of the square frames of the picture strip, in pixels.
#define FRAME_SIZE 32

// The picture strip: the bitmap file without its 14-byte file header (info
// header, colour table, pixels), or null when none is loaded.
extern BITMAPINFO *g_animationImage;
extern const BYTE *g_animationPixels;
extern int g_colorEntries;
// Number of frames minus 1: the idle picture. Below 1 only frame 0 is drawn.
extern int g_lastFrameIndex;
// The next frame to draw while a run is going.
extern int g_animationFrame;

// Loads the picture strip (found as OpenFile finds files: the program's
// folder first). 1 when loaded; 0, with no image, when the file cannot be
// opened or is not a whole uncompressed bitmap with a 40-byte info header.
int LoadAnimationImage(const char *fileName);

// Releases the picture strip; the state is that of no image.
void FreeAnimationImage(void);

// Draws the frame of the crawl state into control 1051: the idle picture
// when idle, else the animation frame. Nothing without an image.
void DrawAnimationFrame(HWND window);

// One timer tick: the next frame, back to 0 at the idle picture.
void AdvanceAnimationFrame(void);

// ---- Address input (app/input.cpp) ----

// The crawl start the address input calls (StartCrawl); a test may replace it.
extern void (*g_startCrawl)(HWND window, const char *saveFolder, const char *startList, const char *ignoreText);

// Reads the file a path names (in double quotes or not) as a start list:
// an Internet shortcut (.URL in any case) gives its address, another file
// its first 16383 bytes; then starts a crawl run, or, while one is going,
// makes the list the reservation of its next pass. An empty path does
// nothing; a file that cannot be read only adds a log line saying so.
void TakeStartArgument(HWND window, const char *path);

// Handles a drop: one file is taken as by TakeStartArgument, several give
// the addresses of their Internet shortcuts. Releases the drop handle.
void TakeDroppedFiles(HWND window, HDROP drop);

// True, with a log line saying why, when the start list holds no address:
// no run is started then, and the log, the end actions and the boxes are
// left as they are.
bool RefuseListWithoutAddress(HWND window, const char *startList);

// Starts a crawl run with the start list, or, while a run is going, adds the
// list's entries to the address box as the reservation of the next pass.
// Returns false when no run starts because the list holds no address, or
// when the reservation would outgrow the box's 259 characters: the box is
// then left as it was.
bool StartOrReserve(HWND window, const char *saveFolder, const char *startList, const char *ignoreText);

// ---- Options menu (app/menu.cpp) ----

// Command ids of the options menu.
enum {
    MENU_SAVEFOLDER = 1, MENU_OUTSERVER = 2, MENU_RESUME = 3, MENU_CACHE = 4,
    MENU_NOARCHIVES = 5, MENU_NOINDEX = 6, MENU_NOIMAGES = 7, MENU_NOBINARIES = 8,
    MENU_SHORTCUTFOLDER = 9, MENU_FTP = 10, MENU_CERT = 11, MENU_MODERN = 12
};

// The flag settings as read when the menu was built.
struct MenuFlags {
    int resume, cache, outServer, useFtp, ignoreCert, modern;
};

// MF_CHECKED when a flag setting's value is exactly 1, else 0.
UINT MenuCheckFlag(int value);

// Builds the options menu, reading the flags into flags as it goes.
HMENU BuildOptionsMenu(MenuFlags *flags);

// Shows the options menu at the mouse position and carries out the choice.
void ShowOptionsMenu(HWND window);

// Carries out one menu choice: a flag toggle, a preset, a folder choice.
// Dismissal (0) and unknown ids do nothing.
void RunOptionsCommand(HWND window, int command, const MenuFlags *flags);

// Lets the user pick a folder and stores it as the text setting name
// ("folder" or "shortcut"), logging the title and the path.
void BrowseForSettingFolder(HWND window, const char *title, const char *name);

// Removes one trailing '\' from the path, found by characters, so that the
// second byte of a double-byte character is never taken for it.
void RemoveTrailingBackslash(char *path);

// ---- Start-up (app/startup.cpp) ----

// The command line after the program name: at most 259 characters.
extern char g_startArgument[TEXT_SIZE];
void KeepStartArgument(const char *commandLine);

// The first-run message, "start" = 2 and the installation, while "start"
// is not 2.
void RunFirstStartSteps(void);

// The setup engine's program and parameters for the installation script
// in programFolder. engineFolder holds the engine's starter (the Windows
// folder on the Windows 95 family, the system folder on the NT family);
// family95 selects the Windows 95 engine, useSetupApi the setup library's
// entry point where the NT engine's library is missing. Returns false, with
// both outputs empty, when either would not fit its TEXT_SIZE bytes: the
// installation is left out then.
bool BuildInstallCommand(bool family95, bool useSetupApi, const char *engineFolder,
                         const char *programFolder, char *program, char *parameters);

// Starts the setup engine on "qexinst.inf" beside the program; does not wait.
void FirstRunInstall(void);

#endif
