// engine/engine.h — what the window calls of the engine: start a run, check a list, power off.
#ifndef PARVEL_ENGINE_ENGINE_H
#define PARVEL_ENGINE_ENGINE_H

#include <windows.h>

// Size of the start list and of the worker record's address.
#define START_LIST_SIZE 16384

// Starts a crawl run on a thread of its own (window thread). The caller
// sets the state to running first; when no run thread can be made, StartCrawl
// logs it and sets the state back to idle.
void StartCrawl(HWND window, const char *saveFolder, const char *startList, const char *ignoreText);

// True when the start list holds an entry other than the words "*D", "*P"
// and "*R": a list without one would fetch nothing.
bool StartListHasAddress(const char *list);

// Enables the shutdown privilege and switches the computer off.
void SwitchPowerOff(void);

#endif
