// The record an unattended setup appends to the file its /LOG argument
// names: one line per step, for the administrator who reads it later.
#pragma once

#include <cstdio>

// Opens path for appending (created when missing). nullptr for anything but
// a regular file: a device name (CON, COM1.log, \\.\...), a folder, or a pipe
// or device found once it is open, which is closed again unwritten.
FILE *open_setup_log(const char *path);
// Appends one line ended by CR LF and puts it on the disk at once, so that
// the log is complete up to a failure; nothing without a log.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void log_line(FILE *log, const char *format, ...);
