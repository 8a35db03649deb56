// The LZ decoder: packed symbols in, window bytes out.
//
// unpack_file draws one main-code symbol per step and turns it into a
// literal, a match (length and distance, copied from the window), a repeat of
// an earlier distance, or a switch to new code tables. The window is a 2 MiB
// ring shared by all entries of a solid stream, twice the farthest reach of a
// match; flush_window writes out what the ring holds before the decoder could
// overwrite it.
//
// Two margins make per-step limit tests enough, so nothing is tested per bit
// or per byte:
// - Input: one step outside a table block reads at most two codes of 15 bits
//   and two runs of extra bits, 51 bits. The loop's bit word loads 8 bytes
//   from at most 8 bytes past the reader, so refilling once input_pos passes
//   8162 keeps every load inside the 8192-byte buffer; table blocks refill
//   for themselves at finer thresholds.
// - Window: the longest match is 260 bytes after its length adjustments and
//   its copy may write 15 bytes more, so flushing once fewer than 280 bytes
//   are free means no step overwrites a byte that has not been written out.
//
// Damaged input: every decoded symbol indexes its own constant table, extra
// bits give bounded values and every window position is masked, so wrong data
// only gives wrong bytes. Symbols 269, and 256 before any match, produce
// nothing; over the stale bytes left in the buffer once the packed data is
// used up they could cycle forever. A valid stream never reads past the end
// of its packed data, so the decoder ends the entry as soon as it has read
// more than stale_input_limit bytes beyond that end: the work per entry stays
// proportional to its packed and unpacked sizes, and the short output fails
// the entry's checksum comparison.
//
// Speed: codes come from a 64-bit word topped up once per step and mostly
// resolve with one quick-table read (huffman.cpp); the loop's state lives in
// locals rather than the record; the extra bits and the word's top-ups take
// no branch that depends on the data; and a match away from the end of the
// ring is copied in whole 8-byte pieces, without a byte loop for its tail
// (copy_in_window).
#include "unpack/lz_decode.h"

#include <cstring>

#include "unpack/huffman.h"
#include "unpack/unpack_io.h"

const uint8_t length_bases[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                  24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint8_t length_extra_bits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                       2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t distance_bases[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
const uint8_t distance_extra_bits[48] = {
    0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
const uint8_t short_distance_bases[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint8_t short_distance_extra_bits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

constexpr uint32_t refill_threshold = 8162;
constexpr uint32_t flush_margin = 280;
constexpr int32_t stale_input_limit = 32;

// How far back a match distance reads: 1 to max_distance, with 0 (and the
// multiples of max_distance a damaged stream may give) as max_distance.
static inline uint32_t match_gap(uint32_t distance) {
    return ((distance - 1) & (max_distance - 1)) + 1;
}

static inline void copy_piece(uint8_t *out, const uint8_t *in) {
    uint64_t piece;
    memcpy(&piece, in, 8);
    memcpy(out, &piece, 8);
}

// Copies n bytes from gap bytes back to dest and returns the position after
// them. Away from the end of the ring the copy goes in whole 8-byte pieces,
// two per step, and may write up to 15 bytes past the match: those bytes lie
// window_size - 15 or more behind every later position, out of reach of
// every match, and are rewritten before anything reads them. A piece reads
// only final bytes when the source lies at least 8 bytes back, or ahead of
// the destination, which it only does by more than max_distance.
static inline uint32_t copy_in_window(uint8_t *window, uint32_t dest, uint32_t gap, uint32_t n) {
    uint32_t src = (dest - gap) & window_mask;
    uint32_t end = (dest + n) & window_mask;
    if (dest + n + 16 > window_size || src + n + 16 > window_size) {
        for (uint32_t k = 0; k < n; k++)
            window[(dest + k) & window_mask] = window[(src + k) & window_mask];
        return end;
    }
    uint8_t *out = window + dest;
    const uint8_t *in = window + src;
    if (gap >= 8) {
        for (uint32_t k = 0; k < n; k += 16) {
            copy_piece(out + k, in + k);
            copy_piece(out + k + 8, in + k + 8);
        }
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

// The match history a match leaves behind, before its bytes are copied.
static inline void remember_match(ExtractionContext *ctx, uint32_t n, uint32_t d) {
    ctx->old_distances[ctx->old_distance_count & 3] = d;
    ctx->last_distance = d;
    ctx->old_distance_count++;
    ctx->last_length = n;
}

void copy_match(ExtractionContext *ctx) {
    uint32_t n = ctx->match_length;
    uint32_t d = ctx->match_distance;
    remember_match(ctx, n, d);
    ctx->unpacked_left -= int32_t(n);
    ctx->window_pos = copy_in_window(ctx->window, ctx->window_pos & window_mask, match_gap(d), n);
}

// The loop's copy of the record's bit reader and window position. Window
// bytes are written through a byte pointer, which may alias any field of the
// record, so the loop keeps these in locals and hands them back to the record
// before every call that reads or moves them (saved_to / loaded_from).
//
// The bit reader holds the next bits of the buffer in a 64-bit word, most
// significant first: count of them are valid and next is the buffer index of
// the first byte not yet in the word, so the reader stands at bit
// 8 * next - count. A step consumes at most 51 bits and the loop tops the
// word up to at least 56 at the start of every step, so codes come from the
// word with shifts alone. Bytes are loaded ahead of the reader but only from
// the buffer, which nothing else changes between two refills of the loop.
namespace {
struct LoopState {
    const uint8_t *input;
    uint64_t bits;
    uint32_t count;
    uint32_t next;
    uint32_t symbol;
    uint32_t window_pos;
    int32_t unpacked_left;
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
static inline void restart_reader(LoopState &st, uint32_t pos, uint32_t bit) {
    constexpr uint32_t last_load = input_buffer_size - 8;
    uint32_t base = pos < last_load ? pos : last_load;
    uint32_t skipped = 8 * (pos - base) + bit;
    st.bits = load_big_endian(st.input + base) << skipped;
    st.count = 64 - skipped;
    st.next = base + 8;
    if (skipped == 0) {
        st.count = 56;
        st.next = base + 7;
    }
}

// Tops the word up to 56 to 63 bits with whole bytes, without a branch: how
// many bits the last step took follows the data. A byte already partly in
// the word is ORed in again at the same place, which changes nothing; with
// 56 or more bits nothing new is counted. The caller keeps the reader at
// most at the refill threshold.
static inline void top_up(LoopState &st) {
    st.bits |= load_big_endian(st.input + st.next) >> st.count;
    st.next += (63 - st.count) >> 3;
    st.count |= 56;
}

static inline void saved_to(ExtractionContext *ctx, const LoopState &st) {
    uint32_t position = reader_position(st);
    ctx->input_pos = position >> 3;
    ctx->input_bit = position & 7;
    ctx->symbol = st.symbol;
    ctx->window_pos = st.window_pos;
    ctx->unpacked_left = st.unpacked_left;
}

static inline void loaded_from(const ExtractionContext *ctx, LoopState &st) {
    restart_reader(st, ctx->input_pos, ctx->input_bit);
    st.symbol = ctx->symbol;
    st.window_pos = ctx->window_pos;
    st.unpacked_left = ctx->unpacked_left;
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
// table read and a shift.
static inline uint32_t decode(LoopState &st, const DecodeTable *table) {
    uint32_t found = table->quick[st.bits >> (64 - decode_quick_bits)];
    if (!found)
        found = decode_search(table, uint32_t(st.bits >> 48) & 0xFFFE);
    st.bits <<= found & 63;
    st.count -= found & 63;
    st.symbol = found >> 6;
    return st.symbol;
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
    st.input = ctx->input_buffer;
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
        if (pos > refill_threshold) {
            saved_to(ctx, st);
            fill_input(ctx, 0);
            pos = ctx->input_pos;
            restart_reader(st, pos, ctx->input_bit);
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

        top_up(st);
        uint32_t s = decode(st, &ctx->main_table);
        if (s < 256) {
            window[st.window_pos++] = uint8_t(s);
            st.unpacked_left--;
            continue;
        }
        uint32_t length;
        uint32_t distance;
        if (s >= 270) {
            uint32_t i = s - 270;
            length = length_bases[i] + 3 + take_extra(st, length_extra_bits[i]);
            uint32_t d = decode(st, &ctx->distance_table);
            distance = distance_bases[d] + 1 + take_extra(st, distance_extra_bits[d]);
            length += (distance >= 0x40000) + (distance >= 0x2000);
        } else if (s == 269) {
            saved_to(ctx, st);
            read_code_tables(ctx);
            loaded_from(ctx, st);
            stale_limit = ctx->input_end + stale_input_limit;
            continue;
        } else if (s == 256) {
            length = ctx->last_length;
            distance = ctx->last_distance;
        } else if (s <= 260) {
            distance = ctx->old_distances[(ctx->old_distance_count - (s - 256)) & 3];
            uint32_t l = decode(st, &ctx->repeat_table);
            length = length_bases[l] + 2 + take_extra(st, length_extra_bits[l]);
            length += (distance >= 0x40000) + (distance >= 0x2000) + (distance >= 0x101);
        } else {
            uint32_t i = s - 261;
            distance = short_distance_bases[i] + 1 + take(st, short_distance_extra_bits[i]);
            length = 2;
        }
        ctx->match_length = length;
        ctx->match_distance = distance;
        remember_match(ctx, length, distance);
        st.unpacked_left -= int32_t(length);
        st.window_pos =
            copy_in_window(window, st.window_pos & window_mask, match_gap(distance), length);
    }
    saved_to(ctx, st);

    read_trailing_tables(ctx);
    flush_window(ctx);
}
