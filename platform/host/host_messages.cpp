// Message boxes and control texts for the Linux tools, which have no windows:
// a message box is its caption and text on standard error, answered with OK,
// and a control text has no control to go to or to repaint. (The tools keep
// the setup's language unset, so the extraction driver shows them no message
// box; the tests link the Windows model's versions, which record both.)
#include <cstdio>

#include "platform/win32_api.h"

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

BOOL SetDlgItemTextA(HWND, int, LPCSTR) {
    return FALSE;
}

HWND GetDlgItem(HWND, int) {
    return nullptr;
}

BOOL UpdateWindow(HWND) {
    return FALSE;
}
