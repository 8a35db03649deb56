#include <share.h>
#include <stdio.h>

#include "platform/win32_api.h"

FILE *platform_open_stream(const char *path, const char *mode, int share_code) {
    static const int share_flags[4] = {_SH_DENYRD, _SH_DENYWR, _SH_DENYNO, _SH_DENYNO};
    return _fsopen(path, mode, share_flags[share_code & 3]);
}

int platform_remove_file(const char *path) {
    return remove(path);
}
