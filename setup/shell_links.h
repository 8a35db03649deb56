// The setup's use of the Windows shell: special-folder paths, shortcut files
// through the shell-link object, the Start-menu group, the desktop icon and
// the folder browser behind the dialog's "..." button. Failures are silent:
// a shortcut that cannot be made is simply missing.
#pragma once

#include "platform/win32_api.h"

// Writes the special folder's file-system path into path (260 characters),
// or leaves it untouched when the folder has none.
void get_special_folder_path(int csidl, char *path);
// One shortcut file; returns the result of the last COM step.
HRESULT create_shell_link(const char *target, const char *working_folder, const char *link_file,
                          const char *description);
// link_folder\name.lnk pointing at install_folder\file, when that file
// exists. Both folders end in a backslash.
void create_program_shortcut(const char *name, const char *file, const char *link_folder,
                             const char *install_folder);
// The group "Navigrove" with the program's shortcut, in the all-users
// programs folder or else the user's. install_folder ends in a backslash.
void create_start_menu_group(HWND dialog, const char *install_folder);
// The desktop shortcut to main_program, made whether or not it exists.
void create_desktop_icon(HWND dialog, const char *main_program);
// Lets the user pick a folder, starting at the edit box's folder (or its
// parent), and writes the choice into the edit box.
void browse_for_target_folder(HWND dialog, int edit_id);
int CALLBACK browse_callback(HWND browser, UINT message, LPARAM lparam, LPARAM data);
// Cuts path at its last '\' or '/'; keeps the separator of a drive root
// (X:\); a path without separator becomes empty.
void trim_to_parent_folder(char *path);
