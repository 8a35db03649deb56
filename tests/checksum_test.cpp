#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "archive/crc.h"
#include "archive/extraction_context.h"

namespace {

struct CrcFixture : ::testing::Test {
    ExtractionContext *ctx = nullptr;
    void SetUp() override { ctx = new_extraction_context(); }
    void TearDown() override { free_extraction_context(ctx); }
};

TEST_F(CrcFixture, KnownValues) {
    EXPECT_EQ(ctx->crc_table[128], 0xEDB88320u);
    const char *digits = "123456789";
    EXPECT_EQ(~crc32_update(ctx, 0xFFFFFFFFu, digits, 9), 0xCBF43926u);
    EXPECT_EQ(~crc32_update_portable(ctx, 0xFFFFFFFFu, digits, 9), 0xCBF43926u);
    EXPECT_EQ(checksum16_update(0, "abc", 3), 0x0556);
}

TEST_F(CrcFixture, EmptySpanLeavesValue) {
    EXPECT_EQ(crc32_update(ctx, 0x12345678u, "", 0), 0x12345678u);
    EXPECT_EQ(checksum16_update(0xBEEF, "", 0), 0xBEEF);
}

TEST_F(CrcFixture, KindOneUsesLowSixteenBits) {
    EXPECT_EQ(update_checksum(ctx, 0x70000u, "abc", 3, checksum_kind_rotate16), 0x0556u);
    EXPECT_EQ(update_checksum(ctx, 0xFFFFFFFFu, "123456789", 9, checksum_kind_crc32), ~0xCBF43926u);
}

// CRC-32 straight from the definition, one bit at a time: the reference
// every faster path must reproduce.
uint32_t crc32_bitwise(uint32_t value, const uint8_t *p, size_t count) {
    for (size_t i = 0; i < count; i++) {
        value ^= p[i];
        for (int bit = 0; bit < 8; bit++)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    }
    return value;
}

std::vector<uint8_t> random_bytes(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(count);
    for (auto &b : out)
        b = uint8_t(rng());
    return out;
}

const uint32_t start_values[] = {0xFFFFFFFFu, 0u, 0x12345678u, 0x80000001u};

// Every length up to 1100 from every alignment: the table loop's tail sizes,
// the folding path's threshold and its 64- and 16-byte steps all agree with
// the definition (where the processor has a carry-less multiply,
// crc32_update takes the folding path from 64 bytes on). The output says
// which path crc32_update took.
TEST_F(CrcFixture, BothPathsMatchBitwiseAtEveryLengthAndAlignment) {
    std::printf("crc32_update runs: %s; crc32_update_portable: table loop\n", crc32_path());
    RecordProperty("crc32_update", crc32_path());
    const std::vector<uint8_t> data = random_bytes(1100 + 16, 1);
    for (uint32_t start : start_values) {
        for (size_t align = 0; align < 16; align++) {
            const uint8_t *p = data.data() + align;
            uint32_t expected = start;
            for (size_t len = 0; len <= 1100; len++) {
                ASSERT_EQ(crc32_update_portable(ctx, start, p, len), expected)
                    << "len " << len << " align " << align << " start " << start;
                ASSERT_EQ(crc32_update(ctx, start, p, len), expected)
                    << "len " << len << " align " << align << " start " << start;
                if (len < 1100)
                    expected = crc32_bitwise(expected, p + len, 1);
            }
        }
    }
}

// Large spans, whole and cut into uneven pieces whose values are chained:
// the running value must pass through either path unchanged in meaning.
TEST_F(CrcFixture, LargeBuffersWholeAndInPieces) {
    const size_t lengths[] = {size_t(1) << 20, (size_t(1) << 20) + 7, 3 * (size_t(1) << 20) - 13};
    for (size_t length : lengths) {
        const std::vector<uint8_t> data = random_bytes(length + 1, uint32_t(length));
        const uint8_t *p = data.data() + 1;
        const uint32_t expected = crc32_bitwise(0xFFFFFFFFu, p, length);
        EXPECT_EQ(crc32_update(ctx, 0xFFFFFFFFu, p, length), expected) << length;
        EXPECT_EQ(crc32_update_portable(ctx, 0xFFFFFFFFu, p, length), expected) << length;
        std::mt19937 rng(7);
        uint32_t value = 0xFFFFFFFFu;
        for (size_t done = 0; done < length;) {
            size_t piece = std::min<size_t>(length - done, rng() % 5000);
            value = crc32_update(ctx, value, p + done, piece);
            done += piece;
        }
        EXPECT_EQ(value, expected) << length;
    }
}

} // namespace
