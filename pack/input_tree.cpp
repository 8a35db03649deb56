// The input-tree walk: the packer's command-line inputs into archive
// entries. Everything is examined before the archive is written: names,
// sizes and readability are checked up front, the entries come sorted
// (folders before their contents), and two inputs that give the same name
// are refused.
#include "pack/input_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include "archive/rar_format.h"

namespace fs = std::filesystem;

namespace {

// Size, time and attributes of a path; false when it cannot be examined.
bool examine(const std::string &path, ArchiveEntry *e) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0)
        return false;
    DWORD a = GetFileAttributesA(path.c_str());
    constexpr uint32_t kept = attribute_read_only | attribute_hidden | attribute_system |
                              attribute_directory | attribute_archive;
    e->attributes = a == INVALID_FILE_ATTRIBUTES ? 0 : (a & kept);
    // A file with none of these bits ("normal") is stored as an archive file,
    // so the setup never sets an empty attribute set.
    if (e->attributes == 0)
        e->attributes = e->is_directory ? attribute_directory : attribute_archive;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    std::string base = fs::path(path).filename().string();
    e->attributes = e->is_directory ? attribute_directory : attribute_archive;
    if (!(st.st_mode & S_IWUSR))
        e->attributes |= attribute_read_only;
    if (!base.empty() && base[0] == '.')
        e->attributes |= attribute_hidden; // the convention for hidden files here
#endif
    e->size = e->is_directory ? 0 : uint64_t(st.st_size);
    e->dos_time = dos_time_of(int64_t(st.st_mtime));
    return true;
}

std::string archive_name(const fs::path &relative) {
    std::string name;
    for (const fs::path &part : relative) {
        if (!name.empty())
            name += '\\';
        name += part.string();
    }
    return name;
}

int add_entry(const std::string &path, const std::string &name, bool directory,
              std::vector<ArchiveEntry> *entries, std::string *error) {
    ArchiveEntry e{path, name, directory, 0, 0, 0};
    if (!examine(path, &e)) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return 1;
    }
    if (name.size() > max_entry_name) {
        *error = "name too long for the archive (" + std::to_string(name.size()) +
                 " characters, at most " + std::to_string(max_entry_name) + "): " + name;
        return 1;
    }
    if (!directory) {
        if (e.size > max_file_size) {
            *error = path + " is 2 GiB or larger, which the archive cannot hold";
            return 1;
        }
        FILE *probe = fopen(path.c_str(), "rb");
        if (!probe) {
            *error = "cannot read " + path + ": " + strerror(errno);
            return 1;
        }
        fclose(probe);
    }
    entries->push_back(e);
    return 0;
}

} // namespace

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
                    std::string *error) {
    for (const std::string &input : inputs) {
        std::error_code ec;
        fs::file_status status = fs::status(input, ec);
        if (ec || !fs::exists(status)) {
            *error = "cannot read " + input + ": " + (ec ? ec.message() : "no such file or folder");
            return 1;
        }
        if (!fs::is_directory(status)) {
            std::string name = fs::path(input).filename().string();
            if (add_entry(input, name, false, entries, error) != 0)
                return 1;
            continue;
        }
        std::vector<std::pair<std::string, fs::path>> found;
        fs::recursive_directory_iterator it(input, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            const fs::path &p = it->path();
            found.emplace_back(archive_name(p.lexically_relative(input)), p);
        }
        if (ec) {
            *error = "cannot read " + input + ": " + ec.message();
            return 1;
        }
        std::sort(found.begin(), found.end());
        for (const auto &f : found) {
            bool directory = fs::is_directory(f.second, ec);
            if (add_entry(f.second.string(), f.first, directory, entries, error) != 0)
                return 1;
        }
    }
    std::vector<std::string> names;
    for (const ArchiveEntry &e : *entries)
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    for (size_t i = 1; i < names.size(); i++)
        if (names[i] == names[i - 1]) {
            *error = "two inputs give the same name in the archive: " + names[i];
            return 1;
        }
    return 0;
}
