// The compressor against the decoder: every stream we write must decode to
// the bytes we fed, with the decoder's own end-of-piece look-ahead, solid
// carry-over and decryption.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "archive/rar_format.h"
#include "pack/huffman_build.h"
#include "pack/lz_encode.h"
#include "tests/support/decoder.h"
#include "tests/support/entry_data.h"
#include "unpack/huffman.h"
#include "unpack/lz_decode.h"
#include "unpack/unpack_io.h"

namespace {

const int all_levels[] = {pack_level_fast, pack_level_default, pack_level_best};

// ---- data ---------------------------------------------------------------

std::string text_like(size_t n, uint32_t seed) {
    static const char *words[] = {"the ",       "window ",   "archive ", "of ",   "setup ",
                                  "Navigrove ", "and ",      "file\r\n", "data ", "ZQ ",
                                  "install ",   "language ", "table ",   "\t",    "0x1F "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += words[rng() % (sizeof words / sizeof *words)];
    s.resize(n);
    return s;
}

// Code-like bytes: repeated instruction patterns with varying operands and
// tables of addresses, so matches of all lengths and distances appear.
std::string executable_like(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    std::vector<std::string> snippets;
    for (int i = 0; i < 64; i++)
        snippets.push_back(random_bytes(4 + rng() % 40, rng()));
    while (s.size() < n) {
        uint32_t r = rng() % 10;
        if (r < 6) {
            s += snippets[rng() % snippets.size()];
        } else if (r < 8) {
            uint32_t address = 0x401000 + (rng() % 4096) * 16;
            s.append(reinterpret_cast<const char *>(&address), 4);
        } else if (r < 9) {
            s.append(rng() % 24, '\0');
        } else {
            s += random_bytes(1 + rng() % 6, rng());
        }
    }
    s.resize(n);
    return s;
}

// ---- decoding -----------------------------------------------------------

struct Packed {
    std::string bytes;
    uint64_t size = 0;
    int ended = 0;
};

void piece_write(void *user, const uint8_t *data, size_t n) {
    static_cast<Packed *>(user)->bytes.append(reinterpret_cast<const char *>(data), n);
}

void piece_end(void *user, uint64_t packed_size) {
    auto *p = static_cast<Packed *>(user);
    p->size = packed_size;
    p->ended++;
}

// Decodes one piece the way the extraction driver does; returns the output
// and whether its checksum matched.
std::string unpack_piece(Decoder &d, const std::string &packed, size_t size, int solid,
                         const char *password, bool *checksum_ok) {
    ExtractionContext *ctx = d.ctx;
    ctx->cipher_version = 0;
    if (password) {
        ctx->cipher_version = unp_ver_20;
        init_cipher(ctx, password);
    }
    std::string result = decode_entry(d, packed, int32_t(size), solid);
    uint32_t crc = ~crc32_update(ctx, 0xFFFFFFFF, result.data(), result.size());
    *checksum_ok = ~ctx->file_checksum == crc;
    return result;
}

// Packs files as one stream (solid or not, encrypted when a password is
// given) and decodes them in order through one decoder.
struct RoundTrip {
    std::vector<Packed> pieces;
    std::vector<int> solid;
    PackStats stats{};
};

RoundTrip pack_files(const std::vector<std::string> &files, int level, bool solid,
                     const char *password) {
    RoundTrip rt;
    rt.pieces.resize(files.size());
    LzEncoder *e = lz_encoder_create(level);
    for (size_t i = 0; i < files.size(); i++) {
        PieceSink sink{&rt.pieces[i], piece_write, piece_end};
        rt.solid.push_back(lz_begin_file(e, solid ? 1 : 0, password ? 16 : 1, sink));
        lz_feed(e, reinterpret_cast<const uint8_t *>(files[i].data()), files[i].size());
        lz_end_file(e);
        // As the archive writer does before a folder or a stored file.
        if (i % 7 == 3)
            lz_flush(e);
    }
    lz_flush(e);
    rt.stats = *lz_stats(e);
    lz_encoder_free(e);
    if (password) {
        // Each piece is enciphered on its own, with a fresh key.
        ExtractionContext *c = new_extraction_context();
        for (Packed &p : rt.pieces) {
            init_cipher(c, password);
            for (size_t k = 0; k < p.bytes.size(); k += 16)
                encrypt_block(c, reinterpret_cast<uint8_t *>(&p.bytes[k]));
        }
        free_extraction_context(c);
    }
    return rt;
}

void expect_round_trip(const std::vector<std::string> &files, int level, bool solid,
                       const char *password, PackStats *stats = nullptr) {
    RoundTrip rt = pack_files(files, level, solid, password);
    Decoder d = new_decoder();
    for (size_t i = 0; i < files.size(); i++) {
        const Packed &p = rt.pieces[i];
        ASSERT_EQ(p.ended, 1) << "file " << i;
        ASSERT_EQ(p.size, p.bytes.size()) << "file " << i;
        if (password) {
            ASSERT_EQ(p.size % 16, 0u);
        }
        bool ok = false;
        std::string out = unpack_piece(d, p.bytes, files[i].size(), rt.solid[i], password, &ok);
        ASSERT_EQ(out.size(), files[i].size()) << "file " << i << " level " << level;
        ASSERT_TRUE(out == files[i]) << "file " << i << " level " << level << " solid " << solid;
        ASSERT_TRUE(ok);
    }
    free_decoder(d);
    if (stats)
        *stats = rt.stats;
}

// ---- tests --------------------------------------------------------------

TEST(PackRoundTrip, SingleFilesAtEveryLevel) {
    struct Case {
        const char *name;
        std::string data;
    };
    std::string runs =
        std::string(100000, 'a') + std::string(70000, '\0') + "xyz" + std::string(5000, 'a');
    std::string big =
        executable_like(1 << 20, 7) + text_like(700000, 8) + executable_like(300000, 7);
    const Case cases[] = {
        {"one byte", "Q"},
        {"two bytes", "QQ"},
        {"long runs", runs},
        {"random", random_bytes(100000, 1)},
        {"text", text_like(300000, 2)},
        {"executable", executable_like(400000, 3)},
        {"beyond the window", big},
    };
    for (int level : all_levels)
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            expect_round_trip({c.data}, level, false, nullptr);
        }
}

// Long inputs make the match finder slide its buffer (4 MiB) several times;
// matches must still reach back the full window across each slide.
TEST(PackRoundTrip, LongStreamAcrossBufferSlides) {
    std::string far = executable_like(700000, 31);
    std::string data;
    for (int i = 0; data.size() < (size_t(11) << 20); i++)
        data += executable_like(300000, uint32_t(40 + i)) + far.substr(size_t(i) * 20000, 60000) +
                text_like(200000, uint32_t(i));
    std::vector<std::string> parts = {data.substr(0, 5000000), data.substr(5000000)};
    for (int level : all_levels) {
        SCOPED_TRACE(level);
        PackStats s{};
        expect_round_trip(parts, level, true, level == pack_level_default ? "pw" : nullptr, &s);
        EXPECT_GT(s.adjusted[2], 0u);
    }
}

TEST(PackRoundTrip, ManySmallFiles) {
    std::vector<std::string> files;
    std::mt19937 rng(11);
    for (int i = 0; i < 300; i++) {
        uint32_t kind = rng() % 3;
        size_t n = 1 + rng() % 3000;
        files.push_back(kind == 0   ? text_like(n, rng())
                        : kind == 1 ? executable_like(n, rng())
                                    : random_bytes(n, rng()));
    }
    for (int level : all_levels)
        for (bool solid : {true, false})
            for (const char *password : {static_cast<const char *>(nullptr), built_in_password}) {
                SCOPED_TRACE(testing::Message() << "level " << level << " solid " << solid
                                                << " password " << (password != nullptr));
                expect_round_trip(files, level, solid, password);
            }
}

// Pieces whose packed size falls around the decoder's refill points (8192,
// 8192 + 8160) end where its input_top arithmetic is least forgiving: the
// look-ahead must see exactly what the packer assumed, or the next file
// starts with the wrong tables. Nearly incompressible files put the piece
// ends there; a text file after each one forces new tables.
TEST(PackRoundTrip, PieceEndsAroundRefillPoints) {
    std::vector<std::string> files;
    uint32_t seed = 100;
    for (size_t base : {size_t(8192), size_t(8192 + 8160)})
        for (size_t n = base - 60; n < base + 20; n += 3) {
            files.push_back(random_bytes(n, seed++));
            files.push_back(text_like(200 + seed % 50, seed));
        }
    for (const char *password : {static_cast<const char *>(nullptr), "pw"}) {
        PackStats stats{};
        expect_round_trip(files, pack_level_default, true, password, &stats);
        EXPECT_GT(stats.trailing_tables, 0u);
        printf("%s: %llu trailing, %llu refused, %llu harmless paddings\n",
               password ? "encrypted" : "plain", (unsigned long long)stats.trailing_tables,
               (unsigned long long)stats.trailing_refused, (unsigned long long)stats.harmless_pads);
    }
}

TEST(PackRoundTrip, EmptyBufferAndForcedTinyPieces) {
    std::vector<uint8_t> out;
    ASSERT_EQ(compress_buffer(nullptr, 0, pack_level_default, 1, &out, nullptr), 0);
    Decoder d = new_decoder();
    bool ok = false;
    std::string packed(out.begin(), out.end());
    EXPECT_EQ(unpack_piece(d, packed, 0, 0, nullptr, &ok), "");
    EXPECT_TRUE(ok);
    free_decoder(d);
    // One byte after another, each its own solid piece.
    std::vector<std::string> bytes;
    for (int i = 0; i < 40; i++)
        bytes.push_back(std::string(1, char('a' + i % 3)));
    expect_round_trip(bytes, pack_level_best, true, nullptr);
    expect_round_trip(bytes, pack_level_fast, true, "pw");
}

// An empty file between others ends its piece at the same token as the file
// before it, within a block or where one ends; each piece must still get
// exactly its own file's bytes.
TEST(PackRoundTrip, EmptyFilesInsideASolidStream) {
    std::string a = text_like(5003, 61), b = executable_like(5003, 62);
    const std::vector<std::string> cases[] = {
        {a, "", b},
        {a, "", "", b, ""},
        {"", a, "", "x", "", b},
        // A file long enough to end its block on its last token.
        {text_like(400000, 63), "", "", b, ""},
    };
    for (const auto &files : cases)
        for (int level : all_levels)
            for (const char *password : {static_cast<const char *>(nullptr), "pw"}) {
                SCOPED_TRACE(testing::Message() << files.size() << " files, level " << level
                                                << " password " << (password != nullptr));
                expect_round_trip(files, level, true, password);
            }
}

// Typical data must exercise every path of the decoder: each symbol kind,
// the length adjustments, new tables within a piece, the keep bit, trailing
// tables and harmless padding.
TEST(PackStreams, EveryKindOccursOnTypicalData) {
    std::string far = random_bytes(300000, 21);
    std::string data = executable_like(600000, 22) + far + text_like(200000, 23) +
                       executable_like(300000, 24) + far.substr(1000, 50000) +
                       text_like(100000, 25);
    for (int level : all_levels) {
        SCOPED_TRACE(level);
        PackStats s{};
        expect_round_trip({data}, level, false, nullptr, &s);
        EXPECT_GT(s.literals, 0u);
        EXPECT_GT(s.long_matches, 0u);
        EXPECT_GT(s.short_matches, 0u);
        EXPECT_GT(s.repeat_last, 0u);
        for (int k = 0; k < 4; k++)
            EXPECT_GT(s.repeat_old[k], 0u) << "symbol " << 257 + k;
        for (int k = 0; k < 3; k++)
            EXPECT_GT(s.adjusted[k], 0u) << "adjustment " << k;
        EXPECT_GT(s.inline_tables, 0u);
        EXPECT_GT(s.keep_blocks, 0u);
        EXPECT_LT(s.output_bytes, data.size() * 3 / 4);
    }
    std::vector<std::string> files;
    for (int i = 0; i < 200; i++)
        files.push_back(i % 4 == 3 ? executable_like(6000, uint32_t(i))
                                   : text_like(3000, uint32_t(i)));
    PackStats s{};
    expect_round_trip(files, pack_level_default, true, built_in_password, &s);
    EXPECT_GT(s.trailing_tables, 0u);
    EXPECT_GT(s.harmless_pads, 0u);
    printf("solid encrypted, 200 files: %llu table blocks, %llu inline, %llu trailing, %llu with "
           "keep bit, %llu harmless paddings\n",
           (unsigned long long)s.table_blocks, (unsigned long long)s.inline_tables,
           (unsigned long long)s.trailing_tables, (unsigned long long)s.keep_blocks,
           (unsigned long long)s.harmless_pads);
}

// ---- Huffman codes ----------------------------------------------------------

// Decodes code after code with the decoder's own tables.
TEST(HuffmanBuild, LimitedCanonicalCodesDecode) {
    struct Case {
        const char *name;
        std::vector<uint32_t> freq;
    };
    std::vector<uint32_t> fibonacci(298), flat(298, 7), sparse(298, 0), single(298, 0);
    uint32_t a = 1, b = 1;
    for (uint32_t &f : fibonacci) {
        f = a;
        uint32_t c = a + b;
        a = b;
        b = c > 1000000000u ? 1000000000u : c;
    }
    sparse[3] = 1000;
    sparse[200] = 1;
    sparse[297] = 5;
    single[269] = 9;
    const Case cases[] = {
        {"fibonacci", fibonacci}, {"flat", flat}, {"sparse", sparse}, {"single", single}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t lengths[298];
        uint16_t codes[298];
        build_code_lengths(c.freq.data(), 298, max_code_bits, lengths);
        build_canonical_codes(lengths, 298, codes);
        double kraft = 0;
        int used = 0;
        for (int i = 0; i < 298; i++) {
            EXPECT_EQ(lengths[i] == 0, c.freq[i] == 0) << i;
            EXPECT_LE(lengths[i], 15);
            if (lengths[i]) {
                kraft += 1.0 / double(1 << lengths[i]);
                used++;
            }
        }
        EXPECT_LE(kraft, 1.0);
        if (used > 1) {
            EXPECT_EQ(kraft, 1.0);
        }
        Decoder d = new_decoder();
        build_decode_table(lengths, &d.ctx->main_table, 298);
        for (int i = 0; i < 298; i++) {
            if (!lengths[i])
                continue;
            uint32_t bits = uint32_t(codes[i]) << (24 - lengths[i]);
            d.ctx->input_buffer[0] = uint8_t(bits >> 16);
            d.ctx->input_buffer[1] = uint8_t(bits >> 8);
            d.ctx->input_buffer[2] = uint8_t(bits);
            d.ctx->input_pos = 0;
            d.ctx->input_bit = 0;
            decode_symbol(d.ctx, &d.ctx->main_table);
            EXPECT_EQ(d.ctx->symbol, uint32_t(i));
            EXPECT_EQ(d.ctx->input_pos * 8 + d.ctx->input_bit, lengths[i]);
        }
        free_decoder(d);
    }
}

} // namespace
