// tests/win/window_fixture.h — a hidden main window (dialog 101) for tests.
// With a message pump for the engine threads that talk to it.
#ifndef PARVEL_TESTS_WIN_WINDOW_FIXTURE_H
#define PARVEL_TESTS_WIN_WINDOW_FIXTURE_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app.h"

// Creates dialog 101 without showing it, its access log indexed as the main
// window's; the procedure handles nothing but showing what the engine
// threads leave, so tests see the controls exactly
// as the engine leaves them.
HWND CreateTestWindow(void);

// A test window procedure's part: shows what the engine threads left when
// the message asks for it; false for any other message.
bool ShowLeftTextsMessage(HWND window, UINT message);

// Runs the message loop of this thread until the condition holds or the
// time (milliseconds) is over; true when it held.
bool PumpUntil(const std::function<bool()> &condition, DWORD timeout);

// Runs the work on a thread of its own, as the crawl's run thread runs the
// engine, while this thread answers the window; false when it has not ended
// within the time (milliseconds).
bool RunOffTheWindowThread(const std::function<void()> &work, DWORD timeout);

// All lines of the access log.
std::vector<std::string> LogLines(HWND window);

// Text of a control or of the window itself (id 0).
std::string ControlText(HWND window, int id);

// Deletes the settings key, so every value reads as its default.
void ClearSettings(void);

#endif
