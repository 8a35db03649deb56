// Packed input (deciphered), the bit reader, and the window output.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"

void reset_unpack_state(ExtractionContext *ctx, int solid);
// Reads up to count packed bytes of the current entry (at most packed_left),
// deciphered when cipher_version >= unp_ver_20. count is a multiple of 16
// and the destination has room for the delivered total rounded up to 16.
int32_t read_packed(ExtractionContext *ctx, uint8_t *destination, uint32_t count);
void fill_input(ExtractionContext *ctx, int first);
// Writes to output_stream (when there is one) and, unless decode_only,
// continues file_checksum over the bytes written. Returns the count written.
int32_t write_output(ExtractionContext *ctx, const uint8_t *data, uint32_t count);
void flush_window(ExtractionContext *ctx);

// The bit reader, most significant bit first; inline at every use.
inline uint32_t peek_bits(ExtractionContext *ctx) {
    const uint8_t *p = ctx->input_buffer + ctx->input_pos;
    uint32_t bits = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    ctx->bit_field = (bits >> (8 - ctx->input_bit)) & 0xFFFF;
    return ctx->bit_field;
}

inline void skip_bits(ExtractionContext *ctx, uint32_t n) {
    uint32_t bits = ctx->input_bit + n;
    ctx->input_pos += bits >> 3;
    ctx->input_bit = bits & 7;
}

// The fast bit reader of the LZ loop and the table blocks: the next bits of
// the input buffer in a 64-bit word, most significant first. count of them
// are valid and next points at the first byte not yet in the word, so the
// reader stands at bit 8 * (next - buffer) - count. Codes come from the word
// with shifts alone; its user tops it up before it could run short and
// hands the position back to the record around every refill.
//
// A top-up loads 8 bytes from at most 8 bytes past the reader: the buffer
// has input_buffer_slack bytes beyond its input_buffer_size for readers that
// stand a few bytes short of its end. Bytes loaded beyond what was delivered
// are never consumed by a reader that stays where its refills keep it.
struct BitWord {
    uint64_t bits;
    uint32_t count;
    const uint8_t *next;
};

constexpr uint32_t topped_up_bits = 56; // all but the last byte of the word

inline uint64_t load_big_endian(const uint8_t *p) {
    return uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 |
           uint64_t(p[3]) << 32 | uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 |
           uint64_t(p[6]) << 8 | p[7];
}

inline uint32_t word_position(const BitWord &w, const uint8_t *buffer) {
    return 8 * uint32_t(w.next - buffer) - w.count;
}

// Starts the word at the record's position with at least topped_up_bits.
// A full word counts its last byte as not yet in it, so count stays below 64
// for word_top_up.
inline void word_start(BitWord &w, const ExtractionContext *ctx) {
    const uint8_t *p = ctx->input_buffer + ctx->input_pos;
    w.bits = load_big_endian(p) << ctx->input_bit;
    w.count = 64 - ctx->input_bit;
    w.next = p + 8;
    if (ctx->input_bit == 0) {
        w.count = topped_up_bits;
        w.next = p + 7;
    }
}

inline void word_hand_back(ExtractionContext *ctx, const BitWord &w) {
    uint32_t position = word_position(w, ctx->input_buffer);
    ctx->input_pos = position >> 3;
    ctx->input_bit = position & 7;
}

// Tops the word up to topped_up_bits to 63 bits with whole bytes, without a
// branch: how many bits were taken follows the data. A byte already partly
// in the word is ORed in again at the same place, which changes nothing;
// with topped_up_bits or more nothing new is counted.
inline void word_top_up(BitWord &w) {
    w.bits |= load_big_endian(w.next) >> w.count;
    w.next += (63 - w.count) >> 3;
    w.count |= topped_up_bits;
}

inline void word_skip(BitWord &w, uint32_t n) {
    w.bits <<= n;
    w.count -= n;
}

// Takes n bits, 1 to 32, from the word.
inline uint32_t word_take(BitWord &w, uint32_t n) {
    uint32_t value = uint32_t(w.bits >> (64 - n));
    word_skip(w, n);
    return value;
}
