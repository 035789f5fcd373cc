// tests/win/text_recorder.h — records the title, status texts and bar positions set, in order.
#ifndef PARVEL_TESTS_WIN_TEXT_RECORDER_H
#define PARVEL_TESTS_WIN_TEXT_RECORDER_H

#include <windows.h>

#include <string>
#include <vector>

// Texts set since RecordTexts (or the last ClearTexts), oldest first.
extern std::vector<std::string> g_titles;
extern std::vector<std::string> g_statusTexts;
// Positions set on the file progress bar (1049).
extern std::vector<int> g_barPositions;

// Starts recording the title of the window, the text of its status
// line (1004) and the file progress bar's positions; the window's own
// behaviour is kept.
void RecordTexts(HWND window);
void ClearTexts(void);

// Records the title and status texts as the engine gives them instead
// (g_textGiven): every one in order, whether or not a newer one replaced it
// before the window showed it, so that a test of a run off the window
// thread does not depend on when the window thread gets to them. Stops
// with StopRecordingGivenTexts.
void RecordGivenTexts(void);
void StopRecordingGivenTexts(void);

// The last status text recorded, read safely while engine threads record.
std::string LastStatusText(void);

// True when one of the texts equals text; the count of those that do.
bool HasText(const std::vector<std::string> &texts, const std::string &text);
int CountText(const std::vector<std::string> &texts, const std::string &text);

// All texts joined by " | ", for failure messages.
std::string JoinTexts(const std::vector<std::string> &texts);

#endif
