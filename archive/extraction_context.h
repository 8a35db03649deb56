// The one record of an extraction run.
//
// new_extraction_context() makes it ready, every operation of the archive
// reader, the cipher and the decoder takes it as its first argument, and
// nothing of a run lives anywhere else. The groups below follow the order in
// which the data flows: caller's inputs, archive stream and headers, the
// driver's per-entry settings, password and cipher, CRC table, window and bit
// input, match history, decode tables.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/rar_format.h"
#include "unpack/decoder_limits.h"

constexpr int path_buffer_size = 260; // the platform's path limit, NUL included

struct MainHeader {
    uint16_t head_crc;
    uint8_t head_type;
    uint16_t head_flags;
    uint16_t head_size;
    uint16_t reserved1;
    uint32_t reserved2;
};

struct FileHeader {
    uint16_t head_crc;
    uint8_t head_type;
    uint16_t head_flags;
    uint16_t head_size;
    uint32_t pack_size;
    uint32_t unp_size;
    uint8_t host_os;
    uint32_t file_crc;
    uint32_t file_time;
    uint8_t unp_ver;
    uint8_t method;
    uint16_t name_size;
    uint32_t attributes;
};

struct BlockHeader {
    uint16_t head_crc;
    uint8_t head_type;
    uint16_t head_flags;
    uint16_t head_size;
    uint32_t add_size;
};

// Decode form of one canonical Huffman code; room for the largest code.
struct DecodeTable {
    uint32_t symbol_count;
    uint32_t length_limit[max_code_bits + 1];
    uint32_t first_index[max_code_bits + 1];
    uint32_t symbols[largest_alphabet];
    // Shortcut for codes of at most decode_quick_bits bits, indexed by the
    // top bits of the input: symbol << 6 | length, or the LZ decoder's entry
    // (lz_decode.h) in its three tables, or 0 for "search". The length in
    // the low bits lets the decoder shift by the entry itself.
    uint32_t quick[1 << decode_quick_bits];
};

// archive_format: the marker the reader found. The older format's files
// carry the 16-bit rotate checksum, all others CRC-32.
constexpr int32_t archive_format_none = 0;
constexpr int32_t archive_format_older = 1;
constexpr int32_t archive_format_rar2 = 2;
// archive_kind, also locate_archive's result: where the archive stands.
constexpr int32_t archive_kind_none = 0;
constexpr int32_t archive_kind_at_start = 1;
constexpr int32_t archive_kind_volume = 2; // main_flag_volume set, wherever it stands
constexpr int32_t archive_kind_behind_data = 3;

struct ExtractOptions;

struct ExtractionContext {
    // Caller's inputs.
    const char *archive_path;
    char *target_folder; // the caller's 260-character buffer, given a backslash at its end
    const ExtractOptions *options; // none for the setup's own run (extract.h)

    // Archive stream and headers.
    FILE *archive_stream;
    uint8_t marker[marker_size];
    MainHeader main_header;
    FileHeader file_header;
    BlockHeader block_header;
    char file_name[path_buffer_size];
    int32_t archive_format; // archive_format_none, _older or _rar2
    int32_t archive_kind;   // archive_kind_none, _at_start, _volume or _behind_data
    int32_t archive_offset;
    uint32_t header_crc;
    int32_t main_header_damaged;
    int32_t file_header_damaged;
    int32_t block_start;
    int32_t next_block;
    // One past the archive's last byte: where the image's certificate table
    // begins when it has one behind the archive, else the file's end. No
    // read of the archive's blocks or data goes beyond it. It may lie at 2 GiB
    // or beyond, where no block can begin: a walk that gets there fails.
    int64_t archive_end;
    int32_t certificate_table; // file offset of that table, 0 when none

    // Per-entry settings made by the driver.
    int32_t volume_continues;
    // What stood at the entry's path when its turn came: below_missing,
    // below_file, ... (platform/win32_api.h); below_missing in a test run.
    int32_t path_kind;
    int32_t decode_only;
    FILE *input_stream;
    FILE *output_stream;
    int32_t packed_left;
    int32_t unpacked_left;
    uint32_t file_checksum;
    int32_t cipher_version;

    // Password and cipher state.
    char password[128];
    uint32_t cipher_key[4];
    uint32_t crc_table[256];
    uint8_t subst_table[256];

    // Window, bit input, flushing.
    uint8_t *window;
    uint32_t window_pos;
    uint32_t flush_pos;
    uint32_t bit_field;
    uint8_t input_buffer[input_buffer_size + input_buffer_slack];
    uint32_t input_pos;
    uint32_t input_bit;
    int32_t input_top;
    // Buffer index one past the last byte of packed data delivered; it
    // follows the refills and goes negative once that end has moved out.
    int32_t input_end;

    // LZ match history.
    uint32_t last_distance;
    uint32_t last_length;
    uint32_t match_length;
    uint32_t match_distance;
    uint32_t old_distances[4];
    uint32_t old_distance_count;

    // Decode tables.
    uint32_t symbol;
    uint8_t kept_lengths[kept_lengths_size];
    DecodeTable *channel_tables[max_channels];
    uint32_t multimedia_block;
    int32_t channel_count;
    int32_t current_channel;
    DecodeTable length_code_table;
    DecodeTable main_table;
    DecodeTable distance_table;
    DecodeTable repeat_table;
    DecodeTable channel_storage[max_channels];
};

// A record ready for use: zero-filled, its CRC table built and its channel
// tables pointing at their storage; nullptr when memory is short. Every
// record is made here and released with free_extraction_context; the window
// and the streams it is given stay its user's.
ExtractionContext *new_extraction_context();
// Does nothing for nullptr.
void free_extraction_context(ExtractionContext *ctx);
