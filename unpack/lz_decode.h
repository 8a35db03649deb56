// The LZ decoder of the RAR 2.0 method.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"

extern const uint8_t length_bases[28];
extern const uint8_t length_extra_bits[28];
extern const uint32_t distance_bases[48];
extern const uint8_t distance_extra_bits[48];
extern const uint8_t short_distance_bases[8];
extern const uint8_t short_distance_extra_bits[8];

// Decodes one entry's packed data into the window and out through
// write_output; solid nonzero continues the previous entry's stream.
void unpack_file(ExtractionContext *ctx, uint8_t *window, int solid);
void copy_match(ExtractionContext *ctx);
