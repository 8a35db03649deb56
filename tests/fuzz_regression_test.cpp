// Replays every input kept in tests/fuzz/regressions (inputs that once broke
// a fuzz target) through the entry functions of all fuzz targets, so that the
// normal and the ASan+UBSan builds keep them fixed. A broken invariant aborts
// with its message; a fault shows as a crash or a sanitizer report.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_entries.h"
#include "tests/support/test_paths.h"

namespace {

std::vector<std::string> regression_inputs() {
    std::vector<std::string> names;
    DIR *dir = opendir(ZQ_FUZZ_REGRESSIONS);
    if (!dir)
        return names;
    while (dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FuzzRegression, EveryInputThroughEveryTarget) {
    std::vector<std::string> names = regression_inputs();
    ASSERT_FALSE(names.empty()) << "no inputs in " << ZQ_FUZZ_REGRESSIONS;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        std::string bytes = read_file(std::string(ZQ_FUZZ_REGRESSIONS) + "/" + name);
        const uint8_t *data = reinterpret_cast<const uint8_t *>(bytes.data());
        EXPECT_EQ(fuzz_header_walk(data, bytes.size()), 0);
        EXPECT_EQ(fuzz_unpack(data, bytes.size()), 0);
        EXPECT_EQ(fuzz_cipher_unpack(data, bytes.size()), 0);
        EXPECT_EQ(fuzz_round_trip(data, bytes.size()), 0);
        EXPECT_EQ(fuzz_extract(data, bytes.size()), 0);
    }
}

} // namespace
