// Fault injection in the file layer, for tests: a test arms a fault, the
// layer's hooks (platform/host/host_fault_hooks.h, built in with
// ZQ_HOST_FAULTS) consult it on each call, and the call fails the way Windows
// does (a refused open, a removal that is denied, a disk that fills up, a
// read that fails or meets the end of the file early). Nothing is armed
// unless a test asks, and then only for host paths that contain the given
// text.
#pragma once

#include <cstdint>

#include "platform/host/host_fault_hooks.h"

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
