#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/bit_writer.h"
#include "tests/support/decoder.h"
#include "unpack/huffman.h"
#include "unpack/unpack_io.h"

namespace {

// A decoder reading the given packed bytes, first fill done.
Decoder reader_of(const std::string &bytes) {
    Decoder r = decoder_reading(bytes);
    fill_input(r.ctx, 1);
    return r;
}

uint32_t bits_read(const ExtractionContext *ctx) {
    return ctx->input_pos * 8 + ctx->input_bit;
}

// The decoding rule written out plainly: the comparison tree over the
// limits, the index and its fallback to 0.
struct Decoded {
    uint32_t symbol;
    uint32_t length;
};

Decoded reference_decode(const DecodeTable &t, uint32_t bits) {
    uint32_t v = bits & 0xFFFE;
    const uint32_t *limit = t.length_limit;
    uint32_t length;
    if (v < limit[8]) {
        if (v < limit[4])
            length = v < limit[2] ? (v < limit[1] ? 1 : 2) : (v < limit[3] ? 3 : 4);
        else
            length = v < limit[6] ? (v < limit[5] ? 5 : 6) : (v < limit[7] ? 7 : 8);
    } else if (v < limit[12]) {
        length = v < limit[10] ? (v < limit[9] ? 9 : 10) : (v < limit[11] ? 11 : 12);
    } else {
        length = v < limit[14] ? (v < limit[13] ? 13 : 14) : 15;
    }
    uint32_t index = t.first_index[length] + ((v - limit[length - 1]) >> (16 - length));
    if (index >= t.symbol_count)
        index = 0;
    return {t.symbols[index], length};
}

// Puts 16 bits at bit offset `bit` of the buffer's first bytes, with random
// bits around them.
void place_bits(ExtractionContext *ctx, uint32_t bits, uint32_t bit, std::mt19937 &rng) {
    uint32_t word = (rng() & 0xFFFFFF) & ~(0xFFFFu << (8 - bit));
    word |= bits << (8 - bit);
    ctx->input_buffer[0] = uint8_t(word >> 16);
    ctx->input_buffer[1] = uint8_t(word >> 8);
    ctx->input_buffer[2] = uint8_t(word);
    ctx->input_pos = 0;
    ctx->input_bit = bit;
}

// Lengths of a complete code over `used` random symbols of `size`.
std::vector<uint8_t> complete_lengths(uint32_t size, uint32_t used, std::mt19937 &rng) {
    std::vector<uint8_t> leaves = {0};
    while (leaves.size() < used) {
        size_t pick = rng() % leaves.size();
        if (leaves[pick] >= 15)
            continue;
        leaves[pick]++;
        leaves.push_back(leaves[pick]);
    }
    std::vector<uint8_t> lengths(size, 0);
    std::vector<uint32_t> order(size);
    for (uint32_t i = 0; i < size; i++)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t i = 0; i < leaves.size(); i++)
        lengths[order[i]] = leaves[i];
    if (used == 1)
        lengths[order[0]] = 1; // one symbol still needs a code of one bit
    return lengths;
}

// Every 16-bit input, at every bit offset, gives the symbol and the code
// length of the plain search, for complete, incomplete and over-full codes and
// for tables whose symbols tail holds entries from an earlier build.
TEST(Huffman, QuickDecodeMatchesTreeSearchOnEveryInput) {
    std::mt19937 rng(1);
    const uint32_t sizes[] = {19, 28, 48, 257, 298};
    ExtractionContext *ctx = new_extraction_context();
    DecodeTable &table = ctx->main_table;
    for (int round = 0; round < 150; round++) {
        uint32_t size = sizes[rng() % 5];
        std::vector<uint8_t> lengths(size, 0);
        switch (round % 5) {
        case 0: // complete
            lengths = complete_lengths(size, 1 + rng() % size, rng);
            break;
        case 1: // any lengths: mostly over-full
            for (uint8_t &l : lengths)
                l = uint8_t(rng() % 16);
            break;
        case 2: // sparse: incomplete
            for (int k = 0; k < 3; k++)
                lengths[rng() % size] = uint8_t(1 + rng() % 15);
            break;
        case 3: // a complete code with some codes removed
            lengths = complete_lengths(size, 1 + rng() % size, rng);
            for (int k = 0; k < 4; k++)
                lengths[rng() % size] = 0;
            break;
        default: // garbage in the upper bits, which the build ignores
            lengths = complete_lengths(size, 1 + rng() % size, rng);
            for (uint8_t &l : lengths)
                l = uint8_t(l | (rng() % 16) << 4);
            break;
        }
        // Stale entries: an earlier build of the same storage filled the
        // whole symbols array.
        std::vector<uint8_t> full(size);
        for (uint8_t &l : full)
            l = uint8_t(1 + rng() % 15);
        build_decode_table(full.data(), &table, size);
        build_decode_table(lengths.data(), &table, size);
        for (uint32_t bits = 0; bits < 0x10000; bits++) {
            uint32_t bit = bits % 8;
            place_bits(ctx, bits, bit, rng);
            Decoded want = reference_decode(table, bits);
            decode_symbol(ctx, &table);
            ASSERT_EQ(ctx->symbol, want.symbol) << round << " " << bits;
            ASSERT_EQ(bits_read(ctx), bit + want.length) << round << " " << bits;
            ASSERT_EQ(ctx->bit_field, bits);
        }
    }
    free_extraction_context(ctx);
}

TEST(Huffman, BuildGivesCappedLimitsAndSortedSymbols) {
    DecodeTable t = {};
    const uint8_t lengths[] = {3, 1, 0, 3, 2};
    build_decode_table(lengths, &t, 5);
    EXPECT_EQ(t.symbol_count, 5u);
    EXPECT_EQ(t.length_limit[0], 0u);
    EXPECT_EQ(t.length_limit[1], 0x8000u);
    EXPECT_EQ(t.length_limit[2], 0xC000u);
    for (int l = 3; l < 16; l++)
        EXPECT_EQ(t.length_limit[l], 0xFFFFu) << l; // 0x10000 and beyond, capped
    const uint32_t first[] = {0, 0, 1, 2, 4, 4};
    for (int l = 0; l < 6; l++)
        EXPECT_EQ(t.first_index[l], first[l]) << l;
    const uint32_t symbols[] = {1, 4, 0, 3};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(t.symbols[i], symbols[i]);
}

TEST(Huffman, DecodeEdgeInputs) {
    struct Case {
        const char *name;
        std::vector<uint8_t> lengths;
        uint32_t bits;
        uint32_t symbol;
        uint32_t consumed;
    };
    std::vector<uint8_t> all_ones(298, 1);
    std::vector<uint8_t> one_code(298, 0);
    one_code[77] = 1;
    const Case cases[] = {
        // The longest codes are 3 bits: the all-ones input is the last code.
        {"complete, all ones", {3, 1, 0, 3, 2}, 0xFFFF, 3, 3},
        {"complete, first", {3, 1, 0, 3, 2}, 0x0000, 1, 1},
        // Over-full: every input lies below the capped limit of length 1.
        {"over-full, ones", all_ones, 0xFFFF, 1, 1},
        {"over-full, zeros", all_ones, 0x0000, 0, 1},
        // Beyond every limit: 15 bits, and an index past the count gives the
        // first sorted symbol.
        {"beyond limits", one_code, 0xF000, 77, 15},
        {"inside", one_code, 0x7FFF, 77, 1},
    };
    for (const Case &c : cases) {
        ExtractionContext *ctx = new_extraction_context();
        build_decode_table(c.lengths.data(), &ctx->main_table, uint32_t(c.lengths.size()));
        std::mt19937 rng(5);
        place_bits(ctx, c.bits, 3, rng);
        decode_symbol(ctx, &ctx->main_table);
        EXPECT_EQ(ctx->symbol, c.symbol) << c.name;
        EXPECT_EQ(bits_read(ctx), 3 + c.consumed) << c.name;
        free_extraction_context(ctx);
    }
}

// Writes a table head with the simple length code and then raw length-code
// symbols: values below 16 as they are, runs as (symbol, count bits).
struct TableWriter {
    BitWriter w;
    CanonicalCode code = simple_length_code();
};

void head(TableWriter &t, bool multimedia, bool keep, int channels = 1) {
    put_table_head(&t.w, multimedia, keep, channels, t.code.lengths);
}

void value(TableWriter &t, uint32_t v, int times = 1) {
    for (int i = 0; i < times; i++)
        put_symbol(&t.w, t.code, v);
}

void run(TableWriter &t, uint32_t symbol, uint32_t count) {
    put_symbol(&t.w, t.code, symbol);
    if (symbol == 16)
        put_bits(&t.w, count - 3, 2);
    else if (symbol == 17)
        put_bits(&t.w, count - 3, 3);
    else
        put_bits(&t.w, count - 11, 7);
}

std::vector<uint8_t> kept(const ExtractionContext *ctx, size_t from, size_t count) {
    return std::vector<uint8_t>(ctx->kept_lengths + from, ctx->kept_lengths + from + count);
}

TEST(Huffman, KeepBitAddsToKeptLengths) {
    TableWriter t;
    head(t, false, false);
    value(t, 15, 374);
    head(t, false, true);
    value(t, 3, 374); // kept 15 + 3 = 2
    head(t, false, false);
    value(t, 3, 374); // without the keep bit: 3 itself
    Decoder r = reader_of(t.w.bytes);
    read_code_tables(r.ctx);
    EXPECT_EQ(kept(r.ctx, 0, 374), std::vector<uint8_t>(374, 15));
    read_code_tables(r.ctx);
    EXPECT_EQ(kept(r.ctx, 0, 374), std::vector<uint8_t>(374, 2));
    EXPECT_EQ(r.ctx->main_table.length_limit[2], 0xFFFFu); // 298 codes of 2 bits: over-full
    read_code_tables(r.ctx);
    EXPECT_EQ(kept(r.ctx, 0, 374), std::vector<uint8_t>(374, 3));
    EXPECT_EQ(r.ctx->multimedia_block, 0u);
    free_decoder(r);
}

TEST(Huffman, RunsCrossCodesAndStopAtTheLastLength) {
    for (uint32_t symbol : {16u, 17u, 18u}) {
        TableWriter t;
        head(t, false, false);
        value(t, 9, 297);
        value(t, 7);                            // last main length
        run(t, 16, 3);                          // first distance lengths repeat it
        value(t, 6, 70);                        // up to 373: 298 + 3 + 70 = 371
        run(t, symbol, symbol == 18 ? 138 : 6); // cut after 3
        uint32_t after_table = t.w.bit_count;
        put_bits(&t.w, 0x1FF, 9); // data after the block
        Decoder r = reader_of(t.w.bytes);
        read_code_tables(r.ctx);
        EXPECT_EQ(bits_read(r.ctx), after_table) << symbol;
        std::vector<uint8_t> want(297, 9);
        want.push_back(7);
        want.insert(want.end(), 3, 7);
        want.insert(want.end(), 70, 6);
        want.insert(want.end(), 3, symbol == 16 ? 6 : 0);
        want.resize(kept_lengths_size, 0);
        EXPECT_EQ(kept(r.ctx, 0, kept_lengths_size), want) << symbol;
        free_decoder(r);
    }
}

TEST(Huffman, RepeatAtTheFirstLengthRepeatsZero) {
    TableWriter t;
    head(t, false, false);
    run(t, 16, 6);
    value(t, 4, 374 - 6);
    Decoder r = reader_of(t.w.bytes);
    read_code_tables(r.ctx);
    std::vector<uint8_t> want(6, 0);
    want.insert(want.end(), 374 - 6, 4);
    EXPECT_EQ(kept(r.ctx, 0, 374), want);
    free_decoder(r);
}

TEST(Huffman, MultimediaBlocksAndCurrentChannel) {
    struct Case {
        int channels;
        int32_t channel_before;
        int32_t channel_after;
    };
    const Case cases[] = {{4, 3, 3}, {2, 3, 0}, {1, 0, 0}, {3, 2, 2}, {3, 3, 0}};
    for (const Case &c : cases) {
        TableWriter t;
        head(t, true, false, c.channels);
        uint32_t count = 257 * uint32_t(c.channels);
        for (uint32_t i = 0; i < count; i++)
            value(t, 1 + i % 15);
        uint32_t after_table = t.w.bit_count;
        put_bits(&t.w, 0xABCD, 16);
        Decoder r = reader_of(t.w.bytes);
        r.ctx->current_channel = c.channel_before;
        read_code_tables(r.ctx);
        EXPECT_EQ(bits_read(r.ctx), after_table) << c.channels;
        EXPECT_NE(r.ctx->multimedia_block, 0u);
        EXPECT_EQ(r.ctx->channel_count, c.channels);
        EXPECT_EQ(r.ctx->current_channel, c.channel_after) << c.channels;
        for (uint32_t i = 0; i < kept_lengths_size; i++)
            ASSERT_EQ(r.ctx->kept_lengths[i], i < count ? 1 + i % 15 : 0) << i;
        for (int k = 0; k < c.channels; k++)
            EXPECT_EQ(r.ctx->channel_tables[k]->symbol_count, 257u);
        EXPECT_EQ(r.ctx->channel_tables[0]->first_index[2], 18u); // lengths 1 at 0, 15, .., 255
        EXPECT_EQ(r.ctx->main_table.symbol_count, 0u);            // LZ tables untouched
        free_decoder(r);
    }
}

// An LZ block with every main symbol 9 bits long, so symbol s is written as
// the 9-bit number s.
void flat_block(TableWriter &t) {
    put_table_block(&t.w, flat_lz_lengths());
}

TEST(Huffman, TrailingTablesReadTheNextBlock) {
    TableWriter t;
    flat_block(t);
    put_bits(&t.w, 269, 9);
    head(t, false, false);
    value(t, 4, 374);
    t.w.bytes.append(4, '\0');
    Decoder r = reader_of(t.w.bytes);
    read_code_tables(r.ctx);
    read_trailing_tables(r.ctx);
    EXPECT_EQ(kept(r.ctx, 0, 374), std::vector<uint8_t>(374, 4));
    EXPECT_EQ(r.ctx->main_table.length_limit[4], 0xFFFFu);
    free_decoder(r);
}

TEST(Huffman, TrailingTablesNeedFiveBytes) {
    for (uint32_t spare : {4u, 5u}) {
        TableWriter t;
        flat_block(t);
        uint32_t table_bytes = uint32_t(t.w.bytes.size());
        // Byte-align, then leave `spare` bytes holding symbol 100.
        t.w.bit_count = table_bytes * 8;
        put_bits(&t.w, 100, 9);
        t.w.bytes.resize(table_bytes + spare, '\0');
        Decoder r = reader_of(t.w.bytes);
        read_code_tables(r.ctx);
        r.ctx->input_pos = table_bytes;
        r.ctx->input_bit = 0;
        read_trailing_tables(r.ctx);
        EXPECT_EQ(bits_read(r.ctx), table_bytes * 8 + (spare == 5 ? 9 : 0)) << spare;
        EXPECT_EQ(kept(r.ctx, 0, 374), flat_lz_lengths());
        free_decoder(r);
    }
}

TEST(Huffman, TrailingTablesInMultimediaModeUseTheChannelTable) {
    TableWriter t;
    head(t, true, false, 2);
    value(t, 9, 257 * 2); // every channel symbol 9 bits long
    put_bits(&t.w, 256, 9);
    flat_block(t);
    t.w.bytes.append(4, '\0');
    Decoder r = reader_of(t.w.bytes);
    r.ctx->current_channel = 1;
    read_code_tables(r.ctx);
    read_trailing_tables(r.ctx);
    EXPECT_EQ(r.ctx->multimedia_block, 0u);
    EXPECT_EQ(kept(r.ctx, 0, 374), flat_lz_lengths());
    EXPECT_EQ(r.ctx->current_channel, 1);
    free_decoder(r);
}

} // namespace
