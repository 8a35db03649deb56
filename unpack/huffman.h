// Canonical Huffman code tables: table blocks, decode tables, symbol decoding.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"
#include "unpack/unpack_io.h"

void read_code_tables(ExtractionContext *ctx);
// Builds the decode form of the code with the given lengths. Quick entries
// are symbol << 6 | length, or with payloads (largest_alphabet of them) the
// LZ decoder's lz_entry(payloads[symbol], length, code) (lz_decode.h).
void build_decode_table(const uint8_t *lengths, DecodeTable *table, uint32_t size,
                        const uint32_t *payloads = nullptr);
void read_trailing_tables(ExtractionContext *ctx);
// The comparison-tree search behind decode_symbol, for codes the quick
// lookup does not hold; v is the peeked input with its lowest bit cleared.
void decode_symbol_search(ExtractionContext *ctx, const DecodeTable *table, uint32_t v);
// The same search without a record: (symbol << 6) | length, as in quick.
uint32_t decode_search(const DecodeTable *table, uint32_t v);

// decode_symbol reads tables whose entries keep the symbol in the nine bits
// above the length: those built without payloads.
constexpr uint32_t symbol_mask = 0x1FF;
static_assert(largest_alphabet <= symbol_mask + 1, "every symbol fits its payload bits");

// Consumes one code and stores its symbol in ctx->symbol. Inline because the
// decoding loop spends most of its time here: codes of up to
// decode_quick_bits bits resolve with one lookup, longer ones search.
inline void decode_symbol(ExtractionContext *ctx, const DecodeTable *table) {
    uint32_t v = peek_bits(ctx) & 0xFFFE;
    uint32_t quick = table->quick[v >> (16 - decode_quick_bits)];
    if (quick) {
        skip_bits(ctx, quick & 63);
        ctx->symbol = (quick >> 6) & symbol_mask;
        return;
    }
    decode_symbol_search(ctx, table, v);
}
