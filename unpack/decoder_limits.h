// The decoder's buffers and the margins that let it test its limits once per
// step rather than per bit or per byte. The arithmetic each margin rests on
// stands as a static_assert beside the code that relies on it; the packer's
// model of the decoder's input (pack/lz_encode.cpp) replays the same refills.
#pragma once

#include <cstdint>

// Matches reach at most max_distance bytes back (a distance of 0 stands for
// max_distance). The window ring holds twice that, so the bytes just ahead of
// the write position are out of every match's reach: a copy may write whole
// pieces past the end of its match without changing what later matches read.
constexpr uint32_t max_distance = 0x100000;
constexpr uint32_t window_size = 2 * max_distance;
constexpr uint32_t window_mask = window_size - 1;

// The longest match, its length adjustments included; the copy of a match
// may write up to copy_overrun bytes behind it, and at most copy_footprint
// bytes from its start. The decoder flushes the window once fewer than
// flush_margin bytes of it are free.
constexpr uint32_t max_match_length = 260;
constexpr uint32_t copy_overrun = 64;
constexpr uint32_t copy_footprint = max_match_length + 15;
constexpr uint32_t flush_margin = 280;

// Packed input: a refill keeps the buffer's last refill_keep bytes, moved to
// its front, and reads refill_size new bytes behind them.
constexpr int input_buffer_size = 8192;
// Bytes behind the buffer that the fast bit reader may load but never takes
// (unpack_io.h).
constexpr int input_buffer_slack = 16;
constexpr uint32_t refill_keep = 32;
constexpr uint32_t refill_size = input_buffer_size - refill_keep;
// A reader refills once input_pos passes its threshold: the LZ loop before
// each step, a table block before its head and before each code length.
constexpr uint32_t refill_threshold_step = 8162;
constexpr uint32_t refill_threshold_table = 8167;
constexpr uint32_t refill_threshold_length = 8187;
// After an entry's last step one more main symbol is decoded, for tables
// sent ahead of the next entry, when at least this many bytes are left.
constexpr uint32_t lookahead_min_bytes = 5;

// Codes are at most max_code_bits long; those of at most decode_quick_bits
// resolve with one table read.
constexpr int max_code_bits = 15;
constexpr int decode_quick_bits = 10;
