// Code tables of the packed stream.
//
// A table block carries code lengths, delta-coded against the lengths of the
// block before (kept_lengths) and themselves Huffman-coded with a length code
// of length_code_symbols symbols. build_decode_table turns lengths into a
// canonical decode table: length_limit[L] is the end of the codes of length L
// left-justified to 16 bits, so a code's length is the smallest L whose limit
// lies above the input, and its symbol follows from first_index[L] and the
// distance to the previous limit.
//
// The limits never decrease with L (each adds count[L] << (16 - L) to the one
// before, and the cap at 0xFFFF keeps that order), which is what makes the
// four-comparison tree a correct search. It also makes the quick lookup exact:
// every limit up to decode_quick_bits is a multiple of 1 << (16 -
// decode_quick_bits) or is capped above every masked input, so the inputs that
// share their top decode_quick_bits bits agree on whether their length is that
// short, on the length itself and on the symbol. Those codes are resolved by one table
// read, whose entry may carry more than the symbol (the LZ decoder's payloads,
// lz_decode.h); the others fall back to the tree.
//
// Damaged input cannot lead outside a table: lengths are 4-bit, runs stop at
// the end of the working list, and an index at or past symbol_count becomes 0.
#include "unpack/huffman.h"

#include <cstring>

#include "archive/rar_format.h"
#include "unpack/decoder_limits.h"
#include "unpack/lz_decode.h"

// The head bits of a table block.
constexpr uint32_t head_multimedia = 0x8000;
constexpr uint32_t head_keep_lengths = 0x4000;

// Every read peeks three bytes from the byte the reader stands on. A table
// block refills before its head (the mode bits, the channel bits and the
// length code's lengths) and before each code length (a code and the extra
// bits of a run), so neither reaches beyond the buffer.
constexpr uint32_t peek_bytes = 3;
constexpr uint32_t table_head_bits = 2 + 2 + 4 * length_code_symbols;
static_assert(refill_threshold_table + (7 + table_head_bits) / 8 + peek_bytes <= input_buffer_size,
              "a table block's head stays inside the input buffer");
static_assert(refill_threshold_length + (7 + max_code_bits) / 8 + peek_bytes <= input_buffer_size,
              "a code length and its run bits stay inside the input buffer");

// The smallest L from 1 to 14 with v < length_limit[L], or 15.
static uint32_t code_length(const DecodeTable *table, uint32_t v) {
    const uint32_t *limit = table->length_limit;
    if (v < limit[8]) {
        if (v < limit[4]) {
            if (v < limit[2])
                return v < limit[1] ? 1 : 2;
            return v < limit[3] ? 3 : 4;
        }
        if (v < limit[6])
            return v < limit[5] ? 5 : 6;
        return v < limit[7] ? 7 : 8;
    }
    if (v < limit[12]) {
        if (v < limit[10])
            return v < limit[9] ? 9 : 10;
        return v < limit[11] ? 11 : 12;
    }
    if (v < limit[14])
        return v < limit[13] ? 13 : 14;
    return 15;
}

static uint32_t symbol_at(const DecodeTable *table, uint32_t v, uint32_t length) {
    uint32_t index =
        table->first_index[length] + ((v - table->length_limit[length - 1]) >> (16 - length));
    if (index >= table->symbol_count)
        index = 0;
    return table->symbols[index];
}

uint32_t decode_search(const DecodeTable *table, uint32_t v) {
    uint32_t length = code_length(table, v);
    return symbol_at(table, v, length) << 6 | length;
}

void decode_symbol_search(ExtractionContext *ctx, const DecodeTable *table, uint32_t v) {
    uint32_t found = decode_search(table, v);
    skip_bits(ctx, found & 63);
    ctx->symbol = found >> 6;
}

void build_decode_table(const uint8_t *lengths, DecodeTable *table, uint32_t size,
                        const uint32_t *payloads) {
    if (size > uint32_t(largest_alphabet))
        size = largest_alphabet;
    uint32_t count[16] = {};
    for (uint32_t i = 0; i < size; i++)
        count[lengths[i] & 15]++;
    count[0] = 0;

    uint32_t next[16];
    uint32_t n = 0;
    table->length_limit[0] = 0;
    table->first_index[0] = 0;
    next[0] = 0;
    for (uint32_t length = 1; length < 16; length++) {
        n = 2 * (n + count[length]);
        uint32_t limit = n << (15 - length);
        table->length_limit[length] = limit > 0xFFFF ? 0xFFFF : limit;
        table->first_index[length] = table->first_index[length - 1] + count[length - 1];
        next[length] = table->first_index[length];
    }
    for (uint32_t i = 0; i < size; i++) {
        if (lengths[i] & 15)
            table->symbols[next[lengths[i] & 15]++] = i;
    }
    table->symbol_count = size;

    // The inputs of one code length form a run of tops from the previous
    // limit to this one, both multiples of 1 << shift below the cap, and
    // within the run each code covers 1 << (decode_quick_bits - length)
    // tops; so the table fills code by code. A capped limit takes every
    // remaining input. Every symbol held is below largest_alphabet: symbols
    // only ever receives indices of a size clamped to it.
    constexpr uint32_t shift = 16 - decode_quick_bits;
    constexpr uint32_t quick_size = 1u << decode_quick_bits;
    uint32_t top = 0;
    for (uint32_t length = 1; length <= uint32_t(decode_quick_bits) && top < quick_size; length++) {
        uint32_t limit = table->length_limit[length];
        uint32_t end = limit >= 0xFFFF ? quick_size : limit >> shift;
        uint32_t span = 1u << (decode_quick_bits - length);
        for (uint32_t index = table->first_index[length]; top < end; index++) {
            uint32_t symbol = table->symbols[index < table->symbol_count ? index : 0];
            uint32_t entry = (payloads ? payloads[symbol] : symbol << 6) | length;
            uint32_t *run = table->quick + top;
            if (span >= 4) {
                // Four entries per store: the short codes fill most of the table.
                const uint32_t four[4] = {entry, entry, entry, entry};
                for (uint32_t k = 0; k < span; k += 4)
                    memcpy(run + k, four, sizeof four);
            } else {
                for (uint32_t k = 0; k < span; k++)
                    run[k] = entry;
            }
            top += span;
        }
    }
    memset(table->quick + top, 0, (quick_size - top) * sizeof table->quick[0]);
}

// Past its head a table block reads through its own copy of the record's
// bit position, handed back to the record around each refill and at the end.
static inline uint32_t peek_at(const uint8_t *buffer, uint32_t position) {
    const uint8_t *p = buffer + (position >> 3);
    uint32_t bits = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (bits >> (8 - (position & 7))) & 0xFFFF;
}

static inline uint32_t take_at(const uint8_t *buffer, uint32_t *position, uint32_t n) {
    uint32_t value = peek_at(buffer, *position) >> (16 - n);
    *position += n;
    return value;
}

static inline void hand_back(ExtractionContext *ctx, uint32_t position) {
    ctx->input_pos = position >> 3;
    ctx->input_bit = position & 7;
}

void read_code_tables(ExtractionContext *ctx) {
    // The working list starts zeroed, so after a shorter block the kept
    // positions past its lengths are 0.
    uint8_t lengths[kept_lengths_size] = {};
    if (ctx->input_pos > refill_threshold_table)
        fill_input(ctx, 0);
    uint32_t head = peek_bits(ctx);
    ctx->multimedia_block = head & head_multimedia;
    if (!(head & head_keep_lengths))
        memset(ctx->kept_lengths, 0, sizeof ctx->kept_lengths);
    skip_bits(ctx, 2);

    uint32_t total = lz_table_lengths;
    if (ctx->multimedia_block) {
        ctx->channel_count = int32_t((head >> 12) & 3) + 1;
        if (ctx->current_channel >= ctx->channel_count)
            ctx->current_channel = 0;
        skip_bits(ctx, 2);
        total = channel_symbols * uint32_t(ctx->channel_count);
    }

    const uint8_t *buffer = ctx->input_buffer;
    uint32_t position = 8 * ctx->input_pos + ctx->input_bit;
    uint8_t length_lengths[length_code_symbols];
    for (uint8_t &length : length_lengths)
        length = uint8_t(take_at(buffer, &position, 4));
    const DecodeTable *length_code = &ctx->length_code_table;
    build_decode_table(length_lengths, &ctx->length_code_table, length_code_symbols);

    uint32_t i = 0;
    while (i < total) {
        if ((position >> 3) > refill_threshold_length) {
            hand_back(ctx, position);
            fill_input(ctx, 0);
            position = 8 * ctx->input_pos + ctx->input_bit;
        }
        uint32_t v = peek_at(buffer, position) & 0xFFFE;
        uint32_t found = length_code->quick[v >> (16 - decode_quick_bits)];
        if (!found)
            found = decode_search(length_code, v);
        position += found & 63;
        uint32_t s = found >> 6;
        if (s < 16) {
            lengths[i] = uint8_t((s + ctx->kept_lengths[i]) & 15);
            i++;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (s == 16) {
            run = take_at(buffer, &position, 2) + 3;
            // A repeat at the very first position has no previous length to
            // repeat; it repeats 0, like the empty list before it.
            value = i > 0 ? lengths[i - 1] : 0;
        } else if (s == 17) {
            run = take_at(buffer, &position, 3) + 3;
        } else {
            run = take_at(buffer, &position, 7) + 11;
        }
        for (; run > 0 && i < total; run--)
            lengths[i++] = value;
    }
    hand_back(ctx, position);

    if (ctx->multimedia_block) {
        for (int32_t k = 0; k < ctx->channel_count; k++)
            build_decode_table(lengths + channel_symbols * uint32_t(k), ctx->channel_tables[k],
                               channel_symbols);
    } else {
        build_decode_table(lengths, &ctx->main_table, main_symbols, lz_payloads.main);
        build_decode_table(lengths + main_symbols, &ctx->distance_table, distance_symbols,
                           lz_payloads.distance);
        build_decode_table(lengths + main_symbols + distance_symbols, &ctx->repeat_table,
                           repeat_symbols, lz_payloads.repeat);
    }
    memcpy(ctx->kept_lengths, lengths, sizeof ctx->kept_lengths);
}

void read_trailing_tables(ExtractionContext *ctx) {
    if (uint32_t(ctx->input_top) < ctx->input_pos + lookahead_min_bytes)
        return;
    if (ctx->multimedia_block) {
        decode_symbol(ctx, ctx->channel_tables[ctx->current_channel]);
        if (ctx->symbol == symbol_channel_new_tables)
            read_code_tables(ctx);
        return;
    }
    decode_symbol(ctx, &ctx->main_table);
    if (ctx->symbol == symbol_new_tables)
        read_code_tables(ctx);
}
