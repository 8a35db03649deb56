#include "archive/stream.h"

#include <cerrno>
#include <cstdint>

#include "platform/win32_api.h"

FILE *open_archive_file(const char *path, const char *mode, int share_code) {
    return platform_open_stream(path, mode, share_code);
}

void close_stream(FILE *stream) {
    if (stream)
        fclose(stream);
}

int32_t read_stream(FILE *stream, void *buffer, int32_t count) {
    if (!stream || count <= 0)
        return 0;
    return int32_t(fread(buffer, 1, size_t(count), stream));
}

int32_t write_stream(FILE *stream, const void *buffer, int32_t count) {
    if (!stream)
        return 0;
    errno = 0;
    if (count <= 0)
        return 0;
    return int32_t(fwrite(buffer, 1, size_t(count), stream));
}

// The driver seeks to where each entry's data starts and ends, which is
// mostly where the reads left the stream; the runtime's seek asks the system
// for the position even then, so a seek that would not move is left out
// (ftell answers from the stream's own bookkeeping).
int seek_stream(FILE *stream, int32_t offset, int origin) {
    if (!stream)
        return -1;
    if (origin != seek_from_current && ftell(stream) == long(offset))
        return 0;
    return fseek(stream, long(offset), origin == seek_from_current ? SEEK_CUR : SEEK_SET);
}

int32_t tell_stream(FILE *stream) {
    if (!stream)
        return -1;
    return int32_t(ftell(stream));
}

int64_t stream_size(FILE *stream) {
    if (!stream || fseek(stream, 0, SEEK_END) != 0)
        return -1;
    long size = ftell(stream);
    return size < 0 ? -1 : int64_t(size);
}
