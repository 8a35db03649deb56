// The platform seam. The setup and the extraction driver call Win32 by its own
// names. On Windows this header is <windows.h> and the shell headers; on Linux
// it declares the subset we use, implemented by platform/host/ as a small
// model of Windows (drive letters mapped under a root folder, a registry, INI
// files, a dialog model, special folders, shell links) that tests drive.
#pragma once

#include <cstdio>

#ifdef _WIN32
#ifndef CINTERFACE
#define CINTERFACE // COM through C-style vtables, as the host layer models it
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
#include "platform/host/host_base.h"
#include "platform/host/host_shell.h"
#endif

// Opens a file through the runtime's shared open. share_code: 0 denies others
// reading, 1 denies others writing, 2 and 3 deny nothing. On Linux the host
// layer maps Windows paths and the codes have no effect.
FILE *platform_open_stream(const char *path, const char *mode, int share_code);
// Removes a file; 0 on success.
int platform_remove_file(const char *path);
