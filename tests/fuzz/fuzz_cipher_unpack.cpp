// Fuzz target: the decoder behind the cipher, over arbitrary enciphered
// entries of one stream and a password of up to 15 bytes.
#include <cstdlib>
#include <cstring>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

int fuzz_cipher_unpack(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    size_t length = data[size - 1] & 15;
    if (1 + length > size)
        return 0;
    size_t entries_size = size - 1 - length;
    ExtractionContext *ctx = new_context();
    memcpy(ctx->password, data + entries_size, length);
    ctx->cipher_version = 20;
    unpack_entries(ctx, data, entries_size);
    free_extraction_context(ctx);
    return 0;
}

#ifdef ZQ_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_cipher_unpack(data, size);
}
#endif
