// The RAR 2.0 LZ compressor.
//
// Data flows in three stages. The parser walks the stream with the match
// finder and turns it into tokens (literals and matches whose symbol kind is
// already chosen: symbol_repeat_last, symbol_repeat_old + 0..3,
// symbol_short_match + 0..7 or symbol_long_match + slot), keeping its own copy
// of the decoder's distance ring so the choice is exactly what the decoder
// will replay: every match, of whatever kind, enters the ring. The block
// coder takes a few ten thousand tokens at a time, builds Huffman codes from
// their statistics and sends a table block only when it pays against the
// codes already in force (symbol_new_tables always keeps a code so a switch
// is always possible); the table block is sent with the keep bit when the
// deltas to the previous lengths are smaller. The piece writer cuts the bit
// stream into one piece per file, each starting at a fresh byte.
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
// Parsing by level: greedy (fast), lazy by one position (default), or the
// cheapest path through a window of 4096 positions by the current code
// lengths (best). All of them score matches by what they save in bits, so a
// repeat symbol or a short match wins over a longer but costlier match.
//
// Why it is fast: the match finder bounds every search; costs are looked up
// in small tables refreshed once per block; the optimal parse searches each
// position once and jumps over long matches without weighing them.
#include "pack/lz_encode.h"

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
constexpr uint32_t optimal_window = 4096;

// The decoder's input buffer, as its refills see it, in piece offsets.
constexpr uint64_t input_buffer_bytes = input_buffer_size;
constexpr uint64_t refill_bytes = refill_size;

struct LevelSettings {
    uint32_t chain_limit;
    uint32_t nice_length;
    int lazy_steps; // positions looked ahead; -1 for the optimal parse
    uint32_t block_tokens;
};

// Small blocks let the codes follow the data closely; a block whose codes
// would not pay for their table block simply keeps the codes in force.
const LevelSettings settings_fast = {4, 24, 0, 8192};
const LevelSettings settings_default = {16, 64, 1, 4096};
const LevelSettings settings_best = {64, 96, -1, 4096};

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

struct OptNode {
    uint32_t price;
    uint32_t from;
    uint16_t symbol;
    uint16_t length;
    uint32_t distance;
    uint32_t recent[4]; // recent[k] is what symbol_repeat_old + k repeats
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

    uint32_t ring[4];
    uint32_t ring_count;
    uint32_t last_distance;
    uint32_t last_length;

    int32_t literal_cost;
    uint16_t main_cost[main_symbols];
    uint16_t distance_cost[distance_symbols];
    uint16_t repeat_cost[repeat_symbols];

    std::vector<Token> tokens;
    std::deque<Piece> pieces;
    std::vector<OptNode> nodes; // the optimal parse's window
    std::vector<uint32_t> path;

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

void update_costs(LzEncoder *e, const uint32_t *freq) {
    const uint8_t *len = e->current.lengths;
    uint64_t lit_bits = 0, lit_count = 0;
    for (int s = 0; s < int(literal_symbols); s++) {
        lit_bits += uint64_t(freq[s]) * (len[s] ? len[s] : 12);
        lit_count += freq[s];
    }
    e->literal_cost = lit_count ? int32_t(lit_bits * cost_scale / lit_count) : 8 * cost_scale;
    for (int s = 0; s < main_symbols; s++)
        e->main_cost[s] = uint16_t((len[s] ? len[s] : 12) * cost_scale);
    for (int s = 0; s < distance_symbols; s++)
        e->distance_cost[s] =
            uint16_t((len[distance_offset + s] ? len[distance_offset + s] : 8) * cost_scale);
    for (int s = 0; s < repeat_symbols; s++)
        e->repeat_cost[s] =
            uint16_t((len[repeat_offset + s] ? len[repeat_offset + s] : 8) * cost_scale);
}

void encode_block(LzEncoder *e) {
    size_t n = e->tokens.size();
    std::vector<CodedToken> coded(n);
    uint32_t freq[lz_table_lengths] = {};
    for (size_t i = 0; i < n; i++) {
        coded[i] = code_token(e->tokens[i]);
        const CodedToken &c = coded[i];
        freq[c.main]++;
        if (c.second != 0xFF)
            freq[(c.main >= symbol_long_match ? distance_offset : repeat_offset) + c.second]++;
    }
    uint32_t symbol_freq[lz_table_lengths];
    memcpy(symbol_freq, freq, sizeof freq);
    // symbol_new_tables always keeps a code, and some symbol besides it, so a later switch
    // and a harmless padding symbol are always available.
    freq[symbol_new_tables]++;
    bool any_other = false;
    for (int s = 0; s < main_symbols; s++)
        any_other = any_other || (s != int(symbol_new_tables) && freq[s] != 0);
    if (!any_other)
        freq[0]++;

    Tables fresh;
    make_tables(freq, &fresh);
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
        count_token(e->stats, e->tokens[i]);
        write_coded(*p, e->current, coded[i]);
    }
    flush_piece_bytes(*p);
    for (Piece &q : e->pieces) {
        if (q.end_token == int64_t(n))
            q.complete = 1;
        if (q.end_token >= 0)
            q.end_token -= int64_t(n);
    }
    e->tokens.clear();
    update_costs(e, symbol_freq);
}

// ---- parser -------------------------------------------------------------

inline int32_t long_cost(const LzEncoder *e, uint32_t length, uint32_t distance) {
    uint32_t v = length - min_long_length - long_match_bonus(distance);
    uint32_t slot = length_slot_of[v];
    uint32_t dslot = distance_slot(distance - 1);
    return e->main_cost[symbol_long_match + slot] + length_extra_bits[slot] * cost_scale +
           e->distance_cost[dslot] + distance_extra_bits[dslot] * cost_scale;
}

inline void consider(Choice &best, int32_t literal_cost, uint32_t symbol, uint32_t length,
                     uint32_t distance, int32_t cost) {
    int32_t score = int32_t(length) * literal_cost - cost;
    if (score > best.score || (score == best.score && length > best.length))
        best = Choice{symbol, length, distance, score};
}

Choice find_best(LzEncoder *e, uint32_t pos) {
    MatchFinder *mf = &e->mf;
    Choice best{0, 1, 0, 0};
    uint32_t room = mf->fill - pos;
    uint32_t limit = room < max_match_length ? room : max_match_length;
    if (limit < 2)
        return best;
    match_finder_insert_until(mf, pos);
    uint32_t lowest = pos > max_match_distance ? pos - max_match_distance : 0;
    if (lowest < mf->barrier)
        lowest = mf->barrier;
    int32_t lit = e->literal_cost;
    for (uint32_t k = 0; k < 4; k++) {
        uint32_t d = e->ring[(e->ring_count - 1 - k) & 3];
        if (d == 0 || d > pos - lowest)
            continue;
        uint32_t len = match_length_at(mf, pos, d, limit);
        if (k == 0 && d == e->last_distance && e->last_length != 0 && len >= e->last_length)
            consider(best, lit, symbol_repeat_last, e->last_length, d,
                     e->main_cost[symbol_repeat_last]);
        uint32_t a = repeat_match_bonus(d);
        if (len < min_repeat_length + a)
            continue;
        if (len > max_repeat_length + a)
            len = max_repeat_length + a;
        uint32_t slot = length_slot_of[len - min_repeat_length - a];
        consider(best, lit, symbol_repeat_old + k, len, d,
                 e->main_cost[symbol_repeat_old + k] + e->repeat_cost[slot] +
                     length_extra_bits[slot] * cost_scale);
    }
    MatchCandidate cands[max_match_candidates];
    int found = match_finder_find(mf, pos, limit, cands);
    for (int i = 0; i < found; i++) {
        uint32_t len = cands[i].length, d = cands[i].distance;
        if (d <= max_short_distance) {
            uint32_t slot = short_slot_of[d - 1];
            consider(best, lit, symbol_short_match, 2, d,
                     e->main_cost[symbol_short_match + slot] +
                         short_distance_extra_bits[slot] * cost_scale);
        }
        uint32_t a = long_match_bonus(d);
        if (len < min_long_length + a)
            continue;
        if (len > max_long_length + a)
            len = max_long_length + a;
        consider(best, lit, symbol_long_match, len, d, long_cost(e, len, d));
    }
    return best;
}

void emit_literal(LzEncoder *e, uint32_t pos) {
    e->tokens.push_back(Token{e->mf.buffer[pos], 1, 0});
}

void emit_match(LzEncoder *e, const Choice &c) {
    e->tokens.push_back(Token{uint16_t(c.symbol), uint16_t(c.length), c.distance});
    e->ring[e->ring_count & 3] = c.distance;
    e->ring_count++;
    e->last_distance = c.distance;
    e->last_length = c.length;
}

void parse_optimal(LzEncoder *e, uint32_t end);

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
                    if (after.score > cur.score + e->literal_cost) {
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
        if (e->tokens.size() >= e->settings.block_tokens) {
            e->pos = pos;
            encode_block(e);
        }
    }
    e->pos = pos;
}

// ---- optimal parse ----------------------------------------------------------
//
// For the best level: the cheapest way through the next window of positions
// by the current prices, found forwards (each position relaxes the positions
// its literal and its matches reach) and read backwards. Each position keeps
// the distance history of its own cheapest path, so the repeat symbols it
// offers are exactly the ones the decoder will have; that is also why the
// path is replayed through emit_match. A match of nice length ends the window
// early and is taken as it is, which keeps long runs cheap to parse.

constexpr uint32_t no_price = 0xFFFFFFFF;

inline void relax(OptNode *nodes, uint32_t j, uint32_t price, uint32_t from, uint32_t symbol,
                  uint32_t length, uint32_t distance) {
    if (price < nodes[j].price) {
        OptNode &n = nodes[j];
        n.price = price;
        n.from = from;
        n.symbol = uint16_t(symbol);
        n.length = uint16_t(length);
        n.distance = distance;
    }
}

// The history after the step that reached node i.
void settle_history(OptNode *nodes, uint32_t i) {
    OptNode &n = nodes[i];
    const OptNode &f = nodes[n.from];
    if (n.symbol < literal_symbols) {
        memcpy(n.recent, f.recent, sizeof n.recent);
        n.last_length = f.last_length;
        return;
    }
    n.recent[0] = n.distance;
    n.recent[1] = f.recent[0];
    n.recent[2] = f.recent[1];
    n.recent[3] = f.recent[2];
    n.last_length = n.length;
}

// How to send a match of this length and distance from a history, most
// compact kind first; score stays 0 when no kind can carry it.
Choice kind_for(const OptNode &at, uint32_t length, uint32_t distance) {
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

void parse_optimal(LzEncoder *e, uint32_t end) {
    MatchFinder *mf = &e->mf;
    std::vector<OptNode> &nodes = e->nodes;
    uint32_t nice = e->settings.nice_length;
    while (e->pos < end) {
        uint32_t start = e->pos;
        uint32_t n = end - start < optimal_window ? end - start : optimal_window;
        for (uint32_t j = 0; j <= n; j++)
            nodes[j].price = no_price;
        OptNode &first = nodes[0];
        first.price = 0;
        for (uint32_t k = 0; k < 4; k++)
            first.recent[k] = e->ring[(e->ring_count - 1 - k) & 3];
        first.last_length = e->last_length;
        uint32_t stop = n;
        Choice long_choice{0, 1, 0, 0};
        for (uint32_t i = 0; i < stop; i++) {
            if (i > 0)
                settle_history(nodes.data(), i);
            const OptNode &a = nodes[i];
            uint32_t pos = start + i;
            const uint8_t *buf = mf->buffer;
            relax(nodes.data(), i + 1, a.price + e->main_cost[buf[pos]], i, buf[pos], 1, 0);
            uint32_t room = mf->fill - pos;
            uint32_t limit = room < max_match_length ? room : max_match_length;
            if (limit < 2)
                continue;
            match_finder_insert_until(mf, pos);
            uint32_t lowest = pos > max_match_distance ? pos - max_match_distance : 0;
            if (lowest < mf->barrier)
                lowest = mf->barrier;
            uint32_t reach = n - i; // lengths beyond the window are not weighed
            uint32_t longest = 0, longest_distance = 0;
            for (uint32_t k = 0; k < 4; k++) {
                uint32_t d = a.recent[k];
                if (d == 0 || d > pos - lowest)
                    continue;
                uint32_t len = match_length_at(mf, pos, d, limit);
                if (len > longest) {
                    longest = len;
                    longest_distance = d;
                }
                if (k == 0 && a.last_length != 0 && len >= a.last_length && a.last_length <= reach)
                    relax(nodes.data(), i + a.last_length,
                          a.price + e->main_cost[symbol_repeat_last], i, symbol_repeat_last,
                          a.last_length, d);
                uint32_t adj = repeat_match_bonus(d);
                uint32_t hi = len < max_repeat_length + adj ? len : max_repeat_length + adj;
                if (hi > reach)
                    hi = reach;
                uint32_t base = a.price + e->main_cost[symbol_repeat_old + k];
                for (uint32_t L = min_repeat_length + adj; L <= hi; L++) {
                    uint32_t slot = length_slot_of[L - min_repeat_length - adj];
                    relax(nodes.data(), i + L,
                          base + e->repeat_cost[slot] + length_extra_bits[slot] * cost_scale, i,
                          symbol_repeat_old + k, L, d);
                }
            }
            MatchCandidate cands[max_match_candidates];
            int found = match_finder_find(mf, pos, limit, cands);
            uint32_t covered = 1;
            for (int c = 0; c < found; c++) {
                uint32_t len = cands[c].length, d = cands[c].distance;
                if (len > longest) {
                    longest = len;
                    longest_distance = d;
                }
                if (d <= max_short_distance && reach >= 2) {
                    uint32_t slot = short_slot_of[d - 1];
                    relax(nodes.data(), i + 2,
                          a.price + e->main_cost[symbol_short_match + slot] +
                              short_distance_extra_bits[slot] * cost_scale,
                          i, symbol_short_match, 2, d);
                }
                uint32_t adj = long_match_bonus(d);
                uint32_t lo =
                    covered + 1 > min_long_length + adj ? covered + 1 : min_long_length + adj;
                uint32_t hi = len < max_long_length + adj ? len : max_long_length + adj;
                if (hi > reach)
                    hi = reach;
                uint32_t dslot = distance_slot(d - 1);
                uint32_t base =
                    a.price + e->distance_cost[dslot] + distance_extra_bits[dslot] * cost_scale;
                for (uint32_t L = lo; L <= hi; L++) {
                    uint32_t slot = length_slot_of[L - min_long_length - adj];
                    relax(nodes.data(), i + L,
                          base + e->main_cost[symbol_long_match + slot] +
                              length_extra_bits[slot] * cost_scale,
                          i, symbol_long_match, L, d);
                }
                covered = len;
            }
            if (longest >= nice) {
                long_choice = kind_for(a, longest, longest_distance);
                if (long_choice.score == 0 && longest > max_long_length) // too long for its kind
                    long_choice = kind_for(a, max_long_length, longest_distance);
                if (long_choice.score != 0) {
                    stop = i;
                    break;
                }
            }
        }
        // Read the cheapest path backwards, then replay it forwards.
        e->path.clear();
        for (uint32_t j = stop; j > 0; j = nodes[j].from)
            e->path.push_back(j);
        for (size_t k = e->path.size(); k-- > 0;) {
            const OptNode &step = nodes[e->path[k]];
            uint32_t at = start + nodes[e->path[k]].from;
            if (step.symbol < 256)
                emit_literal(e, at);
            else
                emit_match(e, Choice{step.symbol, step.length, step.distance, 0});
        }
        e->pos = start + stop;
        if (long_choice.score != 0) {
            emit_match(e, long_choice);
            e->pos += long_choice.length;
        }
        if (e->tokens.size() >= e->settings.block_tokens)
            encode_block(e);
    }
}

void reset_stream(LzEncoder *e) {
    match_finder_set_barrier(&e->mf, e->mf.fill);
    memset(e->ring, 0, sizeof e->ring);
    e->ring_count = 0;
    e->last_distance = 0;
    e->last_length = 0;
    e->tables_valid = 0;
    memset(e->kept, 0, sizeof e->kept);
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
    if (match_finder_init(&e->mf, e->settings.chain_limit, e->settings.nice_length, false) != 0) {
        delete e;
        return nullptr;
    }
    e->tokens.reserve(e->settings.block_tokens);
    if (e->settings.lazy_steps < 0)
        e->nodes.resize(optimal_window + 1);
    e->literal_cost = 8 * cost_scale;
    for (int s = 0; s < main_symbols; s++)
        e->main_cost[s] = 8 * cost_scale;
    for (int s = 0; s < distance_symbols; s++)
        e->distance_cost[s] = 5 * cost_scale;
    for (int s = 0; s < repeat_symbols; s++)
        e->repeat_cost[s] = 4 * cost_scale;
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
    if (e->tokens.size() >= e->settings.block_tokens / 4)
        encode_block(e);
}

void lz_flush(LzEncoder *e) {
    if (e->pieces.empty())
        return;
    if (!e->tokens.empty() || !e->pieces.front().complete)
        encode_block(e);
    while (!e->pieces.empty()) {
        finish_piece(e, e->pieces.front(), nullptr, nullptr);
        e->pieces.pop_front();
    }
}

const PackStats *lz_stats(const LzEncoder *e) {
    return &e->stats;
}

size_t lz_memory(const LzEncoder *e) {
    return sizeof(LzEncoder) + match_finder_memory(&e->mf) + e->tokens.capacity() * sizeof(Token) +
           e->tokens.capacity() * sizeof(CodedToken) + e->nodes.capacity() * sizeof(OptNode) +
           e->path.capacity() * sizeof(uint32_t);
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
