// Fault injection in the host model of the Windows file calls: tests arm a
// fault, the host layer consults it on each call and fails the way Windows
// does (a refused open, a removal that is denied, a disk that fills up, a
// read that fails or meets the end of the file early). Nothing is armed
// unless a test asks, and then only for host paths that contain the given
// text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum HostFaultKind {
    host_fault_open,             // platform_open_stream refuses: no file created or opened
    host_fault_remove,           // platform_remove_file and DeleteFileA are denied
    host_fault_create_directory, // CreateDirectoryA is denied
    host_fault_set_attributes,   // SetFileAttributesA fails
    host_fault_create_file,      // CreateFileA fails
    host_fault_get_time,         // GetFileTime fails (any handle; arm with "")
    host_fault_set_time,         // SetFileTime fails (any handle; arm with "")
    host_fault_kind_count
};

// Disarms every fault and sets every count back to 0.
void host_faults_clear();
// Calls of kind on host paths containing path_part ("" = every path) fail,
// after the first `pass` such calls have gone through.
void host_fault_arm(int kind, const char *path_part, int pass = 0);
// Streams opened on host paths containing path_part: reads stop at file
// offset read_end (-1: never) and then report the end of the file, or an
// error when read_fails; writes fail with "disk full" once write_limit bytes
// have been written through the stream (-1: never), the last write short.
void host_fault_streams(const char *path_part, int64_t read_end, bool read_fails,
                        int64_t write_limit);
// How often a fault of kind struck since the last clear.
int host_fault_count(int kind);
// How often a stream read or write was cut short since the last clear.
int host_fault_stream_count();

// ---- Hooks for the host file calls ----

// True when a call of kind on host_path is to fail now; counts the strike.
bool host_fault_strikes(int kind, const std::string &host_path);
// The stream itself, or a stream over it that injects the armed stream
// faults when host_path matches; nullptr stays nullptr.
FILE *host_fault_wrap_stream(FILE *stream, const std::string &host_path);
