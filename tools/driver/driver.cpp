// tools/driver/driver.cpp — drives parvel.exe through its window for end-to-end tests.
// Reads one command per line on stdin, answers one line ("ok ..." or "err ...") in UTF-8.
//
// Commands:
//   start EXE [ARGUMENT]   start the program, wait for its main window ("ok"), or for a
//                          message box shown before it ("ok message TEXTS")
//   wait-window MS         after that message box: wait for the main window (or the next box)
//   settext ID TEXT        set a control's text ("\n" in TEXT is a line break)
//   gettext ID             a control's text;  title: the window title (a backslash, CR and LF come as \\, \r and \n)
//   click ID               tell the window its button was pressed (WM_COMMAND, BN_CLICKED)
//   checked ID / enabled ID  0 or 1
//   rect                   the window's left, top, width and height on the screen
//   press ID               a real button press (BM_CLICK: toggles check boxes, picks radio buttons)
//   focus ID               move the keyboard focus to a control
//   key VK                 a key press (virtual-key code) to the open menu, else to the focused control
//   menu                   1 while a popup menu of the program is open
//   dialog                 title and static texts (joined by 0x1F) of the program's other dialog
//   answer ID              press button ID of that dialog (1 OK, 2 Cancel, 6 Yes, 7 No), wait until it has gone
//   alive                  1 while the program runs
//   log                    the access log lines joined by the byte 0x1F
//   wait-idle MS           until the caption is "探索" and the title "Parvel 1st MIX"
//   wait-caption MS TEXT   until the Search button reads TEXT
//   close                  WM_CLOSE and wait for the process to end
//   kill                   end the program at once (after a failed test)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static HWND g_window;
static PROCESS_INFORMATION g_process;

static std::string ToUtf8(const wchar_t *wide)
{
    char text[65536];
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, NULL, NULL);
    return n > 0 ? std::string(text) : std::string();
}

static std::wstring FromUtf8(const std::string &text)
{
    static wchar_t wide[32768];
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 32768);
    return n > 0 ? std::wstring(wide) : std::wstring();
}

static std::string WindowTextOf(HWND window)
{
    wchar_t text[16384] = L"";
    SendMessageW(window, WM_GETTEXT, 16384, (LPARAM)text);
    return ToUtf8(text);
}

// A text made fit for one answer line: '\\' and line breaks as "\\\\", "\\r"
// and "\\n" (the status line holds two lines).
static std::string OnOneLine(const std::string &text)
{
    std::string line;
    for (char c : text) {
        if (c == '\\')
            line += "\\\\";
        else if (c == '\r')
            line += "\\r";
        else if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    return line;
}

static BOOL CALLBACK FindProcessWindow(HWND window, LPARAM)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (pid == g_process.dwProcessId && strcmp(className, "#32770") == 0 && GetDlgItem(window, 1017) != NULL) {
        g_window = window;
        return FALSE;
    }
    return TRUE;
}

// The other windows of the program: a message box or folder dialog (class
// "#32770" without the access log) and an open popup menu (class "#32768").
struct FoundWindow {
    const char *className;
    HWND window;
};

static BOOL CALLBACK FindOtherWindow(HWND window, LPARAM lParam)
{
    FoundWindow *found = (FoundWindow *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (pid == g_process.dwProcessId && window != g_window && IsWindowVisible(window) &&
        strcmp(className, found->className) == 0 && GetDlgItem(window, 1017) == NULL) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

static HWND OtherWindow(const char *className)
{
    FoundWindow found = {className, NULL};
    EnumWindows(FindOtherWindow, (LPARAM)&found);
    return found.window;
}

// The dialog's title and the texts of its static controls, joined by 0x1F.
static std::string DialogTexts(HWND dialog)
{
    std::string all = WindowTextOf(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64] = "";
        GetClassNameA(child, className, sizeof className);
        if (_stricmp(className, "Static") == 0 && GetWindowTextLengthW(child) > 0)
            all += '\x1f' + WindowTextOf(child);
    }
    return all;
}

// Posts a key press to the open popup menu, or else to the control that has the
// keyboard focus in the program's window thread, so it passes the program's own
// message loop as a typed key would.
static void PressKey(WPARAM key)
{
    HWND target = OtherWindow("#32768");
    if (target == NULL) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(g_window, NULL), &info) && info.hwndFocus != NULL)
            target = info.hwndFocus;
        else
            target = g_window;
    }
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
}

static void Answer(const std::string &text)
{
    printf("%s\n", text.c_str());
    fflush(stdout);
}

// Waits for the main window; a message box shown before it (the first-run
// message) ends the wait too, answered "ok message TEXTS".
static std::string WaitForMainWindow(DWORD timeout)
{
    DWORD start = GetTickCount();
    while (g_window == NULL && GetTickCount() - start < timeout) {
        EnumWindows(FindProcessWindow, 0);
        HWND other = g_window == NULL ? OtherWindow("#32770") : NULL;
        if (other != NULL)
            return "ok message " + OnOneLine(DialogTexts(other));
        if (WaitForSingleObject(g_process.hProcess, 0) == WAIT_OBJECT_0)
            return "err ended";
        Sleep(100);
    }
    return g_window != NULL ? "ok" : "err no window";
}

static std::string Start(const std::string &rest)
{
    std::string exe = rest, argument;
    size_t space = rest.find(' ');
    if (space != std::string::npos) {
        exe = rest.substr(0, space);
        argument = rest.substr(space + 1);
    }
    std::string commandLine = "\"" + exe + "\"" + (argument.empty() ? "" : " " + argument);
    std::wstring wide = FromUtf8(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring folder = FromUtf8(exe.substr(0, exe.find_last_of("\\/") + 1));
    if (!CreateProcessW(NULL, &wide[0], NULL, NULL, FALSE, 0, NULL, folder.empty() ? NULL : folder.c_str(),
                        &startup, &g_process))
        return "err cannot start";
    return WaitForMainWindow(60000);
}

static std::string LogLines(void)
{
    HWND list = GetDlgItem(g_window, 1017);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    std::string all;
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t line[4096] = L"";
        if (SendMessageW(list, LB_GETTEXTLEN, (WPARAM)i, 0) >= 4096)
            continue;
        SendMessageW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)line);
        if (i > 0)
            all += '\x1f';
        all += ToUtf8(line);
    }
    return all;
}

static bool WaitFor(DWORD timeout, bool (*condition)(const std::string &), const std::string &argument)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        if (condition(argument))
            return true;
        Sleep(50);
    }
    return false;
}

static bool IsIdle(const std::string &)
{
    return WindowTextOf(GetDlgItem(g_window, 1001)) == u8"探索" && WindowTextOf(g_window) == "Parvel 1st MIX";
}

static bool CaptionIs(const std::string &text) { return WindowTextOf(GetDlgItem(g_window, 1001)) == text; }

static std::string Unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

static std::string Run(const std::string &line)
{
    size_t space = line.find(' ');
    std::string command = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (command == "start")
        return Start(rest);
    if (command == "kill") {
        if (g_process.hProcess != NULL && WaitForSingleObject(g_process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(g_process.hProcess, 1);
            WaitForSingleObject(g_process.hProcess, 5000);
        }
        return "ok";
    }
    if (command == "wait-window") {
        HWND box = OtherWindow("#32770");
        if (box != NULL && g_window == NULL)
            return "ok message " + OnOneLine(DialogTexts(box));
        return WaitForMainWindow((DWORD)atoi(rest.c_str()));
    }
    if (command == "dialog") {
        HWND dialog = OtherWindow("#32770");
        return dialog != NULL ? "ok " + OnOneLine(DialogTexts(dialog)) : "err no dialog";
    }
    if (command == "answer") {
        HWND dialog = OtherWindow("#32770");
        if (dialog == NULL)
            return "err no dialog";
        int button = atoi(rest.c_str());
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, button));
        // Answered once the dialog has gone.
        for (int i = 0; i < 200 && IsWindow(dialog) && IsWindowVisible(dialog); ++i)
            Sleep(50);
        return IsWindow(dialog) && IsWindowVisible(dialog) ? "err dialog still open" : "ok";
    }
    if (g_window == NULL)
        return "err not started";
    int id = atoi(rest.c_str());
    std::string tail = rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
    if (command == "settext") {
        std::wstring wide = FromUtf8(Unescape(tail));
        SendMessageW(GetDlgItem(g_window, id), WM_SETTEXT, 0, (LPARAM)wide.c_str());
        return "ok";
    }
    if (command == "gettext")
        return "ok " + OnOneLine(WindowTextOf(GetDlgItem(g_window, id)));
    if (command == "rect") {
        RECT r = {};
        GetWindowRect(g_window, &r);
        return "ok " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
               " " + std::to_string(r.bottom - r.top);
    }
    if (command == "title")
        return "ok " + OnOneLine(WindowTextOf(g_window));
    if (command == "click") {
        PostMessageW(g_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(g_window, id));
        return "ok";
    }
    if (command == "press") {
        PostMessageW(GetDlgItem(g_window, id), BM_CLICK, 0, 0);
        return "ok";
    }
    if (command == "focus") {
        SendMessageW(g_window, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(g_window, id), TRUE);
        return "ok";
    }
    if (command == "key") {
        PressKey((WPARAM)strtoul(rest.c_str(), NULL, 0));
        return "ok";
    }
    if (command == "menu")
        return "ok " + std::to_string(OtherWindow("#32768") != NULL ? 1 : 0);
    if (command == "alive")
        return "ok " + std::to_string(WaitForSingleObject(g_process.hProcess, 0) == WAIT_TIMEOUT ? 1 : 0);
    if (command == "checked")
        return "ok " + std::to_string(SendMessageW(GetDlgItem(g_window, id), BM_GETCHECK, 0, 0) == BST_CHECKED);
    if (command == "enabled")
        return "ok " + std::to_string(IsWindowEnabled(GetDlgItem(g_window, id)) ? 1 : 0);
    if (command == "log")
        return "ok " + LogLines();
    if (command == "wait-idle")
        return WaitFor((DWORD)id, IsIdle, "") ? "ok" : "err timeout";
    if (command == "wait-caption")
        return WaitFor((DWORD)id, CaptionIs, tail) ? "ok" : "err timeout";
    if (command == "close") {
        PostMessageW(g_window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(g_process.hProcess, 15000) != WAIT_OBJECT_0)
            return "err still running";
        DWORD code = 0;
        GetExitCodeProcess(g_process.hProcess, &code);
        return "ok " + std::to_string(code);
    }
    return "err unknown command";
}

int main(void)
{
    char line[65536];
    while (fgets(line, sizeof line, stdin) != NULL) {
        size_t n = strlen(line);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            line[--n] = '\0';
        if (n == 0)
            continue;
        Answer(Run(line));
    }
    return 0;
}
