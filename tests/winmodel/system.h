// The Windows model, system part: test control of the module path, the
// Windows folder and the error mode (tests/winmodel/system.cpp).
#pragma once

#include "platform/win32_api.h"

void host_set_module_path(const char *windows_path);
void host_set_windows_directory(const char *windows_path);
UINT host_error_mode();

// ---- Between the model's parts (not for tests) ----

void host_reset_system();
