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
// The runtime stream over a handle that CreateFileA opened; the stream owns
// the handle from then on. nullptr, the handle closed, on failure.
FILE *platform_stream_from_handle(HANDLE file, const char *mode);

// Files below a folder the caller trusts (an extraction's target): `folder`
// is empty (the current folder) or ends in '\'; `name` is relative, with '\'
// between its parts. Below `folder` nothing goes through a symbolic link,
// junction or other reparse point: every part of `name` that exists is looked
// at as itself, a name whose folders meet one is refused, and one at the name
// itself is never opened or written through. Each implementation keeps the
// folders it has checked from being swapped for a link before it uses them
// (platform/win32/files_below.cpp, platform/host/host_files_below.cpp).
//
// What platform_probe_below finds at `name`:
constexpr int below_missing = 0; // nothing, or a part of its folders is missing or no folder
constexpr int below_file = 1;    // a regular file
constexpr int below_folder = 2;
constexpr int below_link = 3;         // a link or junction (or other reparse point) at the name
constexpr int below_through_link = 4; // one of its folders is a link or junction
constexpr int below_special = 5;      // a FIFO, device or socket, which is never opened
int platform_probe_below(const char *folder, const char *name);
// Creates the name's missing folders, removes the regular file or link at
// the name (never a folder, never what a link points to) and creates the
// file afresh and exclusively, open like "w+b". nullptr when a step fails,
// a read-only file in the way included.
FILE *platform_create_below(const char *folder, const char *name);
// Sets the last-write time (unless last_write is null) and the attributes of
// the regular file at the name, through a handle on the file itself; nothing
// else there is touched. 0 when both were set.
int platform_stamp_below(const char *folder, const char *name, const FILETIME *last_write,
                         DWORD attributes);
// Removes the regular file at the name, and nothing else; when it cannot be
// removed and empty_when_kept is set, it is emptied. 0 when no file is left
// there, 1 when it was emptied.
int platform_remove_below(const char *folder, const char *name, int empty_when_kept);
