// The LZ decoder of the RAR 2.0 method.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"

// The slots of lengths, distances and short distances: a slot's symbol
// stands for its base plus the value of its extra bits, which follow the
// symbol. The packer builds its slot lookups from these at compile time.
inline constexpr uint8_t length_bases[length_slots] = {0,  1,  2,  3,   4,   5,   6,   7,  8,  10,
                                                       12, 14, 16, 20,  24,  28,  32,  40, 48, 56,
                                                       64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr uint8_t length_extra_bits[length_slots] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr uint32_t distance_bases[distance_symbols] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
inline constexpr uint8_t distance_extra_bits[distance_symbols] = {
    0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
constexpr int short_distance_slots = 8;
inline constexpr uint8_t short_distance_bases[short_distance_slots] = {0,  4,  8,   16,
                                                                       32, 64, 128, 192};
inline constexpr uint8_t short_distance_extra_bits[short_distance_slots] = {2, 2, 3, 4, 5, 6, 6, 6};

// A match's length is sent shorter by one for each of these distances it
// reaches; a repeat of an old distance also for the first.
constexpr uint32_t repeat_bonus_distance = 0x101;
constexpr uint32_t near_bonus_distance = 0x2000;
constexpr uint32_t far_bonus_distance = 0x40000;

// What a long match's (symbol_long_match + slot) sent length leaves out.
constexpr uint32_t long_match_bonus(uint32_t distance) {
    return (distance >= near_bonus_distance) + (distance >= far_bonus_distance);
}
// What a repeat's (symbol_repeat_old + k) sent length leaves out.
constexpr uint32_t repeat_match_bonus(uint32_t distance) {
    return (distance >= repeat_bonus_distance) + long_match_bonus(distance);
}

// The quick entries of the LZ decoder's three codes resolve a slot's value
// along with its symbol. Every slot's base is a multiple of its extra bits'
// weight (its low extra bits are clear), and the top code_length + extra
// bits of the input, read as a number, are (code << extra) | value; so XORing
// base ^ (code << extra) into them leaves base | value, which is base +
// value. An entry holds
//   bits 0-5:  code length + extra bits, what the step consumes at once
//   bits 6-21: base ^ (code << extra) (bits 6-31 in the distance and
//              repeat-length codes, which have no symbol bits)
//   bit 22:    (main code only) set for the symbols that another code
//              follows, long matches and repeats of an older distance
//   bits 23-31: the symbol (main code only), so a literal's entry is below
//              1 << 31 and a long match's at or above lz_long_match_entry.
// A symbol's payload is its entry for the code 0 of length 0: the extra bit
// count, the base and the symbol bits (lz_entry adds length and code). Each
// list has room for every symbol a table can hold; those beyond its alphabet
// stay 0.
struct LzPayloads {
    uint32_t main[largest_alphabet];
    uint32_t distance[largest_alphabet];
    uint32_t repeat[largest_alphabet];
};

constexpr uint32_t lz_symbol_shift = 23;
constexpr uint32_t lz_xor_shift = 6;
constexpr uint32_t lz_main_xor_mask = 0xFFFF;
constexpr uint32_t lz_long_match_entry = symbol_long_match << lz_symbol_shift;
constexpr uint32_t lz_second_code = 1u << 22;
static_assert(literal_symbols << lz_symbol_shift == 1u << 31, "literal entries lie below 1 << 31");
static_assert((main_symbols - 1) >> (32 - lz_symbol_shift) == 0, "every main symbol fits");

constexpr uint32_t lz_entry(uint32_t payload, uint32_t code_length, uint32_t code) {
    return (payload + code_length) ^ code << ((payload & 31) + lz_xor_shift);
}

constexpr uint32_t slot_payload(uint32_t symbol_bits, uint32_t extra, uint32_t base) {
    return extra | base << lz_xor_shift | symbol_bits;
}

// Whether every slot's base has its low extra bits clear and fits the
// entry's bits beside every quick code (of at most decode_quick_bits).
template <typename Base>
constexpr bool slots_fit(const Base *bases, const uint8_t *extra, int count, uint32_t limit) {
    for (int i = 0; i < count; i++) {
        if (uint32_t(bases[i]) & ((1u << extra[i]) - 1))
            return false;
        if (uint32_t(bases[i]) >= limit || (1u << (decode_quick_bits + extra[i])) > limit)
            return false;
    }
    return true;
}
static_assert(slots_fit(length_bases, length_extra_bits, length_slots, lz_main_xor_mask + 1) &&
                  slots_fit(short_distance_bases, short_distance_extra_bits, short_distance_slots,
                            lz_main_xor_mask + 1) &&
                  slots_fit(distance_bases, distance_extra_bits, distance_symbols,
                            1u << (32 - lz_xor_shift)),
              "every slot's base XORs with its extra bits and fits its entry");

constexpr LzPayloads make_lz_payloads() {
    LzPayloads p{};
    for (uint32_t s = 0; s < uint32_t(main_symbols); s++)
        p.main[s] = s << lz_symbol_shift;
    for (uint32_t k = 1; k <= 4; k++)
        p.main[symbol_repeat_last + k] |= lz_second_code;
    for (uint32_t i = 0; i < uint32_t(length_slots); i++) {
        uint32_t symbol = symbol_long_match + i;
        p.main[symbol] = slot_payload(symbol << lz_symbol_shift | lz_second_code,
                                      length_extra_bits[i], length_bases[i]);
        p.repeat[i] = slot_payload(0, length_extra_bits[i], length_bases[i]);
    }
    for (uint32_t i = 0; i < uint32_t(short_distance_slots); i++) {
        uint32_t symbol = symbol_short_match + i;
        p.main[symbol] = slot_payload(symbol << lz_symbol_shift, short_distance_extra_bits[i],
                                      short_distance_bases[i]);
    }
    for (uint32_t d = 0; d < uint32_t(distance_symbols); d++)
        p.distance[d] = slot_payload(0, distance_extra_bits[d], distance_bases[d]);
    return p;
}

inline constexpr LzPayloads lz_payloads = make_lz_payloads();

// Decodes one entry's packed data into the window and out through
// write_output; solid nonzero continues the previous entry's stream.
void unpack_file(ExtractionContext *ctx, uint8_t *window, int solid);
void copy_match(ExtractionContext *ctx);
