#include "tests/support/test_paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string test_data(const std::string &path) {
    return std::string(ZQ_SOURCE_DIR) + "/tests/data/" + path;
}

std::string make_temp_dir(const char *tag) {
    std::string pattern =
        (fs::temp_directory_path() / (std::string("zq-") + tag + "-XXXXXX")).string();
    char *made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

void remove_tree(const std::string &path) {
    std::error_code ec;
    if (!path.empty())
        fs::remove_all(path, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
}

void list_files(const std::string &folder, const std::string &prefix,
                std::vector<std::string> *files) {
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        std::string path = folder + "/" + name;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            list_files(path, prefix + name + "/", files);
        else
            files->push_back(prefix + name);
    }
    closedir(dir);
}

std::map<std::string, std::string> files_below(const std::string &folder) {
    std::vector<std::string> names;
    list_files(folder, "", &names);
    std::map<std::string, std::string> files;
    for (const std::string &name : names)
        files[name] = read_file(folder + "/" + name);
    return files;
}

std::vector<std::string> differing_files(const std::map<std::string, std::string> &a,
                                         const std::map<std::string, std::string> &b) {
    std::vector<std::string> names;
    for (const auto &file : a) {
        auto other = b.find(file.first);
        if (other == b.end() || other->second != file.second)
            names.push_back(file.first);
    }
    for (const auto &file : b)
        if (a.find(file.first) == a.end())
            names.push_back(file.first);
    return names;
}
