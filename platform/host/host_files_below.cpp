// Files below a trusted folder, reached without going through a link: the
// Linux side of platform_probe_below and its kin (platform/win32_api.h), for
// the tools. (The tests run the Win32 side on the Windows model instead.)
//
// Every step starts from the descriptor of the folder before it and refuses
// to follow a link (openat with O_NOFOLLOW, fstatat with
// AT_SYMLINK_NOFOLLOW, unlinkat), so a folder swapped for a link after it
// was checked is met as a link, never followed. The file is created with
// O_CREAT | O_EXCL, which a link put there meanwhile makes fail. A FIFO,
// device or socket is looked at, never opened: what is opened is checked
// first, opened without blocking and checked again through the descriptor,
// which then carries the times and the mode. Like the rest of the file layer,
// a read-only file is neither removed nor replaced, as on Windows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/host/host_files.h"
#include "platform/win32_api.h"

namespace {

// The descriptor of the name's last folder (-1 when there is none) and its
// last part.
struct Walk {
    int folder;
    std::string last;
};

void release(Walk *walk) {
    if (walk->folder >= 0)
        close(walk->folder);
}

bool read_only(const struct stat &info) {
    return (info.st_mode & 0222) == 0;
}

int kind_of(const struct stat &info) {
    if (S_ISLNK(info.st_mode))
        return below_link;
    if (S_ISDIR(info.st_mode))
        return below_folder;
    return S_ISREG(info.st_mode) ? below_file : below_special;
}

// Walks the name's folders below folder (the '\' the driver puts at its end
// is no part of it: on Linux '\' is an ordinary character), creating the
// missing ones when create is set. Returns below_folder when they all stand,
// below_missing when one is missing, below_through_link when one is a link,
// and -1 when one cannot be used. The caller releases the walk in every case.
int walk_folders(Walk *walk, const char *folder, const char *name, bool create) {
    std::string top = folder;
    if (!top.empty() && top.back() == '\\')
        top.pop_back();
    top = top.empty() ? "." : host_path(top.c_str());
    walk->folder = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (walk->folder < 0)
        return errno == ENOENT ? below_missing : -1;
    for (const char *part = name;;) {
        const char *end = strchr(part, '\\');
        if (!end) {
            walk->last = part;
            return below_folder;
        }
        std::string piece(part, size_t(end - part));
        part = end + 1;
        if (piece.empty())
            continue;
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = openat(walk->folder, piece.c_str(), flags);
        if (next < 0 && errno == ENOENT && create &&
            (mkdirat(walk->folder, piece.c_str(), 0777) == 0 || errno == EEXIST))
            next = openat(walk->folder, piece.c_str(), flags);
        if (next < 0) {
            struct stat info;
            if (fstatat(walk->folder, piece.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                return errno == ENOENT ? below_missing : -1;
            return S_ISLNK(info.st_mode) ? below_through_link : -1;
        }
        close(walk->folder);
        walk->folder = next;
    }
}

// The status of the walk's last part, not followed; false when there is none.
bool last_status(const Walk &walk, struct stat *info) {
    return fstatat(walk.folder, walk.last.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Opens the regular file at the walk's last part, or gives -1 for anything
// else there.
int open_regular(const Walk &walk, int flags) {
    struct stat info;
    if (!last_status(walk, &info) || !S_ISREG(info.st_mode))
        return -1;
    int file = openat(walk.folder, walk.last.c_str(),
                      flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file >= 0 && (fstat(file, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(file);
        return -1;
    }
    return file;
}

// Removes a regular file that is not read-only, or a link, at the walk's
// last part; true when nothing is left there.
bool clear_name(const Walk &walk) {
    struct stat info;
    if (!last_status(walk, &info))
        return errno == ENOENT;
    int kind = kind_of(info);
    bool removable = kind == below_link || (kind == below_file && !read_only(info));
    return removable && unlinkat(walk.folder, walk.last.c_str(), 0) == 0;
}

} // namespace

int platform_probe_below(const char *folder, const char *name) {
    Walk walk = {-1, std::string()};
    int kind = walk_folders(&walk, folder, name, false);
    struct stat info;
    if (kind == below_folder)
        kind = last_status(walk, &info) ? kind_of(info) : below_missing;
    release(&walk);
    return kind < 0 ? below_missing : kind;
}

FILE *platform_create_below(const char *folder, const char *name) {
    Walk walk = {-1, std::string()};
    int file = -1;
    if (walk_folders(&walk, folder, name, true) == below_folder && clear_name(walk))
        file = openat(walk.folder, walk.last.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    release(&walk);
    FILE *stream = file >= 0 ? fdopen(file, "w+b") : nullptr;
    if (file >= 0 && !stream)
        close(file);
    return stream;
}

int platform_stamp_below(const char *folder, const char *name, const FILETIME *last_write,
                         DWORD attributes) {
    Walk walk = {-1, std::string()};
    int file = -1;
    if (walk_folders(&walk, folder, name, false) == below_folder)
        file = open_regular(walk, O_RDONLY);
    release(&walk);
    struct stat info;
    if (file < 0 || fstat(file, &info) != 0) {
        if (file >= 0)
            close(file);
        return -1;
    }
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = last_write ? host_time(*last_write) : times[0];
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~mode_t(0222) : mode | 0200;
    bool stamped = futimens(file, times) == 0 && fchmod(file, mode) == 0;
    close(file);
    return stamped ? 0 : -1;
}

int platform_remove_below(const char *folder, const char *name, int empty_when_kept) {
    Walk walk = {-1, std::string()};
    int kind = walk_folders(&walk, folder, name, false);
    struct stat info;
    if (kind == below_folder)
        kind = last_status(walk, &info) ? kind_of(info) : errno == ENOENT ? below_missing : -1;
    int result = kind == below_missing ? 0 : -1;
    if (kind == below_file && !read_only(info) && unlinkat(walk.folder, walk.last.c_str(), 0) == 0)
        result = 0;
    int file =
        result != 0 && kind == below_file && empty_when_kept ? open_regular(walk, O_WRONLY) : -1;
    release(&walk);
    if (file >= 0) {
        result = ftruncate(file, 0) == 0 ? 1 : -1;
        close(file);
    }
    return result;
}
