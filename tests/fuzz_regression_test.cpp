// Replays every input kept in tests/fuzz/regressions/TARGET/ (inputs that
// once broke a fuzz target) through the entry function of that target, so
// that the normal and the ASan+UBSan builds keep them fixed. A broken
// invariant aborts with its message; a fault shows as a crash or a sanitizer
// report.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/fuzz/fuzz_targets.h"
#include "tests/support/test_paths.h"

namespace {

struct FuzzTarget {
    const char *folder;
    int (*entry)(const uint8_t *data, size_t size);
};

const FuzzTarget targets[] = {
    {"header_walk", fuzz_header_walk},
    {"unpack", fuzz_unpack},
    {"cipher_unpack", fuzz_cipher_unpack},
    {"round_trip", fuzz_round_trip},
    {"extract", fuzz_extract},
};

TEST(FuzzRegression, EveryInputThroughItsTarget) {
    std::map<std::string, std::string> inputs = files_below(ZQ_FUZZ_REGRESSIONS);
    ASSERT_FALSE(inputs.empty()) << "no inputs in " << ZQ_FUZZ_REGRESSIONS;
    for (const auto &input : inputs) {
        SCOPED_TRACE(input.first);
        size_t slash = input.first.find('/');
        std::string folder = slash == std::string::npos ? "" : input.first.substr(0, slash);
        const FuzzTarget *target = nullptr;
        for (const FuzzTarget &t : targets)
            if (folder == t.folder)
                target = &t;
        if (!target) {
            ADD_FAILURE() << "not in the folder of a fuzz target";
            continue;
        }
        const uint8_t *data = reinterpret_cast<const uint8_t *>(input.second.data());
        EXPECT_EQ(target->entry(data, input.second.size()), 0);
    }
}

} // namespace
