// Finds the archive inside a file and walks its blocks to the file headers.
#pragma once

#include <cstdint>

struct ExtractionContext;

constexpr uint8_t head_type_main = 0x73;
constexpr uint8_t head_type_file = 0x74;
constexpr uint8_t head_type_subblock = 0x77;
constexpr int32_t request_file_or_subblock = 0x8074;

// Expects archive_stream open at offset 0; returns archive_kind (0: none) and
// leaves the stream right after the 13 main-header bytes. Sets archive_end
// too: the image's certificate table when one begins behind the archive,
// else the file's end.
int32_t locate_archive(ExtractionContext *ctx);
// type 0x73: 13 main-header bytes into main_header; 0x74: 32 file-header bytes
// into file_header; at most `limit` of them are read, the rest decode as
// zeros. Sets header_crc; returns the count read.
int32_t read_fixed_header(ExtractionContext *ctx, uint8_t type, int32_t limit);
// Returns 0 at the end of the archive, -1 when a block is only partly there
// (a cut or damaged archive), else the header bytes read.
int32_t read_next_file_header(ExtractionContext *ctx, int32_t request);
void normalize_entry(ExtractionContext *ctx);
void normalize_attributes(ExtractionContext *ctx);
bool is_path_separator(char c);
