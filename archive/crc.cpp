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

// Four bytes per step through the one table: the shifts fold in three more
// lookups per word, which keeps the per-byte cost of large files low.
uint32_t crc32_update(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                      size_t count) {
    const uint32_t *table = ctx->crc_table;
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    for (; count >= 4; count -= 4, p += 4) {
        value ^= uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        value = table[value & 0xFF] ^ (value >> 8);
        value = table[value & 0xFF] ^ (value >> 8);
        value = table[value & 0xFF] ^ (value >> 8);
        value = table[value & 0xFF] ^ (value >> 8);
    }
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
