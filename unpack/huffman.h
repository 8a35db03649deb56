// Canonical Huffman code tables: table blocks, decode tables, symbol decoding.
#pragma once

#include <cstdint>

#include "archive/extraction_context.h"

void read_code_tables(ExtractionContext *ctx);
void build_decode_table(const uint8_t *lengths, DecodeTable *table, uint32_t size);
void decode_symbol(ExtractionContext *ctx, const DecodeTable *table);
void read_trailing_tables(ExtractionContext *ctx);
