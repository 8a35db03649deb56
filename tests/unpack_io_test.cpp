#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "tests/support/decoder.h"
#include "tests/support/entry_data.h"
#include "unpack/unpack_io.h"

namespace {

std::string buffer_at(const ExtractionContext *ctx, size_t from, size_t n) {
    return std::string(reinterpret_cast<const char *>(ctx->input_buffer) + from, n);
}

TEST(UnpackIo, FillsAndRefills) {
    struct Case {
        uint32_t packed;
        int32_t first_top;
        int32_t refill_top; // after one refill from input_pos 8170
    };
    const Case cases[] = {
        {0, 0, 10},       // nothing: a refill sets input_top to input_pos
        {100, 100, 10},   // the first fill takes the packed size
        {8192, 8192, 10}, // used up by the first fill
        {8192 + 8160, 8192, 8192},
        {8192 + 100, 8192, 132},
    };
    for (const Case &c : cases) {
        std::string packed = random_bytes(c.packed, c.packed);
        Decoder io = decoder_reading(packed);
        ExtractionContext *ctx = io.ctx;
        ctx->input_bit = 5;
        fill_input(ctx, 1);
        EXPECT_EQ(ctx->input_top, c.first_top) << c.packed;
        EXPECT_EQ(ctx->input_pos, 0u);
        EXPECT_EQ(ctx->input_bit, 5u);
        EXPECT_EQ(buffer_at(ctx, 0, size_t(c.first_top)), packed.substr(0, size_t(c.first_top)));
        std::string tail = buffer_at(ctx, 8160, 32);
        ctx->input_pos = 8170;
        fill_input(ctx, 0);
        EXPECT_EQ(ctx->input_pos, 10u) << c.packed;
        EXPECT_EQ(ctx->input_top, c.refill_top) << c.packed;
        EXPECT_EQ(buffer_at(ctx, 0, 32), tail);
        if (c.packed > 8192) {
            EXPECT_EQ(buffer_at(ctx, 32, c.packed - 8192), packed.substr(8192)) << c.packed;
        }
        EXPECT_LE(ctx->packed_left, 0) << c.packed;
        free_decoder(io);
    }
}

TEST(UnpackIo, ReadPackedStopsAtTheEndOfTheArchive) {
    Decoder io = decoder_reading(random_bytes(50, 1));
    io.ctx->packed_left = 1000; // the header promises more than the file holds
    uint8_t buffer[1024];
    EXPECT_EQ(read_packed(io.ctx, buffer, 1024), 50);
    EXPECT_EQ(io.ctx->packed_left, 950);
    EXPECT_EQ(read_packed(io.ctx, buffer, 1024), 0);
    fclose(io.ctx->input_stream);
    io.ctx->input_stream = nullptr;
    io.ctx->cipher_version = 20;
    memset(buffer, 7, 16);
    EXPECT_EQ(read_packed(io.ctx, buffer, 16), 0);
    EXPECT_EQ(buffer[0], 7); // nothing deciphered
    free_decoder(io);
}

// Packed data enciphered in 16-byte blocks is deciphered across the first
// fill and the refills, the key running on; version 15 passes it through.
TEST(UnpackIo, EncryptedDataAcrossFills) {
    std::string plain = random_bytes(8192 + 8160 + 8160 + 48, 9);
    ExtractionContext *key = new_extraction_context();
    init_cipher(key, "password");
    std::string sealed = plain;
    for (size_t at = 0; at < sealed.size(); at += 16)
        encrypt_block(key, reinterpret_cast<uint8_t *>(&sealed[at]));
    for (int version : {20, 15}) {
        Decoder io = decoder_reading(sealed);
        init_cipher(io.ctx, "password");
        io.ctx->cipher_version = version;
        const std::string &want = version == 20 ? plain : sealed;
        fill_input(io.ctx, 1);
        std::string got = buffer_at(io.ctx, 0, 8192);
        for (int refill = 0; refill < 3; refill++) {
            io.ctx->input_pos = 8163;
            fill_input(io.ctx, 0);
            got += buffer_at(io.ctx, 32, size_t(io.ctx->input_top) - 32);
        }
        EXPECT_TRUE(got == want) << version;
        free_decoder(io);
    }
    free_extraction_context(key);
}

TEST(UnpackIo, WriteOutputAndChecksums) {
    struct Case {
        int32_t archive_format;
        int32_t decode_only;
        bool stream;
    };
    const std::string data = "The quick brown fox";
    const Case cases[] = {{2, 0, true}, {1, 0, true}, {2, 1, true}, {2, 0, false}};
    for (const Case &c : cases) {
        Decoder io = decoder_reading("");
        ExtractionContext *ctx = io.ctx;
        ctx->archive_format = c.archive_format;
        ctx->decode_only = c.decode_only;
        ctx->output_stream = c.stream ? tmpfile() : nullptr;
        uint32_t start = c.archive_format == 1 ? 0 : 0xFFFFFFFF;
        ctx->file_checksum = start;
        int32_t written = write_output(ctx, reinterpret_cast<const uint8_t *>(data.data()),
                                       uint32_t(data.size()));
        uint32_t want = start;
        if (c.stream && !c.decode_only)
            want = c.archive_format == 1 ? checksum16_update(0, data.data(), data.size())
                                         : crc32_update(ctx, start, data.data(), data.size());
        EXPECT_EQ(written, c.stream ? int32_t(data.size()) : 0);
        EXPECT_EQ(ctx->file_checksum, want) << c.archive_format << c.decode_only << c.stream;
        if (ctx->output_stream)
            fclose(ctx->output_stream);
        free_decoder(io);
    }
}

TEST(UnpackIo, FlushWritesTheWaitingSpanInOrder) {
    struct Case {
        uint32_t flush_pos;
        uint32_t window_pos;
        uint32_t first; // window position of the first byte written
        uint32_t count;
    };
    const Case cases[] = {
        {100, 300, 100, 200},
        {window_size - 0x100, 0x40, window_size - 0x100, 0x140}, // wraps: the tail, then the start
        {window_size - 0x10, window_size, window_size - 0x10, 0x10}, // after a literal at the end
        {window_size, 0x20, 0, 0x20},                                // ... and the flush after that
        {500, 500, 0, 0},                                            // nothing waits
    };
    for (const Case &c : cases) {
        Decoder io = decoder_reading("");
        ExtractionContext *ctx = io.ctx;
        for (uint32_t i = 0; i < window_size; i++)
            io.window[i] = uint8_t(i * 31 + (i >> 8));
        ctx->output_stream = tmpfile();
        ctx->flush_pos = c.flush_pos;
        ctx->window_pos = c.window_pos;
        flush_window(ctx);
        EXPECT_EQ(ctx->flush_pos, c.window_pos);
        std::string out(c.count + 1, '\0');
        rewind(ctx->output_stream);
        out.resize(fread(&out[0], 1, out.size(), ctx->output_stream));
        std::string want;
        for (uint32_t k = 0; k < c.count; k++)
            want += char(io.window[(c.first + k) & window_mask]);
        EXPECT_TRUE(out == want) << std::hex << c.flush_pos << " " << c.window_pos;
        fclose(ctx->output_stream);
        free_decoder(io);
    }
}

TEST(UnpackIo, ResetKeepsSolidStateAndClearsTheRest) {
    for (int solid : {1, 0}) {
        Decoder io = decoder_reading("");
        ExtractionContext *ctx = io.ctx;
        memset(io.window, 0xAA, window_size);
        memset(ctx->kept_lengths, 5, sizeof ctx->kept_lengths);
        ctx->input_pos = 77;
        ctx->input_bit = 3;
        ctx->window_pos = ctx->flush_pos = 1234;
        ctx->old_distances[2] = 9;
        ctx->old_distance_count = 3;
        ctx->last_length = 4;
        ctx->last_distance = 9;
        ctx->current_channel = 2;
        reset_unpack_state(ctx, solid);
        EXPECT_EQ(ctx->input_pos, 0u);
        EXPECT_EQ(ctx->input_bit, 0u);
        uint32_t kept = solid ? 1 : 0;
        EXPECT_EQ(ctx->window_pos, kept * 1234);
        EXPECT_EQ(ctx->flush_pos, kept * 1234);
        EXPECT_EQ(ctx->old_distances[2], kept * 9);
        EXPECT_EQ(ctx->old_distance_count, kept * 3);
        EXPECT_EQ(ctx->last_length, kept * 4);
        EXPECT_EQ(ctx->last_distance, kept * 9);
        EXPECT_EQ(ctx->current_channel, int32_t(kept * 2));
        EXPECT_EQ(ctx->kept_lengths[1027], kept * 5);
        // Only the top half can be read before it is written.
        EXPECT_EQ(io.window[max_distance - 1], 0xAA);
        EXPECT_EQ(io.window[max_distance], solid ? 0xAA : 0);
        EXPECT_EQ(io.window[window_mask], solid ? 0xAA : 0);
        free_decoder(io);
    }
}

} // namespace
