// Files below a trusted folder, reached without going through a link: the
// Win32 side of platform_probe_below and its kin (platform/win32_api.h). The
// Windows programs link it, and so do the tests, on the Windows model, whose
// file calls show Linux links as reparse points.
//
// Each folder of a name is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT),
// checked and held open, from the top down, until the operation ends: held
// for reading without FILE_SHARE_DELETE, a folder can be neither removed nor
// renamed, so none that passed the check can be swapped for a junction
// before the names below it are used. The last part is looked at with
// GetFileAttributesA, which shows a link as itself; DeleteFileA and
// RemoveDirectoryA remove a link, never what it points to; the file is
// created with CREATE_NEW as itself, so a link put there meanwhile makes the
// creation fail instead of being followed; times and attributes go through
// a handle that was found to be a regular file.
#include <cstring>

#include "platform/win32_api.h"

namespace {

// The attributes SetFileAttributesA takes; the others (folder, reparse
// point, compressed, ...) are the file system's.
constexpr DWORD settable_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD not_a_file =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// A name's path (folder + name) and its folders held open; a path has at
// most one folder for every two of its characters.
struct Walk {
    char path[MAX_PATH];
    HANDLE held[MAX_PATH / 2];
    int held_count;
};

void release(Walk *walk) {
    while (walk->held_count > 0)
        CloseHandle(walk->held[--walk->held_count]);
}

HANDLE hold_folder(const char *path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

bool attributes_of(HANDLE file, DWORD *attributes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    *attributes = info.dwFileAttributes;
    return true;
}

// Walks the name's folders below folder, holding each, and creating the
// missing ones when create is set. Returns below_folder when they all stand
// (walk->path then names the last part), below_missing when one is missing,
// below_through_link when one is a link or junction, and -1 when one cannot
// be used (a file where a folder should be, a folder that cannot be opened
// or created). The caller releases the walk in every case.
int walk_folders(Walk *walk, const char *folder, const char *name, bool create) {
    walk->held_count = 0;
    size_t start = strlen(folder);
    size_t length = start + strlen(name);
    if (length >= sizeof walk->path)
        return -1;
    memcpy(walk->path, folder, start);
    memcpy(walk->path + start, name, length - start + 1);
    for (size_t i = start; i < length; ++i) {
        if (walk->path[i] != '\\' || i == start || walk->path[i - 1] == '\\')
            continue;
        walk->path[i] = '\0';
        HANDLE held = hold_folder(walk->path);
        if (held == INVALID_HANDLE_VALUE && create && GetLastError() == ERROR_FILE_NOT_FOUND) {
            CreateDirectoryA(walk->path, nullptr);
            held = hold_folder(walk->path);
        }
        DWORD error = GetLastError();
        walk->path[i] = '\\';
        if (held == INVALID_HANDLE_VALUE)
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? below_missing
                                                                                  : -1;
        walk->held[walk->held_count++] = held;
        DWORD attributes;
        if (!attributes_of(held, &attributes))
            return -1;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return below_through_link;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return -1;
    }
    return below_folder;
}

int kind_of(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return below_missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return below_link;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return below_special;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? below_folder : below_file;
}

// Opens the regular file at path as itself, or gives INVALID_HANDLE_VALUE
// for anything else there.
HANDLE open_regular(const char *path, DWORD access) {
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD attributes;
    if (file != INVALID_HANDLE_VALUE &&
        (!attributes_of(file, &attributes) || (attributes & not_a_file) ||
         GetFileType(file) != FILE_TYPE_DISK)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Removes the regular file or the link at path, never a folder (a junction
// goes with RemoveDirectoryA, which leaves what it points to); true when
// nothing is left there.
bool clear_name(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    switch (kind_of(attributes)) {
    case below_missing:
        return true;
    case below_file:
        return DeleteFileA(path);
    case below_link:
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryA(path) : DeleteFileA(path);
    default:
        return false;
    }
}

} // namespace

int platform_probe_below(const char *folder, const char *name) {
    Walk walk;
    int kind = walk_folders(&walk, folder, name, false);
    if (kind == below_folder)
        kind = kind_of(GetFileAttributesA(walk.path));
    release(&walk);
    return kind < 0 ? below_missing : kind;
}

FILE *platform_create_below(const char *folder, const char *name) {
    Walk walk;
    FILE *stream = nullptr;
    if (walk_folders(&walk, folder, name, true) == below_folder && clear_name(walk.path)) {
        HANDLE file = CreateFileA(walk.path, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            stream = platform_stream_from_handle(file, "w+b");
    }
    release(&walk);
    return stream;
}

int platform_stamp_below(const char *folder, const char *name, const FILETIME *last_write,
                         DWORD attributes) {
    Walk walk;
    int result = -1;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (walk_folders(&walk, folder, name, false) == below_folder)
        file = open_regular(walk.path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (file != INVALID_HANDLE_VALUE) {
        // Zero times in the basic information leave the times as they are;
        // no attributes at all are "normal".
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes & settable_attributes;
        if (basic.FileAttributes == 0)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        bool dated = !last_write || SetFileTime(file, nullptr, nullptr, last_write);
        bool set = SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
        result = dated && set ? 0 : -1;
        CloseHandle(file);
    }
    release(&walk);
    return result;
}

int platform_remove_below(const char *folder, const char *name, int empty_when_kept) {
    Walk walk;
    int result = -1;
    int kind = walk_folders(&walk, folder, name, false);
    if (kind == below_folder) {
        kind = kind_of(GetFileAttributesA(walk.path));
        if (kind == below_missing || (kind == below_file && DeleteFileA(walk.path)))
            result = 0;
    } else if (kind == below_missing) {
        result = 0;
    }
    if (result != 0 && kind == below_file && empty_when_kept) {
        HANDLE file = open_regular(walk.path, GENERIC_WRITE);
        if (file != INVALID_HANDLE_VALUE) {
            if (SetEndOfFile(file))
                result = 1;
            CloseHandle(file);
        }
    }
    release(&walk);
    return result;
}
