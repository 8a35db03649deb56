#include "setup/shell_links.h"

#include <cstdio>
#include <cstring>

#include "setup/paths.h"
#include "setup/product.h"

static const char group_folder_name[] = "Navigrove";
static const char link_extension[] = ".lnk";

// Appends text when the result fits the 260-character buffer; 0 when it did.
static int append_text(char *path, const char *text) {
    size_t length = strlen(path);
    size_t added = strlen(text);
    if (length + added >= MAX_PATH)
        return 1;
    memcpy(path + length, text, added + 1);
    return 0;
}

// append_backslash that reports whether the path still has room for a name.
static int end_with_backslash(char *path) {
    append_backslash(path);
    size_t length = strlen(path);
    return length == 0 || path[length - 1] != '\\';
}

void trim_to_parent_folder(char *path) {
    char *cut = nullptr;
    for (char *p = path; *p; ++p)
        if (*p == '\\' || *p == '/')
            cut = p;
    if (!cut) {
        path[0] = 0;
        return;
    }
    if (cut - path == 2 && path[1] == ':') // X:\ keeps its separator
        ++cut;
    *cut = 0;
}

void get_special_folder_path(int csidl, char *path) {
    LPITEMIDLIST items = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, csidl, &items) != S_OK || !items)
        return;
    SHGetPathFromIDListA(items, path);
    IMalloc *shell_malloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shell_malloc)) && shell_malloc) {
        IMalloc_Free(shell_malloc, items);
        IMalloc_Release(shell_malloc);
    }
}

HRESULT create_shell_link(const char *target, const char *working_folder, const char *link_file,
                          const char *description) {
    IShellLinkA *link = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, reinterpret_cast<void **>(&link));
    if (FAILED(result) || !link)
        return FAILED(result) ? result : E_FAIL;
    IShellLinkA_SetPath(link, target);
    IShellLinkA_SetDescription(link, description);
    IShellLinkA_SetWorkingDirectory(link, working_folder);
    IPersistFile *file = nullptr;
    result = IShellLinkA_QueryInterface(link, IID_IPersistFile, reinterpret_cast<void **>(&file));
    if (SUCCEEDED(result) && file) {
        WCHAR wide[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, link_file, -1, wide, MAX_PATH))
            result = IPersistFile_Save(file, wide, TRUE);
        else
            result = E_FAIL;
        IPersistFile_Release(file);
    }
    IShellLinkA_Release(link);
    return result;
}

void create_program_shortcut(const char *name, const char *file, const char *link_folder,
                             const char *install_folder) {
    if (!name || !name[0] || !file || !file[0])
        return;
    char target[MAX_PATH];
    char working_folder[MAX_PATH];
    char link_file[MAX_PATH];
    if (snprintf(target, sizeof target, "%s%s", install_folder, file) >= MAX_PATH ||
        snprintf(link_file, sizeof link_file, "%s%s%s", link_folder, name, link_extension) >=
            MAX_PATH)
        return;
    memcpy(working_folder, target, sizeof target);
    trim_to_parent_folder(working_folder);
    if (path_missing(target))
        return; // no shortcut to a file that is not there
    create_shell_link(target, working_folder, link_file, name);
}

void create_start_menu_group(HWND, const char *install_folder) {
    char group[MAX_PATH] = {};
    get_special_folder_path(CSIDL_COMMON_PROGRAMS, group);
    if (!group[0])
        get_special_folder_path(CSIDL_PROGRAMS, group);
    if (!group[0] || end_with_backslash(group) || append_text(group, group_folder_name))
        return;
    if (path_missing(group))
        CreateDirectoryA(group, nullptr);
    if (path_missing(group) || end_with_backslash(group))
        return;
    create_program_shortcut(product_name, main_program_name, group, install_folder);
}

void create_desktop_icon(HWND, const char *main_program) {
    char link_file[MAX_PATH] = {};
    get_special_folder_path(CSIDL_DESKTOP, link_file);
    if (!link_file[0] || end_with_backslash(link_file) || append_text(link_file, product_name) ||
        append_text(link_file, link_extension))
        return;
    char working_folder[MAX_PATH];
    snprintf(working_folder, sizeof working_folder, "%s", main_program);
    trim_to_parent_folder(working_folder);
    create_shell_link(main_program, working_folder, link_file, product_name);
}

// The item list of an existing folder, or nullptr.
static LPITEMIDLIST parse_folder(HWND dialog, IShellFolder *desktop, const char *path) {
    WCHAR wide[MAX_PATH];
    LPITEMIDLIST items = nullptr;
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH))
        return nullptr;
    if (FAILED(IShellFolder_ParseDisplayName(desktop, dialog, nullptr, wide, nullptr, &items,
                                             nullptr)))
        return nullptr;
    return items;
}

int CALLBACK browse_callback(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED)
        SendMessageA(browser, BFFM_SETSELECTIONA, FALSE, data); // data is an item list
    return 0;
}

void browse_for_target_folder(HWND dialog, int edit_id) {
    // The browser and the desktop folder are COM objects of the shell, which
    // needs COM on the thread (single-threaded, for the browser's own
    // controls). The setup initialises it only while it uses the shell.
    HRESULT ole = OleInitialize(nullptr);
    char path[MAX_PATH];
    GetDlgItemTextA(dialog, edit_id, path, MAX_PATH);
    BROWSEINFOA info;
    memset(&info, 0, sizeof info);
    info.hwndOwner = dialog;
    info.ulFlags = BIF_RETURNONLYFSDIRS;

    IMalloc *shell_malloc = nullptr;
    IShellFolder *desktop = nullptr;
    LPITEMIDLIST start = nullptr;
    if (path[0] && SUCCEEDED(SHGetMalloc(&shell_malloc)) && shell_malloc &&
        SUCCEEDED(SHGetDesktopFolder(&desktop)) && desktop) {
        start = parse_folder(dialog, desktop, path);
        if (!start) {
            // A folder not made yet, as proposed for a first installation,
            // starts the browser at its parent.
            trim_to_parent_folder(path);
            start = parse_folder(dialog, desktop, path);
        }
        if (start) {
            info.lpfn = browse_callback;
            info.lParam = reinterpret_cast<LPARAM>(start);
        }
    }

    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen) {
        char folder[MAX_PATH];
        if (SHGetPathFromIDListA(chosen, folder))
            SetDlgItemTextA(dialog, edit_id, folder);
        IMalloc *chosen_malloc = nullptr;
        if (SUCCEEDED(SHGetMalloc(&chosen_malloc)) && chosen_malloc) {
            IMalloc_Free(chosen_malloc, chosen);
            IMalloc_Release(chosen_malloc);
        }
    }

    // The start folder's item list and the desktop folder are ours to give back.
    if (shell_malloc) {
        if (start)
            IMalloc_Free(shell_malloc, start);
        IMalloc_Release(shell_malloc);
    }
    if (desktop)
        IShellFolder_Release(desktop);
    if (SUCCEEDED(ole))
        OleUninitialize();
}
