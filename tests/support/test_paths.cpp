#include "tests/support/test_paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string external_sample(const char *name) {
    // The samples live in the shared folder beside the checkout.
    const char *dir = getenv("ZQ_EXTERNAL_SAMPLES");
    if (dir)
        return std::string(dir) + "/" + name;
    return std::string(ZQ_SOURCE_DIR) + "/../shared/testdata/external/" + name;
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
