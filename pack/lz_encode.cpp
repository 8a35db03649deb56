// The RAR 2.0 LZ compressor.
//
// Data flows in three stages. The parser walks the stream with the match
// finder and turns it into tokens (literals and matches whose symbol kind is
// already chosen: symbol_repeat_last, symbol_repeat_old + 0..3,
// symbol_short_match + 0..7 or symbol_long_match + slot), keeping its own copy
// of the decoder's distance ring so the choice is exactly what the decoder
// will replay: every match, of whatever kind, enters the ring. The block
// coder splits the waiting tokens into blocks by cost (see block splitting
// below), builds Huffman codes for each block from its statistics and sends
// a table block only when it pays against the codes already in force
// (symbol_new_tables always keeps a code so a switch is always possible);
// the table block is sent with the keep bit when the deltas to the previous
// lengths are smaller. The last block waits for the tokens that follow, so
// that it can grow. The piece writer cuts the bit stream into one piece per
// file, each starting at a fresh byte.
//
// The invariant at the end of each piece: the decoder's look-ahead
// (read_trailing_tables) decodes one more main symbol exactly when at least
// lookahead_min_bytes of its input buffer are left. The piece writer replays
// the decoder's refills (its three refill thresholds, refill_size bytes per
// refill, and the refill that finds no more data and pulls the buffer end
// back to the read position; decoder_limits.h) to know what the decoder will
// see. When the next piece needs new tables and the look-ahead will run, the
// piece ends with symbol_new_tables and the table block (trailing tables);
// otherwise, if the look-ahead will run over padding, the padding starts with
// the code of a harmless symbol so that it can never decode as
// symbol_new_tables.
//
// Parsing by level: greedy (fast) or lazy by one position (default), both
// scoring matches by what they save in bits by the codes of the last block,
// so a repeat symbol or a short match wins over a longer but costlier match;
// or (best) the cheapest path through each segment, found three times, each
// time priced by the tables the path before it would send (see optimal
// parse below).
//
// Why it is fast: the match finder bounds every search; prices are looked up
// in small tables refreshed once per block; the optimal parse searches each
// position once, keeps what it found for its passes, and jumps over long
// matches without weighing them.
#include "pack/lz_encode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>

#include "archive/rar_format.h"
#include "pack/huffman_build.h"
#include "pack/match_finder.h"
#include "unpack/decoder_limits.h"
#include "unpack/lz_decode.h"

namespace {

constexpr int distance_offset = main_symbols;
constexpr int repeat_offset = main_symbols + distance_symbols;
constexpr uint32_t parse_margin = max_match_length + 16;
constexpr uint32_t feed_chunk = 1u << 20;
constexpr int cost_scale = 16; // costs in sixteenths of a bit

// The decoder's input buffer, as its refills see it, in piece offsets.
constexpr uint64_t input_buffer_bytes = input_buffer_size;
constexpr uint64_t refill_bytes = refill_size;

struct LevelSettings {
    uint32_t chain_limit;  // positions a match search visits at most
    uint32_t nice_length;  // a match this long ends the search and is taken
    int lazy_steps;        // positions looked ahead; -1 for the optimal parse
    uint32_t split_tokens; // greedy and lazy parse: tokens parsed between splits
    uint32_t split_chunk;  // blocks are cut at multiples of this many tokens
    uint32_t refine_step;  // and then moved by steps of this many
};

// The optimal parse searches a binary tree, deep and for matches as long as
// a long match without its bonus (258); the others follow short hash chains.
// Fine chunks and steps let a block's codes follow the data closely, where
// the time it takes to weigh them allows.
const LevelSettings settings_fast = {4, 24, 0, 1u << 16, 2048, 16};
const LevelSettings settings_default = {16, 64, 1, 1u << 16, 4096, 16};
const LevelSettings settings_best = {48, 258, -1, 0, 512, 8};

// The optimal parse works on segments of this many positions: their matches
// are searched once and the path is found parse_passes times, each pass
// priced by the tables the pass before it would send.
constexpr uint32_t segment_bytes = 1u << 16;
constexpr int parse_passes = 3;
// No block grows beyond max_block_tokens, which bounds what waits in memory
// for its tables. A cut moves at most refine_reach tokens either way.
constexpr uint32_t max_block_tokens = 1u << 16;
constexpr uint32_t refine_reach = 512;
// What a table block costs, in bits, by the estimate that decides the cuts:
// its fixed part and what each symbol with a code adds.
constexpr double table_base_bits = 120;
constexpr double table_symbol_bits = 3.5;

struct Token {
    uint16_t symbol; // literal byte, a repeat or short-match symbol, or symbol_long_match
    uint16_t length;
    uint32_t distance;
};

struct Tables {
    uint8_t lengths[lz_table_lengths];
    uint16_t codes[lz_table_lengths];
};

struct Piece {
    PieceSink sink;
    uint32_t pad_to;
    int starts_stream;
    int complete;      // every symbol written; waits for the next block
    int64_t end_token; // token index where the file ends, -1 while feeding
    std::vector<uint8_t> bytes;
    uint64_t acc;
    int bit_count;
    uint64_t flushed;
    uint32_t refills;        // refills the decoder makes up to the current position
    uint64_t last_refill_at; // piece offset of the last of them
};

// Symbol prices in cost units; literal is the average literal's, by which
// the greedy and lazy parsers score a match.
struct Prices {
    int32_t literal;
    uint16_t main[main_symbols];
    uint16_t distance[distance_symbols];
    uint16_t repeat[repeat_symbols];
    // A long match's and a repeat's length by the value sent (the length
    // less its kind's least and its distance's bonus): slot symbol and extra
    // bits.
    uint16_t long_length[256];
    uint16_t repeat_length[256];
};

// The decoder's match history: ring[(count - 1 - k) & 3] is what
// symbol_repeat_old + k repeats, and symbol_repeat_last repeats the newest
// entry with last_length.
struct History {
    uint32_t ring[4];
    uint32_t count;
    uint32_t last_length;
};

// Prices from a position on: in the passes after the first, each block's
// own.
struct PriceSpan {
    uint32_t from;
    const Prices *prices;
};

// The symbol counts of a range of chunks and the parts of its estimate.
struct RangeCost {
    uint32_t count[lz_table_lengths];
    uint32_t total[3];
    uint32_t used[3];
    double f_log_f_sum[3];
};

struct SymbolCount {
    uint16_t symbol;
    uint32_t count;
};

// A step of the cheapest path into a position: where it came from and what
// it sent. A step may also be a literal and then a repeat (lead_literal), or
// a match, one literal and then then_symbol (symbol_repeat_old or
// symbol_repeat_last) repeating the match's distance, then_length long.
struct OptStep {
    uint32_t from;
    uint32_t distance;
    uint16_t symbol;
    uint16_t length;
    uint16_t then_symbol;
    uint16_t then_length;
    uint8_t lead_literal;
};

// The distance history at the end of a position's cheapest path: recent[k]
// is what symbol_repeat_old + k repeats.
struct OptHistory {
    uint32_t recent[4];
    uint32_t last_length;
};

struct Choice {
    uint32_t symbol;
    uint32_t length;
    uint32_t distance;
    int32_t score; // saving against literals, in cost units
};

} // namespace

struct LzEncoder {
    LevelSettings settings;
    MatchFinder mf;
    uint32_t pos;
    int started;

    History history;
    Prices prices;

    std::vector<Token> tokens; // parsed, waiting for their block
    size_t split_due;
    std::deque<Piece> pieces;

    // The optimal parse. The segment's matches: those of its position i are
    // cache[cache_first[i]] up to cache[cache_first[i + 1]].
    std::vector<uint32_t> cache_first;
    std::vector<MatchCandidate> cache;
    // A pass's cheapest path, per position of its window, and read back.
    std::vector<uint32_t> opt_price;
    std::vector<OptStep> opt_step;
    std::vector<OptHistory> opt_history;
    std::vector<uint32_t> path;
    // The tokens of the latest pass and of the best one so far; the waiting
    // tokens and the latest pass's together, split into blocks to price the
    // next pass, and the prices of those blocks from position on.
    std::vector<Token> trial, best_trial, trial_all;
    std::vector<Prices> block_prices;
    std::vector<PriceSpan> spans;

    // Block splitting. The chunks: where each ends, and the symbols it sends
    // with their counts (those of chunk c from chunk_symbols[chunk_first[c]]
    // on). The blocks: where each ends, its counts, and the estimate of them
    // all in bits.
    std::vector<uint32_t> chunk_end;
    std::vector<uint32_t> chunk_first;
    std::vector<SymbolCount> chunk_symbols;
    std::vector<uint32_t> block_ends;
    std::vector<RangeCost> block_counts;
    double split_estimate;
    const float *f_log_f; // f * log2(f) for counts below f_log_f_size

    Tables current;
    int tables_valid;
    uint8_t kept[lz_table_lengths];

    PackStats stats;
};

namespace {

// The slot of every length value (sent length minus the least of its kind)
// and of every short distance less one, made from the decoder's tables by
// the compiler: constant data that any number of encoders may share.
struct SlotTables {
    uint8_t length_slot_of[256];
    uint8_t short_slot_of[256];
};

constexpr SlotTables make_slot_tables() {
    SlotTables t{};
    for (int i = 0; i < length_slots; i++)
        for (int v = length_bases[i]; v < length_bases[i] + (1 << length_extra_bits[i]); v++)
            t.length_slot_of[v] = uint8_t(i);
    for (int i = 0; i < short_distance_slots; i++)
        for (int v = short_distance_bases[i];
             v < short_distance_bases[i] + (1 << short_distance_extra_bits[i]); v++)
            t.short_slot_of[v] = uint8_t(i);
    return t;
}

constexpr SlotTables slot_tables = make_slot_tables();
constexpr const uint8_t *length_slot_of = slot_tables.length_slot_of;
constexpr const uint8_t *short_slot_of = slot_tables.short_slot_of;

// The lengths a repeat (symbol_repeat_old + k) and a long match send: from
// the least of their kind up by the largest slot value, before the bonus
// their distance earns. A short match has length 2 and reaches
// max_short_distance back.
constexpr uint32_t largest_slot_value =
    length_bases[length_slots - 1] + (1u << length_extra_bits[length_slots - 1]) - 1;
constexpr uint32_t min_repeat_length = 2;
constexpr uint32_t max_repeat_length = min_repeat_length + largest_slot_value;
constexpr uint32_t min_long_length = 3;
constexpr uint32_t max_long_length = min_long_length + largest_slot_value;
constexpr uint32_t max_short_distance = short_distance_bases[short_distance_slots - 1] +
                                        (1u << short_distance_extra_bits[short_distance_slots - 1]);

inline uint32_t distance_slot(uint32_t v) {
    if (v < 4)
        return v;
    if (v >= 131072)
        return 34 + ((v - 131072) >> 16);
    uint32_t b = 31 - uint32_t(__builtin_clz(v));
    return 2 * b + ((v >> (b - 1)) & 1);
}

// ---- piece writer -------------------------------------------------------

inline void put_bits(Piece &p, uint32_t value, int n) {
    p.acc = (p.acc << n) | value;
    p.bit_count += n;
    while (p.bit_count >= 8) {
        p.bit_count -= 8;
        p.bytes.push_back(uint8_t(p.acc >> p.bit_count));
    }
}

inline uint64_t bit_position(const Piece &p) {
    return (p.flushed + p.bytes.size()) * 8 + uint64_t(p.bit_count);
}

// The decoder tests its buffer position against threshold before the next
// read; past it, it refills and the position drops by refill_size.
inline void checkpoint(Piece &p, uint32_t threshold) {
    uint64_t at = bit_position(p) >> 3;
    if (at - refill_bytes * p.refills > threshold) {
        p.refills++;
        p.last_refill_at = at;
    }
}

// The decoder's input_top, as a piece offset, once packed_size bytes exist.
uint64_t decoder_input_top(uint32_t refills, uint64_t last_refill_at, uint64_t packed_size) {
    if (refills == 0)
        return packed_size < input_buffer_bytes ? packed_size : input_buffer_bytes;
    // A refill that found the data used up left input_top at its position.
    if (packed_size <= input_buffer_bytes + refill_bytes * (refills - 1))
        return last_refill_at;
    uint64_t read = input_buffer_bytes + refill_bytes * refills;
    return packed_size < read ? packed_size : read;
}

void flush_piece_bytes(Piece &p) {
    if (!p.bytes.empty()) {
        p.sink.write(p.sink.user, p.bytes.data(), p.bytes.size());
        p.flushed += p.bytes.size();
        p.bytes.clear();
    }
}

inline void put_symbol(Piece &p, const Tables &t, int index) {
    put_bits(p, t.codes[index], t.lengths[index]);
}

// ---- table blocks -------------------------------------------------------

struct LengthRuns {
    int count;
    uint8_t symbol[lz_table_lengths];
    uint8_t extra[lz_table_lengths];
};

void encode_runs(const uint8_t *lengths, const uint8_t *kept, LengthRuns *runs) {
    int n = 0;
    int i = 0;
    while (i < lz_table_lengths) {
        if (lengths[i] == 0) {
            int z = 1;
            while (i + z < lz_table_lengths && z < 138 && lengths[i + z] == 0)
                z++;
            if (z >= 3) {
                runs->symbol[n] = z <= 10 ? 17 : 18;
                runs->extra[n++] = uint8_t(z <= 10 ? z - 3 : z - 11);
                i += z;
                continue;
            }
        }
        if (i > 0 && lengths[i] == lengths[i - 1]) {
            int r = 1;
            while (i + r < lz_table_lengths && r < 6 && lengths[i + r] == lengths[i - 1])
                r++;
            if (r >= 3) {
                runs->symbol[n] = 16;
                runs->extra[n++] = uint8_t(r - 3);
                i += r;
                continue;
            }
        }
        runs->symbol[n] = uint8_t(kept ? (lengths[i] - kept[i]) & 15 : lengths[i]);
        runs->extra[n++] = 0;
        i++;
    }
    runs->count = n;
}

inline int run_extra_bits(int symbol) {
    return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0;
}

// Cost in bits of a table block; fills the length code's lengths and codes.
uint64_t plan_table_block(const LengthRuns &runs, uint8_t *code_lengths, uint16_t *codes) {
    uint32_t freq[length_code_symbols] = {};
    for (int i = 0; i < runs.count; i++)
        freq[runs.symbol[i]]++;
    build_code_lengths(freq, length_code_symbols, max_code_bits, code_lengths);
    build_canonical_codes(code_lengths, length_code_symbols, codes);
    uint64_t bits = 2 + length_code_symbols * 4;
    for (int i = 0; i < runs.count; i++)
        bits += code_lengths[runs.symbol[i]] + run_extra_bits(runs.symbol[i]);
    return bits;
}

struct TablePlan {
    int keep;
    LengthRuns runs;
    uint8_t code_lengths[length_code_symbols];
    uint16_t codes[length_code_symbols];
    uint64_t bits;
};

void plan_tables(const uint8_t *lengths, const uint8_t *kept, TablePlan *plan) {
    TablePlan keep_plan;
    encode_runs(lengths, nullptr, &plan->runs);
    plan->bits = plan_table_block(plan->runs, plan->code_lengths, plan->codes);
    plan->keep = 0;
    encode_runs(lengths, kept, &keep_plan.runs);
    keep_plan.bits = plan_table_block(keep_plan.runs, keep_plan.code_lengths, keep_plan.codes);
    if (keep_plan.bits < plan->bits) {
        keep_plan.keep = 1;
        *plan = keep_plan;
    }
}

void write_table_block(Piece &p, const TablePlan &plan) {
    checkpoint(p, refill_threshold_table);
    put_bits(p, 0, 1); // LZ block, not multimedia
    put_bits(p, uint32_t(plan.keep), 1);
    for (int i = 0; i < length_code_symbols; i++)
        put_bits(p, plan.code_lengths[i], 4);
    for (int i = 0; i < plan.runs.count; i++) {
        checkpoint(p, refill_threshold_length);
        int s = plan.runs.symbol[i];
        put_bits(p, plan.codes[s], plan.code_lengths[s]);
        if (run_extra_bits(s))
            put_bits(p, plan.runs.extra[i], run_extra_bits(s));
    }
}

void make_tables(const uint32_t *freq, Tables *t) {
    build_code_lengths(freq, main_symbols, max_code_bits, t->lengths);
    build_code_lengths(freq + distance_offset, distance_symbols, max_code_bits,
                       t->lengths + distance_offset);
    build_code_lengths(freq + repeat_offset, repeat_symbols, max_code_bits,
                       t->lengths + repeat_offset);
    build_canonical_codes(t->lengths, main_symbols, t->codes);
    build_canonical_codes(t->lengths + distance_offset, distance_symbols,
                          t->codes + distance_offset);
    build_canonical_codes(t->lengths + repeat_offset, repeat_symbols, t->codes + repeat_offset);
}

void commit_tables(LzEncoder *e, const Tables &t, const TablePlan &plan) {
    e->current = t;
    memcpy(e->kept, t.lengths, lz_table_lengths);
    e->tables_valid = 1;
    e->stats.table_blocks++;
    if (plan.keep)
        e->stats.keep_blocks++;
}

// ---- piece completion ---------------------------------------------------

// Ends the piece. With next tables, tries to send them as trailing tables;
// returns 1 when the decoder will read them there.
int finish_piece(LzEncoder *e, Piece &p, const Tables *next, const TablePlan *plan) {
    uint64_t end_bits = bit_position(p);
    uint64_t end_byte = end_bits >> 3;
    int sent = 0;
    if (next) {
        size_t saved_size = p.bytes.size();
        uint64_t saved_acc = p.acc;
        int saved_bits = p.bit_count;
        uint32_t saved_refills = p.refills;
        uint64_t saved_refill_at = p.last_refill_at;
        put_symbol(p, e->current, symbol_new_tables);
        write_table_block(p, *plan);
        uint64_t packed = (bit_position(p) + 7) / 8;
        packed = (packed + p.pad_to - 1) / p.pad_to * p.pad_to;
        if (decoder_input_top(saved_refills, saved_refill_at, packed) >=
            end_byte + lookahead_min_bytes) {
            sent = 1;
            commit_tables(e, *next, *plan);
            e->stats.trailing_tables++;
        } else {
            e->stats.trailing_refused++;
            p.bytes.resize(saved_size);
            p.acc = saved_acc;
            p.bit_count = saved_bits;
            p.refills = saved_refills;
            p.last_refill_at = saved_refill_at;
        }
    }
    uint64_t packed = (bit_position(p) + 7) / 8;
    packed = (packed + p.pad_to - 1) / p.pad_to * p.pad_to;
    if (!sent &&
        decoder_input_top(p.refills, p.last_refill_at, packed) >= end_byte + lookahead_min_bytes) {
        // The look-ahead will decode a symbol from the padding: make it the
        // shortest code that is not a table switch.
        int harmless = -1;
        for (int s = 0; s < main_symbols; s++)
            if (s != int(symbol_new_tables) && e->current.lengths[s] != 0 &&
                (harmless < 0 || e->current.lengths[s] < e->current.lengths[harmless]))
                harmless = s;
        if (harmless >= 0) {
            put_symbol(p, e->current, harmless);
            e->stats.harmless_pads++;
        }
    }
    if (p.bit_count > 0)
        put_bits(p, 0, 8 - p.bit_count);
    while (p.flushed + p.bytes.size() < packed)
        p.bytes.push_back(0);
    flush_piece_bytes(p);
    e->stats.output_bytes += packed;
    p.sink.end(p.sink.user, packed);
    return sent;
}

// ---- block coder --------------------------------------------------------

struct CodedToken {
    uint16_t main;
    uint8_t second; // distance or repeat-length symbol, 0xFF none
    uint8_t main_extra_bits;
    uint8_t second_extra_bits;
    uint32_t main_extra;
    uint32_t second_extra;
};

CodedToken code_token(const Token &t) {
    CodedToken c{t.symbol, 0xFF, 0, 0, 0, 0};
    if (t.symbol < literal_symbols || t.symbol == symbol_repeat_last)
        return c;
    if (t.symbol < symbol_short_match) {
        uint32_t v = t.length - min_repeat_length - repeat_match_bonus(t.distance);
        uint32_t slot = length_slot_of[v];
        c.second = uint8_t(slot);
        c.second_extra_bits = length_extra_bits[slot];
        c.second_extra = v - length_bases[slot];
        return c;
    }
    if (t.symbol < symbol_new_tables) {
        uint32_t v = t.distance - 1;
        uint32_t slot = short_slot_of[v];
        c.main = uint16_t(symbol_short_match + slot);
        c.main_extra_bits = short_distance_extra_bits[slot];
        c.main_extra = v - short_distance_bases[slot];
        return c;
    }
    uint32_t v = t.length - min_long_length - long_match_bonus(t.distance);
    uint32_t slot = length_slot_of[v];
    c.main = uint16_t(symbol_long_match + slot);
    c.main_extra_bits = length_extra_bits[slot];
    c.main_extra = v - length_bases[slot];
    uint32_t dv = t.distance - 1;
    uint32_t dslot = distance_slot(dv);
    c.second = uint8_t(dslot);
    c.second_extra_bits = distance_extra_bits[dslot];
    c.second_extra = dv - distance_bases[dslot];
    return c;
}

void count_token(PackStats &s, const Token &t) {
    if (t.symbol < literal_symbols) {
        s.literals++;
        return;
    }
    if (t.symbol == symbol_repeat_last)
        s.repeat_last++;
    else if (t.symbol < symbol_short_match)
        s.repeat_old[t.symbol - symbol_repeat_old]++;
    else if (t.symbol < symbol_new_tables)
        s.short_matches++;
    else
        s.long_matches++;
    bool repeat = t.symbol >= symbol_repeat_old && t.symbol < symbol_short_match;
    if (repeat && t.distance >= repeat_bonus_distance)
        s.adjusted[0]++;
    if (t.symbol >= symbol_repeat_old && t.distance >= near_bonus_distance)
        s.adjusted[1]++;
    if (t.symbol >= symbol_repeat_old && t.distance >= far_bonus_distance)
        s.adjusted[2]++;
}

void write_coded(Piece &p, const Tables &t, const CodedToken &c) {
    checkpoint(p, refill_threshold_step);
    put_symbol(p, t, c.main);
    if (c.main_extra_bits)
        put_bits(p, c.main_extra, c.main_extra_bits);
    if (c.second == 0xFF)
        return;
    if (c.main >= symbol_long_match) {
        put_symbol(p, t, distance_offset + c.second);
        if (c.second_extra_bits)
            put_bits(p, c.second_extra, c.second_extra_bits);
    } else {
        put_symbol(p, t, repeat_offset + c.second);
        if (c.second_extra_bits)
            put_bits(p, c.second_extra, c.second_extra_bits);
    }
}

// The price of every length value of a long match and of a repeat, from the
// symbol prices.
void fill_length_prices(Prices *p) {
    for (uint32_t v = 0; v < 256; v++) {
        uint32_t slot = length_slot_of[v];
        p->long_length[v] =
            uint16_t(p->main[symbol_long_match + slot] + length_extra_bits[slot] * cost_scale);
        p->repeat_length[v] = uint16_t(p->repeat[slot] + length_extra_bits[slot] * cost_scale);
    }
}

// Prices by code lengths; freq weighs the literal average.
void prices_from_lengths(const uint8_t *len, const uint32_t *freq, Prices *p) {
    // A symbol without a code costs one bit more than the longest code of
    // its alphabet: cheap enough that a pass may try it, since it only gets
    // a code in the tables that follow if some pass uses it. An alphabet
    // without any code gets a guess.
    static const int alphabet_end[3] = {main_symbols, repeat_offset, lz_table_lengths};
    static const int guess[3] = {12, 8, 8};
    uint16_t unused[3];
    for (int a = 0, s = 0; a < 3; a++) {
        int longest = 0;
        for (; s < alphabet_end[a]; s++)
            longest = len[s] > longest ? len[s] : longest;
        unused[a] = uint16_t((longest == 0 ? guess[a] : longest + 1) * cost_scale);
    }
    uint64_t lit_bits = 0, lit_count = 0;
    for (int s = 0; s < int(literal_symbols); s++) {
        p->main[s] = len[s] ? uint16_t(len[s] * cost_scale) : unused[0];
        lit_bits += uint64_t(freq[s]) * p->main[s];
        lit_count += freq[s];
    }
    p->literal = lit_count ? int32_t(lit_bits / lit_count) : 8 * cost_scale;
    for (int s = literal_symbols; s < main_symbols; s++)
        p->main[s] = len[s] ? uint16_t(len[s] * cost_scale) : unused[0];
    for (int s = 0; s < distance_symbols; s++)
        p->distance[s] =
            len[distance_offset + s] ? uint16_t(len[distance_offset + s] * cost_scale) : unused[1];
    for (int s = 0; s < repeat_symbols; s++)
        p->repeat[s] =
            len[repeat_offset + s] ? uint16_t(len[repeat_offset + s] * cost_scale) : unused[2];
    fill_length_prices(p);
}

// The table symbols a token sends: its main symbol and, for a long match or
// a repeat with a length, the distance or length symbol (-1 none).
inline void table_symbols(const Token &t, int *main, int *second) {
    *second = -1;
    if (t.symbol < literal_symbols || t.symbol == symbol_repeat_last) {
        *main = t.symbol;
    } else if (t.symbol < symbol_short_match) {
        *main = t.symbol;
        *second = repeat_offset +
                  length_slot_of[t.length - min_repeat_length - repeat_match_bonus(t.distance)];
    } else if (t.symbol < symbol_new_tables) {
        *main = int(symbol_short_match) + short_slot_of[t.distance - 1];
    } else {
        *main = int(symbol_long_match) +
                length_slot_of[t.length - min_long_length - long_match_bonus(t.distance)];
        *second = distance_offset + int(distance_slot(t.distance - 1));
    }
}

void count_symbols(const Token *tokens, size_t n, uint32_t *freq) {
    for (size_t i = 0; i < n; i++) {
        int main, second;
        table_symbols(tokens[i], &main, &second);
        freq[main]++;
        if (second >= 0)
            freq[second]++;
    }
}

// The tables for symbol counts. symbol_new_tables always keeps a code, and
// some symbol besides it, so a later switch and a harmless padding symbol are
// always available.
void tables_for(const uint32_t *symbol_freq, Tables *t) {
    uint32_t freq[lz_table_lengths];
    memcpy(freq, symbol_freq, sizeof freq);
    freq[symbol_new_tables]++;
    bool any_other = false;
    for (int s = 0; s < main_symbols; s++)
        any_other = any_other || (s != int(symbol_new_tables) && freq[s] != 0);
    if (!any_other)
        freq[0]++;
    make_tables(freq, t);
}

// Sends tokens[0, n), the first waiting ones, as one block, with new tables
// when they pay against the ones in force. The caller drops them from the
// waiting tokens.
void encode_block(LzEncoder *e, const Token *tokens, size_t n) {
    std::vector<CodedToken> coded(n);
    uint32_t symbol_freq[lz_table_lengths] = {};
    for (size_t i = 0; i < n; i++) {
        coded[i] = code_token(tokens[i]);
        const CodedToken &c = coded[i];
        symbol_freq[c.main]++;
        if (c.second != 0xFF)
            symbol_freq[(c.main >= symbol_long_match ? distance_offset : repeat_offset) +
                        c.second]++;
    }
    Tables fresh;
    tables_for(symbol_freq, &fresh);
    TablePlan plan;
    plan_tables(fresh.lengths, e->kept, &plan);
    bool use_new = !e->tables_valid;
    if (!use_new) {
        uint64_t old_bits = 0, new_bits = plan.bits + e->current.lengths[symbol_new_tables];
        for (int s = 0; s < lz_table_lengths && !use_new; s++) {
            if (symbol_freq[s] == 0)
                continue;
            if (e->current.lengths[s] == 0)
                use_new = true;
            old_bits += uint64_t(symbol_freq[s]) * e->current.lengths[s];
            new_bits += uint64_t(symbol_freq[s]) * fresh.lengths[s];
        }
        use_new = use_new || new_bits < old_bits;
    }

    // Pieces complete before this block (empty files make several) end
    // here; the first of them may carry the new tables as trailing tables.
    Piece *p = &e->pieces.front();
    while (p->complete && e->pieces.size() > 1) {
        int sent = 0;
        bool next_continues = !e->pieces[1].starts_stream;
        if (use_new && next_continues)
            sent = finish_piece(e, *p, &fresh, &plan);
        else
            finish_piece(e, *p, nullptr, nullptr);
        e->pieces.pop_front();
        p = &e->pieces.front();
        if (sent)
            use_new = false;
    }
    if (use_new) {
        if (!(p->starts_stream && bit_position(*p) == 0)) {
            checkpoint(*p, refill_threshold_step);
            put_symbol(*p, e->current, symbol_new_tables);
            e->stats.inline_tables++;
        }
        write_table_block(*p, plan);
        commit_tables(e, fresh, plan);
    }
    for (size_t i = 0; i < n; i++) {
        // Empty files end at the same token as the file before them.
        while (p->end_token == int64_t(i)) {
            finish_piece(e, *p, nullptr, nullptr);
            e->pieces.pop_front();
            p = &e->pieces.front();
        }
        count_token(e->stats, tokens[i]);
        write_coded(*p, e->current, coded[i]);
    }
    flush_piece_bytes(*p);
    for (Piece &q : e->pieces) {
        if (q.end_token == int64_t(n))
            q.complete = 1;
        if (q.end_token >= 0)
            q.end_token -= int64_t(n);
    }
    prices_from_lengths(e->current.lengths, symbol_freq, &e->prices);
}

// ---- parser -------------------------------------------------------------

inline uint32_t recent_distance(const History &h, uint32_t k) {
    return h.ring[(h.count - 1 - k) & 3];
}

inline void history_push(History &h, uint32_t distance, uint32_t length) {
    h.ring[h.count & 3] = distance;
    h.count++;
    h.last_length = length;
}

inline int32_t long_cost(const Prices &p, uint32_t length, uint32_t distance) {
    uint32_t dslot = distance_slot(distance - 1);
    return p.long_length[length - min_long_length - long_match_bonus(distance)] +
           p.distance[dslot] + distance_extra_bits[dslot] * cost_scale;
}

inline void consider(Choice &best, int32_t literal_cost, uint32_t symbol, uint32_t length,
                     uint32_t distance, int32_t cost) {
    int32_t score = int32_t(length) * literal_cost - cost;
    if (score > best.score || (score == best.score && length > best.length))
        best = Choice{symbol, length, distance, score};
}

// The lowest position a match at pos may reach back to.
inline uint32_t lowest_reach(const MatchFinder *mf, uint32_t pos) {
    uint32_t lowest = pos > max_match_distance ? pos - max_match_distance : 0;
    return lowest < mf->barrier ? mf->barrier : lowest;
}

Choice find_best(LzEncoder *e, uint32_t pos) {
    MatchFinder *mf = &e->mf;
    const Prices &pr = e->prices;
    const History &h = e->history;
    Choice best{0, 1, 0, 0};
    uint32_t room = mf->fill - pos;
    uint32_t limit = room < max_match_length ? room : max_match_length;
    if (limit < 2)
        return best;
    match_finder_insert_until(mf, pos);
    uint32_t lowest = lowest_reach(mf, pos);
    int32_t lit = pr.literal;
    for (uint32_t k = 0; k < 4; k++) {
        uint32_t d = recent_distance(h, k);
        if (d == 0 || d > pos - lowest)
            continue;
        uint32_t len = match_length_at(mf, pos, d, limit);
        if (k == 0 && h.last_length != 0 && len >= h.last_length)
            consider(best, lit, symbol_repeat_last, h.last_length, d, pr.main[symbol_repeat_last]);
        uint32_t a = repeat_match_bonus(d);
        if (len < min_repeat_length + a)
            continue;
        if (len > max_repeat_length + a)
            len = max_repeat_length + a;
        consider(best, lit, symbol_repeat_old + k, len, d,
                 pr.main[symbol_repeat_old + k] + pr.repeat_length[len - min_repeat_length - a]);
    }
    MatchCandidate cands[max_match_candidates];
    int found = match_finder_find(mf, pos, limit, cands);
    for (int i = 0; i < found; i++) {
        uint32_t len = cands[i].length, d = cands[i].distance;
        if (d <= max_short_distance) {
            uint32_t slot = short_slot_of[d - 1];
            consider(best, lit, symbol_short_match, 2, d,
                     pr.main[symbol_short_match + slot] +
                         short_distance_extra_bits[slot] * cost_scale);
        }
        uint32_t a = long_match_bonus(d);
        if (len < min_long_length + a)
            continue;
        if (len > max_long_length + a)
            len = max_long_length + a;
        consider(best, lit, symbol_long_match, len, d, long_cost(pr, len, d));
    }
    return best;
}

void emit_literal(LzEncoder *e, uint32_t pos) {
    e->tokens.push_back(Token{e->mf.buffer[pos], 1, 0});
}

void emit_match(LzEncoder *e, const Choice &c) {
    e->tokens.push_back(Token{uint16_t(c.symbol), uint16_t(c.length), c.distance});
    history_push(e->history, c.distance, c.length);
}

void parse_optimal(LzEncoder *e, uint32_t end);
void encode_split(LzEncoder *e, bool flush);

void parse(LzEncoder *e, uint32_t end) {
    if (e->settings.lazy_steps < 0) {
        parse_optimal(e, end);
        return;
    }
    uint32_t pos = e->pos;
    int lazy = e->settings.lazy_steps;
    uint32_t nice = e->settings.nice_length;
    Choice cur = pos < end ? find_best(e, pos) : Choice{};
    while (pos < end) {
        if (cur.score <= 0) {
            emit_literal(e, pos);
            pos++;
            if (pos < end)
                cur = find_best(e, pos);
        } else {
            bool defer = false;
            if (lazy >= 1 && cur.length < nice && pos + 1 < end) {
                Choice next = find_best(e, pos + 1);
                if (next.score > cur.score) {
                    defer = true;
                    emit_literal(e, pos);
                    pos++;
                    cur = next;
                } else if (lazy >= 2 && pos + 2 < end && cur.length > 2) {
                    Choice after = find_best(e, pos + 2);
                    if (after.score > cur.score + e->prices.literal) {
                        defer = true;
                        emit_literal(e, pos);
                        pos++;
                        cur = next;
                    }
                }
            }
            if (!defer) {
                emit_match(e, cur);
                pos += cur.length;
                if (pos < end)
                    cur = find_best(e, pos);
            }
        }
        if (e->tokens.size() >= e->split_due) {
            e->pos = pos;
            encode_split(e, false);
            e->split_due = e->tokens.size() + e->settings.split_tokens;
        }
    }
    e->pos = pos;
}

// ---- block splitting ----------------------------------------------------
//
// Where one block's tables should end and the next one's begin: the waiting
// tokens are cut into chunks (which also end where a file does), and these
// are grouped into blocks top down: the cut that saves most is made, as long
// as the two halves' own codes save more than a table block costs, and each
// half is cut again the same way. Then each cut moves, a few tokens at a
// time, to where it saves most: chunks are coarse, and the kind of data
// seldom changes right at their ends. A code's cost is estimated by the
// entropy of its symbol counts, which is close to what a Huffman code of
// those counts spends and much cheaper to find; a range's estimate is kept
// up to date as chunks or tokens move from one side of a cut to the other,
// so trying every cut costs about one look at each chunk's symbols.

constexpr uint32_t f_log_f_size = 1 << 16;

// The table of f_log_f, made once and shared by every encoder.
const float *f_log_f_table() {
    static const std::vector<float> table = [] {
        std::vector<float> t(f_log_f_size);
        for (uint32_t f = 1; f < f_log_f_size; f++)
            t[f] = float(f * std::log2(double(f)));
        return t;
    }();
    return table.data();
}

inline double f_log_f(const LzEncoder *e, uint32_t f) {
    return f < f_log_f_size ? double(e->f_log_f[f]) : double(f) * std::log2(double(f));
}

inline int alphabet_of(uint32_t symbol) {
    return symbol < uint32_t(main_symbols) ? 0 : symbol < uint32_t(repeat_offset) ? 1 : 2;
}

// Adds (sign 1) or takes away (sign -1) n of symbol s.
inline void move_count(const LzEncoder *e, RangeCost *r, uint32_t s, uint32_t n, int sign) {
    uint32_t before = r->count[s], after = sign > 0 ? before + n : before - n;
    int a = alphabet_of(s);
    r->count[s] = after;
    r->total[a] = sign > 0 ? r->total[a] + n : r->total[a] - n;
    r->used[a] += uint32_t(after != 0) - uint32_t(before != 0);
    r->f_log_f_sum[a] += f_log_f(e, after) - f_log_f(e, before);
}

void move_chunk(const LzEncoder *e, RangeCost *r, size_t c, int sign) {
    for (uint32_t k = e->chunk_first[c]; k < e->chunk_first[c + 1]; k++)
        move_count(e, r, e->chunk_symbols[k].symbol, e->chunk_symbols[k].count, sign);
}

void move_token(const LzEncoder *e, RangeCost *r, const Token &t, int sign) {
    int main, second;
    table_symbols(t, &main, &second);
    move_count(e, r, uint32_t(main), 1, sign);
    if (second >= 0)
        move_count(e, r, uint32_t(second), 1, sign);
}

// Estimated bits of the range with tables of its own.
double range_estimate(const LzEncoder *e, const RangeCost &r) {
    double bits = table_base_bits;
    for (int a = 0; a < 3; a++)
        bits += f_log_f(e, r.total[a]) - r.f_log_f_sum[a] + r.used[a] * table_symbol_bits;
    return bits;
}

// Groups chunks [a, b), whose counts are in whole, into blocks.
void split_range(LzEncoder *e, size_t a, size_t b, const RangeCost &whole) {
    RangeCost left{}, right = whole;
    double best = range_estimate(e, whole);
    size_t at = 0;
    for (size_t k = a + 1; k < b; k++) {
        move_chunk(e, &left, k - 1, 1);
        move_chunk(e, &right, k - 1, -1);
        double cost = range_estimate(e, left) + range_estimate(e, right);
        if (cost < best) {
            best = cost;
            at = k;
        }
    }
    if (at == 0) {
        e->block_ends.push_back(e->chunk_end[b - 1]);
        e->block_counts.push_back(whole);
        e->split_estimate += best;
        return;
    }
    // right now holds the last chunk alone: rebuild the halves' counts.
    right = whole;
    left = RangeCost{};
    for (size_t c = a; c < at; c++) {
        move_chunk(e, &left, c, 1);
        move_chunk(e, &right, c, -1);
    }
    split_range(e, a, at, left);
    split_range(e, at, b, right);
}

// Moves each cut, at most refine_reach tokens either way, to where the
// blocks on both sides are estimated cheapest.
void refine_cuts(LzEncoder *e, const Token *tokens) {
    size_t step = e->settings.refine_step;
    for (size_t k = 0; k + 1 < e->block_ends.size(); k++) {
        size_t begin = k > 0 ? e->block_ends[k - 1] : 0;
        size_t cut = e->block_ends[k], end = e->block_ends[k + 1];
        // Whole steps either way that leave both blocks a token at least.
        size_t back = (cut - begin - 1) / step * step, ahead = (end - cut - 1) / step * step;
        size_t lo = cut - (back < refine_reach ? back : refine_reach);
        size_t hi = cut + (ahead < refine_reach ? ahead : refine_reach);
        if (lo == hi)
            continue;
        RangeCost &left = e->block_counts[k], &right = e->block_counts[k + 1];
        for (size_t t = lo; t < cut; t++) {
            move_token(e, &left, tokens[t], -1);
            move_token(e, &right, tokens[t], 1);
        }
        double best = 0;
        size_t at = lo, best_at = cut;
        for (;; at += step) {
            double cost = range_estimate(e, left) + range_estimate(e, right);
            if (at == lo || cost < best) {
                best = cost;
                best_at = at;
            }
            if (at + step > hi)
                break;
            for (size_t t = at; t < at + step; t++) {
                move_token(e, &left, tokens[t], 1);
                move_token(e, &right, tokens[t], -1);
            }
        }
        for (size_t t = best_at; t < at; t++) {
            move_token(e, &left, tokens[t], -1);
            move_token(e, &right, tokens[t], 1);
        }
        e->block_ends[k] = uint32_t(best_at);
    }
}

// Cuts tokens[0, n) (those waiting first) into blocks; block_ends gets the
// end of each. Chunks also end where a file does, since a file's end is
// where the kind of data most often changes (and where the tables for the
// next one may travel at the end of its piece).
void split_blocks(LzEncoder *e, const Token *tokens, size_t n) {
    e->chunk_end.clear();
    e->chunk_first.clear();
    e->chunk_symbols.clear();
    auto piece = e->pieces.begin();
    for (size_t at = 0; at < n;) {
        size_t end = at + e->settings.split_chunk < n ? at + e->settings.split_chunk : n;
        while (piece != e->pieces.end() && piece->end_token >= 0 && size_t(piece->end_token) <= at)
            ++piece;
        if (piece != e->pieces.end() && piece->end_token >= 0 && size_t(piece->end_token) < end)
            end = size_t(piece->end_token);
        uint32_t freq[lz_table_lengths] = {};
        count_symbols(tokens + at, end - at, freq);
        e->chunk_end.push_back(uint32_t(end));
        e->chunk_first.push_back(uint32_t(e->chunk_symbols.size()));
        for (uint32_t s = 0; s < uint32_t(lz_table_lengths); s++)
            if (freq[s])
                e->chunk_symbols.push_back(SymbolCount{uint16_t(s), freq[s]});
        at = end;
    }
    e->chunk_first.push_back(uint32_t(e->chunk_symbols.size()));
    e->block_ends.clear();
    e->block_counts.clear();
    e->split_estimate = 0;
    size_t chunks = e->chunk_end.size();
    if (chunks == 0)
        return;
    RangeCost all{};
    for (size_t c = 0; c < chunks; c++)
        move_chunk(e, &all, c, 1);
    split_range(e, 0, chunks, all);
    refine_cuts(e, tokens);
}

// Splits the waiting tokens and sends every block but the last, which may
// yet grow with the tokens to come, unless flush or it is already as long
// as a block may be. The next parse is priced by the last block's codes.
void encode_split(LzEncoder *e, bool flush) {
    split_blocks(e, e->tokens.data(), e->tokens.size());
    size_t done = 0;
    for (size_t k = 0; k < e->block_ends.size(); k++) {
        size_t end = e->block_ends[k];
        if (k + 1 == e->block_ends.size() && !flush && end - done < max_block_tokens)
            break;
        encode_block(e, e->tokens.data() + done, end - done);
        done = end;
    }
    e->tokens.erase(e->tokens.begin(), e->tokens.begin() + ptrdiff_t(done));
    if (!e->tokens.empty()) {
        // What waits is the last block.
        const uint32_t *freq = e->block_counts.back().count;
        Tables t;
        tables_for(freq, &t);
        prices_from_lengths(t.lengths, freq, &e->prices);
    }
}

// ---- optimal parse ----------------------------------------------------------
//
// For the best level: the input is taken a segment at a time. Its matches
// are searched once and kept; then the cheapest path through it is found by
// the current prices, the path's tokens are split into blocks as they would
// be sent, and the path is found again, each position priced by the codes of
// the block it fell in, and once more; the pass whose blocks are estimated
// cheapest is sent. The path is found forwards (each position relaxes the
// positions its literal and its matches reach, each length of a match at the
// nearest distance that reaches it) and read backwards. Each position keeps
// the distance history of its own cheapest path, so the repeat symbols it
// offers are exactly the ones the decoder will have, and the prices are
// those of the symbols and extra bits the decoder reads, length bonuses
// included. Since one history per position misses paths that a costlier
// history would open, two composite steps carry their own: a match followed
// by a literal and a repeat of the match's distance, and a literal followed
// by a repeat. A match of nice length ends the path there and is taken as
// it is, and the positions it covers are not searched, which keeps long runs
// cheap.

constexpr uint32_t no_price = 0xFFFFFFFF;

// A position being extended: what the steps from it may reach and cost.
struct Extend {
    uint32_t *price; // per position of the window; the step and history alike
    OptStep *step;
    const MatchFinder *mf;
    const Prices *pr;
    uint32_t i;     // in the window
    uint32_t pos;   // in the buffer
    uint32_t base;  // the price of reaching it
    uint32_t limit; // longest match the data allows
    uint32_t reach; // positions left in the window
    uint32_t lowest;
};

inline void relax(const Extend &x, uint32_t j, uint32_t price, uint32_t symbol, uint32_t length,
                  uint32_t distance, uint32_t then_symbol = 0, uint32_t then_length = 0,
                  uint32_t lead_literal = 0) {
    if (price < x.price[j]) {
        x.price[j] = price;
        x.step[j] = OptStep{x.i,
                            distance,
                            uint16_t(symbol),
                            uint16_t(length),
                            uint16_t(then_symbol),
                            uint16_t(then_length),
                            uint8_t(lead_literal)};
    }
}

// The history after the step into position i.
void settle_history(const OptStep *steps, OptHistory *histories, uint32_t i) {
    const OptStep &s = steps[i];
    const OptHistory &f = histories[s.from];
    OptHistory &h = histories[i];
    if (s.symbol < literal_symbols) {
        h = f;
    } else if (s.then_length) {
        h = OptHistory{{s.distance, s.distance, f.recent[0], f.recent[1]}, s.then_length};
    } else {
        h = OptHistory{{s.distance, f.recent[0], f.recent[1], f.recent[2]}, s.length};
    }
}

// After a match of length L at distance d that costs price: one literal and
// a repeat of d, whatever history the single steps bring to the literal.
void relax_then(const Extend &x, uint32_t symbol, uint32_t L, uint32_t d, uint32_t price) {
    uint32_t next = x.i + L + 1;
    uint32_t adj = repeat_match_bonus(d);
    if (L + 1 + min_repeat_length + adj > x.reach || L + 1 + min_repeat_length + adj > x.limit)
        return;
    uint32_t room = x.limit - L - 1;
    uint32_t again = match_length_at(x.mf, x.pos + L + 1, d, room);
    if (again > x.reach - L - 1)
        again = x.reach - L - 1;
    price += x.pr->main[x.mf->buffer[x.pos + L]];
    if (again >= L)
        relax(x, next + L, price + x.pr->main[symbol_repeat_last], symbol, L, d, symbol_repeat_last,
              L);
    if (again > max_repeat_length + adj)
        again = max_repeat_length + adj;
    if (again >= min_repeat_length + adj)
        relax(x, next + again,
              price + x.pr->main[symbol_repeat_old] +
                  x.pr->repeat_length[again - min_repeat_length - adj],
              symbol, L, d, symbol_repeat_old, again);
}

// The repeats of the history's distances, each at every length it reaches.
// Returns the longest, its distance in longest_distance.
uint32_t relax_repeats(const Extend &x, const OptHistory &h, uint32_t *longest_distance) {
    uint32_t longest = 0;
    for (uint32_t k = 0; k < 4; k++) {
        uint32_t d = h.recent[k];
        if (d == 0 || d > x.pos - x.lowest)
            continue;
        uint32_t len = match_length_at(x.mf, x.pos, d, x.limit);
        if (len > longest) {
            longest = len;
            *longest_distance = d;
        }
        if (k == 0 && h.last_length != 0 && len >= h.last_length && h.last_length <= x.reach)
            relax(x, x.i + h.last_length, x.base + x.pr->main[symbol_repeat_last],
                  symbol_repeat_last, h.last_length, d);
        uint32_t adj = repeat_match_bonus(d);
        uint32_t hi = len < max_repeat_length + adj ? len : max_repeat_length + adj;
        if (hi > x.reach)
            hi = x.reach;
        uint32_t base = x.base + x.pr->main[symbol_repeat_old + k];
        const uint16_t *length_price = x.pr->repeat_length;
        uint32_t least = min_repeat_length + adj;
        for (uint32_t L = least; L <= hi; L++)
            relax(x, x.i + L, base + length_price[L - least], symbol_repeat_old + k, L, d);
        if (hi >= least)
            relax_then(x, symbol_repeat_old + k, hi, d, base + length_price[hi - least]);
    }
    return longest;
}

// A literal and then a repeat of one of the history's distances, where the
// cheapest path to the next position is not that literal and so may bring
// another history.
void relax_lead_literal(const Extend &x, const OptHistory &h) {
    const OptStep &next = x.step[x.i + 1];
    if (x.reach <= min_repeat_length || x.limit <= min_repeat_length ||
        (next.from == x.i && next.symbol < literal_symbols))
        return;
    uint32_t base = x.base + x.pr->main[x.mf->buffer[x.pos]];
    for (uint32_t k = 0; k < 4; k++) {
        uint32_t d = h.recent[k];
        if (d == 0 || d > x.pos - x.lowest)
            continue;
        uint32_t len = match_length_at(x.mf, x.pos + 1, d, x.limit - 1);
        if (len > x.reach - 1)
            len = x.reach - 1;
        if (k == 0 && h.last_length != 0 && len >= h.last_length)
            relax(x, x.i + 1 + h.last_length, base + x.pr->main[symbol_repeat_last],
                  symbol_repeat_last, h.last_length, d, 0, 0, 1);
        uint32_t adj = repeat_match_bonus(d);
        if (len > max_repeat_length + adj)
            len = max_repeat_length + adj;
        if (len >= min_repeat_length + adj)
            relax(x, x.i + 1 + len,
                  base + x.pr->main[symbol_repeat_old + k] +
                      x.pr->repeat_length[len - min_repeat_length - adj],
                  symbol_repeat_old + k, len, d, 0, 0, 1);
    }
}

// The found matches (each longer and further than the one before), each
// length at the nearest distance that reaches it. Returns the longest.
uint32_t relax_matches(const Extend &x, const MatchCandidate *cands, int found) {
    uint32_t covered = 1;
    for (int c = 0; c < found; c++) {
        uint32_t len = cands[c].length, d = cands[c].distance;
        if (d <= max_short_distance && x.reach >= 2) {
            uint32_t slot = short_slot_of[d - 1];
            relax(x, x.i + 2,
                  x.base + x.pr->main[symbol_short_match + slot] +
                      short_distance_extra_bits[slot] * cost_scale,
                  symbol_short_match, 2, d);
        }
        uint32_t adj = long_match_bonus(d);
        uint32_t lo = covered + 1 > min_long_length + adj ? covered + 1 : min_long_length + adj;
        uint32_t hi = len < max_long_length + adj ? len : max_long_length + adj;
        if (hi > x.reach)
            hi = x.reach;
        uint32_t dslot = distance_slot(d - 1);
        uint32_t base = x.base + x.pr->distance[dslot] + distance_extra_bits[dslot] * cost_scale;
        const uint16_t *length_price = x.pr->long_length;
        uint32_t least = min_long_length + adj;
        for (uint32_t L = lo; L <= hi; L++)
            relax(x, x.i + L, base + length_price[L - least], symbol_long_match, L, d);
        if (hi >= lo)
            relax_then(x, symbol_long_match, hi, d, base + length_price[hi - least]);
        covered = len;
    }
    return found > 0 ? cands[found - 1].length : 0;
}

// How to send a match of this length and distance from a history, most
// compact kind first; score stays 0 when no kind can carry it.
Choice kind_for(const OptHistory &at, uint32_t length, uint32_t distance) {
    if (distance == at.recent[0] && length == at.last_length)
        return Choice{symbol_repeat_last, length, distance, 1};
    for (uint32_t k = 0; k < 4; k++) {
        uint32_t a = repeat_match_bonus(distance);
        if (distance == at.recent[k] && length >= min_repeat_length + a &&
            length <= max_repeat_length + a)
            return Choice{symbol_repeat_old + k, length, distance, 1};
    }
    uint32_t a = long_match_bonus(distance);
    if (length >= min_long_length + a && length <= max_long_length + a)
        return Choice{symbol_long_match, length, distance, 1};
    return Choice{0, 1, 0, 0};
}

// Searches the matches of every position in [start, stop) but those a match
// of nice length covers.
void find_segment_matches(LzEncoder *e, uint32_t start, uint32_t stop) {
    MatchFinder *mf = &e->mf;
    e->cache_first.clear();
    e->cache.clear();
    uint32_t covered_until = start;
    for (uint32_t pos = start; pos < stop; pos++) {
        e->cache_first.push_back(uint32_t(e->cache.size()));
        uint32_t room = mf->fill - pos;
        uint32_t limit = room < max_match_length ? room : max_match_length;
        if (pos < covered_until || limit < 2)
            continue;
        match_finder_insert_until(mf, pos);
        MatchCandidate cands[max_match_candidates];
        int found = match_finder_find(mf, pos, limit, cands);
        e->cache.insert(e->cache.end(), cands, cands + found);
        if (found > 0 && cands[found - 1].length >= e->settings.nice_length)
            covered_until = pos + cands[found - 1].length;
    }
    e->cache_first.push_back(uint32_t(e->cache.size()));
}

// Appends the tokens of the cheapest path into position end_at of the
// window starting at cur, and follows them in h.
void read_path(LzEncoder *e, uint32_t cur, uint32_t end_at, History *h, std::vector<Token> *out) {
    const uint8_t *buf = e->mf.buffer;
    e->path.clear();
    for (uint32_t j = end_at; j > 0; j = e->opt_step[j].from)
        e->path.push_back(j);
    for (size_t k = e->path.size(); k-- > 0;) {
        const OptStep &s = e->opt_step[e->path[k]];
        if (s.lead_literal)
            out->push_back(Token{buf[cur + s.from], 1, 0});
        if (s.symbol < literal_symbols) {
            out->push_back(Token{s.symbol, 1, 0});
            continue;
        }
        out->push_back(Token{s.symbol, s.length, s.distance});
        history_push(*h, s.distance, s.length);
        if (s.then_length) {
            out->push_back(Token{buf[cur + s.from + s.length], 1, 0});
            out->push_back(Token{s.then_symbol, s.then_length, s.distance});
            history_push(*h, s.distance, s.then_length);
        }
    }
}

// One pass over the segment [start, stop) from history h: its tokens go to
// out. Returns the position where they end (a long match may reach past
// stop).
uint32_t run_parse(LzEncoder *e, uint32_t start, uint32_t stop, const PriceSpan *span, History h,
                   std::vector<Token> *out) {
    const MatchFinder *mf = &e->mf;
    uint32_t *price = e->opt_price.data();
    OptStep *steps = e->opt_step.data();
    OptHistory *histories = e->opt_history.data();
    out->clear();
    uint32_t cur = start;
    while (cur < stop) {
        uint32_t n = stop - cur;
        // Positions are made ready as steps can reach them: a long match
        // often ends the window a short way in.
        uint32_t ready = 0;
        price[0] = 0;
        for (uint32_t k = 0; k < 4; k++)
            histories[0].recent[k] = recent_distance(h, k);
        histories[0].last_length = h.last_length;
        uint32_t end_at = n;
        Choice long_choice{0, 1, 0, 0};
        for (uint32_t i = 0; i < end_at; i++) {
            if (i > 0)
                settle_history(steps, histories, i);
            for (; ready < n && ready < i + 2 * max_match_length + 1; ready++)
                price[ready + 1] = no_price;
            uint32_t pos = cur + i;
            while (span[1].prices && span[1].from <= pos)
                span++;
            uint32_t room = mf->fill - pos;
            Extend x{price,    steps,
                     mf,       span->prices,
                     i,        pos,
                     price[i], room < max_match_length ? room : max_match_length,
                     n - i,    lowest_reach(mf, pos)};
            relax(x, i + 1, x.base + x.pr->main[mf->buffer[pos]], mf->buffer[pos], 1, 0);
            if (x.limit < 2)
                continue;
            const OptHistory &hist = histories[i];
            uint32_t longest_distance = 0;
            uint32_t longest = relax_repeats(x, hist, &longest_distance);
            relax_lead_literal(x, hist);
            const MatchCandidate *cands = e->cache.data() + e->cache_first[pos - start];
            int found = int(e->cache_first[pos - start + 1] - e->cache_first[pos - start]);
            if (relax_matches(x, cands, found) > longest) {
                longest = cands[found - 1].length;
                longest_distance = cands[found - 1].distance;
            }
            if (longest >= e->settings.nice_length) {
                long_choice = kind_for(hist, longest, longest_distance);
                if (long_choice.score == 0 && longest > max_long_length) // too long for its kind
                    long_choice = kind_for(hist, max_long_length, longest_distance);
                if (long_choice.score != 0) {
                    end_at = i;
                    break;
                }
            }
        }
        read_path(e, cur, end_at, &h, out);
        cur += end_at;
        if (long_choice.score != 0) {
            out->push_back(Token{uint16_t(long_choice.symbol), uint16_t(long_choice.length),
                                 long_choice.distance});
            history_push(h, long_choice.distance, long_choice.length);
            cur += long_choice.length;
        }
    }
    return cur;
}

// Prices for the next pass over the segment from start: the latest pass's
// tokens (after those waiting) split into blocks as they would be sent, each
// position priced by its block's codes. Returns the estimated bits of those
// blocks and of the pass's extra bits.
double price_by_blocks(LzEncoder *e, uint32_t start) {
    std::vector<Token> &all = e->trial_all;
    all.assign(e->tokens.begin(), e->tokens.end());
    all.insert(all.end(), e->trial.begin(), e->trial.end());
    split_blocks(e, all.data(), all.size());
    e->block_prices.resize(e->block_ends.size());
    e->spans.clear();
    size_t waiting = e->tokens.size();
    size_t begin = 0;
    uint32_t pos = start;
    size_t counted = waiting; // trial tokens whose length pos includes
    for (size_t k = 0; k < e->block_ends.size(); k++) {
        size_t end = e->block_ends[k];
        if (end <= waiting) {
            begin = end;
            continue;
        }
        for (; counted < begin; counted++)
            pos += all[counted].length;
        const uint32_t *freq = e->block_counts[k].count;
        Tables t;
        tables_for(freq, &t);
        prices_from_lengths(t.lengths, freq, &e->block_prices[k]);
        e->spans.push_back(PriceSpan{pos, &e->block_prices[k]});
        begin = end;
    }
    e->spans.push_back(PriceSpan{0, nullptr});
    double bits = e->split_estimate;
    for (const Token &t : e->trial) {
        CodedToken c = code_token(t);
        bits += c.main_extra_bits + c.second_extra_bits;
    }
    return bits;
}

void parse_optimal(LzEncoder *e, uint32_t end) {
    while (e->pos < end) {
        uint32_t start = e->pos;
        uint32_t stop = end - start < segment_bytes ? end : start + segment_bytes;
        find_segment_matches(e, start, stop);
        // Each pass is priced by the blocks of the pass before; the tokens of
        // the pass estimated cheapest are sent.
        PriceSpan single[2] = {{start, &e->prices}, {0, nullptr}};
        uint32_t reached = run_parse(e, start, stop, single, e->history, &e->trial);
        double best_bits = 0;
        uint32_t best_reached = 0;
        for (int pass = 1;; pass++) {
            double bits = price_by_blocks(e, start);
            if (pass == 1 || bits < best_bits) {
                best_bits = bits;
                best_reached = reached;
                e->best_trial.swap(e->trial);
            }
            if (pass == parse_passes)
                break;
            reached = run_parse(e, start, stop, e->spans.data(), e->history, &e->trial);
        }
        for (const Token &t : e->best_trial) {
            e->tokens.push_back(t);
            if (t.symbol >= literal_symbols)
                history_push(e->history, t.distance, t.length);
        }
        e->pos = best_reached;
        encode_split(e, false);
    }
}

// A new stream owes nothing to the one before: its prices start from the
// same guesses as a new encoder's, so the same files always give the same
// bytes.
void reset_stream(LzEncoder *e) {
    match_finder_set_barrier(&e->mf, e->mf.fill);
    e->history = History{};
    e->tables_valid = 0;
    memset(e->kept, 0, sizeof e->kept);
    e->split_due = e->settings.split_tokens;
    e->prices.literal = 8 * cost_scale;
    for (int s = 0; s < main_symbols; s++)
        e->prices.main[s] = 8 * cost_scale;
    for (int s = 0; s < distance_symbols; s++)
        e->prices.distance[s] = 5 * cost_scale;
    for (int s = 0; s < repeat_symbols; s++)
        e->prices.repeat[s] = 4 * cost_scale;
    fill_length_prices(&e->prices);
}

void vector_write(void *user, const uint8_t *data, size_t n) {
    auto *out = static_cast<std::vector<uint8_t> *>(user);
    out->insert(out->end(), data, data + n);
}

void ignore_end(void *, uint64_t) {}

} // namespace

LzEncoder *lz_encoder_create(int level) {
    LzEncoder *e = new (std::nothrow) LzEncoder();
    if (!e)
        return nullptr;
    e->settings = level == pack_level_fast   ? settings_fast
                  : level == pack_level_best ? settings_best
                                             : settings_default;
    if (match_finder_init(&e->mf, e->settings.chain_limit, e->settings.nice_length,
                          e->settings.lazy_steps < 0) != 0) {
        delete e;
        return nullptr;
    }
    if (e->settings.lazy_steps < 0) {
        e->opt_price.resize(segment_bytes + 1);
        e->opt_step.resize(segment_bytes + 1);
        e->opt_history.resize(segment_bytes + 1);
    }
    e->f_log_f = f_log_f_table();
    reset_stream(e);
    return e;
}

void lz_encoder_free(LzEncoder *e) {
    if (!e)
        return;
    match_finder_free(&e->mf);
    delete e;
}

int lz_begin_file(LzEncoder *e, int solid, uint32_t pad_to, PieceSink sink) {
    if (!e->started)
        solid = 0;
    e->started = 1;
    if (!solid) {
        lz_flush(e);
        reset_stream(e);
    }
    Piece p{};
    p.sink = sink;
    p.pad_to = pad_to ? pad_to : 1;
    p.starts_stream = !solid;
    p.end_token = -1;
    e->pieces.push_back(std::move(p));
    return solid;
}

void lz_feed(LzEncoder *e, const uint8_t *data, size_t n) {
    MatchFinder *mf = &e->mf;
    e->stats.input_bytes += n;
    while (n > 0) {
        uint32_t chunk = n < feed_chunk ? uint32_t(n) : feed_chunk;
        e->pos -= match_finder_make_room(mf, e->pos, chunk);
        memcpy(mf->buffer + mf->fill, data, chunk);
        mf->fill += chunk;
        data += chunk;
        n -= chunk;
        if (mf->fill > parse_margin)
            parse(e, mf->fill - parse_margin);
    }
}

void lz_end_file(LzEncoder *e) {
    parse(e, e->mf.fill);
    Piece &p = e->pieces.back();
    p.end_token = int64_t(e->tokens.size());
    // A block that ended right at the file's last token leaves the piece
    // waiting for the next block's table decision, like any other.
    if (e->tokens.empty() && !(p.starts_stream && bit_position(p) == 0))
        p.complete = 1;
}

void lz_flush(LzEncoder *e) {
    if (e->pieces.empty())
        return;
    if (!e->tokens.empty())
        encode_split(e, true);
    if (!e->pieces.front().complete)
        encode_block(e, nullptr, 0);
    while (!e->pieces.empty()) {
        finish_piece(e, e->pieces.front(), nullptr, nullptr);
        e->pieces.pop_front();
    }
}

const PackStats *lz_stats(const LzEncoder *e) {
    return &e->stats;
}

size_t lz_memory(const LzEncoder *e) {
    return sizeof(LzEncoder) + match_finder_memory(&e->mf) +
           (e->tokens.capacity() + e->trial.capacity() + e->trial_all.capacity()) * sizeof(Token) +
           e->tokens.capacity() * sizeof(CodedToken) + e->opt_price.capacity() * sizeof(uint32_t) +
           e->opt_step.capacity() * sizeof(OptStep) +
           e->opt_history.capacity() * sizeof(OptHistory) +
           (e->path.capacity() + e->cache_first.capacity() + e->chunk_end.capacity() +
            e->chunk_first.capacity() + e->block_ends.capacity()) *
               sizeof(uint32_t) +
           e->cache.capacity() * sizeof(MatchCandidate) + e->spans.capacity() * sizeof(PriceSpan) +
           e->chunk_symbols.capacity() * sizeof(SymbolCount) +
           e->block_prices.capacity() * sizeof(Prices);
}

uint64_t literal_piece_size(const uint32_t *byte_counts, uint32_t pad_to, uint64_t *table_bytes) {
    uint32_t freq[lz_table_lengths] = {};
    memcpy(freq, byte_counts, literal_symbols * sizeof *freq);
    Tables t;
    tables_for(freq, &t);
    const uint8_t none[lz_table_lengths] = {};
    TablePlan plan;
    plan_tables(t.lengths, none, &plan);
    uint64_t bits = plan.bits;
    *table_bytes = (plan.bits + 7) / 8;
    for (uint32_t b = 0; b < literal_symbols; b++)
        bits += uint64_t(freq[b]) * t.lengths[b];
    pad_to = pad_to ? pad_to : 1;
    return ((bits + 7) / 8 + pad_to - 1) / pad_to * pad_to;
}

int compress_buffer(const uint8_t *data, size_t n, int level, uint32_t pad_to,
                    std::vector<uint8_t> *out, PackStats *stats) {
    LzEncoder *e = lz_encoder_create(level);
    if (!e)
        return -1;
    out->clear();
    lz_begin_file(e, 0, pad_to, PieceSink{out, vector_write, ignore_end});
    lz_feed(e, data, n);
    lz_end_file(e);
    lz_flush(e);
    if (stats)
        *stats = e->stats;
    lz_encoder_free(e);
    return 0;
}
