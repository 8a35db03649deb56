#include "tests/support/bit_writer.h"

#include <algorithm>

void put_bits(BitWriter *writer, uint32_t value, uint32_t n) {
    for (uint32_t i = n; i-- > 0;) {
        if (writer->bit_count % 8 == 0)
            writer->bytes.push_back('\0');
        if ((value >> i) & 1)
            writer->bytes.back() =
                char(uint8_t(writer->bytes.back()) | (0x80 >> (writer->bit_count % 8)));
        writer->bit_count++;
    }
}

CanonicalCode canonical_code(const std::vector<uint8_t> &lengths) {
    CanonicalCode code;
    code.lengths = lengths;
    code.codes.assign(lengths.size(), 0);
    uint32_t next = 0;
    for (uint32_t length = 1; length <= 15; length++) {
        for (size_t symbol = 0; symbol < lengths.size(); symbol++) {
            if (lengths[symbol] == length)
                code.codes[symbol] = next++;
        }
        next <<= 1;
    }
    return code;
}

void put_symbol(BitWriter *writer, const CanonicalCode &code, uint32_t symbol) {
    put_bits(writer, code.codes.at(symbol), code.lengths.at(symbol));
}

void put_table_head(BitWriter *writer, bool multimedia, bool keep, int channels,
                    const std::vector<uint8_t> &length_code_lengths) {
    put_bits(writer, multimedia ? 1 : 0, 1);
    put_bits(writer, keep ? 1 : 0, 1);
    if (multimedia)
        put_bits(writer, uint32_t(channels - 1), 2);
    for (int i = 0; i < 19; i++)
        put_bits(writer, length_code_lengths.at(size_t(i)), 4);
}

CanonicalCode simple_length_code() {
    return canonical_code(std::vector<uint8_t>(19, 5));
}

void put_table_block(BitWriter *writer, const std::vector<uint8_t> &lengths, bool keep,
                     const std::vector<uint8_t> &kept, bool multimedia, int channels) {
    CanonicalCode length_code = simple_length_code();
    put_table_head(writer, multimedia, keep, channels, length_code.lengths);
    for (size_t i = 0; i < lengths.size(); i++) {
        uint32_t base = keep && i < kept.size() ? kept[i] : 0;
        put_symbol(writer, length_code, (lengths[i] - base) & 15);
    }
}

LzCodes lz_codes(const std::vector<uint8_t> &lengths) {
    LzCodes codes;
    codes.main = canonical_code(std::vector<uint8_t>(lengths.begin(), lengths.begin() + 298));
    codes.distance =
        canonical_code(std::vector<uint8_t>(lengths.begin() + 298, lengths.begin() + 346));
    codes.repeat = canonical_code(std::vector<uint8_t>(lengths.begin() + 346, lengths.end()));
    return codes;
}

std::vector<uint8_t> flat_lz_lengths() {
    // Sized once: growing a 298-byte vector by insert makes GCC 12 at -O3
    // report a false out-of-bounds move.
    std::vector<uint8_t> lengths(298 + 48 + 28, 5);
    std::fill_n(lengths.begin(), 298, uint8_t(9));
    std::fill_n(lengths.begin() + 298, 48, uint8_t(6));
    return lengths;
}
