// engine/transfer_text.cpp — a transfer's status line, log and title texts.
// Always cut to their buffers.
#include "engine/engine_internal.h"

#include "app/surface.h"

const char FILE_CANNOT_BE_CREATED[] = "* ファイルを作成できません : %s";
const char FILE_CANNOT_BE_OPENED[] = "* ファイルを開けないので更新しません : %s";
const char FILE_CANNOT_BE_WRITTEN[] = "* ファイルに書き込めません : %s";
const char FILE_TOO_BIG_FOR_DRIVE[] = "* ファイルが大きすぎてこのドライブに保存できません : %s";

void ShowStatusText(const char *text) { LeaveWindowText(g_mainWindow, IDC_STATUS, text); }

void ShowStatusString(int id)
{
    char text[STRING_SIZE];
    LoadText(id, text);
    ShowStatusText(text);
}

void ReportString(int id)
{
    char text[STRING_SIZE];
    LoadText(id, text);
    AppendLog(g_mainWindow, text);
    ShowStatusText(text);
}

void ShowFileTitle(const char *format, const char *filePart)
{
    char title[TITLE_TEXT_SIZE];
    FormatText(title, sizeof title, format, filePart);
    ShowProgressTitle(title);
}

void ReportFileProblem(const char *format, const char *localPath)
{
    // Room for the whole local path behind the text.
    char line[2 * TEXT_SIZE];
    FormatText(line, sizeof line, format, localPath);
    AppendLog(g_mainWindow, line);
    ShowStatusText(line);
}
