#include <cstring>

#include <gtest/gtest.h>

#include "archive/crc.h"
#include "archive/extraction_context.h"

namespace {

struct CrcFixture : ::testing::Test {
    ExtractionContext ctx{};
    void SetUp() override { build_crc_table(&ctx); }
};

TEST_F(CrcFixture, KnownValues) {
    EXPECT_EQ(ctx.crc_table[128], 0xEDB88320u);
    const char *digits = "123456789";
    EXPECT_EQ(~crc32_update(&ctx, 0xFFFFFFFFu, digits, 9), 0xCBF43926u);
    EXPECT_EQ(checksum16_update(0, "abc", 3), 0x0556);
}

TEST_F(CrcFixture, EmptySpanLeavesValue) {
    EXPECT_EQ(crc32_update(&ctx, 0x12345678u, "", 0), 0x12345678u);
    EXPECT_EQ(checksum16_update(0xBEEF, "", 0), 0xBEEF);
}

TEST_F(CrcFixture, KindOneUsesLowSixteenBits) {
    EXPECT_EQ(update_checksum(&ctx, 0x70000u, "abc", 3, checksum_kind_rotate16), 0x0556u);
    EXPECT_EQ(update_checksum(&ctx, 0xFFFFFFFFu, "123456789", 9, checksum_kind_crc32),
              ~0xCBF43926u);
}

// The sixteen-byte loop must agree with the plain byte loop at every length
// and alignment.
TEST_F(CrcFixture, WordLoopMatchesByteLoop) {
    uint8_t data[64];
    for (int i = 0; i < 64; i++)
        data[i] = uint8_t(i * 37 + 11);
    for (int start = 0; start < 4; start++) {
        for (int len = 0; len + start <= 64; len++) {
            uint32_t expected = 0xFFFFFFFFu;
            for (int i = 0; i < len; i++)
                expected = ctx.crc_table[(expected ^ data[start + i]) & 0xFF] ^ (expected >> 8);
            ASSERT_EQ(crc32_update(&ctx, 0xFFFFFFFFu, data + start, size_t(len)), expected);
        }
    }
}

} // namespace
