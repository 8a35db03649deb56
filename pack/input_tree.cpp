// The input-tree walk: the packer's command-line inputs into archive
// entries. Everything is examined before the archive is written: names,
// sizes and readability are checked up front, the entries come sorted
// (folders before their contents), and two inputs that give the same name
// are refused.
//
// The inputs may be a folder others can write to, so nothing in it is
// trusted: a path is examined without following a link before anything is
// opened (opening a FIFO waits for a writer, opening a device may act), a
// link is resolved and followed only when it stays inside the folder given,
// and the walk keeps the folders it is inside to stop at a loop.
#include "pack/input_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "archive/entry_name.h"
#include "archive/rar_format.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char separator = '\\';
#else
constexpr char separator = '/';
#endif

// What a path is, a link at its end not followed.
enum NodeKind { node_missing, node_file, node_folder, node_link, node_other };

// Which file a path reaches: device and inode, on Windows the volume and the
// file index.
struct FileId {
    uint64_t volume;
    uint64_t index;
};

struct FileInfo {
    FileId id;
    uint64_t size;
    int64_t mtime;
    uint32_t attributes; // without attribute_hidden from the name
};

struct Walk {
    std::vector<ArchiveEntry> *entries;
    std::vector<std::string> *notes;
    std::string *error;
    bool output_exists;
    FileId output;
    int left_out;
    std::string root;                 // the folder given, resolved
    std::vector<std::string> folders; // the resolved folders the walk is inside
};

// Bytes below 0x20 and 0x7F as \xNN, so that a name cannot move the cursor
// or forge a line of the message it is printed in.
std::string printable(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7F) {
            out += char(c);
            continue;
        }
        char escaped[5];
        snprintf(escaped, sizeof escaped, "\\x%02X", c);
        out += escaped;
    }
    return out;
}

int fail(Walk *w, const std::string &message) {
    *w->error = message;
    return 1;
}

// Both return -1 for open_regular, and leave their message in error.
int cannot_read(std::string *error, const std::string &path) {
    const char *why = strerror(errno);
    *error = "cannot read " + printable(path) + ": " + why;
    return -1;
}

int not_regular(std::string *error, const std::string &path) {
    *error = printable(path) + " is not a regular file (a FIFO, device or socket?); only files" +
             " and folders can be packed";
    return -1;
}

#ifdef _WIN32

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The attributes the setup sets; a file with none of them ("normal") is
// stored as an archive file, so the setup never sets an empty attribute set.
uint32_t kept_attributes(DWORD a) {
    constexpr uint32_t kept = attribute_read_only | attribute_hidden | attribute_system |
                              attribute_directory | attribute_archive;
    uint32_t attributes = a & kept;
    if (attributes == 0)
        attributes = (a & FILE_ATTRIBUTE_DIRECTORY) ? attribute_directory : attribute_archive;
    return attributes;
}

FileId id_of(const BY_HANDLE_FILE_INFORMATION &bi) {
    return FileId{bi.dwVolumeSerialNumber, uint64_t(bi.nFileIndexHigh) << 32 | bi.nFileIndexLow};
}

void set_errno_from_last_error() {
    DWORD e = GetLastError();
    errno = e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION ? EACCES : ENOENT;
}

// Symbolic links and junctions lead elsewhere; other reparse points (files
// kept in the cloud, deduplicated ones) are files where they stand.
bool leads_elsewhere(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(path.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    FindClose(h);
    return IsReparseTagNameSurrogate(found.dwReserved0);
}

NodeKind node_kind(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return node_missing;
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) && leads_elsewhere(path))
        return node_link;
    if (a & FILE_ATTRIBUTE_DIRECTORY)
        return node_folder;
    return (a & FILE_ATTRIBUTE_DEVICE) ? node_other : node_file;
}

// The path with every link and junction resolved.
bool resolve(const std::string &path, std::string *real) {
    HANDLE h = CreateFileA(path.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        set_errno_from_last_error();
        return false;
    }
    char buffer[4 * MAX_PATH];
    DWORD n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof buffer)
        set_errno_from_last_error();
    CloseHandle(h);
    if (n == 0 || n >= sizeof buffer)
        return false;
    std::string s(buffer, n);
    if (s.rfind("\\\\?\\UNC\\", 0) == 0)
        s = "\\\\" + s.substr(8);
    else if (s.rfind("\\\\?\\", 0) == 0)
        s = s.substr(4);
    *real = s;
    return true;
}

bool file_id_of(const char *path, FileId *id) {
    HANDLE h = CreateFileA(path, 0, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION bi;
    bool ok = GetFileInformationByHandle(h, &bi);
    CloseHandle(h);
    if (ok)
        *id = id_of(bi);
    return ok;
}

bool folder_info(const std::string &path, FileInfo *info) {
    struct _stat64 st;
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || _stat64(path.c_str(), &st) != 0)
        return false;
    *info = FileInfo{{0, 0}, 0, int64_t(st.st_mtime), kept_attributes(a)};
    return true;
}

int open_regular(const std::string &path, bool follow_link, FileInfo *info, std::string *error) {
    NodeKind kind = node_kind(path);
    if (kind == node_missing) {
        set_errno_from_last_error();
        return cannot_read(error, path);
    }
    if (kind == node_folder || kind == node_other || (kind == node_link && !follow_link))
        return not_regular(error, path);
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return cannot_read(error, path);
    HANDLE h = HANDLE(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION bi;
    struct _stat64 st;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &bi) ||
        (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || _fstat64(fd, &st) != 0) {
        _close(fd);
        return not_regular(error, path);
    }
    *info = FileInfo{id_of(bi), uint64_t(st.st_size), int64_t(st.st_mtime),
                     kept_attributes(bi.dwFileAttributes)};
    return fd;
}

#else

uint32_t kept_attributes(const struct stat &st) {
    uint32_t attributes = S_ISDIR(st.st_mode) ? attribute_directory : attribute_archive;
    if (!(st.st_mode & S_IWUSR))
        attributes |= attribute_read_only;
    return attributes;
}

NodeKind node_kind(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return node_missing;
    if (S_ISLNK(st.st_mode))
        return node_link;
    if (S_ISDIR(st.st_mode))
        return node_folder;
    return S_ISREG(st.st_mode) ? node_file : node_other;
}

bool resolve(const std::string &path, std::string *real) {
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return false;
    *real = resolved;
    free(resolved);
    return true;
}

bool file_id_of(const char *path, FileId *id) {
    struct stat st;
    if (lstat(path, &st) != 0)
        return false;
    *id = FileId{uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return true;
}

bool folder_info(const std::string &path, FileInfo *info) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    *info = FileInfo{{0, 0}, 0, int64_t(st.st_mtime), kept_attributes(st)};
    return true;
}

int open_regular(const std::string &path, bool follow_link, FileInfo *info, std::string *error) {
    struct stat st;
    if ((follow_link ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return cannot_read(error, path);
    if (!S_ISREG(st.st_mode))
        return not_regular(error, path);
    // O_NONBLOCK: should a FIFO have taken the file's place since, the open
    // returns at once and the check below refuses it.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return cannot_read(error, path);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return not_regular(error, path);
    }
    *info = FileInfo{{uint64_t(st.st_dev), uint64_t(st.st_ino)},
                     uint64_t(st.st_size),
                     int64_t(st.st_mtime),
                     kept_attributes(st)};
    return fd;
}

#endif

bool inside(const std::string &path, const std::string &root) {
    return path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || root.back() == separator ||
            path[root.size()] == separator);
}

// What Windows cannot hold in a name, or changes there, beyond what the
// extractor's rule refuses: control characters, the characters its paths
// and wildcards reserve, and a trailing dot or space, which it drops
// ("README." would become "README").
const char *windows_name_problem(const std::string &part) {
    for (unsigned char c : part) {
        if (c < 0x20)
            return "a control character, which Windows does not allow in names";
        if (strchr("<>\"|?*", c))
            return "a character Windows does not allow in names";
    }
    if (!part.empty() && (part.back() == '.' || part.back() == ' '))
        return "a trailing dot or space, which Windows drops";
    return nullptr;
}

// The name an entry gets when part is added below prefix, checked: Windows
// must keep it as it stands, and the extractor must accept it.
int check_name(Walk *w, const std::string &part, const std::string &name) {
    const char *problem = nullptr;
    if (!name_stays_inside(name.c_str()))
        problem = "the setup refuses it (a drive or ':', a device name such as CON or AUX.TXT, or"
                  " a part of nothing but dots and spaces)";
#ifndef _WIN32
    else if (part.find('\\') != std::string::npos)
        problem = "a '\\', which the setup reads as a folder separator";
#endif
    else
        problem = windows_name_problem(part);
    if (problem)
        return fail(w, "cannot pack " + printable(name) + ": " + problem);
    if (name.size() > max_entry_name)
        return fail(w, "name too long for the archive (" + std::to_string(name.size()) +
                           " characters, at most " + std::to_string(max_entry_name) +
                           "): " + printable(name));
    return 0;
}

uint32_t hidden_by_name(const std::string &part) {
#ifdef _WIN32
    (void)part;
    return 0;
#else
    return !part.empty() && part[0] == '.' ? attribute_hidden : 0; // the convention here
#endif
}

int add_file(Walk *w, const std::string &path, const std::string &part, const std::string &name) {
    FileInfo info{};
    int fd = open_regular(path, false, &info, w->error);
    if (fd < 0)
        return 1;
    char probe;
    // Files of /proc and /sys claim to be empty and still deliver data.
    bool holds_data = info.size == 0 && read(fd, &probe, 1) > 0;
    close(fd);
    if (w->output_exists && info.id.volume == w->output.volume &&
        info.id.index == w->output.index) {
        if (w->notes)
            w->notes->push_back(printable(name) + " is OUTPUT itself; left out of the inputs");
        w->left_out++;
        return 0;
    }
    if (holds_data)
        return fail(w, printable(path) + " claims to be empty but delivers data (a /proc or /sys" +
                           " file?); it cannot be packed");
    if (info.size > max_file_size)
        return fail(w, printable(path) + " is 2 GiB or larger, which the archive cannot hold");
    w->entries->push_back(ArchiveEntry{path, name, false, info.size, dos_time_of(info.mtime),
                                       info.attributes | hidden_by_name(part)});
    return 0;
}

int walk_folder(Walk *w, const std::string &folder, const std::string &prefix);

// One thing found in a folder: path is where it was found (its folder
// resolved), part its name there and name its name in the archive.
int add_node(Walk *w, const std::string &path, const std::string &part, const std::string &name) {
    if (check_name(w, part, name) != 0)
        return 1;
    std::string real = path;
    NodeKind kind = node_kind(path);
    if (kind == node_link) {
        if (!resolve(path, &real)) {
            const char *why = strerror(errno);
            return fail(w, printable(path) + " is a link that leads nowhere (" + why +
                               "); it cannot be packed");
        }
        if (!inside(real, w->root))
            return fail(w, printable(path) + " is a link that leads out of " + printable(w->root) +
                               "; it cannot be packed");
        kind = node_kind(real);
    }
    if (kind == node_file)
        return add_file(w, real, part, name);
    if (kind != node_folder) {
        (kind == node_missing ? cannot_read : not_regular)(w->error, path);
        return 1;
    }
    FileInfo info{};
    if (!folder_info(real, &info)) {
        cannot_read(w->error, real);
        return 1;
    }
    w->entries->push_back(ArchiveEntry{real, name, true, 0, dos_time_of(info.mtime),
                                       info.attributes | hidden_by_name(part)});
    return walk_folder(w, real, name);
}

int walk_folder(Walk *w, const std::string &folder, const std::string &prefix) {
    for (const std::string &open : w->folders)
        if (open == folder)
            return fail(w, "a link leads back into " + printable(folder) +
                               ", which contains it: a loop; it cannot be packed");
    std::vector<std::string> parts;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        parts.push_back(it->path().filename().string());
    if (ec)
        return fail(w, "cannot read " + printable(folder) + ": " + ec.message());
    std::sort(parts.begin(), parts.end());
    w->folders.push_back(folder);
    std::string path = folder + (folder.back() == separator ? "" : std::string(1, separator));
    for (const std::string &part : parts) {
        std::string name = prefix.empty() ? part : prefix + '\\' + part;
        if (add_node(w, path + part, part, name) != 0)
            return 1;
    }
    w->folders.pop_back();
    return 0;
}

int add_input(Walk *w, const std::string &input) {
    std::string real;
    if (!resolve(input, &real)) {
        cannot_read(w->error, input);
        return 1;
    }
    NodeKind kind = node_kind(real);
    if (kind == node_file) {
        std::string part = fs::path(input).filename().string();
        if (check_name(w, part, part) != 0)
            return 1;
        return add_file(w, real, part, part);
    }
    if (kind != node_folder) {
        not_regular(w->error, input);
        return 1;
    }
    // A folder contributes its contents, sorted by their names.
    size_t first = w->entries->size();
    w->root = real;
    if (walk_folder(w, real, "") != 0)
        return 1;
    std::sort(w->entries->begin() + ptrdiff_t(first), w->entries->end(),
              [](const ArchiveEntry &a, const ArchiveEntry &b) { return a.name < b.name; });
    return 0;
}

std::string lower_ascii(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

} // namespace

FILE *open_regular_file(const std::string &path, bool follow_link, std::string *error) {
    FileInfo info{};
    int fd = open_regular(path, follow_link, &info, error);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "rb");
    if (!f) {
        cannot_read(error, path);
        close(fd);
    }
    return f;
}

uint32_t dos_time_of(int64_t unix_time) {
    time_t t = time_t(unix_time);
    struct tm local;
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0)
        return 0x00210000; // 1980-01-01
#else
    if (!localtime_r(&t, &local))
        return 0x00210000;
#endif
    int year = local.tm_year + 1900;
    if (year < 1980)
        return 0x00210000;
    if (year > 2107)
        return 0xFF9FBF7D; // 2107-12-31 23:59:58
    return uint32_t(year - 1980) << 25 | uint32_t(local.tm_mon + 1) << 21 |
           uint32_t(local.tm_mday) << 16 | uint32_t(local.tm_hour) << 11 |
           uint32_t(local.tm_min) << 5 | uint32_t(local.tm_sec / 2);
}

int collect_entries(const std::vector<std::string> &inputs, std::vector<ArchiveEntry> *entries,
                    std::string *error, const char *output, std::vector<std::string> *notes) {
    Walk w{entries, notes, error, false, {0, 0}, 0, {}, {}};
    w.output_exists = output && file_id_of(output, &w.output);
    for (const std::string &input : inputs)
        if (add_input(&w, input) != 0)
            return 1;
    if (w.left_out > 0 && entries->empty()) {
        *error = "nothing left to pack: OUTPUT was the only input";
        return 1;
    }
    // Windows takes names that differ only in the case of ASCII letters for
    // one file: the second would overwrite the first.
    std::vector<std::pair<std::string, const std::string *>> names;
    for (const ArchiveEntry &e : *entries)
        names.emplace_back(lower_ascii(e.name), &e.name);
    std::sort(names.begin(), names.end());
    for (size_t i = 1; i < names.size(); i++) {
        if (names[i].first != names[i - 1].first)
            continue;
        const std::string &a = *names[i - 1].second, &b = *names[i].second;
        if (a == b)
            *error = "two inputs give the same name in the archive: " + printable(a);
        else
            *error =
                "names that differ only in case, which Windows takes for one: " + printable(a) +
                " and " + printable(b);
        return 1;
    }
    return 0;
}
