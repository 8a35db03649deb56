// The Windows model, system part: test control of the module path, the
// Windows folder, the error mode and the DLL search
// (tests/winmodel/system.cpp).
#pragma once

#include <string>

#include "platform/win32_api.h"

void host_set_module_path(const char *windows_path);
void host_set_windows_directory(const char *windows_path);
UINT host_error_mode();
// A system whose KERNEL32 lacks SetDefaultDllDirectories (GetProcAddress
// finds no such function).
void host_set_old_system(bool old);
// The flags SetDefaultDllDirectories was given (0: never called).
DWORD host_default_dll_directories();
// Whether SetDllDirectoryA set a folder, and which ("" takes the current
// folder out of the search).
bool host_dll_directory(std::string *path);

// ---- Between the model's parts (not for tests) ----

void host_reset_system();
