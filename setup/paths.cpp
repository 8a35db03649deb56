#include "setup/paths.h"

#include <cstring>

#include "platform/win32_api.h"

void append_backslash(char *path) {
    uint16_t length = uint16_t(strlen(path));
    // A path of 259 characters has no room left in its 260-character buffer:
    // it stays as it is (and is then too long for any file below it anyway).
    if (length == 0 || path[length - 1] == '\\' || length >= MAX_PATH - 1)
        return;
    path[length] = '\\';
    path[length + 1] = '\0';
}

void strip_last_component(char *path) {
    char *cut = strrchr(path, '\\');
    if (!cut || cut == path) {
        path[0] = '\0';
        return;
    }
    if (cut - path == 2) // X:\ keeps its backslash
        ++cut;
    *cut = '\0';
}

int32_t path_missing(const char *path) {
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? 2 : 0;
}

int32_t create_directory_path(const char *path) {
    if (CreateDirectoryA(path, nullptr))
        return 0;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return 2;
    size_t length = strlen(path);
    if (length >= size_t(MAX_PATH))
        return 2;
    char parent[MAX_PATH];
    memcpy(parent, path, length + 1);
    strip_last_component(parent);
    if (strlen(parent) <= 3) // the missing parents reach back to a drive root
        return 2;
    int32_t result = create_directory_path(parent);
    if (result != 0)
        return result;
    return CreateDirectoryA(path, nullptr) ? 0 : 3;
}
