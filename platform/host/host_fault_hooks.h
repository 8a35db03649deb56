// Where the file layer lets tests make its calls fail. The tests link a build
// of the layer with ZQ_HOST_FAULTS defined, whose hooks ask the faults a test
// armed (tests/winmodel/faults.h); in the tools' build the hooks are
// constants, so no fault injection ships in them.
#pragma once

#include <cstdio>
#include <string>

enum HostFaultKind {
    host_fault_open,             // platform_open_stream refuses: no file created or opened
    host_fault_remove,           // DeleteFileA is denied
    host_fault_create_directory, // CreateDirectoryA is denied
    host_fault_set_attributes,   // SetFileAttributesA, SetFileInformationByHandle fail
    host_fault_create_file,      // CreateFileA fails: no file created or opened
    host_fault_set_time,         // SetFileTime fails (any handle; arm with "")
    host_fault_kind_count
};

#ifdef ZQ_HOST_FAULTS
// True when a call of kind on host_path is to fail now; counts the strike.
bool host_fault_strikes(int kind, const std::string &host_path);
// The stream itself, or a stream over it that injects the armed stream
// faults when host_path matches; nullptr stays nullptr.
FILE *host_fault_wrap_stream(FILE *stream, const std::string &host_path);
#else
#define host_fault_strikes(kind, host_path) false
#define host_fault_wrap_stream(stream, host_path) (stream)
#endif
