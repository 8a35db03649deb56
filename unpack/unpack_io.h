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
