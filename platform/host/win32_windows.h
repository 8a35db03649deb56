// Win32 on Linux, part 2: windows and dialogs, GDI and cursors, as the setup
// front end calls them. Only the tests' Windows model implements them
// (tests/winmodel/dialog.cpp); the Linux tools have no windows.
#pragma once

#include "platform/host/win32_base.h"

// ---- Windows and dialogs ----

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT *LPRECT;

typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define WM_DESTROY 0x0002
#define WM_SETFONT 0x0030
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_USER 0x0400

#define BST_UNCHECKED 0
#define BST_CHECKED 1

#define SW_HIDE 0
#define SW_SHOW 5

#define SWP_NOSIZE 0x0001
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC proc,
                        LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max_count);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL ShowWindow(HWND window, int command);
HWND SetFocus(HWND window);
BOOL SetWindowTextA(HWND window, LPCSTR text);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
#define SMTO_NORMAL 0x0000
#define SMTO_ABORTIFHUNG 0x0002
// Nonzero when the window handled the message within timeout_ms; 0 when the
// time ran out or the window's thread does not respond.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT flags,
                            UINT timeout_ms, PDWORD_PTR result);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
HWND GetDesktopWindow();
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
HWND FindWindowA(LPCSTR class_name, LPCSTR window_name);
// Dialog units to pixels, by the dialog's font at the screen's resolution.
BOOL MapDialogRect(HWND dialog, LPRECT rect);
void DisableProcessWindowsGhosting();

// ---- GDI and cursors ----

struct HDC__;
typedef HDC__ *HDC;
struct HFONT__;
typedef HFONT__ *HFONT;
struct HCURSOR__;
typedef HCURSOR__ *HCURSOR;

#define LOGPIXELSY 90
#define LF_FACESIZE 32
#define FW_NORMAL 400
#define ANSI_CHARSET 0
#define OUT_STRING_PRECIS 1
#define CLIP_STROKE_PRECIS 2
#define DRAFT_QUALITY 1
#define VARIABLE_PITCH 2
#define FF_SWISS 0x20

struct LOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
};

HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int GetDeviceCaps(HDC dc, int index);
int MulDiv(int number, int numerator, int denominator);
HFONT CreateFontIndirectA(const LOGFONTA *font);

typedef void *HGDIOBJ;
#define IMAGE_BITMAP 0
#define LR_DEFAULTCOLOR 0x0000
#define STM_SETIMAGE 0x0172
// A bitmap of the module's resources, stretched to cx by cy pixels (0: its
// own size); nullptr when there is no such resource.
HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
BOOL DeleteObject(HGDIOBJ object);

#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR SetCursor(HCURSOR cursor);
