#include <cctype>
#include <cstdio>
#include <string>

#include "platform/win32_api.h"

static std::string &root_folder() {
    static std::string root = "/tmp/zq-host-root";
    return root;
}

void host_set_root(const char *root) { root_folder() = root ? root : ""; }

const char *host_root() { return root_folder().c_str(); }

std::string host_path(const char *windows_path) {
    std::string path = windows_path ? windows_path : "";
    for (char &c : path)
        if (c == '\\')
            c = '/';
    if (path.size() >= 2 && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        char drive = char(toupper(static_cast<unsigned char>(path[0])));
        return root_folder() + "/" + drive + path.substr(2);
    }
    return path;
}

FILE *platform_open_stream(const char *path, const char *mode, int) {
    return fopen(host_path(path).c_str(), mode);
}

int platform_remove_file(const char *path) { return remove(host_path(path).c_str()); }
