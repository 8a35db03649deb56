// The LZ decoder: packed symbols in, window bytes out.
//
// unpack_file draws one main-code symbol per step and turns it into a
// literal, a match (length and distance, copied from the window), a repeat of
// an earlier distance, or a switch to new code tables. The window is a ring
// of window_size bytes shared by all entries of a solid stream, twice the
// farthest reach of a match; flush_window writes out what the ring holds
// before the decoder could overwrite it.
//
// Two margins make per-step limit tests enough, so nothing is tested per bit
// or per byte (the static_asserts below hold the arithmetic):
// - Input: one step outside a table block reads at most two codes and two
//   runs of extra bits, max_step_bits. The loop's bit word loads 8 bytes
//   from at most 8 bytes past the reader, so refilling once input_pos passes
//   refill_threshold_step keeps every load inside the input buffer; table
//   blocks refill for themselves at their own thresholds.
// - Window: no match is longer than max_match_length bytes after its length
//   adjustments and its copy writes at most copy_footprint bytes, so flushing
//   once fewer than flush_margin bytes are free means no step overwrites a
//   byte that has not been written out.
//
// Damaged input: every decoded symbol indexes its own constant table, extra
// bits give bounded values and every window position is masked, so wrong data
// only gives wrong bytes. symbol_new_tables, and symbol_repeat_last before
// any match, produce nothing; over the stale bytes left in the buffer once
// the packed data is used up they could cycle forever. A valid stream never
// reads past the end of its packed data, so the decoder ends the entry as
// soon as it has read more than stale_input_limit bytes beyond that end: the
// work per entry stays proportional to its packed and unpacked sizes, and the
// short output fails the entry's checksum comparison.
//
// Speed: codes come from a 64-bit word (BitWord) topped up before each code,
// and mostly resolve with one quick-table read (huffman.cpp), whose entry
// also says how many bits the code and its extra bits take together and how
// to turn them into the slot's value (lz_payloads): so a step consumes a code
// and its extra bits with one shift, and a match reads no further tables.
// Each code's entry is read before the top-up that precedes it, which keeps
// the top-up off the chain from one code to the next. A literal's step takes
// up to two more literals of the quick table without another top-up. Long
// matches and repeats of an older distance share one path and take their
// numbers by selection, not by branches; so do short matches and repeats of
// the last. The tests at the top of the loop run once for as many steps as
// cannot reach any of their limits (unchecked_steps), not once per step. The
// loop's state, match history included, lives in locals rather than the
// record; extra bits and top-ups take no branch that depends on the data;
// and a match away from the end of the ring is copied in whole pieces of 16
// (or 8) bytes, the common lengths without a test (copy_in_window).
#include "unpack/lz_decode.h"

#include <cstddef>
#include <cstring>

#include "archive/rar_format.h"
#include "unpack/decoder_limits.h"
#include "unpack/huffman.h"
#include "unpack/unpack_io.h"

constexpr int32_t stale_input_limit = 32;

template <size_t N> constexpr uint32_t largest(const uint8_t (&values)[N]) {
    uint32_t most = 0;
    for (uint8_t value : values)
        most = value > most ? value : most;
    return most;
}

// The longest match: the last length slot with all its extra bits set, the
// least a match of its kind may be, and every length adjustment its
// distance can earn.
constexpr uint32_t longest_slot_length =
    length_bases[length_slots - 1] + (1u << length_extra_bits[length_slots - 1]) - 1;
static_assert(longest_slot_length + 3 + long_match_bonus(max_distance) <= max_match_length &&
                  longest_slot_length + 2 + repeat_match_bonus(max_distance) <= max_match_length,
              "no match is longer than max_match_length");
static_assert(copy_footprint <= flush_margin,
              "a step never writes over bytes that wait to be flushed");

// The most bits one step takes: a main code and the extra bits of its
// length slot, then a distance code and its extra bits (a repeat's length
// code and a short match take less).
constexpr uint32_t max_step_bits =
    2 * max_code_bits + largest(length_extra_bits) + largest(distance_extra_bits);

// How far back a match distance reads: 1 to max_distance, with 0 (and the
// multiples of max_distance a damaged stream may give) as max_distance.
static_assert((max_distance & (max_distance - 1)) == 0, "the reach masks as a power of two");
static inline uint32_t match_gap(uint32_t distance) {
    return ((distance - 1) & (max_distance - 1)) + 1;
}

// Pieces of 8 bytes, and of 16 where the source lies at least that far back.
constexpr uint32_t piece_size = 8;
constexpr uint32_t wide_piece_size = 2 * piece_size;

static inline void copy_piece(uint8_t *out, const uint8_t *in) {
    uint64_t piece;
    memcpy(&piece, in, piece_size);
    memcpy(out, &piece, piece_size);
}

static inline void copy_wide_piece(uint8_t *out, const uint8_t *in) {
    uint8_t piece[wide_piece_size];
    memcpy(piece, in, wide_piece_size);
    memcpy(out, piece, wide_piece_size);
}

// Copies n bytes from gap bytes back to dest and returns the position after
// them. Away from the end of the ring the copy goes in whole pieces and may
// write up to copy_overrun bytes past the match: those bytes lie
// window_size - copy_overrun or more behind every later position, out of
// reach of every match, and are rewritten before anything reads them. A
// piece reads only final bytes when the source lies at least a piece back,
// or ahead of the destination, which it only does by more than max_distance;
// the first gap bytes of a piece are right whatever the gap.
//
// Most matches are short, and whether one is longer than the next is
// anybody's guess: so the copy takes a fixed number of pieces without a
// test of its length, short_copy bytes (the first piece alone completes a
// match no longer than its gap), then medium_copy bytes for a longer match,
// and only matches longer than that loop.
constexpr uint32_t short_copy = 2 * wide_piece_size;
constexpr uint32_t medium_copy = 6 * wide_piece_size;
static_assert(short_copy <= copy_overrun && medium_copy - short_copy - 1 <= copy_overrun,
              "the pieces past a match stay within copy_overrun");
static_assert(medium_copy <= copy_footprint &&
                  max_match_length + wide_piece_size - 1 <= copy_footprint,
              "a copy writes no further than copy_footprint from its start");
static_assert(window_size - copy_overrun > max_distance,
              "bytes copied past a match lie beyond every match's reach");
static inline uint32_t copy_in_window(uint8_t *window, uint32_t dest, uint32_t gap, uint32_t n) {
    uint32_t src = (dest - gap) & window_mask;
    uint32_t end = (dest + n) & window_mask;
    uint32_t higher = dest > src ? dest : src;
    if (higher + n + medium_copy > window_size) {
        for (uint32_t k = 0; k < n; k++)
            window[(dest + k) & window_mask] = window[(src + k) & window_mask];
        return end;
    }
    uint8_t *out = window + dest;
    const uint8_t *in = window + src;
    copy_wide_piece(out, in);
    if (gap >= wide_piece_size) {
        copy_wide_piece(out + wide_piece_size, in + wide_piece_size);
        if (n > short_copy) {
            for (uint32_t k = short_copy; k < medium_copy; k += wide_piece_size)
                copy_wide_piece(out + k, in + k);
            for (uint32_t k = medium_copy; k < n; k += wide_piece_size)
                copy_wide_piece(out + k, in + k);
        }
    } else if (n <= gap) {
    } else if (gap >= piece_size) {
        for (uint32_t k = 0; k < n; k += piece_size)
            copy_piece(out + k, in + k);
    } else {
        // The first 8 bytes one by one; from there on the bytes repeat every
        // period, the smallest multiple of gap of at least 8, so pieces of 8
        // copied from period back are exact.
        static const uint8_t period[8] = {8, 8, 8, 9, 8, 10, 12, 14};
        for (uint32_t k = 0; k < 8; k++)
            out[k] = in[k];
        for (uint32_t k = 8; k < n; k += 8)
            copy_piece(out + k, out + k - period[gap]);
    }
    return end;
}

void copy_match(ExtractionContext *ctx) {
    uint32_t n = ctx->match_length;
    uint32_t d = ctx->match_distance;
    ctx->old_distances[ctx->old_distance_count & 3] = d;
    ctx->last_distance = d;
    ctx->old_distance_count++;
    ctx->last_length = n;
    ctx->unpacked_left -= int32_t(n);
    ctx->window_pos = copy_in_window(ctx->window, ctx->window_pos & window_mask, match_gap(d), n);
}

// The loop's copy of the record's bit reader (a BitWord, unpack_io.h),
// window position and match history. Window bytes are written through a
// byte pointer, which may alias any field of the record, so the loop keeps
// these in locals and hands them back to the record before every call that
// reads or moves them (saved_to / loaded_from).
//
// A step consumes at most max_step_bits, and the word is topped up to at
// least topped_up_bits before each code, so codes come from the word with
// shifts alone. Bytes are loaded ahead of the reader but only from the
// buffer, which nothing else changes between two refills of the loop; after
// the last step the look-ahead (read_trailing_tables) peeks three bytes
// where the step left it.
static_assert(max_step_bits <= topped_up_bits, "a step takes its codes from the word alone");
// Each quick entry is read before the top-up for its code, from what the
// codes before it in the step left: a main code and its length bits before
// the second code, the second code and its distance bits (or a literal and
// the two more a step may take) before the next step's main code.
static_assert(topped_up_bits - max_code_bits - largest(length_extra_bits) >= decode_quick_bits &&
                  topped_up_bits - max_code_bits - largest(distance_extra_bits) >=
                      decode_quick_bits &&
                  topped_up_bits - max_code_bits - 2 * decode_quick_bits >= decode_quick_bits,
              "a quick entry is read from bits the word still holds");
static_assert(max_code_bits + 2 * decode_quick_bits <= max_step_bits,
              "a step of three literals takes no more than any other step");
// A top-up within a step, the last before a refill, lies at most
// max_step_bits behind the threshold.
static_assert(refill_threshold_step + (7 + max_step_bits) / 8 + 8 + 8 <=
                  uint32_t(input_buffer_size),
              "every load of the word lies inside the input buffer");
static_assert(refill_threshold_step + (7 + max_step_bits) / 8 + 3 <= uint32_t(input_buffer_size),
              "the look-ahead's peek lies inside the input buffer");
namespace {
struct LoopState {
    BitWord word;
    uint32_t window_pos;
    int32_t unpacked_left;
    uint32_t old_distances[4];
    uint32_t old_distance_count;
    uint32_t last_distance;
    uint32_t last_length;
};
} // namespace

static inline void saved_to(ExtractionContext *ctx, const LoopState &st) {
    word_hand_back(ctx, st.word);
    ctx->window_pos = st.window_pos;
    ctx->unpacked_left = st.unpacked_left;
    memcpy(ctx->old_distances, st.old_distances, sizeof ctx->old_distances);
    ctx->old_distance_count = st.old_distance_count;
    ctx->last_distance = st.last_distance;
    ctx->last_length = st.last_length;
}

static inline void loaded_from(const ExtractionContext *ctx, LoopState &st) {
    word_start(st.word, ctx);
    st.window_pos = ctx->window_pos;
    st.unpacked_left = ctx->unpacked_left;
    memcpy(st.old_distances, ctx->old_distances, sizeof st.old_distances);
    st.old_distance_count = ctx->old_distance_count;
    st.last_distance = ctx->last_distance;
    st.last_length = ctx->last_length;
}

// The value of a slot whose entry was consumed from word: the top
// code_length + extra bits of the word, with the entry's XOR turning the code
// into the slot's base (lz_decode.h). Every entry consumes at least one bit,
// so the shift that brings those bits down stays below 64 bits wide.
static inline uint32_t slot_value(uint64_t word, uint32_t entry, uint32_t xor_mask) {
    return uint32_t(word >> ((0 - entry) & 63)) ^ ((entry >> lz_xor_shift) & xor_mask);
}

// Consumes an entry's code and the extra bits behind it; returns the word as
// it stood.
static inline uint64_t take_entry(LoopState &st, uint32_t entry) {
    uint64_t word = st.word.bits;
    st.word.bits <<= entry & 63;
    st.word.count -= entry & 63;
    return word;
}

// The entry of a code longer than the quick ones, which the quick table
// leaves 0: the search finds symbol and length, all but the code's last bit
// are consumed here, and the entry made for that one-bit code (lz_entry)
// takes the rest like any other.
static inline uint32_t searched_entry(LoopState &st, const DecodeTable *table,
                                      const uint32_t *payloads) {
    uint32_t found = decode_search(table, uint32_t(st.word.bits >> 48) & 0xFFFE);
    uint32_t length = found & 63;
    st.word.bits <<= length - 1;
    st.word.count -= length - 1;
    return lz_entry(payloads[found >> 6], 1, uint32_t(st.word.bits >> 63));
}

static inline uint32_t quick_entry(const LoopState &st, const uint32_t *quick) {
    return quick[st.word.bits >> (64 - decode_quick_bits)];
}

// The match history a match leaves behind.
static inline void remember_match(LoopState &st, uint32_t n, uint32_t d) {
    st.old_distances[st.old_distance_count & 3] = d;
    st.last_distance = d;
    st.old_distance_count++;
    st.last_length = n;
}

// How many steps from here on, this one included, pass every test at the
// top of the loop without effect, so that they may run without them: the
// reader stays at or before the refill threshold and the stale limit, the
// window position inside the ring and the free part of the ring at least
// flush_margin, and unpacked_left stays non-negative. Each step takes at
// most max_step_bits and writes at most max_match_length bytes. The caller
// has made all of them hold for this step.
static inline uint32_t unchecked_steps(const LoopState &st, const uint8_t *input,
                                       uint32_t flush_pos, int32_t stale_limit) {
    uint32_t last_byte = refill_threshold_step;
    if (stale_limit < int32_t(last_byte))
        last_byte = uint32_t(stale_limit);
    uint32_t input_steps = (8 * last_byte + 7 - word_position(st.word, input)) / max_step_bits;
    uint32_t free =
        flush_pos == st.window_pos ? window_size : (flush_pos - st.window_pos) & window_mask;
    uint32_t flush_steps = (free - flush_margin) / max_match_length;
    uint32_t ring_steps = (window_mask - st.window_pos) / max_match_length;
    uint32_t left_steps = uint32_t(st.unpacked_left) / max_match_length;
    uint32_t steps = input_steps < flush_steps ? input_steps : flush_steps;
    steps = steps < ring_steps ? steps : ring_steps;
    steps = steps < left_steps ? steps : left_steps;
    return steps + 1;
}

void unpack_file(ExtractionContext *ctx, uint8_t *window, int solid) {
    ctx->window = window;
    reset_unpack_state(ctx, solid);
    fill_input(ctx, 1);
    if (!solid)
        read_code_tables(ctx);
    // Wraps like the 32-bit count it is, even for a nonsensical size.
    ctx->unpacked_left = int32_t(uint32_t(ctx->unpacked_left) - 1);

    LoopState st;
    loaded_from(ctx, st);
    uint32_t flush_pos = ctx->flush_pos;
    // Past this position the reader has gone further beyond the end of the
    // packed data than any valid stream does.
    int32_t stale_limit = ctx->input_end + stale_input_limit;
    while (st.unpacked_left >= 0) {
        // Only a literal at the last position leaves it at the window size.
        if (st.window_pos > window_mask)
            st.window_pos &= window_mask;
        uint32_t pos = word_position(st.word, ctx->input_buffer) >> 3;
        if (pos > refill_threshold_step) {
            saved_to(ctx, st);
            fill_input(ctx, 0);
            pos = ctx->input_pos;
            word_start(st.word, ctx);
            stale_limit = ctx->input_end + stale_input_limit;
        }
        if (int32_t(pos) > stale_limit)
            break;
        if (((flush_pos - st.window_pos) & window_mask) < flush_margin &&
            flush_pos != st.window_pos) {
            saved_to(ctx, st);
            flush_window(ctx);
            flush_pos = ctx->flush_pos;
        }

        uint32_t steps = unchecked_steps(st, ctx->input_buffer, flush_pos, stale_limit);
        // A run writes less than the ring holds (it leaves flush_margin
        // free), so the bytes it wrote follow from the window position alone.
        uint32_t run_start = st.window_pos;
        uint8_t *out = window + st.window_pos;
        bool new_tables = false;
        // Each step's main entry is read before the word is topped up, from
        // the bits it already holds (at least decode_quick_bits: the top-up
        // before each code leaves enough for it and the next code's lookup),
        // so that the load does not wait for the top-up.
        uint32_t e = quick_entry(st, ctx->main_table.quick);
        do {
            word_top_up(st.word);
            if (!e)
                e = searched_entry(st, &ctx->main_table, lz_payloads.main);
            uint64_t word = take_entry(st, e);
            if (int32_t(e) >= 0) {
                *out++ = uint8_t(e >> lz_symbol_shift);
                e = quick_entry(st, ctx->main_table.quick);
                // Up to two more literals of the quick table, of at most
                // decode_quick_bits each, need no top-up. The last step of a
                // run takes one symbol only: it may be the entry's last, and
                // it may reach the end of the ring.
                if (int32_t(e) > 0 && steps > 1) {
                    take_entry(st, e);
                    *out++ = uint8_t(e >> lz_symbol_shift);
                    e = quick_entry(st, ctx->main_table.quick);
                    if (int32_t(e) > 0) {
                        take_entry(st, e);
                        *out++ = uint8_t(e >> lz_symbol_shift);
                        e = quick_entry(st, ctx->main_table.quick);
                    }
                }
                continue;
            }
            uint32_t s = e >> lz_symbol_shift;
            uint32_t length;
            uint32_t distance;
            if (e & lz_second_code) {
                // A long match (its length here, a distance code next) or a
                // repeat of an older distance (a length code next): one
                // path for both, which leaves the processor nothing to guess.
                bool long_match = e >= lz_long_match_entry;
                const DecodeTable *second = long_match ? &ctx->distance_table : &ctx->repeat_table;
                uint32_t d = quick_entry(st, second->quick);
                word_top_up(st.word);
                if (!d)
                    d = searched_entry(st, second,
                                       long_match ? lz_payloads.distance : lz_payloads.repeat);
                uint32_t value = slot_value(take_entry(st, d), d, ~0u);
                // symbol_repeat_old repeats the newest distance, + 3 the oldest.
                uint32_t old =
                    st.old_distances[(st.old_distance_count - (s - symbol_repeat_last)) & 3];
                uint32_t long_mask = 0 - uint32_t(long_match);
                distance = ((value + 1) & long_mask) | (old & ~long_mask);
                length = ((slot_value(word, e, lz_main_xor_mask) + 3) & long_mask) |
                         ((value + 2 + (distance >= repeat_bonus_distance)) & ~long_mask);
                length += long_match_bonus(distance);
            } else {
                if (s == symbol_new_tables) {
                    new_tables = true;
                    break;
                }
                uint32_t short_mask = 0 - uint32_t(s >= symbol_short_match);
                distance = ((slot_value(word, e, lz_main_xor_mask) + 1) & short_mask) |
                           (st.last_distance & ~short_mask);
                length = (2 & short_mask) | (st.last_length & ~short_mask);
            }
            uint32_t gap = match_gap(distance);
            remember_match(st, length, distance);
            // The next main entry is read before the copy, whose branches on
            // gap and length the processor often guesses wrong: the read then
            // lies before them and survives their misprediction.
            e = quick_entry(st, ctx->main_table.quick);
            out = window + copy_in_window(window, uint32_t(out - window), gap, length);
        } while (--steps);
        st.window_pos = uint32_t(out - window);
        st.unpacked_left -= int32_t((st.window_pos - run_start) & window_mask);
        if (new_tables) {
            saved_to(ctx, st);
            read_code_tables(ctx);
            loaded_from(ctx, st);
            stale_limit = ctx->input_end + stale_input_limit;
        }
    }
    saved_to(ctx, st);

    read_trailing_tables(ctx);
    flush_window(ctx);
}
