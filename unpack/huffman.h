// Canonical Huffman code tables: table blocks, decode tables, symbol decoding.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"
#include "unpack/unpack_io.h"

void read_code_tables(ExtractionContext *ctx);
void build_decode_table(const uint8_t *lengths, DecodeTable *table, uint32_t size);
void read_trailing_tables(ExtractionContext *ctx);
// The comparison-tree search behind decode_symbol, for codes the quick
// lookup does not hold; v is the peeked input with its lowest bit cleared.
void decode_symbol_search(ExtractionContext *ctx, const DecodeTable *table, uint32_t v);
// The same search without a record: (symbol << 6) | length, as in quick.
uint32_t decode_search(const DecodeTable *table, uint32_t v);

// Consumes one code and stores its symbol in ctx->symbol. Inline because the
// decoding loop spends most of its time here: codes of up to
// decode_quick_bits bits resolve with one lookup, longer ones search.
inline void decode_symbol(ExtractionContext *ctx, const DecodeTable *table) {
    uint32_t v = peek_bits(ctx) & 0xFFFE;
    uint32_t quick = table->quick[v >> (16 - decode_quick_bits)];
    if (quick) {
        skip_bits(ctx, quick & 63);
        ctx->symbol = quick >> 6;
        return;
    }
    decode_symbol_search(ctx, table, v);
}
