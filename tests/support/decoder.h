// A decoder as the extraction driver sets one up: a zeroed context with its
// CRC table and channel tables in place, and a zeroed window.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"

struct Decoder {
    ExtractionContext *ctx;
    uint8_t *window;
};

Decoder new_decoder();
void free_decoder(Decoder &d);
