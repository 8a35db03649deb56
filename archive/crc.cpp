#include "archive/crc.h"

#include "archive/extraction_context.h"

void build_crc_table(ExtractionContext *ctx) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t x = i;
        for (int bit = 0; bit < 8; bit++)
            x = (x & 1) ? (x >> 1) ^ 0xEDB88320u : x >> 1;
        ctx->crc_table[i] = x;
    }
}

// Slicing by sixteen: slice[k][b] is the CRC of byte b followed by k zero
// bytes, so sixteen independent table lookups fold sixteen input bytes at
// once. The checksum of every
// extracted byte goes through here, which makes this the one loop of the
// extractor that must keep up with the decoder. The tables are constant and
// built by the compiler.
namespace {
struct CrcSlices {
    uint32_t slice[16][256];
};

constexpr CrcSlices make_crc_slices() {
    CrcSlices t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t x = i;
        for (int bit = 0; bit < 8; bit++)
            x = (x & 1) ? (x >> 1) ^ 0xEDB88320u : x >> 1;
        t.slice[0][i] = x;
    }
    for (int k = 1; k < 16; k++)
        for (uint32_t i = 0; i < 256; i++)
            t.slice[k][i] = t.slice[0][t.slice[k - 1][i] & 0xFF] ^ (t.slice[k - 1][i] >> 8);
    return t;
}

constexpr CrcSlices crc_slices = make_crc_slices();
} // namespace

static inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc32_update(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                      size_t count) {
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    const auto &s = crc_slices.slice;
    for (; count >= 16; count -= 16, p += 16) {
        uint32_t w0 = value ^ load_le32(p);
        uint32_t w1 = load_le32(p + 4);
        uint32_t w2 = load_le32(p + 8);
        uint32_t w3 = load_le32(p + 12);
        value = s[15][w0 & 0xFF] ^ s[14][(w0 >> 8) & 0xFF] ^ s[13][(w0 >> 16) & 0xFF] ^
                s[12][w0 >> 24] ^ s[11][w1 & 0xFF] ^ s[10][(w1 >> 8) & 0xFF] ^
                s[9][(w1 >> 16) & 0xFF] ^ s[8][w1 >> 24] ^ s[7][w2 & 0xFF] ^
                s[6][(w2 >> 8) & 0xFF] ^ s[5][(w2 >> 16) & 0xFF] ^ s[4][w2 >> 24] ^
                s[3][w3 & 0xFF] ^ s[2][(w3 >> 8) & 0xFF] ^ s[1][(w3 >> 16) & 0xFF] ^ s[0][w3 >> 24];
    }
    const uint32_t *table = ctx->crc_table;
    for (; count > 0; count--, p++)
        value = table[(value ^ *p) & 0xFF] ^ (value >> 8);
    return value;
}

uint16_t checksum16_update(uint32_t value, const void *bytes, size_t count) {
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    uint32_t v = value & 0xFFFF;
    for (size_t i = 0; i < count; i++) {
        v = (v + p[i]) & 0xFFFF;
        v = ((v << 1) | (v >> 15)) & 0xFFFF;
    }
    return uint16_t(v);
}

uint32_t update_checksum(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                         size_t count, int kind) {
    if (kind == checksum_kind_rotate16)
        return checksum16_update(value, bytes, count);
    return crc32_update(ctx, value, bytes, count);
}
