// app/poweroff.cpp — the cancellable count-down before power off at the end of a run.
#include "app/app.h"

#include "engine/engine.h"

PowerOffCountdown g_powerOffCountdown = {30, 1000};

// The notice's timer: one tick per second of the countdown.
#define COUNTDOWN_TIMER 1

// Seconds left on the notice that is open (one at a time: it is modal).
static int s_secondsLeft;

static void ShowSecondsLeft(HWND notice)
{
    char text[STRING_SIZE];
    FormatText(text, sizeof text, "探索が終わりました。\n%d 秒後にコンピュータの電源を切ります。", s_secondsLeft);
    SetDlgItemTextA(notice, IDC_COUNTDOWN, text);
}

static void StartCountdown(HWND notice)
{
    s_secondsLeft = g_powerOffCountdown.seconds;
    ShowSecondsLeft(notice);
    SendDlgItemMessageA(notice, IDC_WARNINGICON, STM_SETICON, (WPARAM)LoadIconA(NULL, IDI_WARNING), 0);
    SetTimer(notice, COUNTDOWN_TIMER, g_powerOffCountdown.secondMs, NULL);
    MessageBeep(MB_ICONWARNING);
}

static void EndNotice(HWND notice, INT_PTR answer)
{
    KillTimer(notice, COUNTDOWN_TIMER);
    EndDialog(notice, answer);
}

// One second has passed: the notice ends with IDOK when none is left.
static void CountOneSecond(HWND notice)
{
    if (--s_secondsLeft > 0)
        ShowSecondsLeft(notice);
    else
        EndNotice(notice, IDOK);
}

static INT_PTR CALLBACK PowerOffNoticeProc(HWND notice, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        StartCountdown(notice);
        return TRUE;
    case WM_TIMER:
        CountOneSecond(notice);
        return TRUE;
    case WM_COMMAND:
        // The button, Escape and the close box all give IDCANCEL.
        if (LOWORD(wParam) == IDCANCEL)
            EndNotice(notice, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

void ShowPowerOffNotice(HWND window)
{
    INT_PTR answer = DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_POWEROFF), window, PowerOffNoticeProc, 0);
    if (answer == IDOK) {
        SwitchPowerOff();
        return;
    }
    // Without a notice the user could not have cancelled: the power stays on.
    AppendLog(window, answer == IDCANCEL ? "* 電源OFFを取り消しました"
                                         : "* 確認の表示を出せないので電源OFFを取りやめました");
}
