// The platform seam. The setup and the extraction driver call Win32 by its own
// names. On Windows this header is <windows.h> and the shell headers; on Linux
// it declares the subset we use (platform/host/win32_*.h), and each program
// links one implementation: the tools the file layer of platform/host/ (files,
// folders, times, attributes, streams, drive letters mapped under a root
// folder), the tests the same file layer with fault hooks plus the Windows
// model of tests/winmodel/ (dialogs, registry, INI files, special folders,
// shell links). Nothing here knows the product or the tests.
#pragma once

#include <cstdio>

#ifdef _WIN32
#ifndef CINTERFACE
#define CINTERFACE // COM through C-style vtables, as platform/host/win32_shell.h declares it
#endif
#ifndef COBJMACROS
#define COBJMACROS
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <ole2.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>
#else
#include "platform/host/win32_base.h"
#include "platform/host/win32_registry.h"
#include "platform/host/win32_shell.h"
#include "platform/host/win32_system.h"
#include "platform/host/win32_windows.h"
#endif

// Opens a file through the runtime's shared open. share_code: 0 denies others
// reading, 1 denies others writing, 2 and 3 deny nothing. On Linux the file
// layer maps Windows paths and the codes have no effect.
FILE *platform_open_stream(const char *path, const char *mode, int share_code);
// Removes a file; 0 on success.
int platform_remove_file(const char *path);
