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
//   adjustments and its copy may write copy_overrun bytes more, so flushing
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
// Speed: codes come from a 64-bit word topped up once per step and mostly
// resolve with one quick-table read (huffman.cpp), whose entry also carries
// the smallest value and the extra bit count of a length or distance slot
// (lz_payloads), so a match reads no further tables; the main code's entry
// is read before the top-up, which keeps the top-up off the chain from one
// literal to the next. The tests at the top of the loop run once for as
// many steps as cannot reach any of their limits (unchecked_steps), not once
// per step. The loop's state, match history included, lives in locals rather
// than the record; the extra bits and the word's top-ups take no branch that
// depends on the data; and a match away from the end of the ring is copied
// in whole pieces of 16 (or 8) bytes, without a byte loop for its tail
// (copy_in_window).
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
static_assert(max_match_length + copy_overrun <= flush_margin,
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
// or ahead of the destination, which it only does by more than max_distance.
static_assert(copy_overrun == wide_piece_size - 1, "a wide piece at most past the match");
static_assert(window_size - copy_overrun > max_distance,
              "bytes copied past a match lie beyond every match's reach");
static inline uint32_t copy_in_window(uint8_t *window, uint32_t dest, uint32_t gap, uint32_t n) {
    uint32_t src = (dest - gap) & window_mask;
    uint32_t end = (dest + n) & window_mask;
    if (dest + n + wide_piece_size > window_size || src + n + wide_piece_size > window_size) {
        for (uint32_t k = 0; k < n; k++)
            window[(dest + k) & window_mask] = window[(src + k) & window_mask];
        return end;
    }
    uint8_t *out = window + dest;
    const uint8_t *in = window + src;
    if (gap >= wide_piece_size) {
        for (uint32_t k = 0; k < n; k += wide_piece_size)
            copy_wide_piece(out + k, in + k);
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

// The loop's copy of the record's bit reader, window position and match
// history. Window bytes are written through a byte pointer, which may alias
// any field of the record, so the loop keeps these in locals and hands them
// back to the record before every call that reads or moves them (saved_to /
// loaded_from).
//
// The bit reader holds the next bits of the buffer in a 64-bit word, most
// significant first: count of them are valid and next is the buffer index of
// the first byte not yet in the word, so the reader stands at bit
// 8 * next - count. A step consumes at most max_step_bits and the loop tops
// the word up to at least topped_up_bits at the start of every step, so codes
// come from the word with shifts alone. Bytes are loaded ahead of the reader
// but only from the buffer, which nothing else changes between two refills of
// the loop: a top-up loads 8 bytes from at most 8 bytes past the reader, and
// after the last step the look-ahead (read_trailing_tables) peeks three bytes
// where the step left it.
constexpr uint32_t topped_up_bits = 56; // all but the last byte of the word
static_assert(max_step_bits <= topped_up_bits, "a step takes its codes from the word alone");
// The least a step starts with: a literal's step takes one code from a full
// word, and a match's step ends with a top-up.
constexpr uint32_t step_start_bits = topped_up_bits - max_code_bits;
static_assert(step_start_bits >= uint32_t(decode_quick_bits),
              "the main code's quick entry is read before the top-up");
// A top-up at the end of a step, the last before a refill, lies at most
// max_step_bits behind the threshold.
static_assert(refill_threshold_step + (7 + max_step_bits) / 8 + 8 + 8 <=
                  uint32_t(input_buffer_size),
              "every load of the word lies inside the input buffer");
static_assert(refill_threshold_step + (7 + max_step_bits) / 8 + 3 <= uint32_t(input_buffer_size),
              "the look-ahead's peek lies inside the input buffer");
namespace {
struct LoopState {
    uint64_t bits;
    uint32_t count;
    uint32_t next;
    uint32_t window_pos;
    int32_t unpacked_left;
    uint32_t old_distances[4];
    uint32_t old_distance_count;
    uint32_t last_distance;
    uint32_t last_length;
};
} // namespace

static inline uint64_t load_big_endian(const uint8_t *p) {
    return uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 |
           uint64_t(p[3]) << 32 | uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 |
           uint64_t(p[6]) << 8 | p[7];
}

static inline uint32_t reader_position(const LoopState &st) {
    return 8 * st.next - st.count;
}

// Starts the word at the record's position; the 8 bytes read end inside the
// buffer even when the position lies in its last 8 bytes. A full word counts
// its last byte as not yet in it, so count stays below 64 for top_up.
static inline void restart_reader(LoopState &st, const uint8_t *input, uint32_t pos, uint32_t bit) {
    constexpr uint32_t last_load = input_buffer_size - 8;
    uint32_t base = pos < last_load ? pos : last_load;
    uint32_t skipped = 8 * (pos - base) + bit;
    st.bits = load_big_endian(input + base) << skipped;
    st.count = 64 - skipped;
    st.next = base + 8;
    if (skipped == 0) {
        st.count = topped_up_bits;
        st.next = base + 7;
    }
}

// Tops the word up to topped_up_bits to 63 bits with whole bytes, without a
// branch: how many bits the last step took follows the data. A byte already
// partly in the word is ORed in again at the same place, which changes
// nothing; with topped_up_bits or more nothing new is counted. The caller
// keeps the reader at most at the refill threshold.
static inline void top_up(LoopState &st, const uint8_t *input) {
    st.bits |= load_big_endian(input + st.next) >> st.count;
    st.next += (63 - st.count) >> 3;
    st.count |= topped_up_bits;
}

static inline void saved_to(ExtractionContext *ctx, const LoopState &st) {
    uint32_t position = reader_position(st);
    ctx->input_pos = position >> 3;
    ctx->input_bit = position & 7;
    ctx->window_pos = st.window_pos;
    ctx->unpacked_left = st.unpacked_left;
    memcpy(ctx->old_distances, st.old_distances, sizeof ctx->old_distances);
    ctx->old_distance_count = st.old_distance_count;
    ctx->last_distance = st.last_distance;
    ctx->last_length = st.last_length;
}

static inline void loaded_from(const ExtractionContext *ctx, LoopState &st) {
    restart_reader(st, ctx->input_buffer, ctx->input_pos, ctx->input_bit);
    st.window_pos = ctx->window_pos;
    st.unpacked_left = ctx->unpacked_left;
    memcpy(st.old_distances, ctx->old_distances, sizeof st.old_distances);
    st.old_distance_count = ctx->old_distance_count;
    st.last_distance = ctx->last_distance;
    st.last_length = ctx->last_length;
}

// Takes n bits, 1 to 16, from the word.
static inline uint32_t take(LoopState &st, uint32_t n) {
    uint32_t value = uint32_t(st.bits >> (64 - n));
    st.bits <<= n;
    st.count -= n;
    return value;
}

// take for 0 to 16 bits without a branch: whether a slot has extra bits
// follows the data, so a test on it would often be guessed wrong. Both
// shifts stay below 64 bits wide for every n.
static inline uint32_t take_extra(LoopState &st, uint32_t n) {
    uint32_t value = uint32_t((st.bits >> 32) >> (32 - n));
    st.bits <<= n;
    st.count -= n;
    return value;
}

// The quick table is indexed by the word's top bits directly and its entry
// shifts the word as it stands (the shift count only uses the low six bits,
// which hold the length): the chain from one code to the next is a shift, a
// table read and a shift. decode returns the entry, payload and length;
// codes longer than the quick ones take the search and get the same payload.
// decode_rest is decode once the quick entry, found, has been read.
static inline uint32_t decode_rest(LoopState &st, uint32_t found, const DecodeTable *table,
                                   const uint32_t *payloads) {
    if (!found) {
        found = decode_search(table, uint32_t(st.bits >> 48) & 0xFFFE);
        found = payloads[found >> 6] | (found & 63);
    }
    st.bits <<= found & 63;
    st.count -= found & 63;
    return found;
}

static inline uint32_t decode(LoopState &st, const DecodeTable *table, const uint32_t *payloads) {
    return decode_rest(st, table->quick[st.bits >> (64 - decode_quick_bits)], table, payloads);
}

static inline uint32_t extra_bits_of(uint32_t main_entry) {
    return (main_entry >> 15) & 31;
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
static inline uint32_t unchecked_steps(const LoopState &st, uint32_t flush_pos,
                                       int32_t stale_limit) {
    uint32_t last_byte = refill_threshold_step;
    if (stale_limit < int32_t(last_byte))
        last_byte = uint32_t(stale_limit);
    uint32_t input_steps = (8 * last_byte + 7 - reader_position(st)) / max_step_bits;
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

    const DecodeTable *main_table = &ctx->main_table;
    const DecodeTable *distance_table = &ctx->distance_table;
    const DecodeTable *repeat_table = &ctx->repeat_table;
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
        uint32_t pos = reader_position(st) >> 3;
        if (pos > refill_threshold_step) {
            saved_to(ctx, st);
            fill_input(ctx, 0);
            pos = ctx->input_pos;
            restart_reader(st, ctx->input_buffer, pos, ctx->input_bit);
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

        uint32_t steps = unchecked_steps(st, flush_pos, stale_limit);
        // A run writes less than the ring holds (it leaves flush_margin
        // free), so the bytes it wrote follow from the window position alone.
        uint32_t run_start = st.window_pos;
        bool new_tables = false;
        do {
            // The main code's quick entry is read before the word is topped
            // up, from the bits it already holds, so that the load does not
            // wait for the top-up: a step starts with at least
            // step_start_bits, a literal takes no more than a code, and a
            // match tops the word up again at its end.
            uint32_t e = main_table->quick[st.bits >> (64 - decode_quick_bits)];
            top_up(st, ctx->input_buffer);
            e = decode_rest(st, e, main_table, lz_payloads.main);
            if (e < main_literal_limit) {
                window[st.window_pos++] = uint8_t(e >> 6);
                continue;
            }
            uint32_t s = (e >> 6) & symbol_mask;
            uint32_t length;
            uint32_t distance;
            if (s >= symbol_long_match) {
                length = (e >> 20) + take_extra(st, extra_bits_of(e));
                uint32_t d = decode(st, distance_table, lz_payloads.distance);
                distance = (d >> 11) + take_extra(st, (d >> 6) & 31);
                length += long_match_bonus(distance);
            } else if (s >= symbol_short_match) {
                if (s == symbol_new_tables) {
                    new_tables = true;
                    break;
                }
                distance = (e >> 20) + take(st, extra_bits_of(e));
                length = 2;
            } else if (s == symbol_repeat_last) {
                length = st.last_length;
                distance = st.last_distance;
            } else {
                // symbol_repeat_old repeats the newest distance, + 3 the oldest.
                distance = st.old_distances[(st.old_distance_count - (s - symbol_repeat_last)) & 3];
                uint32_t l = decode(st, repeat_table, lz_payloads.repeat);
                length = (l >> 11) + take_extra(st, (l >> 6) & 31);
                length += repeat_match_bonus(distance);
            }
            remember_match(st, length, distance);
            st.window_pos = copy_in_window(window, st.window_pos, match_gap(distance), length);
            top_up(st, ctx->input_buffer);
        } while (--steps);
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
