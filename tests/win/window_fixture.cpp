// tests/win/window_fixture.cpp — the hidden test window, its pump and control readers.
#include "tests/win/window_fixture.h"

bool ShowLeftTextsMessage(HWND window, UINT message)
{
    if (message != WM_SHOW_LEFT_TEXTS)
        return false;
    ShowLeftTexts(window);
    return true;
}

static INT_PTR CALLBACK PassiveProc(HWND window, UINT message, WPARAM, LPARAM)
{
    return ShowLeftTextsMessage(window, message) || message == WM_INITDIALOG;
}

HWND CreateTestWindow(void)
{
    if (g_instance == NULL)
        g_instance = GetModuleHandleA(NULL);
    HWND window = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, PassiveProc, 0);
    IndexAccessLog(window);
    return window;
}

bool PumpUntil(const std::function<bool()> &condition, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (condition())
            return true;
        if (GetTickCount() - start > timeout)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

static DWORD WINAPI RunWork(LPVOID work)
{
    (*(const std::function<void()> *)work)();
    return 0;
}

bool RunOffTheWindowThread(const std::function<void()> &work, DWORD timeout)
{
    HANDLE thread = CreateThread(NULL, 0, RunWork, (LPVOID)&work, 0, NULL);
    if (thread == NULL)
        return false;
    bool ended = PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, timeout);
    if (!ended)
        WaitForSingleObject(thread, INFINITE); // the work refers to the caller's frame
    CloseHandle(thread);
    return ended;
}

std::vector<std::string> LogLines(HWND window)
{
    std::vector<std::string> lines;
    LRESULT count = SendDlgItemMessageA(window, IDC_LOG, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendDlgItemMessageA(window, IDC_LOG, LB_GETTEXTLEN, (WPARAM)i, 0);
        std::string line((size_t)length + 1, '\0');
        SendDlgItemMessageA(window, IDC_LOG, LB_GETTEXT, (WPARAM)i, (LPARAM)&line[0]);
        line.resize((size_t)length);
        lines.push_back(line);
    }
    return lines;
}

std::string ControlText(HWND window, int id)
{
    char text[4096] = "";
    if (id == 0)
        GetWindowTextA(window, text, sizeof text);
    else
        GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

void ClearSettings(void)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
}
