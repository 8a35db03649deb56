// The Linux file layer's own calls (not Win32): where drive letters live and
// how a Windows path maps to a host path. Tests choose a temporary root; the
// tools set none, so their paths are host paths exactly as the user gave them.
#pragma once

#include <ctime>
#include <string>

#include "platform/win32_api.h"

// Folder under which drive letters live as subfolders ("<root>/C", ...);
// empty (the start) for none.
void host_set_root(const char *root);
// Maps a Windows path to the host path: with a root, a path with a drive
// letter goes below it and any other has '\' turned into '/'; without one,
// the path as it is.
std::string host_path(const char *windows_path);
// The host time of a FILETIME.
timespec host_time(const FILETIME &time);
