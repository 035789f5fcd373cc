// app/main.cpp — the program's entry point: the first-run steps, the picture strip, the start argument, then the main window until it closes.
#include "app/app.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    g_instance = instance;
    FreeAnimationImage();
    RunFirstStartSteps();
    LoadAnimationImage("qex.bmp");
    KeepStartArgument(commandLine);
    InitCommonControls();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainWindowProc, 0);
    return 0;
}
