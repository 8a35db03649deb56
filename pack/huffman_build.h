// Code lengths from symbol statistics and the canonical codes the decoder's
// tables expect: codes ordered by length, then by symbol value.
#pragma once

#include <cstdint>

#include "unpack/decoder_limits.h"

// Lengths for count symbols from their frequencies, none longer than
// max_bits. Symbols of frequency 0 get length 0; a lone used symbol gets 1.
void build_code_lengths(const uint32_t *freq, int count, int max_bits, uint8_t *lengths);
// Canonical codes for the lengths (0 for unused symbols).
void build_canonical_codes(const uint8_t *lengths, int count, uint16_t *codes);
