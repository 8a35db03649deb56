// The Windows model, shell part: test control of special folders, the folder
// browser, OLE and the shell-link object (tests/winmodel/shell.cpp), and the
// reset of the whole model.
#pragma once

#include <string>

#include "platform/win32_api.h"

// Puts every part of the model back to its start: no windows or dialogs,
// empty registry, default special folders, counters at zero, no message
// boxes or control texts recorded. Files under the root are left alone.
void host_shell_reset();

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
    bool com_ready;          // COM initialised on the thread when the browser opened
    std::string preselected; // path selected through BFFM_SETSELECTIONA
};
const HostBrowseRecord &host_browse_record();

// Successful OleInitialize calls, and OleUninitialize calls.
int host_ole_initialize_count();
int host_ole_uninitialize_count();
// When set, OleInitialize fails (as on a thread whose COM mode differs).
void host_set_ole_initialize_fails(bool fails);
// When set, CoCreateInstance of the shell link fails.
void host_set_shell_link_unavailable(bool unavailable);
// A link file written by the model's shell-link object.
struct HostShellLink {
    std::string target;
    std::string working_folder;
    std::string description;
};
bool host_read_shell_link(const char *windows_path, HostShellLink *link);

// ---- Between the model's parts (not for tests) ----

void host_note_browse_selection(WPARAM is_path, LPARAM selection);
