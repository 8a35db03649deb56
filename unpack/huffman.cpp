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

// A table block refills before its head (the mode bits, the channel bits and
// the length code's lengths) and before each code length (a code and the
// extra bits of a run). The mode and channel bits are peeked, three bytes
// from the byte the reader stands on; from the length code's lengths on the
// block reads through a BitWord (unpack_io.h), topped up before each code
// length, which takes at most length_step_bits, and before each of those
// lengths. The word's loads reach up to 16 bytes past the reader, so into
// the buffer's slack at most.
constexpr uint32_t peek_bytes = 3;
constexpr uint32_t table_head_bits = 2 + 2 + 4 * length_code_symbols;
constexpr uint32_t length_step_bits = max_code_bits + 7;
static_assert(refill_threshold_table + 1 + peek_bytes <= input_buffer_size,
              "a table block's mode and channel bits stay inside the input buffer");
static_assert(refill_threshold_table + (7 + table_head_bits) / 8 + 16 <=
                      input_buffer_size + input_buffer_slack &&
                  refill_threshold_length + (7 + length_step_bits) / 8 + 16 <=
                      input_buffer_size + input_buffer_slack,
              "the word's loads stay inside the buffer and its slack");
static_assert(topped_up_bits >= length_step_bits + decode_quick_bits,
              "a code length's step and the next one's quick read come from the word");

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

// The quick entry of the code'th code of the given length, the index'th
// symbol in code order.
template <bool with_payloads>
static inline uint32_t quick_entry_of(const DecodeTable *table, const uint32_t *payloads,
                                      uint32_t index, uint32_t length, uint32_t code) {
    uint32_t symbol = table->symbols[index < table->symbol_count ? index : 0];
    return with_payloads ? lz_entry(payloads[symbol], length, code) : symbol << 6 | length;
}

// Fills the quick table. The inputs of one code length form a run of tops
// from the previous limit to this one, both multiples of 1 << shift below the
// cap, and within the run each code covers 1 << (decode_quick_bits - length)
// tops; so the table fills code by code, the code counting up from the
// run's first top. A capped limit takes every remaining input. Every symbol
// held is below largest_alphabet: symbols only ever receives indices of a
// size clamped to it.
template <bool with_payloads> static void fill_quick(DecodeTable *table, const uint32_t *payloads) {
    constexpr uint32_t shift = 16 - decode_quick_bits;
    constexpr uint32_t quick_size = 1u << decode_quick_bits;
    uint32_t top = 0;
    for (uint32_t length = 1; length <= uint32_t(decode_quick_bits) && top < quick_size; length++) {
        uint32_t limit = table->length_limit[length];
        uint32_t end = limit >= 0xFFFF ? quick_size : limit >> shift;
        uint32_t span = 1u << (decode_quick_bits - length);
        uint32_t code = top >> (decode_quick_bits - length);
        uint32_t index = table->first_index[length];
        // One loop per size of span, so that the stores take no test per code.
        if (span >= 16) {
            for (; top < end; top += span, index++, code++) {
                uint32_t entry =
                    quick_entry_of<with_payloads>(table, payloads, index, length, code);
                const uint32_t four[4] = {entry, entry, entry, entry};
                for (uint32_t *run = table->quick + top; run < table->quick + top + span;
                     run += 16) {
                    memcpy(run, four, sizeof four);
                    memcpy(run + 4, four, sizeof four);
                    memcpy(run + 8, four, sizeof four);
                    memcpy(run + 12, four, sizeof four);
                }
            }
        } else if (span >= 4) {
            for (; top < end; top += span, index++, code++) {
                uint32_t entry =
                    quick_entry_of<with_payloads>(table, payloads, index, length, code);
                const uint32_t four[4] = {entry, entry, entry, entry};
                memcpy(table->quick + top, four, sizeof four);
                memcpy(table->quick + top + span - 4, four, sizeof four);
            }
        } else {
            for (; top < end; top += span, index++, code++) {
                uint32_t entry =
                    quick_entry_of<with_payloads>(table, payloads, index, length, code);
                table->quick[top] = entry;
                table->quick[top + span - 1] = entry;
            }
        }
    }
    memset(table->quick + top, 0, (quick_size - top) * sizeof table->quick[0]);
}

void build_decode_table(const uint8_t *lengths, DecodeTable *table, uint32_t size,
                        const uint32_t *payloads) {
    if (size > uint32_t(largest_alphabet))
        size = largest_alphabet;
    // Two counts per length, so that a run of equal lengths does not wait
    // for each increment before the next.
    uint32_t count[16] = {};
    uint32_t other[16] = {};
    uint32_t i = 0;
    for (; i + 1 < size; i += 2) {
        count[lengths[i] & 15]++;
        other[lengths[i + 1] & 15]++;
    }
    if (i < size)
        count[lengths[i] & 15]++;
    for (uint32_t length = 1; length < 16; length++)
        count[length] += other[length];
    count[0] = 0;

    // Where the next symbol of each length goes; those of length 0 go to a
    // scratch list, so that the loop below takes no branch on the data.
    uint32_t unused[largest_alphabet];
    uint32_t *next[16];
    uint32_t n = 0;
    table->length_limit[0] = 0;
    table->first_index[0] = 0;
    next[0] = unused;
    for (uint32_t length = 1; length < 16; length++) {
        n = 2 * (n + count[length]);
        uint32_t limit = n << (15 - length);
        table->length_limit[length] = limit > 0xFFFF ? 0xFFFF : limit;
        table->first_index[length] = table->first_index[length - 1] + count[length - 1];
        next[length] = table->symbols + table->first_index[length];
    }
    // Two symbols per turn: the second's place is read before the first's is
    // moved on, which its length's comparison makes good.
    for (i = 0; i + 1 < size; i += 2) {
        uint32_t a = lengths[i] & 15;
        uint32_t b = lengths[i + 1] & 15;
        uint32_t *first = next[a];
        uint32_t *second = next[b] + (a == b);
        *first = i;
        *second = i + 1;
        next[a] = first + 1;
        next[b] = second + 1;
    }
    if (i < size)
        *next[lengths[i] & 15] = i;
    table->symbol_count = size;

    if (payloads)
        fill_quick<true>(table, payloads);
    else
        fill_quick<false>(table, nullptr);
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

    BitWord w;
    word_start(w, ctx);
    uint8_t length_lengths[length_code_symbols];
    for (uint8_t &length : length_lengths) {
        word_top_up(w);
        length = uint8_t(word_take(w, 4));
    }
    const DecodeTable *length_code = &ctx->length_code_table;
    build_decode_table(length_lengths, &ctx->length_code_table, length_code_symbols);

    const uint8_t *buffer = ctx->input_buffer;
    uint32_t i = 0;
    while (i < total) {
        if ((word_position(w, buffer) >> 3) > refill_threshold_length) {
            word_hand_back(ctx, w);
            fill_input(ctx, 0);
            word_start(w, ctx);
        }
        uint32_t found = length_code->quick[w.bits >> (64 - decode_quick_bits)];
        word_top_up(w);
        if (!found)
            found = decode_search(length_code, uint32_t(w.bits >> 48) & 0xFFFE);
        word_skip(w, found & 63);
        uint32_t s = found >> 6;
        if (s < 16) {
            lengths[i] = uint8_t((s + ctx->kept_lengths[i]) & 15);
            i++;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (s == 16) {
            run = word_take(w, 2) + 3;
            // A repeat at the very first position has no previous length to
            // repeat; it repeats 0, like the empty list before it.
            value = i > 0 ? lengths[i - 1] : 0;
        } else if (s == 17) {
            run = word_take(w, 3) + 3;
        } else {
            run = word_take(w, 7) + 11;
        }
        for (; run > 0 && i < total; run--)
            lengths[i++] = value;
    }
    word_hand_back(ctx, w);

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

// decode_symbol for the main code, whose quick entries are the LZ decoder's
// (lz_decode.h): the symbol in their top bits, and the code's length in their
// low bits together with the extra bits that follow it.
static void decode_main_symbol(ExtractionContext *ctx) {
    uint32_t v = peek_bits(ctx) & 0xFFFE;
    uint32_t found = ctx->main_table.quick[v >> (16 - decode_quick_bits)];
    if (found) {
        ctx->symbol = found >> lz_symbol_shift;
        skip_bits(ctx, (found & 63) - (lz_payloads.main[ctx->symbol] & 31));
        return;
    }
    decode_symbol_search(ctx, &ctx->main_table, v);
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
    decode_main_symbol(ctx);
    if (ctx->symbol == symbol_new_tables)
        read_code_tables(ctx);
}
