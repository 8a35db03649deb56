// libFuzzer target: see fuzz_extract in fuzz_entries.h. At exit it prints the
// largest heap one extraction used, for the fuzz script's report.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_entries.h"

static void print_peak_heap() {
    fprintf(stderr, "fuzz_extract: peak heap of one extraction: %zu bytes\n",
            fuzz_extract_peak_heap());
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    atexit(print_peak_heap);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_extract(data, size);
}
