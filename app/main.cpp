// app/main.cpp — the program's entry point: first run, strip, argument, main window.
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
