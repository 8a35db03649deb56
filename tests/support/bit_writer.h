// A most-significant-bit-first bit writer and the helpers tests need to craft
// exact packed streams: canonical codes from code lengths, symbols in such a
// code, and whole table blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BitWriter {
    std::string bytes;
    uint32_t bit_count = 0;
};

// Appends the low n bits of value (n from 0 to 32), highest first; the last
// byte is padded with zero bits.
void put_bits(BitWriter *writer, uint32_t value, uint32_t n);

// A canonical code: the code of each symbol (0 when its length is 0).
struct CanonicalCode {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
};
CanonicalCode canonical_code(const std::vector<uint8_t> &lengths);
void put_symbol(BitWriter *writer, const CanonicalCode &code, uint32_t symbol);

// The head of a table block: the two mode bits, for a multimedia block the
// channel bits, and the 19 lengths of the length code.
void put_table_head(BitWriter *writer, bool multimedia, bool keep, int channels,
                    const std::vector<uint8_t> &length_code_lengths);
// The length code every put_table_block uses: all 19 symbols 5 bits long.
CanonicalCode simple_length_code();
// A whole table block that sends every length as one length-code symbol,
// (length - kept) mod 16 when keep is set. lengths has 374 entries for an LZ
// block or 257 per channel for a multimedia block.
void put_table_block(BitWriter *writer, const std::vector<uint8_t> &lengths, bool keep = false,
                     const std::vector<uint8_t> &kept = {}, bool multimedia = false,
                     int channels = 1);

// The three codes of an LZ table block, split from its 374 lengths.
struct LzCodes {
    CanonicalCode main;
    CanonicalCode distance;
    CanonicalCode repeat;
};
LzCodes lz_codes(const std::vector<uint8_t> &lengths);
// Lengths that give every main, distance and repeat symbol a code: 9, 6 and 5
// bits.
std::vector<uint8_t> flat_lz_lengths();
