// The Windows model, registry part: test control of the registry
// (tests/winmodel/registry.cpp, which also models INI files).
#pragma once

#include <string>

#include "platform/win32_api.h"

// The registry. Key paths are case-insensitive, like value names.
void host_registry_set(HKEY root, const char *key, const char *name, const char *value);
// A string value's text, up to its first NUL.
bool host_registry_get(HKEY root, const char *key, const char *name, std::string *value);
// A value's type and data as stored, byte for byte.
bool host_registry_get_raw(HKEY root, const char *key, const char *name, DWORD *type,
                           std::string *data);
bool host_registry_key_exists(HKEY root, const char *key);
// Models a user without administrator rights: HKLM cannot be opened for
// writing or created.
void host_registry_deny_machine_writes(bool deny);

// ---- Between the model's parts (not for tests) ----

void host_reset_registry();
