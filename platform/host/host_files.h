// The Linux file layer's own calls (not Win32): where drive letters live and
// how a Windows path maps to a host path. Tests choose a temporary root; the
// tools never name a drive, so their paths are host paths as they are.
#pragma once

#include <string>

// Folder under which drive letters live as subfolders ("<root>/C", ...).
void host_set_root(const char *root);
const char *host_root();
// Maps a Windows path to the host path; a path without a drive letter is
// returned with '\' turned into '/'.
std::string host_path(const char *windows_path);
