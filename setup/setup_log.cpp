#include "setup/setup_log.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstring>

#include "archive/entry_name.h"
#include "archive/extract.h"
#include "archive/stream.h"

FILE *open_setup_log(const char *path) {
    // Names that Windows opens as a device rather than a file: the device
    // namespace, and device names or streams in the file's own name.
    if (strncmp(path, "\\\\.\\", 4) == 0 || strncmp(path, "\\\\?\\", 4) == 0 ||
        !name_stays_inside(path + name_start(path)))
        return nullptr;
    // Opening never waits for a reader, on Windows nor under Wine; what it
    // opened is looked at before anything is written to it.
    FILE *log = open_archive_file(path, "ab", share_deny_none);
    struct stat info;
    if (log && (fstat(fileno(log), &info) != 0 || !S_ISREG(info.st_mode))) {
        close_stream(log);
        return nullptr;
    }
    return log;
}

void log_line(FILE *log, const char *format, ...) {
    if (!log)
        return;
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    fputs(line, log);
    fputs("\r\n", log);
    fflush(log);
}
