// The Windows model of the shell and OLE: special folders, item lists and the
// shell's allocator, the desktop folder's name parsing, the folder browser,
// OleInitialize/OleUninitialize, and the shell-link object.
//
// Item lists hold the path they stand for and are counted while alive, and
// every COM object counts its references, so a test sees whether the code
// freed and released what it was given. The shell-link object's Save writes
// a small text record instead of a real link file.
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/host/host_files.h"
#include "tests/winmodel/dialog.h"
#include "tests/winmodel/registry.h"
#include "tests/winmodel/shell.h"
#include "tests/winmodel/system.h"

const CLSID CLSID_ShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

struct SpecialFolder {
    bool available;
    std::string path;
};

struct ShellState {
    std::map<int, SpecialFolder> special = {
        {CSIDL_DESKTOP, {true, "C:\\Users\\User\\Desktop"}},
        {CSIDL_PROGRAMS, {true, "C:\\Users\\User\\Start Menu\\Programs"}},
        {CSIDL_COMMON_PROGRAMS, {true, "C:\\ProgramData\\Start Menu\\Programs"}},
    };
    bool browse_chooses = false;
    std::string browse_choice;
    HostBrowseRecord browse = {};
    int ole_initialized = 0;
    int ole_uninitialized = 0;
    bool ole_fails = false;
    bool link_unavailable = false;
    int live_item_lists = 0;
    int live_references = 0;
};

ShellState &state() {
    static ShellState s;
    return s;
}

bool same_guid(const GUID &a, const GUID &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

LPITEMIDLIST new_item_list(const std::string &path) {
    LPITEMIDLIST items = new ITEMIDLIST();
    snprintf(items->path, sizeof items->path, "%s", path.c_str());
    ++state().live_item_lists;
    return items;
}

std::string narrow(LPCWSTR wide) {
    std::string text;
    for (; wide && *wide; ++wide)
        text += char(*wide & 0xff);
    return text;
}

// ---- The shell's allocator: frees item lists ----

HRESULT malloc_query(IMalloc *, REFIID, void **object) {
    *object = nullptr;
    return E_NOINTERFACE;
}
ULONG malloc_add_ref(IMalloc *) {
    return ULONG(++state().live_references);
}
ULONG malloc_release(IMalloc *) {
    return ULONG(--state().live_references);
}
void malloc_free(IMalloc *, void *block) {
    if (!block)
        return;
    delete static_cast<ITEMIDLIST *>(block);
    --state().live_item_lists;
}
const IMallocVtbl malloc_vtbl = {malloc_query, malloc_add_ref, malloc_release, malloc_free};
IMalloc shell_malloc = {&malloc_vtbl};

// ---- The desktop folder: parses existing paths into item lists ----

HRESULT folder_query(IShellFolder *, REFIID, void **object) {
    *object = nullptr;
    return E_NOINTERFACE;
}
ULONG folder_add_ref(IShellFolder *) {
    return ULONG(++state().live_references);
}
ULONG folder_release(IShellFolder *) {
    return ULONG(--state().live_references);
}
HRESULT folder_parse(IShellFolder *, HWND, IBindCtx *, LPWSTR name, ULONG *eaten,
                     PIDLIST_RELATIVE *items, ULONG *) {
    std::string path = narrow(name);
    *items = nullptr;
    if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return HRESULT(0x80070002u); // the file-not-found error as an HRESULT
    if (eaten)
        *eaten = ULONG(path.size());
    *items = new_item_list(path);
    return S_OK;
}
const IShellFolderVtbl folder_vtbl = {folder_query, folder_add_ref, folder_release, folder_parse};
IShellFolder desktop_folder = {&folder_vtbl};

// ---- The shell-link object: one record behind two interfaces ----

struct LinkObject;
struct LinkInterface {
    IShellLinkA iface; // first, so the interface pointer is the record's
    LinkObject *owner;
};
struct PersistInterface {
    IPersistFile iface;
    LinkObject *owner;
};
struct LinkObject {
    LinkInterface link;
    PersistInterface persist;
    ULONG references;
    std::string target;
    std::string working_folder;
    std::string description;
};

LinkObject *owner_of(IShellLinkA *link) {
    return reinterpret_cast<LinkInterface *>(link)->owner;
}
LinkObject *owner_of(IPersistFile *file) {
    return reinterpret_cast<PersistInterface *>(file)->owner;
}

ULONG link_object_release(LinkObject *object) {
    --state().live_references;
    ULONG left = --object->references;
    if (left == 0)
        delete object;
    return left;
}

HRESULT link_object_query(LinkObject *object, REFIID iid, void **result) {
    *result = nullptr;
    if (same_guid(iid, IID_IShellLinkA))
        *result = &object->link.iface;
    else if (same_guid(iid, IID_IPersistFile))
        *result = &object->persist.iface;
    else
        return E_NOINTERFACE;
    ++object->references;
    ++state().live_references;
    return S_OK;
}

HRESULT link_query(IShellLinkA *self, REFIID iid, void **result) {
    return link_object_query(owner_of(self), iid, result);
}
ULONG link_add_ref(IShellLinkA *self) {
    ++state().live_references;
    return ++owner_of(self)->references;
}
ULONG link_release(IShellLinkA *self) {
    return link_object_release(owner_of(self));
}
HRESULT link_set_description(IShellLinkA *self, LPCSTR text) {
    owner_of(self)->description = text ? text : "";
    return S_OK;
}
HRESULT link_set_working_directory(IShellLinkA *self, LPCSTR folder) {
    owner_of(self)->working_folder = folder ? folder : "";
    return S_OK;
}
HRESULT link_set_path(IShellLinkA *self, LPCSTR path) {
    owner_of(self)->target = path ? path : "";
    return S_OK;
}
const IShellLinkAVtbl link_vtbl = {
    link_query,   link_add_ref, link_release, link_set_description, link_set_working_directory,
    link_set_path};

HRESULT persist_query(IPersistFile *self, REFIID iid, void **result) {
    return link_object_query(owner_of(self), iid, result);
}
ULONG persist_add_ref(IPersistFile *self) {
    ++state().live_references;
    return ++owner_of(self)->references;
}
ULONG persist_release(IPersistFile *self) {
    return link_object_release(owner_of(self));
}
HRESULT persist_save(IPersistFile *self, LPCWSTR file_name, BOOL) {
    const LinkObject *object = owner_of(self);
    std::ofstream out(host_path(narrow(file_name).c_str()), std::ios::binary | std::ios::trunc);
    if (!out)
        return E_FAIL;
    out << "[ShellLink]\r\nTarget=" << object->target
        << "\r\nWorkingDirectory=" << object->working_folder
        << "\r\nDescription=" << object->description << "\r\n";
    return out.good() ? S_OK : E_FAIL;
}
const IPersistFileVtbl persist_vtbl = {persist_query, persist_add_ref, persist_release,
                                       persist_save};

} // namespace

void host_shell_reset() {
    host_reset_windows();
    host_reset_registry();
    host_reset_system();
    state() = ShellState();
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, PIDLIST_ABSOLUTE *items) {
    if (!items)
        return E_FAIL;
    *items = nullptr;
    auto found = state().special.find(csidl);
    if (found == state().special.end() || !found->second.available)
        return E_FAIL;
    *items = new_item_list(found->second.path);
    return S_OK;
}

BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE items, LPSTR path) {
    if (!items || !path)
        return FALSE;
    snprintf(path, MAX_PATH, "%s", items->path);
    return path[0] != 0;
}

HRESULT SHGetMalloc(IMalloc **result) {
    if (!result)
        return E_FAIL;
    malloc_add_ref(&shell_malloc);
    *result = &shell_malloc;
    return S_OK;
}

HRESULT SHGetDesktopFolder(IShellFolder **result) {
    if (!result)
        return E_FAIL;
    folder_add_ref(&desktop_folder);
    *result = &desktop_folder;
    return S_OK;
}

PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA info) {
    HostBrowseRecord &record = state().browse;
    ++record.calls;
    record.owner = info->hwndOwner;
    record.flags = info->ulFlags;
    record.had_root = info->pidlRoot != nullptr;
    record.had_callback = info->lpfn != nullptr;
    record.com_ready = state().ole_initialized > state().ole_uninitialized;
    record.preselected.clear();
    HWND browser = host_open_browser_window();
    if (info->lpfn)
        info->lpfn(browser, BFFM_INITIALIZED, 0, info->lParam);
    host_close_browser_window(browser);
    return state().browse_chooses ? new_item_list(state().browse_choice) : nullptr;
}

void host_note_browse_selection(WPARAM is_path, LPARAM selection) {
    if (is_path)
        state().browse.preselected = reinterpret_cast<const char *>(selection);
    else
        state().browse.preselected = reinterpret_cast<const ITEMIDLIST *>(selection)->path;
}

// Counts successful initialisations only: a failed one is not to be undone.
HRESULT OleInitialize(LPVOID) {
    if (state().ole_fails)
        return HRESULT(0x80010106u); // RPC_E_CHANGED_MODE
    ++state().ole_initialized;
    return S_OK;
}

void OleUninitialize() {
    ++state().ole_uninitialized;
}

HRESULT CoCreateInstance(REFCLSID class_id, LPUNKNOWN, DWORD, REFIID iid, LPVOID *object) {
    if (!object)
        return E_FAIL;
    *object = nullptr;
    if (state().ole_initialized <= state().ole_uninitialized)
        return CO_E_NOTINITIALIZED;
    if (!same_guid(class_id, CLSID_ShellLink) || state().link_unavailable)
        return REGDB_E_CLASSNOTREG;
    LinkObject *link = new LinkObject();
    link->link = {{&link_vtbl}, link};
    link->persist = {{&persist_vtbl}, link};
    HRESULT result = link_object_query(link, iid, object);
    if (FAILED(result))
        delete link;
    return result;
}

// ---- Test control ----

void host_set_special_folder(int csidl, const char *windows_path) {
    state().special[csidl] = {windows_path != nullptr, windows_path ? windows_path : ""};
}

int host_shell_live_item_lists() {
    return state().live_item_lists;
}
int host_shell_live_objects() {
    return state().live_references;
}

void host_set_browse_choice(const char *windows_path) {
    state().browse_chooses = windows_path != nullptr;
    state().browse_choice = windows_path ? windows_path : "";
}

const HostBrowseRecord &host_browse_record() {
    return state().browse;
}

int host_ole_initialize_count() {
    return state().ole_initialized;
}
int host_ole_uninitialize_count() {
    return state().ole_uninitialized;
}
void host_set_ole_initialize_fails(bool fails) {
    state().ole_fails = fails;
}
void host_set_shell_link_unavailable(bool unavailable) {
    state().link_unavailable = unavailable;
}

bool host_read_shell_link(const char *windows_path, HostShellLink *link) {
    std::ifstream in(host_path(windows_path), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != "[ShellLink]\r")
        return false;
    *link = HostShellLink();
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        std::string key = line.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "Target")
            link->target = value;
        else if (key == "WorkingDirectory")
            link->working_folder = value;
        else if (key == "Description")
            link->description = value;
    }
    return true;
}
