// Stream layer: buffered byte streams of the runtime, opened with a sharing
// mode. Every count is in bytes.
#pragma once

#include <cstdint>
#include <cstdio>

// share_code of open_archive_file: what others may not do with the file
// while it is open (3 denies nothing as well).
constexpr int share_deny_read = 0;
constexpr int share_deny_write = 1;
constexpr int share_deny_none = 2;
// origin of seek_stream.
constexpr int seek_from_start = 0;
constexpr int seek_from_current = 1;

// Returns the stream or nullptr.
FILE *open_archive_file(const char *path, const char *mode, int share_code);
// Does nothing for an absent stream.
void close_stream(FILE *stream);
// Returns the count read, 0 at the end of the file.
int32_t read_stream(FILE *stream, void *buffer, int32_t count);
// Returns 0 without writing when the stream is absent.
int32_t write_stream(FILE *stream, const void *buffer, int32_t count);
int seek_stream(FILE *stream, int32_t offset, int origin);
int32_t tell_stream(FILE *stream);
// The file's size; -1 when it cannot be told (where the runtime's positions
// are 32-bit, for a file of 2 GiB or more). Leaves the position at the end of
// the file.
int64_t stream_size(FILE *stream);
