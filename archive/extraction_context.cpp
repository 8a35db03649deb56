#include "archive/extraction_context.h"

#include <cstdlib>

#include "archive/crc.h"

ExtractionContext *new_extraction_context() {
    ExtractionContext *ctx = static_cast<ExtractionContext *>(calloc(1, sizeof *ctx));
    if (!ctx)
        return nullptr;
    build_crc_table(ctx);
    for (int i = 0; i < max_channels; ++i)
        ctx->channel_tables[i] = &ctx->channel_storage[i];
    return ctx;
}

void free_extraction_context(ExtractionContext *ctx) {
    free(ctx);
}
