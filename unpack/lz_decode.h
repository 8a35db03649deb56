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

// What the decoder's quick entries carry above a code's length (bits 0-5),
// so that a match takes its numbers from the entry without reading these
// tables again. Main code: the symbol in bits 6-14 and, for a long match's
// length slot or a short match's distance slot, the slot's extra bit count in
// bits 15-19 and its smallest value in bits 20-31, so that a literal's entry
// lies below main_literal_limit. Distance and repeat-length codes: the extra
// bit count in bits 6-10 and the smallest value in bits 11-31. Each list has
// room for every symbol a table can hold; those beyond its alphabet stay 0.
struct LzPayloads {
    uint32_t main[largest_alphabet];
    uint32_t distance[largest_alphabet];
    uint32_t repeat[largest_alphabet];
};

constexpr uint32_t main_literal_limit = literal_symbols << 6;

constexpr uint32_t slot_payload(uint32_t symbol, uint32_t extra, uint32_t smallest) {
    return symbol << 6 | extra << 15 | smallest << 20;
}

constexpr LzPayloads make_lz_payloads() {
    LzPayloads p{};
    for (uint32_t s = 0; s < uint32_t(main_symbols); s++)
        p.main[s] = s << 6;
    for (uint32_t i = 0; i < uint32_t(length_slots); i++) {
        p.main[symbol_long_match + i] =
            slot_payload(symbol_long_match + i, length_extra_bits[i], length_bases[i] + 3u);
        p.repeat[i] = uint32_t(length_extra_bits[i]) << 6 | (length_bases[i] + 2u) << 11;
    }
    for (uint32_t i = 0; i < uint32_t(short_distance_slots); i++)
        p.main[symbol_short_match + i] = slot_payload(
            symbol_short_match + i, short_distance_extra_bits[i], short_distance_bases[i] + 1u);
    for (uint32_t d = 0; d < uint32_t(distance_symbols); d++)
        p.distance[d] = uint32_t(distance_extra_bits[d]) << 6 | (distance_bases[d] + 1) << 11;
    return p;
}

inline constexpr LzPayloads lz_payloads = make_lz_payloads();

// Decodes one entry's packed data into the window and out through
// write_output; solid nonzero continues the previous entry's stream.
void unpack_file(ExtractionContext *ctx, uint8_t *window, int solid);
void copy_match(ExtractionContext *ctx);
