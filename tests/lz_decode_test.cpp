#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "pack/lz_encode.h"
#include "tests/support/bit_writer.h"
#include "tests/support/decoder.h"
#include "tests/support/test_paths.h"
#include "unpack/huffman.h"
#include "unpack/lz_decode.h"
#include "unpack/unpack_io.h"

namespace {

uint32_t crc_of(const Decoder &d, const std::string &bytes) {
    return ~crc32_update(d.ctx, 0xFFFFFFFF, bytes.data(), bytes.size());
}

template <size_t N, typename T> uint32_t index_for(const T (&bases)[N], uint32_t value) {
    uint32_t i = 0;
    while (i + 1 < N && bases[i + 1] <= value)
        i++;
    return i;
}

// Writes symbols of an LZ code set.
struct Stream {
    BitWriter w;
    LzCodes codes;
};

Stream lz_stream(const std::vector<uint8_t> &lengths = flat_lz_lengths()) {
    Stream s;
    put_table_block(&s.w, lengths);
    s.codes = lz_codes(lengths);
    return s;
}

void literal(Stream &s, uint8_t byte) {
    put_symbol(&s.w, s.codes.main, byte);
}

// A match from symbols 270..297 giving exactly length bytes at distance.
void long_match(Stream &s, uint32_t length, uint32_t distance) {
    uint32_t base = length - 3 - (distance >= 0x2000) - (distance >= 0x40000);
    uint32_t i = index_for(length_bases, base);
    put_symbol(&s.w, s.codes.main, 270 + i);
    put_bits(&s.w, base - length_bases[i], length_extra_bits[i]);
    uint32_t d = index_for(distance_bases, distance - 1);
    put_symbol(&s.w, s.codes.distance, d);
    put_bits(&s.w, distance - 1 - distance_bases[d], distance_extra_bits[d]);
}

// Symbol 256 + back (1..4) with a repeat-table length whose base part is base.
void old_match(Stream &s, uint32_t back, uint32_t base) {
    put_symbol(&s.w, s.codes.main, 256 + back);
    uint32_t i = index_for(length_bases, base);
    put_symbol(&s.w, s.codes.repeat, i);
    put_bits(&s.w, base - length_bases[i], length_extra_bits[i]);
}

void short_match(Stream &s, uint32_t distance) {
    uint32_t i = index_for(short_distance_bases, distance - 1);
    put_symbol(&s.w, s.codes.main, 261 + i);
    put_bits(&s.w, distance - 1 - short_distance_bases[i], short_distance_extra_bits[i]);
}

// The packed data of an entry in a test archive: at the block offset plus
// the header size, as the archive's facts list them.
std::string sample_data(const char *name, size_t offset, size_t size) {
    return read_file(test_data(name)).substr(offset, size);
}

TEST(LzTables, BasesCoverTheirRangesWithoutGaps) {
    // Pointers, not array references: with references GCC 12 at -O3 reports
    // a false out-of-bounds read of the 8-entry array.
    auto check = [](const auto *bases, const uint8_t *extra, size_t n, uint32_t last) {
        for (size_t i = 0; i + 1 < n; i++)
            EXPECT_EQ(uint32_t(bases[i + 1]), uint32_t(bases[i]) + (1u << extra[i])) << i;
        EXPECT_EQ(uint32_t(bases[0]), 0u);
        EXPECT_EQ(uint32_t(bases[n - 1]) + (1u << extra[n - 1]) - 1, last);
    };
    check(length_bases, length_extra_bits, 28, 255);
    check(distance_bases, distance_extra_bits, 48, 0xFFFFF);
    check(short_distance_bases, short_distance_extra_bits, 8, 255);
}

TEST(LzDecode, LiteralsAndOverlappingMatch) {
    Decoder d = new_decoder();
    Stream s = lz_stream();
    literal(s, 'x');
    long_match(s, 10, 1);
    literal(s, 'a');
    literal(s, 'b');
    literal(s, 'c');
    long_match(s, 7, 3);
    short_match(s, 2);
    std::string out = decode_entry(d, s.w.bytes, 23, 0);
    EXPECT_EQ(out, std::string(11, 'x') + "abcabcabca" + "ca");
    EXPECT_EQ(d.ctx->file_checksum, ~crc_of(d, out));
    EXPECT_EQ(d.ctx->unpacked_left, -1);
    EXPECT_EQ(d.ctx->flush_pos, d.ctx->window_pos);
    free_decoder(d);
}

TEST(LzDecode, LengthAdjustmentsByDistance) {
    struct Case {
        uint32_t distance;
        uint32_t long_extra; // added to a 270..297 match
        uint32_t old_extra;  // added to a 257..260 match
    };
    const Case cases[] = {{0x100, 0, 0},  {0x101, 0, 1},   {0x1FFF, 0, 1},
                          {0x2000, 1, 2}, {0x3FFFF, 1, 2}, {0x40000, 2, 3}};
    for (const Case &c : cases) {
        Decoder d = new_decoder();
        Stream s = lz_stream();
        // A long match with base part 5 (symbol 275, no extra bits).
        put_symbol(&s.w, s.codes.main, 275);
        uint32_t di = index_for(distance_bases, c.distance - 1);
        put_symbol(&s.w, s.codes.distance, di);
        put_bits(&s.w, c.distance - 1 - distance_bases[di], distance_extra_bits[di]);
        uint32_t long_length = 5 + 3 + c.long_extra;
        // The same distance again through symbol 257 with base part 4.
        old_match(s, 1, 4);
        uint32_t old_length = 4 + 2 + c.old_extra;
        std::string out = decode_entry(d, s.w.bytes, int32_t(long_length + old_length), 0);
        EXPECT_EQ(out.size(), long_length + old_length) << std::hex << c.distance;
        EXPECT_EQ(d.ctx->last_length, old_length) << std::hex << c.distance;
        EXPECT_EQ(d.ctx->last_distance, c.distance);
        EXPECT_EQ(d.ctx->old_distance_count, 2u);
        EXPECT_EQ(d.ctx->unpacked_left, -1);
        free_decoder(d);
    }
}

TEST(LzDecode, RepeatSymbolsAndHistory) {
    Decoder d = new_decoder();
    Stream s = lz_stream();
    // 256 before any match: nothing copied, distance 0 stored and counted.
    put_symbol(&s.w, s.codes.main, 256);
    for (char c : std::string("abcdefgh"))
        literal(s, uint8_t(c));
    long_match(s, 4, 8);                 // abcd
    put_symbol(&s.w, s.codes.main, 256); // again: 4 at 8 -> efgh
    old_match(s, 1, 1);                  // 257 after 256: distance 8, length 3 -> abc
    old_match(s, 4, 0);                  // 260: the oldest entry, distance 0 -> two bytes unchanged
    std::string out = decode_entry(d, s.w.bytes, 21, 0);
    EXPECT_EQ(out.substr(0, 19), "abcdefghabcdefghabc");
    EXPECT_EQ(out.size(), 21u);
    EXPECT_EQ(d.ctx->old_distance_count, 5u);
    EXPECT_EQ(d.ctx->old_distances[0], 0u);
    EXPECT_EQ(d.ctx->old_distances[1], 8u);
    EXPECT_EQ(d.ctx->old_distances[2], 8u);
    EXPECT_EQ(d.ctx->old_distances[3], 8u);
    free_decoder(d);
}

TEST(LzDecode, MatchBeforeWindowStartReadsZeros) {
    Decoder d = new_decoder();
    memset(d.window, 0x55, window_size); // a non-solid entry clears the window
    Stream s = lz_stream();
    literal(s, 'q');
    long_match(s, 5, 3);
    std::string out = decode_entry(d, s.w.bytes, 6, 0);
    EXPECT_EQ(out, std::string("q\0\0q\0\0", 6));
    free_decoder(d);
}

// Literal 'X' lands at the ring's last position; the next solid entry starts
// at 0 and its matches reach back across the end of the window.
TEST(LzDecode, SolidEntryContinuesAfterWindowEnd) {
    Decoder d = new_decoder();
    Stream first = lz_stream();
    literal(first, 'a');
    ASSERT_EQ(decode_entry(d, first.w.bytes, 1, 0), "a");
    d.ctx->window_pos = d.ctx->flush_pos = window_mask;

    Stream second;
    second.codes = first.codes;
    literal(second, 'X');
    EXPECT_EQ(decode_entry(d, second.w.bytes, 1, 1), "X");
    EXPECT_EQ(d.ctx->window_pos, window_size);
    EXPECT_EQ(d.window[window_mask], 'X');

    Stream third;
    third.codes = first.codes;
    literal(third, 'Y');
    short_match(third, 2);
    EXPECT_EQ(decode_entry(d, third.w.bytes, 3, 1), "YXY");
    EXPECT_EQ(d.ctx->window_pos, 3u);
    EXPECT_EQ(d.ctx->file_checksum, ~crc_of(d, "YXY"));
    free_decoder(d);
}

// Matches reach exactly max_distance back, never the older bytes the ring
// also holds: from the bottom half (reaching round into the top), from the
// top half, and across the end of the ring; each time by a long match, by
// one just short of the limit, and by the repeat of the last match.
TEST(LzDecode, FarthestMatchesReadMaxDistanceBack) {
    std::mt19937 rng(7);
    for (uint32_t start : {0x1000u, max_distance + 0x1000, window_size - 100}) {
        Decoder d = new_decoder();
        Stream first = lz_stream();
        literal(first, 'a');
        ASSERT_EQ(decode_entry(d, first.w.bytes, 1, 0), "a");
        for (uint32_t i = 0; i < window_size; i++)
            d.window[i] = uint8_t(rng());
        std::vector<uint8_t> model(d.window, d.window + window_size);
        d.ctx->window_pos = d.ctx->flush_pos = start;

        Stream s;
        s.codes = first.codes;
        long_match(s, 200, max_distance);
        long_match(s, 20, max_distance - 1);
        put_symbol(&s.w, s.codes.main, 256);
        std::string expected;
        uint32_t pos = start;
        for (auto [length, distance] :
             {std::pair{200u, max_distance}, {20u, max_distance - 1}, {20u, max_distance - 1}}) {
            for (uint32_t k = 0; k < length; k++, pos++) {
                model[pos & window_mask] = model[(pos - distance) & window_mask];
                expected += char(model[pos & window_mask]);
            }
        }
        EXPECT_TRUE(decode_entry(d, s.w.bytes, int32_t(expected.size()), 1) == expected) << start;
        free_decoder(d);
    }
}

TEST(LzDecode, DecodeOnlyAdvancesWindowWithoutOutputOrChecksum) {
    Decoder d = new_decoder();
    Stream s = lz_stream();
    for (int i = 0; i < 5; i++)
        literal(s, uint8_t('0' + i));
    decode_entry(d, s.w.bytes, 5, 0, false);
    EXPECT_EQ(d.ctx->file_checksum, 0xFFFFFFFFu);
    EXPECT_EQ(d.ctx->window_pos, 5u);
    EXPECT_EQ(memcmp(d.window, "01234", 5), 0);

    Stream next;
    next.codes = s.codes;
    long_match(next, 5, 5);
    EXPECT_EQ(decode_entry(d, next.w.bytes, 5, 1), "01234");
    free_decoder(d);
}

TEST(LzDecode, EmptyEntryReadsTablesAndWritesNothing) {
    Decoder d = new_decoder();
    Stream s = lz_stream();
    EXPECT_EQ(decode_entry(d, s.w.bytes, 0, 0), "");
    EXPECT_EQ(d.ctx->unpacked_left, -1);
    EXPECT_EQ(d.ctx->main_table.symbol_count, 298u);
    free_decoder(d);
}

// A multimedia block only builds channel tables; the loop still decodes with
// the LZ codes, so the entry's bytes come out wrong and nothing breaks.
TEST(LzDecode, MultimediaEntryEndsWithWrongBytes) {
    Decoder d = new_decoder();
    BitWriter w;
    put_table_block(&w, std::vector<uint8_t>(257 * 3, 8), false, {}, true, 3);
    std::string sound(300, 'm');
    for (int i = 0; i < 300; i++)
        put_bits(&w, 'm', 8);
    std::string out = decode_entry(d, w.bytes, int32_t(sound.size()), 0);
    EXPECT_NE(out, sound);
    EXPECT_NE(d.ctx->multimedia_block, 0u);
    EXPECT_EQ(d.ctx->channel_tables[2]->symbol_count, 257u);
    EXPECT_NE(~d.ctx->file_checksum, crc_of(d, sound));
    free_decoder(d);
}

// Main code with two 1-bit symbols, so every literal costs one bit and the
// input position at each step is known exactly.
std::vector<uint8_t> one_bit_literals() {
    std::vector<uint8_t> lengths(374, 0);
    lengths['a'] = 1;
    lengths['b'] = 1;
    return lengths;
}

TEST(LzDecode, RefillHappensAbove8162) {
    for (uint32_t last_start : {8162u, 8163u}) {
        Decoder d = new_decoder();
        Stream s = lz_stream(one_bit_literals());
        uint32_t table_bits = s.w.bit_count;
        uint32_t steps = last_start * 8 - table_bits + 1;
        for (uint32_t i = 0; i < steps; i++)
            put_bits(&s.w, i & 1, 1);
        s.w.bytes.append(12000, '\0');
        std::string out = decode_entry(d, s.w.bytes, int32_t(steps), 0);
        ASSERT_EQ(out.size(), steps);
        EXPECT_EQ(out.substr(0, 4), "abab");
        int32_t left_after_first_fill = int32_t(s.w.bytes.size()) - 8192;
        if (last_start == 8162)
            EXPECT_EQ(d.ctx->packed_left, left_after_first_fill);
        else
            EXPECT_EQ(d.ctx->packed_left, left_after_first_fill - 8160);
        free_decoder(d);
    }
}

// Records the size of every write the window output makes.
struct WriteLog {
    std::vector<size_t> sizes;
};

ssize_t log_write(void *cookie, const char *, size_t size) {
    static_cast<WriteLog *>(cookie)->sizes.push_back(size);
    return ssize_t(size);
}

TEST(LzDecode, FlushAt279FreeBytesNot280) {
    for (uint32_t free_bytes : {279u, 280u}) {
        Decoder d = new_decoder();
        Stream s = lz_stream();
        literal(s, 'a');
        decode_entry(d, s.w.bytes, 1, 0);
        // Everything but free_bytes of the ring waits to be written.
        d.ctx->window_pos = 0x1000;
        d.ctx->flush_pos = 0x1000 + free_bytes;

        Stream next;
        next.codes = s.codes;
        literal(next, 'z');
        WriteLog log;
        cookie_io_functions_t io = {nullptr, log_write, nullptr, nullptr};
        FILE *out = fopencookie(&log, "w", io);
        setvbuf(out, nullptr, _IONBF, 0);
        d.ctx->input_stream = stream_of(next.w.bytes);
        d.ctx->packed_left = int32_t(next.w.bytes.size());
        d.ctx->unpacked_left = 1;
        d.ctx->output_stream = out;
        unpack_file(d.ctx, d.window, 1);
        fclose(out);
        size_t waiting = window_size - free_bytes;
        std::vector<size_t> expected;
        if (free_bytes == 279)
            expected = {window_size - 0x1000 - 279, 0x1000, 1}; // in-loop flush, then 'z'
        else
            expected = {window_size - 0x1000 - 280, 0x1001}; // one final flush
        EXPECT_EQ(log.sizes, expected) << free_bytes;
        EXPECT_EQ(log.sizes[0] + log.sizes[1] + (log.sizes.size() > 2 ? 1 : 0), waiting + 1);
        free_decoder(d);
    }
}

TEST(LzDecode, EncryptedCompressedEntry) {
    Decoder d = new_decoder();
    Stream s = lz_stream();
    std::string expected;
    std::mt19937 rng(7);
    for (int i = 0; i < 30000; i++) {
        uint8_t c = uint8_t('a' + rng() % 4);
        literal(s, c);
        expected += char(c);
    }
    std::string packed = s.w.bytes;
    packed.resize((packed.size() + 15) / 16 * 16, '\0');
    init_cipher(d.ctx, "secret");
    for (size_t at = 0; at < packed.size(); at += 16)
        encrypt_block(d.ctx, reinterpret_cast<uint8_t *>(&packed[at]));
    init_cipher(d.ctx, "secret");
    d.ctx->cipher_version = 20;
    EXPECT_EQ(decode_entry(d, packed, int32_t(expected.size()), 0), expected);
    free_decoder(d);
}

// Random valid streams against a byte-by-byte model of the format.
TEST(LzDecode, RandomValidStreamsMatchModel) {
    std::mt19937 rng(20);
    for (int round = 0; round < 40; round++) {
        Decoder d = new_decoder();
        Stream s = lz_stream();
        std::string model;
        uint32_t ring[4] = {};
        uint32_t count = 0;
        uint32_t last_length = 0;
        uint32_t last_distance = 0;
        auto copy = [&](uint32_t length, uint32_t distance) {
            ring[count++ & 3] = distance;
            last_distance = distance;
            last_length = length;
            for (uint32_t k = 0; k < length; k++) {
                size_t at = model.size();
                model += at >= distance ? model[at - distance] : '\0';
            }
        };
        int steps = 200 + int(rng() % 3000);
        for (int i = 0; i < steps; i++) {
            uint32_t kind = rng() % 10;
            if (kind < 4) {
                uint8_t c = uint8_t(rng() % 256);
                literal(s, c);
                model += char(c);
            } else if (kind < 7) {
                uint32_t distance = 1 + rng() % (rng() % 2 ? 300 : 0x50000);
                uint32_t length = 3 + (distance >= 0x2000) + (distance >= 0x40000) + rng() % 256;
                long_match(s, length, distance);
                copy(length, distance);
            } else if (kind < 8) {
                uint32_t distance = 1 + rng() % 256;
                short_match(s, distance);
                copy(2, distance);
            } else if (kind < 9) {
                uint32_t back = 1 + rng() % 4;
                uint32_t base = rng() % 256;
                uint32_t distance = ring[(count - back) & 3];
                old_match(s, back, base);
                copy(base + 2 + (distance >= 0x40000) + (distance >= 0x2000) + (distance >= 0x101),
                     distance);
            } else {
                put_symbol(&s.w, s.codes.main, 256);
                copy(last_length, last_distance);
            }
        }
        std::string out = decode_entry(d, s.w.bytes, int32_t(model.size()), 0);
        ASSERT_EQ(out.size(), model.size()) << round;
        EXPECT_TRUE(out == model) << round;
        free_decoder(d);
    }
}

// Piece-wise copies give the bytes of the byte-by-byte copy for every kind of
// overlap and at the ends of the ring, with distance 0 reading max_distance
// back. Only the copy_overrun bytes just past the match, out of every
// match's reach, may differ.
TEST(LzDecode, CopyMatchEqualsByteByByteCopy) {
    constexpr uint32_t edge = 1024; // bytes at each end of the ring that the copies touch
    std::mt19937 rng(3);
    Decoder d = new_decoder();
    std::vector<uint8_t> reference(window_size);
    uint8_t *tail = d.window + window_size - edge;
    for (int i = 0; i < 20000; i++) {
        uint32_t dest = rng() % 2 ? rng() % 600 : window_size - 1 - rng() % 600;
        uint32_t distance = rng() % 3 ? 1 + rng() % 40 : rng() % (max_distance + 1);
        uint32_t gap = distance == 0 ? max_distance : distance;
        uint32_t length = rng() % 261;
        for (uint32_t k = 0; k < edge; k++) {
            d.window[k] = uint8_t(rng());
            tail[k] = uint8_t(rng());
        }
        memcpy(reference.data(), d.window, edge);
        memcpy(reference.data() + window_size - edge, tail, edge);
        uint32_t pos = dest;
        for (uint32_t k = 0; k < length; k++) {
            reference[pos] = reference[(pos - gap) & window_mask];
            pos = (pos + 1) & window_mask;
        }
        d.ctx->window = d.window;
        d.ctx->window_pos = dest;
        d.ctx->match_length = length;
        d.ctx->match_distance = distance;
        copy_match(d.ctx);
        ASSERT_EQ(d.ctx->window_pos, pos);
        for (uint32_t k = 0; k < 2 * edge; k++) {
            uint32_t at = (window_size - edge + k) & window_mask;
            if (((at - pos) & window_mask) >= copy_overrun) {
                ASSERT_EQ(reference[at], d.window[at]) << dest << " " << distance << " " << at;
            }
        }
    }
    free_decoder(d);
}

// Streams that stop producing over stale input end instead of looping: the
// symbol that produces nothing has the 1-bit code 0, so the zero bytes after
// the data decode to it over and over.
TEST(LzDecode, NoProgressOverStaleInputEnds) {
    struct Case {
        std::string packed;
        int32_t unpacked;
        std::string out;
    };
    std::vector<Case> cases;
    for (uint32_t idle : {256u, 269u}) {
        std::vector<uint8_t> lengths(374, 0);
        lengths[idle] = 1;
        lengths['k'] = 2;
        lengths['l'] = 2;
        Stream s = lz_stream(lengths);
        literal(s, 'k');
        literal(s, 'l');
        cases.push_back({s.w.bytes, 1 << 30, "kl"});
    }
    // Another encoder's entry whose main code holds only 256 and 269: it
    // produces nothing at all.
    cases.push_back({sample_data("synthetic/stuck.rar", 20 + 41, 17), 100, ""});
    for (const Case &c : cases) {
        Decoder d = new_decoder();
        std::string out = decode_entry(d, c.packed, c.unpacked, 0);
        EXPECT_EQ(out, c.out);
        EXPECT_GE(d.ctx->unpacked_left, 0) << c.out;
        free_decoder(d);
    }
}

TEST(LzDecode, TruncatedStreamEndsNearTheEndOfItsData) {
    Decoder d = new_decoder();
    Stream s = lz_stream();
    for (int i = 0; i < 100; i++)
        literal(s, 'r');
    std::string out = decode_entry(d, s.w.bytes, 100000000, 0);
    EXPECT_EQ(out.substr(0, 100), std::string(100, 'r'));
    // At most the stale margin beyond the data, in 9-bit literals.
    EXPECT_LE(out.size(), 140u);
    free_decoder(d);
}

// A valid entry whose packed data ends exactly at a buffer boundary is not
// cut short by the stale-input guard.
TEST(LzDecode, ValidStreamsEndingAtBufferBoundaries) {
    for (uint32_t size : {8192u, 8192u + 8160u, 8191u, 8193u}) {
        Decoder d = new_decoder();
        Stream s = lz_stream();
        std::string expected;
        while (s.w.bit_count + 9 <= size * 8) {
            uint8_t c = uint8_t(expected.size() * 7);
            literal(s, c);
            expected += char(c);
        }
        s.w.bytes.resize(size, '\0');
        std::string out = decode_entry(d, s.w.bytes, int32_t(expected.size()), 0);
        EXPECT_TRUE(out == expected) << size;
        EXPECT_EQ(d.ctx->unpacked_left, -1) << size;
        free_decoder(d);
    }
}

TEST(LzDecode, RandomAndMutatedStreamsEndCleanly) {
    std::mt19937 rng(99);
    Stream base = lz_stream();
    for (int i = 0; i < 3000; i++) {
        if (i % 3 == 0)
            literal(base, uint8_t(rng()));
        else
            long_match(base, 3 + rng() % 250, 1 + rng() % 5000);
    }
    Decoder d = new_decoder();
    for (int round = 0; round < 3000; round++) {
        std::string packed;
        if (round % 2) {
            packed.resize(rng() % 6000);
            for (char &c : packed)
                c = char(rng());
        } else {
            packed = base.w.bytes;
            int flips = 1 + int(rng() % 8);
            for (int f = 0; f < flips; f++)
                packed[rng() % packed.size()] ^= char(1 + rng() % 255);
            if (rng() % 4 == 0)
                packed.resize(rng() % packed.size());
        }
        int32_t unpacked = int32_t(rng() % 32 == 0 ? 0x7FFFFFFF : rng() % 200000);
        int solid = round > 0 && rng() % 3 == 0;
        d.ctx->cipher_version = 0;
        if (rng() % 8 == 0) {
            init_cipher(d.ctx, "pw");
            d.ctx->cipher_version = 20;
        }
        decode_entry(d, packed, unpacked, solid, rng() % 8 == 0);
        ASSERT_LE(d.ctx->window_pos, window_size);
        ASSERT_EQ(d.ctx->flush_pos, d.ctx->window_pos);
        ASSERT_LT(d.ctx->current_channel, 4);
    }
    free_decoder(d);
}

void append_piece(void *user, const uint8_t *data, size_t n) {
    static_cast<std::string *>(user)->append(reinterpret_cast<const char *>(data), n);
}

void end_piece(void *, uint64_t) {}

// Our packer's solid pieces, trailing tables and keep-bit blocks included,
// decode file by file to the bytes fed in, encrypted or not.
TEST(LzDecode, PackerPiecesRoundTrip) {
    std::mt19937 rng(11);
    std::vector<std::string> files;
    for (int i = 0; i < 12; i++) {
        std::string f;
        size_t size = i == 3 ? 1 : 1 + rng() % 120000;
        uint32_t kind = rng() % 3;
        for (size_t k = 0; k < size; k++)
            f += kind == 0 ? char(rng()) : kind == 1 ? char('a' + (k * k) % 7) : char(k >> 9);
        files.push_back(f);
    }
    for (uint32_t pad : {1u, 16u}) {
        LzEncoder *enc = lz_encoder_create(pack_level_default);
        ASSERT_NE(enc, nullptr);
        std::vector<std::string> pieces(files.size());
        std::vector<int> solid(files.size());
        for (size_t i = 0; i < files.size(); i++) {
            solid[i] = lz_begin_file(enc, i % 5 != 0, pad, {&pieces[i], append_piece, end_piece});
            lz_feed(enc, reinterpret_cast<const uint8_t *>(files[i].data()), files[i].size());
            lz_end_file(enc);
        }
        lz_flush(enc);
        lz_encoder_free(enc);
        Decoder d = new_decoder();
        for (size_t i = 0; i < files.size(); i++) {
            std::string packed = pieces[i];
            if (pad == 16) {
                init_cipher(d.ctx, "pieces");
                for (size_t at = 0; at < packed.size(); at += 16)
                    encrypt_block(d.ctx, reinterpret_cast<uint8_t *>(&packed[at]));
                init_cipher(d.ctx, "pieces");
                d.ctx->cipher_version = 20;
            }
            std::string out = decode_entry(d, packed, int32_t(files[i].size()), solid[i]);
            EXPECT_TRUE(out == files[i]) << pad << " " << i;
            EXPECT_EQ(d.ctx->unpacked_left, -1) << pad << " " << i;
        }
        free_decoder(d);
    }
}

TEST(LzDecode, SampleCompressedEntryPassesChecksum) {
    Decoder d = new_decoder();
    std::string packed = sample_data("external/rar2-unix-owner.rar", 20 + 40, 17);
    ASSERT_EQ(packed.size(), 17u);
    std::string out = decode_entry(d, packed, 4, 0);
    EXPECT_EQ(out.size(), 4u);
    EXPECT_EQ(~d.ctx->file_checksum, 0x7e3265a8u);
    free_decoder(d);
}

TEST(LzDecode, SampleEncryptedEntriesDecodeWithTheirPassword) {
    struct Entry {
        size_t encrypted_at;
        size_t stored_at;
        uint32_t crc;
    };
    const Entry entries[] = {{58 + 66, 58 + 66, 0x7a197dba}, {156 + 66, 131 + 66, 0x785fc3e3}};
    for (const char *password : {"password", "Password"}) {
        bool right = strcmp(password, "password") == 0;
        Decoder d = new_decoder();
        for (const Entry &e : entries) {
            std::string packed = sample_data("external/rar202-comment-psw.rar", e.encrypted_at, 32);
            std::string stored = sample_data("external/rar202-comment-nopsw.rar", e.stored_at, 7);
            ASSERT_EQ(packed.size(), 32u);
            strcpy(d.ctx->password, password);
            init_cipher(d.ctx, d.ctx->password);
            d.ctx->cipher_version = 20;
            std::string out = decode_entry(d, packed, 7, 0);
            EXPECT_EQ(out == stored, right) << password;
            EXPECT_EQ(~d.ctx->file_checksum == e.crc, right) << password;
        }
        free_decoder(d);
    }
}

} // namespace
