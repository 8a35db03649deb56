#include <io.h>
#include <share.h>
#include <stdint.h>
#include <stdio.h>

#include "platform/win32_api.h"

FILE *platform_open_stream(const char *path, const char *mode, int share_code) {
    static const int share_flags[4] = {_SH_DENYRD, _SH_DENYWR, _SH_DENYNO, _SH_DENYNO};
    return _fsopen(path, mode, share_flags[share_code & 3]);
}

FILE *platform_stream_from_handle(HANDLE file, const char *mode) {
    // Without _O_TEXT the descriptor is binary, as the 'b' of mode asks.
    int descriptor = _open_osfhandle(intptr_t(file), 0);
    if (descriptor < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE *stream = _fdopen(descriptor, mode);
    if (!stream)
        _close(descriptor);
    return stream;
}
