// Host model of Windows, part 2: dialogs, windows, GDI, cursors, the
// registry, INI files, special folders, the folder browser, OLE and the
// shell-link object, plus a few system calls.
//
// The model keeps just the behaviour the setup relies on. A dialog is a set
// of controls by id with text, check state, visibility and font; a test
// drives it as a person would (click, type, read) through the host_dialog_*
// calls below. COM objects are C-style vtables, as COM lays them out, with
// only the methods the setup calls; the *_Method macros match the Windows
// headers' C forms. Everything is single-threaded, like the setup itself.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/host/host_base.h"

typedef unsigned long ULONG;
typedef DWORD REGSAM;
typedef uintptr_t ULONG_PTR;

#define LOWORD(value) ((WORD)(((uintptr_t)(value)) & 0xffff))
#define MAKEINTRESOURCEA(id) ((LPSTR)(uintptr_t)(WORD)(id))

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
HWND GetDlgItem(HWND dialog, int id);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max_count);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL ShowWindow(HWND window, int command);
HWND SetFocus(HWND window);
BOOL SetWindowTextA(HWND window, LPCSTR text);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
HWND GetDesktopWindow();
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
HWND FindWindowA(LPCSTR class_name, LPCSTR window_name);

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

#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR SetCursor(HCURSOR cursor);

// ---- System ----

#define SEM_FAILCRITICALERRORS 0x0001
#define CP_ACP 0
UINT SetErrorMode(UINT mode);
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
UINT GetWindowsDirectoryA(LPSTR path, UINT size);
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wide_count);
// The host's clock is virtual: Sleep advances it, nothing else does.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

// ---- Registry ----

struct HKEY__;
typedef HKEY__ *HKEY;
typedef HKEY *PHKEY;

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define REG_OPTION_NON_VOLATILE 0
#define REG_SZ 1
#define ERROR_MORE_DATA 234

LONG RegOpenKeyExA(HKEY root, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExA(HKEY root, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD size);
LONG RegCloseKey(HKEY key);

// ---- INI files ----

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR value,
                               DWORD size, LPCSTR file);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

// ---- COM ----

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;

#define S_OK ((HRESULT)0)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_FAIL ((HRESULT)0x80004005u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0u)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define CLSCTX_INPROC_SERVER 0x1

struct IUnknown;
typedef IUnknown *LPUNKNOWN;

extern const CLSID CLSID_ShellLink;
extern const IID IID_IShellLinkA;
extern const IID IID_IPersistFile;

HRESULT OleInitialize(LPVOID reserved);
void OleUninitialize();
HRESULT CoCreateInstance(REFCLSID class_id, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID *object);

struct IShellLinkA;
struct IShellLinkAVtbl {
    HRESULT (*QueryInterface)(IShellLinkA *self, REFIID iid, void **object);
    ULONG (*AddRef)(IShellLinkA *self);
    ULONG (*Release)(IShellLinkA *self);
    HRESULT (*SetDescription)(IShellLinkA *self, LPCSTR description);
    HRESULT (*SetWorkingDirectory)(IShellLinkA *self, LPCSTR folder);
    HRESULT (*SetPath)(IShellLinkA *self, LPCSTR path);
};
struct IShellLinkA {
    const IShellLinkAVtbl *lpVtbl;
};
#define IShellLinkA_QueryInterface(This, riid, ppv) (This)->lpVtbl->QueryInterface(This, riid, ppv)
#define IShellLinkA_Release(This) (This)->lpVtbl->Release(This)
#define IShellLinkA_SetDescription(This, text) (This)->lpVtbl->SetDescription(This, text)
#define IShellLinkA_SetWorkingDirectory(This, dir) (This)->lpVtbl->SetWorkingDirectory(This, dir)
#define IShellLinkA_SetPath(This, file) (This)->lpVtbl->SetPath(This, file)

struct IPersistFile;
struct IPersistFileVtbl {
    HRESULT (*QueryInterface)(IPersistFile *self, REFIID iid, void **object);
    ULONG (*AddRef)(IPersistFile *self);
    ULONG (*Release)(IPersistFile *self);
    HRESULT (*Save)(IPersistFile *self, LPCWSTR file_name, BOOL remember);
};
struct IPersistFile {
    const IPersistFileVtbl *lpVtbl;
};
#define IPersistFile_Release(This) (This)->lpVtbl->Release(This)
#define IPersistFile_Save(This, name, remember) (This)->lpVtbl->Save(This, name, remember)

// ---- Shell ----

// An item list of the host shell holds the file-system path it stands for.
struct ITEMIDLIST {
    char path[MAX_PATH];
};
typedef ITEMIDLIST *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;
typedef LPITEMIDLIST PIDLIST_ABSOLUTE;
typedef LPITEMIDLIST PIDLIST_RELATIVE;
typedef LPCITEMIDLIST PCIDLIST_ABSOLUTE;

#define CSIDL_DESKTOP 0x0000
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_COMMON_PROGRAMS 0x0017

struct IMalloc;
struct IMallocVtbl {
    HRESULT (*QueryInterface)(IMalloc *self, REFIID iid, void **object);
    ULONG (*AddRef)(IMalloc *self);
    ULONG (*Release)(IMalloc *self);
    void (*Free)(IMalloc *self, void *block);
};
struct IMalloc {
    const IMallocVtbl *lpVtbl;
};
#define IMalloc_Release(This) (This)->lpVtbl->Release(This)
#define IMalloc_Free(This, block) (This)->lpVtbl->Free(This, block)

struct IBindCtx;
struct IShellFolder;
typedef HRESULT ParseDisplayNameMethod(IShellFolder *self, HWND owner, IBindCtx *bind, LPWSTR name,
                                       ULONG *eaten, PIDLIST_RELATIVE *items, ULONG *attributes);
struct IShellFolderVtbl {
    HRESULT (*QueryInterface)(IShellFolder *self, REFIID iid, void **object);
    ULONG (*AddRef)(IShellFolder *self);
    ULONG (*Release)(IShellFolder *self);
    ParseDisplayNameMethod *ParseDisplayName;
};
struct IShellFolder {
    const IShellFolderVtbl *lpVtbl;
};
#define IShellFolder_Release(This) (This)->lpVtbl->Release(This)
#define IShellFolder_ParseDisplayName(This, hwnd, pbc, name, eaten, ppidl, attributes)             \
    (This)->lpVtbl->ParseDisplayName(This, hwnd, pbc, name, eaten, ppidl, attributes)

typedef int(CALLBACK *BFFCALLBACK)(HWND window, UINT message, LPARAM lparam, LPARAM data);
struct BROWSEINFOA {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPSTR pszDisplayName;
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
typedef BROWSEINFOA *LPBROWSEINFOA;

#define BIF_RETURNONLYFSDIRS 0x0001
#define BFFM_INITIALIZED 1
#define BFFM_SETSELECTIONA (WM_USER + 102)

HRESULT SHGetSpecialFolderLocation(HWND owner, int csidl, PIDLIST_ABSOLUTE *items);
BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE items, LPSTR path);
HRESULT SHGetMalloc(IMalloc **shell_malloc);
HRESULT SHGetDesktopFolder(IShellFolder **folder);
PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA info);

// ---- Test and tool control of the host model (not Win32) ----

// Puts every part of this model back to its start: no windows or dialogs,
// empty registry, default special folders, counters at zero, no message
// boxes or control texts recorded. Files under the root are left alone.
void host_shell_reset();

// The dialog template the program's resources hold for an id: its controls.
enum HostControlKind {
    host_push_button,
    host_check_box, // automatic: a click toggles it
    host_static_text,
    host_edit_box,
    host_group_box,
    host_picture,
};
struct HostControlTemplate {
    int id;
    HostControlKind kind;
    const char *text;
    bool visible;
};
struct HostDialogTemplate {
    int id;
    int width_units; // dialog units
    int height_units;
    const HostControlTemplate *controls;
    int control_count;
};
// nullptr for an id the resources do not hold.
const HostDialogTemplate *host_dialog_template(int id);

// Creates the dialog of template_id and sends WM_INITDIALOG to proc; the
// new dialog becomes the current one that the calls below act on. nullptr
// when the template does not exist.
HWND host_dialog_start(int template_id, DLGPROC proc, LPARAM param);
// DialogBoxParamA starts the dialog and then calls this driver, which plays
// the user; it returns the EndDialog result, or -1 when the driver returned
// without the dialog having ended.
void host_set_dialog_driver(std::function<void(HWND dialog)> driver);
// A click on a control: a visible check box toggles first, then the dialog
// gets WM_COMMAND with the id. Returns -1 (and does nothing) for a control
// that does not exist, is hidden, or when the dialog has ended.
int host_dialog_click(int id);
// Typing: replaces the text of an edit box.
void host_dialog_set_text(int id, const char *text);
std::string host_dialog_text(int id);
bool host_dialog_checked(int id);
bool host_dialog_visible(int id); // id 0: the dialog itself
int host_dialog_focus();          // id of the focused control, 0 for none
HFONT host_dialog_font(int id);
std::string host_dialog_caption();
RECT host_dialog_rect();
bool host_dialog_ended();
INT_PTR host_dialog_result();

// The desktop's window rectangle (default 0, 0, 1024, 768) and the screen's
// vertical resolution (default 96).
void host_set_desktop_rect(RECT rect);
void host_set_screen_dpi(int dpi);
// Device contexts handed out by GetDC and not yet released.
int host_open_device_contexts();
// When set, CreateFontIndirectA fails.
void host_set_font_creation_fails(bool fails);
// The last font CreateFontIndirectA made, and how many it made.
const LOGFONTA &host_last_font();
int host_fonts_created();
HCURSOR host_current_cursor();
HCURSOR host_wait_cursor();

// A top-level window of another program that FindWindowA can find. It goes
// away on the vanish_after-th WM_DESTROY (0: never); each WM_DESTROY costs
// busy_ms on the virtual clock.
HWND host_add_window(const char *class_name, const char *title, int vanish_after, DWORD busy_ms);
int host_window_destroy_count(HWND window);
bool host_window_exists(HWND window);
// What happened to windows, in order: "destroy <class>" for each WM_DESTROY
// sent to a registered window, "show dialog" when a dialog became visible.
std::vector<std::string> &host_window_events();

// The registry. Key paths are case-insensitive, like value names.
void host_registry_set(HKEY root, const char *key, const char *name, const char *value);
bool host_registry_get(HKEY root, const char *key, const char *name, std::string *value);
bool host_registry_key_exists(HKEY root, const char *key);
// Models a user without administrator rights: HKLM cannot be opened for
// writing or created.
void host_registry_deny_machine_writes(bool deny);

void host_set_module_path(const char *windows_path);
void host_set_windows_directory(const char *windows_path);
UINT host_error_mode();

// Special folders: a Windows path per CSIDL, nullptr for "not available".
// Defaults: desktop C:\Users\User\Desktop, programs C:\Users\User\Start
// Menu\Programs, common programs C:\ProgramData\Start Menu\Programs.
void host_set_special_folder(int csidl, const char *windows_path);
// Item lists handed out by the shell and not yet freed; references to COM
// objects not yet released.
int host_shell_live_item_lists();
int host_shell_live_objects();

// The folder browser: the folder the "user" picks (nullptr: cancel).
void host_set_browse_choice(const char *windows_path);
struct HostBrowseRecord {
    int calls;
    HWND owner;
    UINT flags;
    bool had_root;
    bool had_callback;
    std::string preselected; // path selected through BFFM_SETSELECTIONA
};
const HostBrowseRecord &host_browse_record();

int host_ole_initialize_count();
int host_ole_uninitialize_count();
// When set, CoCreateInstance of the shell link fails.
void host_set_shell_link_unavailable(bool unavailable);
// A link file written by the host shell-link object.
struct HostShellLink {
    std::string target;
    std::string working_folder;
    std::string description;
};
bool host_read_shell_link(const char *windows_path, HostShellLink *link);

// ---- Between the host files (not for tests) ----

void host_reset_windows();
void host_reset_registry();
void host_reset_system();
// The folder browser's own window, for the callback's messages.
HWND host_open_browser_window();
void host_close_browser_window(HWND window);
void host_note_browse_selection(WPARAM is_path, LPARAM selection);
