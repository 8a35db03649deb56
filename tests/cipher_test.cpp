#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/cipher.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"

namespace {

struct CipherFixture : ::testing::Test {
    ExtractionContext *ctx = nullptr;
    void SetUp() override { ctx = new_extraction_context(); }
    void TearDown() override { free_extraction_context(ctx); }

    std::vector<uint32_t> key() const {
        return {ctx->cipher_key[0], ctx->cipher_key[1], ctx->cipher_key[2], ctx->cipher_key[3]};
    }
};

// The substitution table after the set-up for the password "A", worked out
// from the algorithm independently of this code base.
// clang-format off
const uint8_t subst_after_a[256] = {
    142, 203, 109, 112, 199, 248, 12, 83, 65, 147, 235, 74, 219, 94, 173, 5,
    64, 211, 31, 123, 221, 136, 100, 60, 115, 126, 137, 251, 101, 114, 14, 151,
    104, 86, 154, 224, 28, 121, 167, 4, 42, 106, 247, 186, 76, 128, 95, 79,
    163, 32, 44, 176, 7, 66, 91, 234, 73, 93, 172, 243, 69, 99, 197, 240,
    171, 230, 59, 246, 135, 48, 158, 46, 132, 68, 169, 51, 185, 179, 188, 47,
    130, 75, 124, 10, 229, 225, 72, 200, 143, 8, 9, 107, 218, 13, 255, 252,
    175, 19, 119, 198, 231, 216, 228, 3, 222, 50, 148, 20, 138, 202, 11, 152,
    34, 206, 23, 70, 71, 40, 38, 215, 45, 226, 209, 122, 139, 166, 244, 187,
    84, 88, 54, 15, 168, 210, 164, 24, 205, 43, 245, 111, 242, 27, 165, 150,
    180, 159, 30, 190, 67, 117, 145, 49, 127, 52, 96, 157, 149, 129, 90, 6,
    1, 191, 33, 153, 29, 250, 0, 238, 62, 239, 233, 134, 177, 183, 217, 182,
    118, 201, 116, 204, 241, 212, 58, 237, 35, 78, 155, 120, 56, 77, 227, 39,
    41, 189, 98, 253, 184, 57, 82, 161, 249, 97, 53, 131, 174, 144, 22, 26,
    140, 2, 80, 16, 81, 196, 103, 220, 113, 61, 92, 125, 36, 181, 105, 85,
    178, 55, 208, 89, 37, 110, 214, 133, 193, 192, 232, 17, 236, 213, 146, 25,
    141, 195, 63, 156, 108, 223, 194, 170, 160, 21, 87, 162, 102, 254, 207, 18,
};
// clang-format on

TEST_F(CipherFixture, OneCharacterPasswordSetUp) {
    init_cipher(ctx, "A");
    EXPECT_EQ(memcmp(ctx->subst_table, subst_after_a, 256), 0);
    EXPECT_EQ(key(), (std::vector<uint32_t>{0x0A75E2A5u, 0xBCBE9730u, 0x15A52CE0u, 0xA251443Cu}));
}

uint8_t hex_digit(char c) {
    return uint8_t(c <= '9' ? c - '0' : c - 'a' + 10);
}

std::vector<uint8_t> from_hex(const char *hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        bytes.push_back(uint8_t(hex_digit(hex[i]) << 4 | hex_digit(hex[i + 1])));
    return bytes;
}

// Known answers for passwords of the lengths the set-up treats differently:
// 7 (the terminating zero completes the last pair), 8 (the built-in length:
// four pairs, one block), 17 (two blocks in the set-up). For each: the key
// after set-up, the first substitution entries, and three blocks
// 00..0f, 11..20, 22..31 enciphered in a row with the key they leave.
struct KnownAnswer {
    const char *password;
    uint32_t key[4];
    uint8_t subst_head[8];
    const char *chain;
    uint32_t key_after[4];
};

const KnownAnswer known_answers[] = {
    {"abcdefg",
     {0xE6161083, 0x1A02C057, 0xAA754DF6, 0xB13DDC6A},
     {124, 87, 110, 24, 113, 80, 236, 156},
     "46fc31e8c7e2285cd07e7be0f1a542174e2ae0b21d7e6c82e6d9c3933cafea96"
     "a39918d8e6de8bd6f7f606c09474a251",
     {0x76A90D12, 0xCF6281B3, 0x8F1A9F56, 0x68EB86B6}},
    {"abcdefgh",
     {0x3AC01D4C, 0xD90E4EF6, 0xC2A8FE0E, 0x48840305},
     {160, 231, 23, 208, 225, 20, 16, 114},
     "c8e1ad4b9b17183b18781c4564ec940b9ffa44c3c83c0a6e258c8640b7e4c651"
     "568a92a6003308457f79afdcea1b0772",
     {0x78728520, 0x5ADDCB31, 0xB5AFCE98, 0x435FDC24}},
    {"abcdefghijklmnopq",
     {0xF4A1F9D3, 0x85BD24F2, 0xF3C670E1, 0xBFE65458},
     {65, 102, 45, 101, 67, 200, 123, 107},
     "4a129c741eaf90292aa3ac5b9f6388e37d1043fdb175be3f116e598b11dc4de6"
     "92e59b2d8158ef997c9d25e98d415eac",
     {0xFF7A26F2, 0x890B3FCA, 0x8F1A9F56, 0xE3553E5C}},
    {"password",
     {0xE916E9B7, 0x906709BB, 0xB0AF998B, 0x6DEBD1A5},
     {246, 69, 1, 27, 2, 42, 35, 224},
     "840c889005933a4e0da7f086875ad8287b2d979afb33d62d1a51a777a012c717"
     "cb3a787a79b6edd810eac3718bba5734",
     {0xFA7A71E1, 0xA964BA79, 0x9B1BC319, 0x1B379035}},
};

std::vector<uint8_t> plain_chain() {
    std::vector<uint8_t> plain;
    for (int n = 0; n < 3; n++)
        for (int i = 0; i < 16; i++)
            plain.push_back(uint8_t(0x11 * n + i));
    return plain;
}

TEST_F(CipherFixture, KnownAnswers) {
    for (const KnownAnswer &want : known_answers) {
        SCOPED_TRACE(want.password);
        init_cipher(ctx, want.password);
        EXPECT_EQ(key(), std::vector<uint32_t>(want.key, want.key + 4));
        EXPECT_EQ(memcmp(ctx->subst_table, want.subst_head, 8), 0);

        std::vector<uint8_t> data = plain_chain();
        for (size_t at = 0; at < data.size(); at += 16)
            encrypt_block(ctx, data.data() + at);
        EXPECT_EQ(data, from_hex(want.chain));
        EXPECT_EQ(key(), std::vector<uint32_t>(want.key_after, want.key_after + 4));

        // Deciphering from the same set-up restores the plain blocks and
        // arrives at the same key.
        init_cipher(ctx, want.password);
        for (size_t at = 0; at < data.size(); at += 16)
            decrypt_block(ctx, data.data() + at);
        EXPECT_EQ(data, plain_chain());
        EXPECT_EQ(key(), std::vector<uint32_t>(want.key_after, want.key_after + 4));
    }
}

TEST_F(CipherFixture, RoundTripKeepsKeysInStep) {
    const char *passwords[] = {"", "x", built_in_password, "0123456789abcdef",
                               "a long password of more than thirty-two characters"};
    for (const char *password : passwords) {
        SCOPED_TRACE(password);
        uint8_t block[16];
        for (int i = 0; i < 16; i++)
            block[i] = uint8_t(i * 29 + 3);
        uint8_t original[16];
        memcpy(original, block, 16);

        init_cipher(ctx, password);
        std::vector<uint32_t> start = key();
        encrypt_block(ctx, block);
        std::vector<uint32_t> after_encrypt = key();
        EXPECT_NE(memcmp(block, original, 16), 0);
        EXPECT_NE(after_encrypt, start);

        memcpy(ctx->cipher_key, start.data(), sizeof ctx->cipher_key);
        decrypt_block(ctx, block);
        EXPECT_EQ(memcmp(block, original, 16), 0);
        EXPECT_EQ(key(), after_encrypt);
    }
}

// The set-up reads only the first 127 characters: the password field's
// limit.
TEST_F(CipherFixture, PasswordIsBoundedByItsField) {
    std::string long_password(300, 'p');
    init_cipher(ctx, long_password.c_str());
    std::vector<uint32_t> long_key = key();
    uint8_t long_subst[256];
    memcpy(long_subst, ctx->subst_table, 256);
    init_cipher(ctx, long_password.substr(0, 127).c_str());
    EXPECT_EQ(key(), long_key);
    EXPECT_EQ(memcmp(ctx->subst_table, long_subst, 256), 0);
}

TEST_F(CipherFixture, SubstitutionStaysAPermutation) {
    const char *passwords[] = {"A", "abcdefg", built_in_password, "\xff\x80\x01"};
    for (const char *password : passwords) {
        init_cipher(ctx, password);
        bool seen[256] = {};
        for (int i = 0; i < 256; i++)
            seen[ctx->subst_table[i]] = true;
        for (int i = 0; i < 256; i++)
            ASSERT_TRUE(seen[i]) << password << " misses " << i;
    }
}

// Byte 4g + j of the block feeds word j, for every group g.
TEST_F(CipherFixture, MixKeyXorsCrcEntries) {
    uint8_t block[16];
    for (int i = 0; i < 16; i++)
        block[i] = uint8_t(0x30 + i * 7);
    const uint32_t start[4] = {0x01234567u, 0x89ABCDEFu, 0xDEADBEEFu, 0x0u};
    memcpy(ctx->cipher_key, start, sizeof start);
    mix_key(ctx, block);
    for (int j = 0; j < 4; j++) {
        uint32_t want = start[j];
        for (int g = 0; g < 4; g++)
            want ^= ctx->crc_table[block[4 * g + j]];
        EXPECT_EQ(ctx->cipher_key[j], want) << j;
    }
}

// The bulk paths run blocks side by side in groups of four and, where the
// processor has the byte permutes, in up to four groups of sixteen with the
// last few blocks padded to a group: every count around those sizes, and a
// chain enciphered block by block, must come out as decrypt_block gives it,
// with the same key after, by both paths. The output says which path
// decrypt_blocks took.
TEST_F(CipherFixture, BulkDecryptMatchesBlockByBlock) {
    std::printf("decrypt_blocks runs: %s; decrypt_blocks_portable: scalar rounds\n",
                decrypt_blocks_path());
    RecordProperty("decrypt_blocks", decrypt_blocks_path());
    const char *passwords[] = {"A", built_in_password,
                               "a long password of more than thirty-two characters"};
    const size_t counts[] = {0,  1,  2,  3,  4,  5,  7,  8,  9,  13,  15,  16,  17,
                             31, 32, 33, 47, 63, 64, 65, 79, 80, 127, 128, 129, 510};
    uint32_t seed = 12345;
    for (const char *password : passwords) {
        for (size_t count : counts) {
            SCOPED_TRACE(std::string(password) + " " + std::to_string(count));
            std::vector<uint8_t> plain(16 * count);
            for (uint8_t &byte : plain) {
                seed = seed * 1103515245u + 12345u;
                byte = uint8_t(seed >> 16);
            }
            std::vector<uint8_t> sealed = plain;
            init_cipher(ctx, password);
            for (size_t at = 0; at < sealed.size(); at += 16)
                encrypt_block(ctx, sealed.data() + at);
            std::vector<uint32_t> key_after = key();

            std::vector<uint8_t> one_by_one = sealed;
            init_cipher(ctx, password);
            for (size_t at = 0; at < one_by_one.size(); at += 16)
                decrypt_block(ctx, one_by_one.data() + at);
            EXPECT_EQ(one_by_one, plain);
            EXPECT_EQ(key(), key_after);

            std::vector<uint8_t> bulk = sealed;
            init_cipher(ctx, password);
            decrypt_blocks(ctx, bulk.data(), count);
            EXPECT_EQ(bulk, plain);
            EXPECT_EQ(key(), key_after);

            std::vector<uint8_t> portable = sealed;
            init_cipher(ctx, password);
            decrypt_blocks_portable(ctx, portable.data(), count);
            EXPECT_EQ(portable, plain);
            EXPECT_EQ(key(), key_after);
        }
    }
}

} // namespace
