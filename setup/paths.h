// Path helpers on 8-bit texts in 260-character buffers, changed in place.
#pragma once

#include <cstdint>

void append_backslash(char *path);
void strip_last_component(char *path);
// 2 when the path's attributes cannot be read, 0 when it exists.
int32_t path_missing(const char *path);
// 0 created; 2 failed (or parents reach back to a drive root); 3 parents made
// but the folder itself failed.
int32_t create_directory_path(const char *path);
