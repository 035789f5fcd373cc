// tests/win/app_open_line_test.cpp — a double-clicked log line.
// Programs and scripts are shown selected in their folder, other lines are opened by the
// shell as before.
#include <gtest/gtest.h>

#include <string>

#include "tests/win/test_files.h"
#include "tests/win/window_fixture.h"

namespace {

// What the opener thread asked the shell for; one line at a time.
std::string g_file, g_parameters;
volatile LONG g_opened;

HINSTANCE WINAPI RecordShellOpen(HWND, LPCSTR, LPCSTR file, LPCSTR parameters, LPCSTR, INT)
{
    g_file = file;
    g_parameters = parameters != NULL ? parameters : "(none)";
    InterlockedIncrement(&g_opened);
    return (HINSTANCE)42;
}

TEST(OpenLine, ProgramsAndScriptsAreKnownByTheirExtensionWithoutCase)
{
    for (const char *line : {"a.exe", "a.COM", "a.Bat", "a.cmd", "a.scr", "a.pif", "a.msi", "a.JS", "a.jse", "a.vbs",
                             "a.vbe", "a.wsf", "a.ps1", "a.hta", "a.LNK", "a.url", "a.reg", "a.chm", "a.cpl", "a.msc",
                             "a.jar", "a.scf", "C:\\s\\表.EXE"})
        EXPECT_TRUE(IsProgramOrScript(line)) << line;
    for (const char *line : {"a.html", "a.txt", "a.exe.txt", "C:\\s\\exe", "C:\\s", "C:\\s.exe\\index.html",
                             "http://h.example/setup.exe"})
        EXPECT_FALSE(IsProgramOrScript(line)) << line;
}

TEST(OpenLine, ADoubleClickedProgramIsShownInItsFolderAndAPageIsOpened)
{
    std::string folder = MakeTempFolder("pvo");
    std::string program = folder + "\\setup.EXE", page = folder + "\\index.html";
    ASSERT_TRUE(WriteBytes(program, "MZ") && WriteBytes(page, "<html>"));
    struct Case {
        std::string line, file, parameters;
    } cases[] = {
        {program, "explorer.exe", "/select,\"" + program + "\""},
        {page, page, "(none)"},
    };
    HWND window = CreateTestWindow();
    auto saved = g_shellOpen;
    g_shellOpen = RecordShellOpen;
    for (const Case &c : cases) {
        SendDlgItemMessageA(window, IDC_LOG, LB_RESETCONTENT, 0, 0);
        AppendLog(window, c.line.c_str());
        SendDlgItemMessageA(window, IDC_LOG, LB_SETCURSEL, 0, 0);
        LONG before = g_opened;
        OpenLogLine(window);
        ASSERT_TRUE(PumpUntil([&] { return g_opened != before; }, 10000)) << c.line;
        EXPECT_EQ(g_file, c.file) << c.line;
        EXPECT_EQ(g_parameters, c.parameters) << c.line;
    }
    g_shellOpen = saved;
    DestroyWindow(window);
    RemoveTree(folder);
}

} // namespace
