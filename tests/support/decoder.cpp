#include "tests/support/decoder.h"

#include <cstdlib>

#include "archive/crc.h"

Decoder new_decoder() {
    Decoder d;
    d.ctx = static_cast<ExtractionContext *>(calloc(1, sizeof(ExtractionContext)));
    d.window = static_cast<uint8_t *>(calloc(1, window_size));
    build_crc_table(d.ctx);
    for (int k = 0; k < 4; k++)
        d.ctx->channel_tables[k] = &d.ctx->channel_storage[k];
    return d;
}

void free_decoder(Decoder &d) {
    free(d.window);
    free(d.ctx);
}
