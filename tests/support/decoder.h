// A decoder as the extraction driver sets one up, and the streams the tests
// feed it: a record from new_extraction_context with a zeroed window, its
// packed input in a temporary stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/extraction_context.h"

struct Decoder {
    ExtractionContext *ctx;
    uint8_t *window;
};

Decoder new_decoder();
// A decoder whose input_stream holds packed (packed_left set to its size),
// with its window in the record, before the first fill.
Decoder decoder_reading(const std::string &packed);
// Closes the input stream when one is left.
void free_decoder(Decoder &d);

// A temporary stream holding bytes, positioned at its start.
FILE *stream_of(const std::string &bytes);
// Everything a stream holds, read from its start.
std::string contents(FILE *stream);

// Decodes one entry as the driver does (unpacked bytes expected, solid
// flag), into a temporary file unless write is false; returns the output.
// The entry's checksum, begun at 0xFFFFFFFF, stays in d.ctx.
std::string decode_entry(Decoder &d, const std::string &packed, int32_t unpacked, int solid,
                         bool write = true);
