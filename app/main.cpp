// app/main.cpp — the program's entry point: keeps the instance and the command line, runs the main window until it closes.
#include "app/app.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    g_instance = instance;
    InitCommonControls();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainWindowProc, 0);
    return 0;
}
