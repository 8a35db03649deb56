// Win32 on Linux, part 5: COM and the shell (special folders, item lists,
// the folder browser, the shell-link object), as the setup front end calls
// them; tests/winmodel/shell.cpp implements them. COM objects are C-style
// vtables, as COM lays them out, with only the methods the setup calls; the
// *_Method macros match the Windows headers' C forms.
#pragma once

#include "platform/host/win32_windows.h"

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

// An item list of the Linux shell (the Windows model's) holds the file-system
// path it stands for.
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
