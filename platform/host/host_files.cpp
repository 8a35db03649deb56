// The Linux file layer: the Windows file calls on the host's file system
// (drive letters, attributes, folder creation, file handles and times, the
// find-first search) and the runtime streams of the platform seam. The tools
// link it as it is; the tests link a build with fault hooks
// (host_fault_hooks.h).
//
// Drive letters exist only once a caller has chosen a root folder for them
// (host_set_root: a test's temporary folder); then a Windows path "X:\a\b"
// names <root>/X/a/b, '\' and '/' are both separators, "." and ".." are
// resolved as Windows does, never above the drive folder, and below the root
// names are looked up ignoring case, like on an NTFS volume: an existing file
// is found under any spelling, a new one is created with the spelling given.
// A path without a drive letter is then a host path with '\' turned into
// '/'. Without a root (the tools) every path is a host path used exactly as
// given: "c:x" is a file name and '\' an ordinary character.
//
// Links are what Windows calls reparse points: GetFileAttributesA, and a
// handle opened with FILE_FLAG_OPEN_REPARSE_POINT, see the link itself
// (FILE_ATTRIBUTE_REPARSE_POINT; a link to a folder stands for a junction),
// DeleteFileA removes a link to a file and RemoveDirectoryA one to a folder,
// never what it points to. A FIFO, device or socket, which no Windows folder
// holds, shows FILE_ATTRIBUTE_DEVICE, and CreateFileA gives a handle on it
// for its attributes only, never one to read or write through, so that no
// call blocks on it.
//
// Invariant: what a Windows program can observe through these calls matches
// Windows for the cases the setup meets. The read-only attribute is the file's
// write permission bits; because the tests may run as root, who may write any
// file, the layer itself refuses to open, delete or overwrite a read-only file,
// as Windows does. The other attribute bits (hidden, system, archive, ...) live
// in a side table keyed by host path, dropped when the file is deleted or
// created afresh, so that a file reads back what was set until then.
//
// Everything runs on one thread; nothing here is tuned for speed beyond doing
// one stat per path component.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/host/host_fault_hooks.h"
#include "platform/host/host_files.h"
#include "platform/win32_api.h"

static constexpr DWORD error_file_exists = 80;
static constexpr DWORD error_invalid_parameter = 87;
static constexpr DWORD error_dir_not_empty = 145;
static constexpr DWORD error_directory = 267;

// Attribute bits that SetFileAttributesA stores besides read-only.
static constexpr DWORD kept_attribute_bits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// 100-ns intervals between 1601-01-01 (FILETIME) and 1970-01-01 (Unix).
static constexpr int64_t unix_epoch_ticks = 116444736000000000LL;

static DWORD last_error = ERROR_SUCCESS;

DWORD GetLastError() {
    return last_error;
}

void SetLastError(DWORD code) {
    last_error = code;
}

static std::string &root_folder() {
    static std::string root;
    return root;
}

static std::map<std::string, DWORD> &attribute_table() {
    static std::map<std::string, DWORD> table;
    return table;
}

void host_set_root(const char *root) {
    root_folder() = root ? root : "";
}

static bool is_separator(char c) {
    return c == '\\' || c == '/';
}

static bool same_name_ignoring_case(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The entry of folder that is called name in any letter case; name itself
// when there is none (a file about to be created).
static std::string existing_spelling(const std::string &folder, const std::string &name) {
    struct stat info;
    if (lstat((folder + "/" + name).c_str(), &info) == 0)
        return name;
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return name;
    std::string found = name;
    while (dirent *entry = readdir(dir)) {
        if (same_name_ignoring_case(entry->d_name, name.c_str())) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

std::string host_path(const char *windows_path) {
    std::string path = windows_path ? windows_path : "";
    if (root_folder().empty())
        return path;
    if (path.size() < 2 || !isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':') {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    std::vector<std::string> parts;
    size_t pos = 2;
    while (pos < path.size()) {
        while (pos < path.size() && is_separator(path[pos]))
            ++pos;
        size_t end = pos;
        while (end < path.size() && !is_separator(path[end]))
            ++end;
        std::string part = path.substr(pos, end - pos);
        pos = end;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string result = root_folder() + "/" + char(toupper(static_cast<unsigned char>(path[0])));
    for (const std::string &part : parts)
        result += "/" + existing_spelling(result, part);
    if (!parts.empty() && is_separator(path.back()))
        result += "/";
    return result;
}

static std::string attribute_key(const std::string &host) {
    std::string key = host;
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

static void forget_attributes(const std::string &host) {
    attribute_table().erase(attribute_key(host));
}

static const DWORD *stored_attributes(const std::string &host) {
    auto it = attribute_table().find(attribute_key(host));
    return it == attribute_table().end() ? nullptr : &it->second;
}

// Windows tells a missing file in an existing folder from a missing folder.
static DWORD missing_error(const std::string &host, int error) {
    if (error != ENOENT)
        return error == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    std::string parent = host;
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    size_t cut = parent.rfind('/');
    parent = cut == std::string::npos ? "." : cut == 0 ? "/" : parent.substr(0, cut);
    struct stat info;
    if (stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

static DWORD attributes_of(const std::string &host, const struct stat &info) {
    const DWORD *stored = stored_attributes(host);
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) {
        attributes = FILE_ATTRIBUTE_DIRECTORY | (stored ? *stored : 0);
    } else {
        attributes = stored ? *stored : FILE_ATTRIBUTE_ARCHIVE;
        if ((info.st_mode & 0222) == 0)
            attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

static bool read_only_file(const std::string &host, const struct stat &info) {
    return !S_ISDIR(info.st_mode) && (attributes_of(host, info) & FILE_ATTRIBUTE_READONLY);
}

static bool linked_folder(const std::string &host) {
    struct stat target;
    return stat(host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
}

// What Windows shows for the entry at host, info being its own status (lstat).
static DWORD entry_attributes(const std::string &host, const struct stat &info) {
    if (S_ISLNK(info.st_mode))
        return FILE_ATTRIBUTE_REPARSE_POINT |
               (linked_folder(host) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
        return FILE_ATTRIBUTE_DEVICE;
    return attributes_of(host, info);
}

DWORD GetFileAttributesA(LPCSTR path) {
    std::string host = host_path(path);
    struct stat info;
    if (lstat(host.c_str(), &info) != 0) {
        SetLastError(missing_error(host, errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    return entry_attributes(host, info);
}

// Stores attributes for the file or folder at host (info: its status): the
// read-only bit of a file as its write permissions, set through fd when it
// is not -1, the other bits in the side table.
static BOOL store_attributes(const std::string &host, const struct stat &info, DWORD attributes,
                             int fd) {
    DWORD kept = attributes & kept_attribute_bits;
    if (S_ISDIR(info.st_mode)) {
        // A read-only folder still takes new files on Windows: keep the bit only.
        kept |= attributes & FILE_ATTRIBUTE_READONLY;
    } else {
        mode_t old_mode = info.st_mode & 07777;
        mode_t mode =
            (attributes & FILE_ATTRIBUTE_READONLY) ? old_mode & ~mode_t(0222) : old_mode | 0200;
        // Most files keep their mode: no call for them.
        if (mode != old_mode && (fd >= 0 ? fchmod(fd, mode) : chmod(host.c_str(), mode)) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    attribute_table()[attribute_key(host)] = kept;
    return TRUE;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
    std::string host = host_path(path);
    if (host_fault_strikes(host_fault_set_attributes, host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    struct stat info;
    if (stat(host.c_str(), &info) != 0) {
        SetLastError(missing_error(host, errno));
        return FALSE;
    }
    return store_attributes(host, info, attributes, -1);
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    std::string host = host_path(path);
    if (host_fault_strikes(host_fault_create_directory, host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (mkdir(host.c_str(), 0777) == 0) {
        forget_attributes(host);
        return TRUE;
    }
    if (errno == EEXIST)
        SetLastError(ERROR_ALREADY_EXISTS);
    else if (errno == ENOENT || errno == ENOTDIR)
        SetLastError(ERROR_PATH_NOT_FOUND);
    else
        SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
    std::string host = host_path(path);
    struct stat info;
    if (lstat(host.c_str(), &info) != 0) {
        SetLastError(missing_error(host, errno));
        return FALSE;
    }
    bool junction = S_ISLNK(info.st_mode) && linked_folder(host);
    if (!S_ISDIR(info.st_mode) && !junction) {
        SetLastError(error_directory);
        return FALSE;
    }
    if ((junction ? unlink(host.c_str()) : rmdir(host.c_str())) != 0) {
        SetLastError(errno == ENOTEMPTY || errno == EEXIST ? error_dir_not_empty
                                                           : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    forget_attributes(host);
    return TRUE;
}

// The removal rules of Windows: no folders (junctions included), no
// read-only files.
BOOL DeleteFileA(LPCSTR path) {
    std::string host = host_path(path);
    if (host_fault_strikes(host_fault_remove, host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    struct stat info;
    if (lstat(host.c_str(), &info) != 0) {
        SetLastError(missing_error(host, errno));
        return FALSE;
    }
    if ((entry_attributes(host, info) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ||
        unlink(host.c_str()) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    forget_attributes(host);
    return TRUE;
}

FILE *platform_open_stream(const char *path, const char *mode, int) {
    std::string host = host_path(path);
    if (host_fault_strikes(host_fault_open, host)) {
        errno = EACCES;
        return nullptr;
    }
    bool writes = strpbrk(mode, "wa+") != nullptr;
    struct stat info;
    if (writes && stat(host.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode) || read_only_file(host, info)) {
            errno = EACCES;
            return nullptr;
        }
    }
    FILE *stream = fopen(host.c_str(), mode);
    if (stream && mode[0] == 'w')
        forget_attributes(host);
    return host_fault_wrap_stream(stream, host);
}

struct HostFileHandle {
    int fd;
    bool writable; // GENERIC_WRITE: the contents
    bool stamps;   // GENERIC_WRITE or FILE_WRITE_ATTRIBUTES: the times and attributes
    std::string host;
};

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags_and_attributes, HANDLE) {
    std::string host = host_path(path);
    if (host_fault_strikes(host_fault_create_file, host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    bool writable = (access & GENERIC_WRITE) != 0;
    bool as_itself = (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    int flags = as_itself ? O_NOFOLLOW : 0;
    struct stat info;
    bool exists = (as_itself ? lstat(host.c_str(), &info) : stat(host.c_str(), &info)) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        // A folder (with FILE_FLAG_BACKUP_SEMANTICS), a link opened as itself
        // or a file that is no disk file: open for its attributes only,
        // through a path descriptor, which never blocks.
        bool folder_refused =
            S_ISDIR(info.st_mode) && !(flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS);
        if (writable || disposition != OPEN_EXISTING || folder_refused) {
            SetLastError(disposition == CREATE_NEW ? error_file_exists : ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        int fd = open(host.c_str(), O_PATH | flags | O_CLOEXEC);
        if (fd < 0) {
            SetLastError(missing_error(host, errno));
            return INVALID_HANDLE_VALUE;
        }
        return new HostFileHandle{fd, false, false, host};
    }
    switch (disposition) {
    case CREATE_NEW:
        if (exists) {
            SetLastError(error_file_exists);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        if (!exists) {
            SetLastError(missing_error(host, errno));
            return INVALID_HANDLE_VALUE;
        }
        break;
    default:
        SetLastError(error_invalid_parameter);
        return INVALID_HANDLE_VALUE;
    }
    if (exists && (writable || disposition == CREATE_ALWAYS) && read_only_file(host, info)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Truncation needs write access on the host whatever the caller asked.
    if (writable || disposition != OPEN_EXISTING)
        flags |= (access & GENERIC_READ) || !writable ? O_RDWR : O_WRONLY;
    int fd = open(host.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(missing_error(host, errno));
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING)
        forget_attributes(host);
    SetLastError(exists && disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    bool stamps = writable || (access & FILE_WRITE_ATTRIBUTES);
    return new HostFileHandle{fd, writable, stamps, host};
}

BOOL CloseHandle(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return FALSE;
    HostFileHandle *file = static_cast<HostFileHandle *>(handle);
    close(file->fd);
    delete file;
    return TRUE;
}

FILE *platform_stream_from_handle(HANDLE handle, const char *mode) {
    HostFileHandle *file = static_cast<HostFileHandle *>(handle);
    FILE *stream = fdopen(file->fd, mode);
    if (!stream)
        close(file->fd);
    FILE *wrapped = host_fault_wrap_stream(stream, file->host);
    delete file;
    return wrapped;
}

static HostFileHandle *file_of(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) {
        SetLastError(error_invalid_parameter);
        return nullptr;
    }
    return static_cast<HostFileHandle *>(handle);
}

static FILETIME to_file_time(const timespec &time) {
    int64_t ticks = int64_t(time.tv_sec) * 10000000 + time.tv_nsec / 100 + unix_epoch_ticks;
    return FILETIME{DWORD(uint64_t(ticks)), DWORD(uint64_t(ticks) >> 32)};
}

timespec host_time(const FILETIME &time) {
    int64_t ticks =
        int64_t((uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime) - unix_epoch_ticks;
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    timespec result;
    result.tv_sec = time_t(seconds);
    result.tv_nsec = long(rest * 100);
    return result;
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION data) {
    HostFileHandle *file = file_of(handle);
    struct stat info;
    if (!file || fstat(file->fd, &info) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = entry_attributes(file->host, info);
    // The host keeps no creation time; the status-change time stands in for it.
    data->ftCreationTime = to_file_time(info.st_ctim);
    data->ftLastAccessTime = to_file_time(info.st_atim);
    data->ftLastWriteTime = to_file_time(info.st_mtim);
    uint64_t size = S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
    data->nFileSizeHigh = DWORD(size >> 32);
    data->nFileSizeLow = DWORD(size);
    return TRUE;
}

DWORD GetFileType(HANDLE handle) {
    HostFileHandle *file = file_of(handle);
    struct stat info;
    if (!file || fstat(file->fd, &info) != 0)
        return FILE_TYPE_UNKNOWN;
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return FILE_TYPE_CHAR;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
        return FILE_TYPE_PIPE;
    return FILE_TYPE_DISK;
}

BOOL SetFileTime(HANDLE handle, const FILETIME *, const FILETIME *last_access,
                 const FILETIME *last_write) {
    HostFileHandle *file = file_of(handle);
    if (!file)
        return FALSE;
    if (host_fault_strikes(host_fault_set_time, std::string())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!file->stamps) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = times[0];
    if (last_access)
        times[0] = host_time(*last_access);
    if (last_write)
        times[1] = host_time(*last_write);
    if (futimens(file->fd, times) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

// The attributes of FileBasicInfo; the model sets times with SetFileTime only.
BOOL SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data,
                                DWORD size) {
    HostFileHandle *file = file_of(handle);
    if (!file)
        return FALSE;
    const FILE_BASIC_INFO *basic = static_cast<const FILE_BASIC_INFO *>(data);
    if (kind != FileBasicInfo || size < sizeof *basic || basic->CreationTime.QuadPart ||
        basic->LastAccessTime.QuadPart || basic->LastWriteTime.QuadPart ||
        basic->ChangeTime.QuadPart) {
        SetLastError(error_invalid_parameter);
        return FALSE;
    }
    struct stat info;
    if (host_fault_strikes(host_fault_set_attributes, file->host) || !file->stamps ||
        fstat(file->fd, &info) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return basic->FileAttributes == 0 ||
           store_attributes(file->host, info, basic->FileAttributes, file->fd);
}

BOOL SetEndOfFile(HANDLE handle) {
    HostFileHandle *file = file_of(handle);
    if (!file)
        return FALSE;
    off_t at = lseek(file->fd, 0, SEEK_CUR);
    if (!file->writable || at < 0 || ftruncate(file->fd, at) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

static bool leap_year(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1601-01-01 to the given date (proleptic Gregorian).
static int64_t days_since_1601(int year, int month, int day) {
    static const int days_before_month[12] = {0,   31,  59,  90,  120, 151,
                                              181, 212, 243, 273, 304, 334};
    int64_t years = year - 1601;
    int64_t days = years * 365 + years / 4 - years / 100 + years / 400;
    days += days_before_month[month - 1] + day - 1;
    if (month > 2 && leap_year(year))
        ++days;
    return days;
}

BOOL DosDateTimeToFileTime(WORD dos_date, WORD dos_time, LPFILETIME file_time) {
    static const int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int day = dos_date & 31;
    int month = (dos_date >> 5) & 15;
    int year = 1980 + (dos_date >> 9);
    int second = (dos_time & 31) * 2;
    int minute = (dos_time >> 5) & 63;
    int hour = dos_time >> 11;
    bool valid =
        month >= 1 && month <= 12 && day >= 1 && hour <= 23 && minute <= 59 && second <= 59;
    if (valid)
        valid = day <= month_days[month - 1] + (month == 2 && leap_year(year) ? 1 : 0);
    if (!valid) {
        SetLastError(error_invalid_parameter);
        return FALSE;
    }
    int64_t seconds =
        days_since_1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    uint64_t ticks = uint64_t(seconds) * 10000000;
    file_time->dwLowDateTime = DWORD(ticks);
    file_time->dwHighDateTime = DWORD(ticks >> 32);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc) {
    *utc = *local;
    return TRUE;
}

// Windows' '?' matches one character, or nothing where the name has a '.' or
// has ended; a '.' matches the end of a name, so "*.*" also finds "README".
static bool wildcard_match(const char *pattern, const char *name) {
    for (;;) {
        char p = *pattern;
        if (p == '\0')
            return *name == '\0';
        if (p == '*') {
            for (const char *rest = name;; ++rest) {
                if (wildcard_match(pattern + 1, rest))
                    return true;
                if (*rest == '\0')
                    return false;
            }
        }
        if (p == '?') {
            if (*name == '\0' || *name == '.') {
                while (*pattern == '?')
                    ++pattern;
                continue;
            }
        } else if (p == '.' && *name == '\0') {
            ++pattern;
            continue;
        } else if (tolower(static_cast<unsigned char>(p)) !=
                   tolower(static_cast<unsigned char>(*name))) {
            return false;
        }
        ++pattern;
        ++name;
    }
}

struct HostFindHandle {
    int unused;
};

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    std::string text = pattern ? pattern : "";
    size_t cut = text.find_last_of("\\/");
    std::string folder_text;
    std::string name_pattern;
    if (cut != std::string::npos) {
        folder_text = text.substr(0, cut + 1);
        name_pattern = text.substr(cut + 1);
    } else if (text.size() >= 2 && text[1] == ':') {
        folder_text = text.substr(0, 2) + "\\";
        name_pattern = text.substr(2);
    } else {
        folder_text = ".";
        name_pattern = text;
    }
    std::string folder = host_path(folder_text.c_str());
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Names in the order an NTFS folder lists them: alphabetical, ignoring case.
    std::vector<std::string> matches;
    while (dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (wildcard_match(name_pattern.c_str(), entry->d_name))
            matches.push_back(entry->d_name);
    }
    closedir(dir);
    if (matches.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(matches.begin(), matches.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    std::string host = folder + "/" + matches.front();
    struct stat info;
    if (stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = attributes_of(host, info);
    data->ftCreationTime = to_file_time(info.st_ctim);
    data->ftLastAccessTime = to_file_time(info.st_atim);
    data->ftLastWriteTime = to_file_time(info.st_mtim);
    uint64_t size = S_ISDIR(info.st_mode) ? 0 : uint64_t(info.st_size);
    data->nFileSizeHigh = DWORD(size >> 32);
    data->nFileSizeLow = DWORD(size);
    snprintf(data->cFileName, sizeof data->cFileName, "%s", matches.front().c_str());
    return new HostFindHandle{0};
}

BOOL FindClose(HANDLE find) {
    if (!find || find == INVALID_HANDLE_VALUE)
        return FALSE;
    delete static_cast<HostFindHandle *>(find);
    return TRUE;
}
