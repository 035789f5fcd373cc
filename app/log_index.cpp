// app/log_index.cpp — the access log's index: visited-list look-ups in logarithmic time.
// The log list box is subclassed, so every change to its lines reaches the index
// on the window's own thread: no lock, and no way to change the lines around it.
#include "app/surface.h"

#include <map>
#include <string>

namespace {

// The list box's own comparison in LB_FINDSTRINGEXACT: UTF-16 text compared
// in the list box's locale, case ignored. On this comparison the index is
// ordered, so two lines are one key exactly when the list box finds one for
// the other.
struct LocaleLess {
    LCID locale;
    bool operator()(const std::wstring &a, const std::wstring &b) const
    {
        return CompareStringW(locale, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
    }
};

// Each line as the comparison tells lines apart, with the number of the
// first line holding it (the one LB_FINDSTRINGEXACT answers).
typedef std::map<std::wstring, LRESULT, LocaleLess> LineIndex;

std::wstring LineText(HWND list, LRESULT line)
{
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, (WPARAM)line, 0);
    if (length < 0)
        return std::wstring();
    std::wstring text((size_t)length + 1, L'\0');
    length = SendMessageW(list, LB_GETTEXT, (WPARAM)line, (LPARAM)&text[0]);
    text.resize(length < 0 ? 0 : (size_t)length);
    return text;
}

// Reads every line again: after a change that moves line numbers or the
// comparison (a line put between others, a line deleted, a new locale).
void RebuildIndex(HWND list, LineIndex *index)
{
    *index = LineIndex(LocaleLess{(LCID)SendMessageW(list, LB_GETLOCALE, 0, 0)});
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT line = 0; line < count; ++line)
        index->emplace(LineText(list, line), line);
}

// A line the list box took in as number line (negative: it took none). Its
// text is read back from the list box: the message carried it in the
// character set of whoever sent it, the list box holds it as UTF-16.
void NoteAddedLine(HWND list, LineIndex *index, LRESULT line)
{
    if (line < 0)
        return;
    if (line == SendMessageW(list, LB_GETCOUNT, 0, 0) - 1)
        index->emplace(LineText(list, line), line);
    else
        RebuildIndex(list, index);
}

// Keeps the index in step with a message the list box has just carried out.
void FollowChange(HWND list, LineIndex *index, UINT message, LRESULT result)
{
    switch (message) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
        NoteAddedLine(list, index, result);
        break;
    case LB_RESETCONTENT:
        index->clear();
        break;
    case LB_DELETESTRING:
    case LB_DIR:
    case LB_ADDFILE:
    case LB_SETLOCALE:
        RebuildIndex(list, index);
        break;
    }
}

// The ANSI text turned into UTF-16 with the ANSI code page, as the system
// turns the text of an ANSI list box message.
std::wstring WideText(const char *text)
{
    int size = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide((size_t)size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    wide.resize((size_t)size - 1);
    return wide;
}

// An empty text matches no line, as in LB_FINDSTRINGEXACT.
// A line left by an engine thread and not shown yet, against the text
// looked up: equal as the index orders them.
struct LeftLineKey {
    const LineIndex *index;
    std::wstring text;
};

bool IsLeftLineTheKey(const char *line, const void *key)
{
    const LeftLineKey *k = (const LeftLineKey *)key;
    std::wstring wide = WideText(line);
    return !k->index->key_comp()(wide, k->text) && !k->index->key_comp()(k->text, wide);
}

// The number of the line found in the index or, when none, among the lines
// left to be shown (the count of lines shown then, plus its place among
// them); LB_ERR when neither holds it.
LRESULT FindLine(HWND list, const LineIndex &index, const char *text, LRESULT shownCount)
{
    if (text == NULL || text[0] == '\0')
        return LB_ERR;
    LeftLineKey key = {&index, WideText(text)};
    LineIndex::const_iterator found = index.find(key.text);
    if (found != index.end())
        return found->second;
    int left = FindLeftLogLine(GetParent(list), IsLeftLineTheKey, &key);
    return left < 0 ? LB_ERR : shownCount + left;
}

// Guards the indexes: changed on their window's thread, read from any.
SRWLOCK g_indexLock = SRWLOCK_INIT;

bool ChangesLines(UINT message)
{
    return message == LB_ADDSTRING || message == LB_INSERTSTRING || message == LB_RESETCONTENT ||
           message == LB_DELETESTRING || message == LB_DIR || message == LB_ADDFILE || message == LB_SETLOCALE;
}

// The list box's own procedure and the index, held in the list box's user data.
struct LogIndex {
    WNDPROC original;
    LineIndex lines;
};

LRESULT CALLBACK LogProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    LogIndex *index = (LogIndex *)GetWindowLongPtrW(list, GWLP_USERDATA);
    if (message == LOG_FINDLINE)
        return FindLine(list, index->lines, (const char *)lParam, SendMessageW(list, LB_GETCOUNT, 0, 0));
    WNDPROC original = index->original;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(list, GWLP_WNDPROC, (LONG_PTR)original);
        AcquireSRWLockExclusive(&g_indexLock);
        SetWindowLongPtrW(list, GWLP_USERDATA, 0);
        delete index;
        ReleaseSRWLockExclusive(&g_indexLock);
        return CallWindowProcW(original, list, message, wParam, lParam);
    }
    LRESULT result = CallWindowProcW(original, list, message, wParam, lParam);
    // What the list box is asked while the index follows (texts, counts)
    // changes nothing, so the lock is not taken twice.
    if (ChangesLines(message)) {
        AcquireSRWLockExclusive(&g_indexLock);
        FollowChange(list, &index->lines, message, result);
        ReleaseSRWLockExclusive(&g_indexLock);
    }
    return result;
}

} // namespace

// The list box is subclassed by hand rather than through the common controls'
// subclass chain: that one looks its data up on every message, which made
// each message to the log several times slower under Wine. Called on the
// window's own thread; a log indexed already is left as it is.
bool IndexAccessLog(HWND window)
{
    HWND list = GetDlgItem(window, IDC_LOG);
    if (list == NULL)
        return false;
    if (GetWindowLongPtrW(list, GWLP_WNDPROC) == (LONG_PTR)LogProc)
        return true;
    LogIndex *index = new LogIndex{NULL, LineIndex(LocaleLess{0})};
    SetWindowLongPtrW(list, GWLP_USERDATA, (LONG_PTR)index);
    AcquireSRWLockExclusive(&g_indexLock);
    RebuildIndex(list, &index->lines);
    ReleaseSRWLockExclusive(&g_indexLock);
    index->original = (WNDPROC)SetWindowLongPtrW(list, GWLP_WNDPROC, (LONG_PTR)LogProc);
    return true;
}

// A whole line, letters without case: a line that only begins with the text
// names another file ("a.html" is not "a.htm", "f.woff2" not "f.woff").
// Looked up on the caller's thread: a worker does not wait for the window
// thread, which may be busy drawing.
bool IsInVisitedList(HWND window, const char *text)
{
    HWND list = GetDlgItem(window, IDC_LOG);
    AcquireSRWLockShared(&g_indexLock);
    LogIndex *index = (LogIndex *)GetWindowLongPtrW(list, GWLP_USERDATA);
    bool indexed = list != NULL && GetWindowLongPtrW(list, GWLP_WNDPROC) == (LONG_PTR)LogProc && index != NULL;
    bool found = indexed && FindLine(list, index->lines, text, 0) != LB_ERR;
    ReleaseSRWLockShared(&g_indexLock);
    if (!indexed)
        found = SendMessageA(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text) != LB_ERR;
    return found;
}
