// Finds the archive inside a file and walks its blocks to the file headers.
#pragma once

#include <cstdint>

#include "archive/rar_format.h"

struct ExtractionContext;

// A request of read_next_file_header: the wanted head_type in the low byte,
// and request_subblocks to stop at a sub-block as well.
constexpr int32_t request_subblocks = 0x8000;
constexpr int32_t request_file_or_subblock = request_subblocks | head_type_file;

// Expects archive_stream open at offset 0; returns archive_kind
// (archive_kind_none when there is none) and leaves the stream right after
// the main_header_size bytes of the main header. Sets archive_end too: the
// image's certificate table when one begins behind the archive, else the
// file's end.
int32_t locate_archive(ExtractionContext *ctx);
// head_type_main: main_header_size bytes into main_header; head_type_file:
// file_header_size bytes into file_header; at most `limit` of them are read,
// the rest decode as zeros. Sets header_crc; returns the count read.
int32_t read_fixed_header(ExtractionContext *ctx, uint8_t type, int32_t limit);
// Returns 0 at the end of the archive, -1 when a block is only partly there
// (a cut or damaged archive), else the header bytes read.
int32_t read_next_file_header(ExtractionContext *ctx, int32_t request);
void normalize_entry(ExtractionContext *ctx);
void normalize_attributes(ExtractionContext *ctx);
bool is_path_separator(char c);
