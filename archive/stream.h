// Stream layer: buffered byte streams of the runtime, opened with a sharing
// mode. Every count is in bytes.
#pragma once

#include <cstdint>
#include <cstdio>

// share_code: 0 denies others reading, 1 denies others writing, 2 and 3 deny
// nothing. Returns the stream or nullptr.
FILE *open_archive_file(const char *path, const char *mode, int share_code);
// Does nothing for an absent stream.
void close_stream(FILE *stream);
// Returns the count read, 0 at the end of the file.
int32_t read_stream(FILE *stream, void *buffer, int32_t count);
// Returns 0 without writing when the stream is absent.
int32_t write_stream(FILE *stream, const void *buffer, int32_t count);
// origin 0: from the start; 1: from the current position.
int seek_stream(FILE *stream, int32_t offset, int origin);
int32_t tell_stream(FILE *stream);
// The file's size, at most INT32_MAX (positions are signed 32-bit); -1 when
// it cannot be told. Leaves the position at the end of the file.
int32_t stream_size(FILE *stream);
