// app/boxes.cpp — check boxes the engine reads, answered without the window's thread.
// A box's state is kept beside it as the box itself changes it, so a fetch worker reading
// the retry or reload box does not wait while the window thread draws.
#include "app/surface.h"

// A mirrored box: its own procedure and its state, held in its user data.
struct MirroredBox {
    WNDPROC original;
    volatile LONG checked;
};

static LRESULT CALLBACK MirrorProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    MirroredBox *mirror = (MirroredBox *)GetWindowLongPtrA(box, GWLP_USERDATA);
    WNDPROC original = mirror->original;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(box, GWLP_WNDPROC, (LONG_PTR)original);
        SetWindowLongPtrA(box, GWLP_USERDATA, 0);
        delete mirror;
        return CallWindowProcA(original, box, message, wParam, lParam);
    }
    LRESULT result = CallWindowProcA(original, box, message, wParam, lParam);
    // A click and CheckDlgButton both reach the box as BM_SETCHECK.
    if (message == BM_SETCHECK)
        InterlockedExchange(&mirror->checked, (LONG)CallWindowProcA(original, box, BM_GETCHECK, 0, 0));
    return result;
}

bool MirrorCheckBox(HWND window, int id)
{
    HWND box = GetDlgItem(window, id);
    if (box == NULL || GetWindowLongPtrA(box, GWLP_WNDPROC) == (LONG_PTR)MirrorProc)
        return box != NULL;
    MirroredBox *mirror = new MirroredBox{NULL, (LONG)SendMessageA(box, BM_GETCHECK, 0, 0)};
    SetWindowLongPtrA(box, GWLP_USERDATA, (LONG_PTR)mirror);
    mirror->original = (WNDPROC)SetWindowLongPtrA(box, GWLP_WNDPROC, (LONG_PTR)MirrorProc);
    return true;
}

UINT IsBoxChecked(HWND window, int id)
{
    HWND box = GetDlgItem(window, id);
    if (box != NULL && GetWindowLongPtrA(box, GWLP_WNDPROC) == (LONG_PTR)MirrorProc)
        return (UINT)((MirroredBox *)GetWindowLongPtrA(box, GWLP_USERDATA))->checked;
    return IsDlgButtonChecked(window, id);
}
