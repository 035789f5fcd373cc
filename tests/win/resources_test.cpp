// tests/win/resources_test.cpp — the linked resources and the strip qex.bmp.
// The manifest, dialog 101 (controls, styles, texts, places, tab order), the string table,
// the icons and bitmap 119.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/ids.h"

namespace {

// Bytes as hex, so that a wrong Shift_JIS text shows what it holds.
std::string Hex(const std::string &bytes)
{
    std::string out;
    char pair[4];
    for (unsigned char c : bytes) {
        snprintf(pair, sizeof pair, "%02X ", c);
        out += pair;
    }
    return out;
}

std::string WindowText(HWND window)
{
    char text[260] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassName(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A rectangle in dialog units turned into pixels of the dialog's client area.
RECT DialogUnitsToPixels(HWND dialog, int x, int y, int width, int height)
{
    RECT rect = {x, y, x + width, y + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

RECT RectInParent(HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(NULL, GetParent(control), (POINT *)&rect, 2);
    return rect;
}

bool Near(long a, long b) { return a - b <= 1 && b - a <= 1; }

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
        dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL,
                                    PassiveDialogProc, 0);
        ASSERT_NE(dialog, (HWND)NULL) << "CreateDialogParamA failed, error " << GetLastError();
    }
    void TearDown() override
    {
        if (dialog)
            DestroyWindow(dialog);
    }
    HWND dialog = NULL;
};

// The low word of a style holds the class's own bits and is compared whole.
// Of the general bits, a live control keeps those below; the controls turn
// WS_BORDER into an edge of their own, and a list box drops the scroll bars
// it does not need, so the template is checked for those.
const DWORD kLiveBits = WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | WS_GROUP;

struct ControlRow {
    int id;            // -1 for the labels without an id
    const char *cls;
    DWORD classStyle;  // low word of the style
    DWORD windowBits;  // the general bits of the style
    const char *text;  // NULL: not a text (the animation icon)
    int x, y, width, height;
};

const DWORD kShown = WS_CHILD | WS_VISIBLE;

// Template order, which is also the tab order.
const ControlRow kControls[] = {
    {1048, "Static", SS_CENTER | SS_CENTERIMAGE, kShown, "アドレス(&A)", 5, 5, 38, 12},
    {1000, "Edit", ES_AUTOHSCROLL, kShown | WS_BORDER | WS_TABSTOP, "", 45, 5, 147, 12},
    {1001, "Button", BS_DEFPUSHBUTTON, kShown | WS_TABSTOP, "探索", 195, 5, 24, 14},
    {1051, "Static", SS_ICON | SS_SUNKEN, kShown, NULL, 225, 5, 20, 20},
    {-1, "Static", SS_LEFT, kShown | WS_GROUP, "アクセスログ(&L)", 5, 20, 46, 8},
    {1017, "ListBox", LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT,
     kShown | WS_BORDER | WS_HSCROLL | WS_VSCROLL | WS_TABSTOP, "", 5, 30, 187, 115},
    {1022, "Button", BS_AUTOCHECKBOX, kShown | WS_TABSTOP, "再読込(&R)", 195, 45, 46, 10},
    {1029, "Button", BS_AUTOCHECKBOX, kShown | WS_TABSTOP, "回線切断(&D)", 195, 30, 53, 10},
    {-1, "Static", SS_LEFT, kShown | WS_GROUP, "内部階層(&N)", 195, 91, 38, 8},
    {1018, "Button", BS_AUTORADIOBUTTON, kShown, "0", 195, 100, 19, 9},
    {1019, "Button", BS_AUTORADIOBUTTON, kShown, "1", 195, 110, 19, 10},
    {1020, "Button", BS_AUTORADIOBUTTON, kShown, "2", 195, 120, 19, 10},
    {1021, "Button", BS_AUTORADIOBUTTON, kShown, "無限", 195, 130, 25, 10},
    {-1, "Static", SS_CENTER | SS_CENTERIMAGE, kShown | WS_GROUP, "無視ﾌｧｲﾙ", 5, 147, 35, 14},
    {1026, "Edit", ES_AUTOHSCROLL | ES_UPPERCASE, kShown | WS_BORDER | WS_TABSTOP, "", 40, 147, 152, 12},
    {1004, "Static", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_SUNKEN, kShown | WS_GROUP,
     "アドレスをいれて[探索]ボタンを押してください", 6, 163, 186, 19},
    {1035, "Button", BS_PUSHBUTTON | BS_CENTER | BS_VCENTER, kShown | WS_TABSTOP, "その他の設定", 195, 145, 51, 14},
    {1037, "Button", BS_AUTOCHECKBOX, kShown | WS_TABSTOP, "電源OFF(&P)", 195, 60, 48, 10},
    {1038, "Button", BS_AUTOCHECKBOX, kShown | WS_TABSTOP, "リトライ(&T)", 195, 75, 46, 10},
    {1049, "msctls_progress32", PBS_SMOOTH, kShown | WS_BORDER, "", 195, 163, 50, 14},
    {1050, "msctls_progress32", PBS_SMOOTH, kShown | WS_BORDER, "", 195, 179, 50, 4},
};
const size_t kControlCount = sizeof kControls / sizeof kControls[0];

std::vector<HWND> ChildrenInOrder(HWND dialog)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

TEST_F(MainDialog, ControlsComeInTemplateOrderWithTheirIdsAndClasses)
{
    std::vector<HWND> children = ChildrenInOrder(dialog);
    ASSERT_EQ(children.size(), kControlCount);
    for (size_t i = 0; i < kControlCount; ++i) {
        const ControlRow &row = kControls[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(row.id));
        EXPECT_EQ(GetDlgCtrlID(children[i]), row.id);
        EXPECT_STRCASEEQ(ClassName(children[i]).c_str(), row.cls);
        if (row.id != -1) {
            EXPECT_EQ(GetDlgItem(dialog, row.id), children[i]);
        }
    }
}

TEST_F(MainDialog, ControlsHaveTheirStyles)
{
    std::vector<HWND> children = ChildrenInOrder(dialog);
    ASSERT_EQ(children.size(), kControlCount);
    for (size_t i = 0; i < kControlCount; ++i) {
        const ControlRow &row = kControls[i];
        DWORD style = (DWORD)GetWindowLongA(children[i], GWL_STYLE);
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(row.id));
        EXPECT_EQ(style & 0xFFFF, row.classStyle) << std::hex << "style " << style;
        EXPECT_EQ(style & kLiveBits, row.windowBits & kLiveBits) << std::hex << "style " << style;
    }
}

TEST_F(MainDialog, ListBoxIsNotSortedAndTheLabelsMarkTheirGroups)
{
    DWORD log = (DWORD)GetWindowLongA(GetDlgItem(dialog, IDC_LOG), GWL_STYLE);
    EXPECT_EQ(log & LBS_SORT, 0u);
    // The depth buttons form one group, which the label before them opens and
    // the "無視ﾌｧｲﾙ" label after them closes.
    std::vector<HWND> children = ChildrenInOrder(dialog);
    ASSERT_EQ(children.size(), kControlCount);
    EXPECT_EQ(WindowText(children[8]), "内部階層(&N)");
    EXPECT_EQ(WindowText(children[13]), "無視ﾌｧｲﾙ");
    for (int i = 9; i <= 12; ++i)
        EXPECT_EQ(GetWindowLongA(children[i], GWL_STYLE) & WS_GROUP, 0) << "control #" << i;
}

TEST_F(MainDialog, ControlsHoldTheirInitialTextsAsShiftJis)
{
    std::vector<HWND> children = ChildrenInOrder(dialog);
    ASSERT_EQ(children.size(), kControlCount);
    for (size_t i = 0; i < kControlCount; ++i) {
        const ControlRow &row = kControls[i];
        if (!row.text)
            continue;
        std::string actual = WindowText(children[i]);
        EXPECT_EQ(actual, row.text) << "control #" << i << " id " << row.id << "\n  expected bytes "
                                    << Hex(row.text) << "\n  actual bytes   " << Hex(actual);
    }
    EXPECT_NE(SendDlgItemMessageA(dialog, IDC_ANIMATION, STM_GETICON, 0, 0), 0)
        << "the animation control shows no icon";
}

TEST_F(MainDialog, ControlsSitAtTheirPlaces)
{
    std::vector<HWND> children = ChildrenInOrder(dialog);
    ASSERT_EQ(children.size(), kControlCount);
    for (size_t i = 0; i < kControlCount; ++i) {
        const ControlRow &row = kControls[i];
        RECT want = DialogUnitsToPixels(dialog, row.x, row.y, row.width, row.height);
        RECT got = RectInParent(children[i]);
        std::string message = "control #" + std::to_string(i) + " id " + std::to_string(row.id) +
                              " expected (" + std::to_string(want.left) + "," + std::to_string(want.top) +
                              ")-(" + std::to_string(want.right) + "," + std::to_string(want.bottom) +
                              ") actual (" + std::to_string(got.left) + "," + std::to_string(got.top) +
                              ")-(" + std::to_string(got.right) + "," + std::to_string(got.bottom) + ")";
        EXPECT_TRUE(Near(got.left, want.left) && Near(got.top, want.top)) << message;
        bool tableSize = Near(got.right, want.right) && Near(got.bottom, want.bottom);
        if (row.id == IDC_ANIMATION) {
            // An icon control may take the size of its 32 x 32 icon instead.
            bool iconSize = got.right - got.left == 32 && got.bottom - got.top == 32;
            EXPECT_TRUE(tableSize || iconSize) << message;
            continue;
        }
        EXPECT_TRUE(tableSize) << message;
    }
}

TEST_F(MainDialog, TabGoesThroughTheTabStopsInTemplateOrder)
{
    const int expected[] = {IDC_ADDRESS, IDC_SEARCH, IDC_LOG, IDC_RELOAD, IDC_HANGUP,
                            IDC_IGNORE, IDC_OPTIONS, IDC_POWEROFF, IDC_RETRY};
    std::vector<int> order;
    HWND first = GetNextDlgTabItem(dialog, NULL, FALSE);
    ASSERT_NE(first, (HWND)NULL);
    HWND item = first;
    do {
        order.push_back(GetDlgCtrlID(item));
        item = GetNextDlgTabItem(dialog, item, FALSE);
    } while (item && item != first && order.size() < 64);
    std::string got;
    for (int id : order)
        got += std::to_string(id) + " ";
    ASSERT_EQ(order.size(), sizeof expected / sizeof expected[0]) << "tab order " << got;
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], expected[i]) << "tab stop #" << i << " in " << got;
}

TEST_F(MainDialog, WindowAcceptsFilesHasACaptionAndCannotBeResized)
{
    DWORD style = (DWORD)GetWindowLongA(dialog, GWL_STYLE);
    DWORD exStyle = (DWORD)GetWindowLongA(dialog, GWL_EXSTYLE);
    EXPECT_NE(exStyle & WS_EX_ACCEPTFILES, 0u) << std::hex << exStyle;
    EXPECT_EQ(style & WS_CAPTION, (DWORD)WS_CAPTION) << std::hex << style;
    EXPECT_NE(style & WS_SYSMENU, 0u) << std::hex << style;
    EXPECT_NE(style & WS_MINIMIZEBOX, 0u) << std::hex << style;
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u) << std::hex << style;
    EXPECT_EQ(style & WS_CHILD, 0u) << std::hex << style;
    EXPECT_EQ(WindowText(dialog), "Parvel 1st MIX");
}

TEST_F(MainDialog, WindowSitsAtItsScreenPlaceWithItsSize)
{
    // The template's place is that of the client area, on the screen itself.
    RECT want = DialogUnitsToPixels(dialog, 24, 21, 251, 187);
    RECT client;
    GetClientRect(dialog, &client);
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    EXPECT_TRUE(Near(origin.x, want.left) && Near(origin.y, want.top))
        << "expected " << want.left << "," << want.top << " actual " << origin.x << "," << origin.y;
    EXPECT_TRUE(Near(client.right, want.right - want.left) && Near(client.bottom, want.bottom - want.top))
        << "expected " << want.right - want.left << "x" << want.bottom - want.top << " actual "
        << client.right << "x" << client.bottom;
}

TEST_F(MainDialog, WindowUsesTheNinePointGothicFont)
{
    HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    ASSERT_NE(font, (HFONT)NULL);
    LOGFONTA face;
    ASSERT_NE(GetObjectA(font, sizeof face, &face), 0);
    EXPECT_EQ(std::string(face.lfFaceName), "ＭＳ Ｐゴシック") << Hex(face.lfFaceName);
    HDC screen = GetDC(NULL);
    int height = -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(NULL, screen);
    EXPECT_EQ(face.lfHeight, height);
}

// The fixed part of an extended dialog template, as the resource stores it.
#pragma pack(push, 1)
struct DialogTemplateHead {
    WORD version;
    WORD signature;
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
    WORD items;
    short x, y, cx, cy;
};
#pragma pack(pop)

// A name-or-number field of a dialog template; moves past it.
std::wstring TemplateField(const WORD *&at)
{
    if (*at == 0xFFFF) {
        std::wstring number = L"#" + std::to_wstring(at[1]);
        at += 2;
        return number;
    }
    std::wstring text;
    while (*at)
        text += (wchar_t)*at++;
    ++at;
    return text;
}

TEST(DialogTemplate, HeaderGivesPlaceSizeStylesAndFont)
{
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_MAIN), (LPCSTR)RT_DIALOG);
    ASSERT_NE(found, (HRSRC)NULL);
    const BYTE *bytes = (const BYTE *)LockResource(LoadResource(module, found));
    ASSERT_NE(bytes, (const BYTE *)NULL);
    ASSERT_GE(SizeofResource(module, found), sizeof(DialogTemplateHead));
    DialogTemplateHead head;
    memcpy(&head, bytes, sizeof head);
    EXPECT_EQ(head.version, 1);
    EXPECT_EQ(head.signature, 0xFFFF);
    EXPECT_EQ(head.items, kControlCount);
    EXPECT_EQ(head.x, 24);
    EXPECT_EQ(head.y, 21);
    EXPECT_EQ(head.cx, 251);
    EXPECT_EQ(head.cy, 187);
    EXPECT_EQ(head.exStyle, (DWORD)WS_EX_ACCEPTFILES);
    const DWORD wanted = DS_SETFOREGROUND | DS_ABSALIGN | DS_SETFONT | WS_CAPTION | WS_SYSMENU |
                         WS_MINIMIZEBOX | WS_POPUP;
    EXPECT_EQ(head.style & wanted, wanted) << std::hex << head.style;
    EXPECT_EQ(head.style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_VISIBLE), 0u) << std::hex << head.style;

    const WORD *at = (const WORD *)(bytes + sizeof head);
    EXPECT_EQ(TemplateField(at), L"") << "menu";
    EXPECT_EQ(TemplateField(at), L"") << "window class";
    EXPECT_EQ(TemplateField(at), L"Parvel 1st MIX") << "caption";
    EXPECT_EQ(at[0], 9) << "point size";
    at += 3;  // point size, weight, italic and character set
    EXPECT_EQ(TemplateField(at), L"ＭＳ Ｐゴシック") << "font";
}

// The fixed part of one control of an extended dialog template.
#pragma pack(push, 1)
struct DialogItemHead {
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
};
#pragma pack(pop)

const WORD *AlignToDword(const BYTE *start, const WORD *at)
{
    size_t offset = (const BYTE *)at - start;
    return (const WORD *)(start + ((offset + 3) & ~(size_t)3));
}

// The predefined classes that a template names by number.
std::wstring ClassOfTemplateField(const std::wstring &field)
{
    if (field == L"#128") return L"Button";
    if (field == L"#129") return L"Edit";
    if (field == L"#130") return L"Static";
    if (field == L"#131") return L"ListBox";
    return field;
}

std::wstring Widen(const char *text)
{
    std::wstring wide;
    for (; *text; ++text)
        wide += (wchar_t)(unsigned char)*text;
    return wide;
}

TEST(DialogTemplate, ControlsHaveTheirExactStylesIdsClassesAndPlaces)
{
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_MAIN), (LPCSTR)RT_DIALOG);
    ASSERT_NE(found, (HRSRC)NULL);
    const BYTE *bytes = (const BYTE *)LockResource(LoadResource(module, found));
    const BYTE *end = bytes + SizeofResource(module, found);
    DialogTemplateHead head;
    memcpy(&head, bytes, sizeof head);
    ASSERT_EQ(head.items, kControlCount);
    const WORD *at = (const WORD *)(bytes + sizeof head);
    TemplateField(at);  // menu
    TemplateField(at);  // class
    TemplateField(at);  // caption
    at += 3;            // point size, weight, italic and character set
    TemplateField(at);  // font
    for (size_t i = 0; i < kControlCount; ++i) {
        const ControlRow &row = kControls[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(row.id));
        at = AlignToDword(bytes, at);
        ASSERT_LE((const BYTE *)at + sizeof(DialogItemHead), end);
        DialogItemHead item;
        memcpy(&item, at, sizeof item);
        at = (const WORD *)((const BYTE *)at + sizeof item);
        std::wstring cls = ClassOfTemplateField(TemplateField(at));
        TemplateField(at);  // text, checked on the live control
        WORD extra = *at++;
        at = (const WORD *)((const BYTE *)at + extra);
        EXPECT_EQ(item.style, row.classStyle | row.windowBits) << std::hex << "style " << item.style;
        EXPECT_EQ(item.exStyle, 0u) << std::hex << item.exStyle;
        EXPECT_EQ((int)item.id, row.id);
        EXPECT_EQ(_wcsicmp(cls.c_str(), Widen(row.cls).c_str()), 0) << "class " << std::string(cls.begin(), cls.end());
        EXPECT_EQ(item.x, row.x);
        EXPECT_EQ(item.y, row.y);
        EXPECT_EQ(item.cx, row.width);
        EXPECT_EQ(item.cy, row.height);
    }
}

struct StringRow {
    int id;
    const char *text;
};

// The whole string table; every id from 1 to 42 that is not here is absent.
const StringRow kStrings[] = {
    {1, "%s / Parvel 1st MIX"},
    {2, "Parvel 1st MIX"},
    {6, "要求に失敗\nアドレスが違うかパスワードが要求されました。"},
    {7, "ファイルが見つかりません"},
    {9, "更新されていないのでダウンロードしません"},
    {10, "ダウンロード中. . .%s"},
    {11, "%s : %lldバイト受信済み\n効率%ldバイト/秒"},
    {12, "%s : サイズ %lld/%lld %d％受信済み\n効率%ldバイト/秒 残り%ld分%ld秒"},
    {13, "ダウンロードが終わりました"},
    {15, "* ﾀﾞｳﾝﾛｰﾄﾞしたデータの保存先"},
    {18, "中止処理をしています……"},
    {20, "* サイズが合いません（中断かタイムアウト）"},
    {22, "* ｼｮｰﾄｶｯﾄの保存先"},
    {23, "FTPｻｰﾊﾞｰに %s を要求しています..."},
    {24, "* %s はレジューム可能"},
    {25, "* %s はレジューム不可"},
    {26, "* ダウンロード合計 %lldKバイト"},
    {27, "レジューム機能"},
    {28, "EXE,ZIP,LZHを無視"},
    {29, "INDEX.*を無視"},
    {30, "画像(GIF,JPEG)を無視"},
    {31, "画像、実行、圧縮、CGIを無視"},
    {32, "キャッシュへ登録"},
    {33, "外部ｻｰﾊﾞのﾃﾞｰﾀも読む(HTML除く)"},
    {34, "FTPを使う"},
    {35, "保存先の変更..."},
    {36, "ｼｮｰﾄｶｯﾄ作成先の変更..."},
    {37, "中止"},
    {38, "ｽｷｯﾌﾟ"},
    {39, "探索"},
    {40, "ダウンロード中. . . %s\n(%d 回目)"},
    {41, "証明書の誤りを無視する"},
    {42, "CSS・新しいタグも読む"},
};

const char *ExpectedString(int id)
{
    for (const StringRow &row : kStrings)
        if (row.id == id)
            return row.text;
    return NULL;
}

TEST(StringTable, EveryIdLoadsAsItsShiftJisTextOrIsAbsent)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    for (int id = 1; id <= 42; ++id) {
        char buffer[260];
        memset(buffer, 'x', sizeof buffer);
        int length = LoadStringA(instance, (UINT)id, buffer, sizeof buffer);
        const char *expected = ExpectedString(id);
        if (!expected) {
            EXPECT_EQ(length, 0) << "string " << id << " should not exist";
            continue;
        }
        std::string actual(buffer, length > 0 ? (size_t)length : 0);
        EXPECT_EQ(actual, expected) << "string " << id << "\n  expected bytes " << Hex(expected)
                                    << "\n  actual bytes   " << Hex(actual);
        EXPECT_EQ(buffer[length > 0 ? length : 0], '\0') << "string " << id;
    }
}

TEST(StringTable, JapaneseTextsBecomeShiftJisBytes)
{
    // "探索" and the half-width "ｽｷｯﾌﾟ": double-byte and single-byte kana.
    char buffer[260];
    ASSERT_EQ(LoadStringA(GetModuleHandleA(NULL), IDS_SEARCH, buffer, sizeof buffer), 4);
    EXPECT_EQ(Hex(buffer), "92 54 8D F5 ");
    ASSERT_EQ(LoadStringA(GetModuleHandleA(NULL), IDS_SKIP, buffer, sizeof buffer), 5);
    EXPECT_EQ(Hex(buffer), "BD B7 AF CC DF ");
}

// The manifest, linked into this test program as into the product, makes the
// process DPI aware and loads the common controls 6 (visual styles) from the
// side-by-side assembly that it names.
TEST(Manifest, MakesTheProgramDpiAwareWithCommonControls6)
{
    EXPECT_TRUE(IsProcessDPIAware());
    HMODULE controls = LoadLibraryA("comctl32.dll");
    ASSERT_NE(controls, (HMODULE)NULL);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(controls, path, MAX_PATH);
    CharLowerA(path);
    EXPECT_NE(strstr(path, "microsoft.windows.common-controls_6595b64144ccf1df_6."), nullptr) << path;
    FreeLibrary(controls);
}

const int kIcons[] = {IDI_MAIN, IDI_WAIT, IDI_DONE, IDI_FOLDER};

// Width and height of the image that the icon group offers for a size.
void IconImageSize(int group, int size, LONG *width, LONG *height)
{
    HMODULE module = GetModuleHandleA(NULL);
    *width = *height = 0;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(group), (LPCSTR)RT_GROUP_ICON);
    if (!found)
        return;
    PBYTE directory = (PBYTE)LockResource(LoadResource(module, found));
    int image = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC icon = image ? FindResourceA(module, MAKEINTRESOURCEA(image), (LPCSTR)RT_ICON) : NULL;
    if (!icon || SizeofResource(module, icon) < sizeof(BITMAPINFOHEADER))
        return;
    BITMAPINFOHEADER header;
    memcpy(&header, LockResource(LoadResource(module, icon)), sizeof header);
    *width = header.biWidth;
    *height = header.biHeight / 2;  // colour image and mask
}

TEST(Pictures, EveryIconLoadsAndHoldsSmallAndLargeImages)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    for (int id : kIcons) {
        EXPECT_NE(LoadIconA(instance, MAKEINTRESOURCEA(id)), (HICON)NULL) << "icon " << id;
        for (int size : {16, 32}) {
            LONG width, height;
            IconImageSize(id, size, &width, &height);
            EXPECT_EQ(width, size) << "icon " << id << " size " << size;
            EXPECT_EQ(height, size) << "icon " << id << " size " << size;
            HANDLE image = LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0);
            EXPECT_NE(image, (HANDLE)NULL) << "icon " << id << " size " << size;
            if (image)
                DestroyIcon((HICON)image);
        }
    }
}

TEST(Pictures, BitmapIsAStripOfFramesAtLeastFiveWide)
{
    HBITMAP strip = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_STRIP));
    ASSERT_NE(strip, (HBITMAP)NULL);
    BITMAP info;
    ASSERT_NE(GetObjectA(strip, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth % 32, 0) << info.bmWidth;
    EXPECT_GE(info.bmWidth / 32, 5) << info.bmWidth;
    EXPECT_GE(info.bmHeight, 32);
    DeleteObject(strip);
}

std::vector<unsigned char> ReadFileBesideProgram(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::vector<unsigned char> bytes;
    if (length == 0 || length >= sizeof path)
        return bytes;
    char *slash = strrchr(path, '\\');
    if (!slash || (size_t)(slash + 1 - path) + strlen(name) >= sizeof path)
        return bytes;
    strcpy(slash + 1, name);
    FILE *file = fopen(path, "rb");
    if (!file)
        return bytes;
    unsigned char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    fclose(file);
    return bytes;
}

TEST(Pictures, StripFileHasTheLayoutTheLoaderExpects)
{
    std::vector<unsigned char> file = ReadFileBesideProgram("qex.bmp");
    ASSERT_GE(file.size(), sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))
        << "qex.bmp missing beside the test program";
    BITMAPFILEHEADER head;
    BITMAPINFOHEADER info;
    memcpy(&head, file.data(), sizeof head);
    memcpy(&info, file.data() + sizeof head, sizeof info);
    EXPECT_EQ(head.bfType, 0x4D42);  // "BM"
    EXPECT_EQ(head.bfSize, file.size());
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biPlanes, 1);
    EXPECT_EQ(info.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(info.biWidth % 32, 0) << info.biWidth;
    EXPECT_GE(info.biWidth / 32, 5) << "frames 0..3 and the idle frame";
    EXPECT_GE(info.biHeight, 32);
    ASSERT_TRUE(info.biBitCount == 8 || info.biBitCount == 24) << info.biBitCount;
    // The loader finds the pixels right after the colour table.
    DWORD entries = info.biBitCount > 8 ? 0 : (info.biClrUsed ? info.biClrUsed : 1u << info.biBitCount);
    EXPECT_EQ(head.bfOffBits, sizeof head + 40 + 4 * entries);
    DWORD row = ((DWORD)info.biWidth * info.biBitCount / 8 + 3) & ~3u;
    EXPECT_GE(file.size(), head.bfOffBits + row * (DWORD)info.biHeight);
}

}  // namespace
