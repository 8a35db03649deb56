// The RAR 2.0 LZ compressor: one continuous stream, cut into per-file pieces.
//
// A caller announces each file with lz_begin_file, feeds its bytes and ends it
// with lz_end_file; the packed bytes of each piece arrive through its sink in
// order, and the sink hears the piece's packed size when it is complete.
// Pieces of a solid stream share window, match history and code tables, as
// the decoder does; lz_begin_file with solid 0 starts a fresh stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int pack_level_fast = 1;
constexpr int pack_level_default = 3;
constexpr int pack_level_best = 5;

// What the compressor produced, by kind (the main symbols of rar_format.h);
// table_blocks counts every table block, of which inline_tables followed a
// symbol_new_tables within a piece and trailing_tables ended a piece for the
// next one.
struct PackStats {
    uint64_t literals;
    uint64_t long_matches;  // symbol_long_match + slot
    uint64_t short_matches; // symbol_short_match + slot
    uint64_t repeat_last;   // symbol_repeat_last
    uint64_t repeat_old[4]; // symbol_repeat_old + k
    // Matches whose length carries the repeat, near and far bonus (lz_decode.h).
    uint64_t adjusted[3];
    uint64_t table_blocks;
    uint64_t inline_tables;
    uint64_t trailing_tables;
    uint64_t trailing_refused; // the look-ahead would not run: tables went to the next piece
    uint64_t keep_blocks;      // table blocks sent as deltas to the previous one
    uint64_t harmless_pads;    // padding arranged to decode to a harmless symbol
    uint64_t input_bytes;
    uint64_t output_bytes;
};

struct PieceSink {
    void *user;
    void (*write)(void *user, const uint8_t *data, size_t n);
    // The piece is complete; packed_size counts every byte written, padding
    // included.
    void (*end)(void *user, uint64_t packed_size);
};

struct LzEncoder;

// level: pack_level_fast, pack_level_default or pack_level_best. Returns
// nullptr when memory is short.
LzEncoder *lz_encoder_create(int level);
void lz_encoder_free(LzEncoder *enc);
// pad_to: 16 for an encrypted piece (its packed size becomes a multiple of
// 16), else 1. A non-solid piece resets the stream (and ends all pieces
// before it); the decoder must get the same solid flag.
// Returns the solid flag the piece's file header must carry: the first piece
// of an encoder is never solid.
int lz_begin_file(LzEncoder *enc, int solid, uint32_t pad_to, PieceSink sink);
void lz_feed(LzEncoder *enc, const uint8_t *data, size_t n);
void lz_end_file(LzEncoder *enc);
// Packs everything fed so far and completes every piece. Needed before the
// caller writes anything of its own between pieces, and at the end.
void lz_flush(LzEncoder *enc);
const PackStats *lz_stats(const LzEncoder *enc);
// Bytes of memory the encoder holds.
size_t lz_memory(const LzEncoder *enc);

// The packed size of a non-solid piece that sends bytes of these counts
// (byte_counts[b] of byte b) as literals in one block, padded as for
// lz_begin_file: the price of the plainest encoding, found without packing.
// table_bytes gets the part its table block takes.
uint64_t literal_piece_size(const uint32_t *byte_counts, uint32_t pad_to, uint64_t *table_bytes);

// One buffer as one non-solid piece. Returns 0, or -1 when memory is short.
int compress_buffer(const uint8_t *data, size_t n, int level, uint32_t pad_to,
                    std::vector<uint8_t> *out, PackStats *stats);
