// Fuzz target: the decoder over arbitrary packed entries of one stream.
#include <cstdlib>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

int fuzz_unpack(const uint8_t *data, size_t size) {
    ExtractionContext *ctx = new_context();
    unpack_entries(ctx, data, size);
    free_extraction_context(ctx);
    return 0;
}

#ifdef ZQ_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_unpack(data, size);
}
#endif
