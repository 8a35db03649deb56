// Fuzz target: our packer against our decoder, and the packer's determinism.
// The files are packed twice, by an encoder that has packed every input
// before and by a new one: both must give the same bytes, as the same
// product folder must give the same installer whatever was packed before.
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/cipher.h"
#include "archive/rar_format.h"
#include "archive/stream.h"
#include "pack/lz_encode.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"
#include "unpack/lz_decode.h"

// Bit by bit, independent of the product's table-driven code.
static uint32_t reference_crc32(const uint8_t *data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static ssize_t capture_write(void *cookie, const char *buffer, size_t count) {
    static_cast<std::string *>(cookie)->append(buffer, count);
    return ssize_t(count);
}

// A stream whose writes land in text.
static FILE *open_capture(std::string *text) {
    cookie_io_functions_t io = {nullptr, capture_write, nullptr, nullptr};
    return fopencookie(text, "wb", io);
}

static void append_piece(void *user, const uint8_t *data, size_t n) {
    static_cast<std::string *>(user)->append(reinterpret_cast<const char *>(data), n);
}

static void piece_done(void *, uint64_t) {}

// The files payload[start[i], start[i + 1]) as pieces of one stream; solid[i]
// gets the flag piece i needs.
static void pack_files(LzEncoder *encoder, const uint8_t *payload, const size_t *start, int files,
                       int later_solid, uint32_t pad_to, std::string *pieces, int *solid) {
    for (int i = 0; i < files; ++i) {
        solid[i] = lz_begin_file(encoder, i == 0 ? 0 : later_solid, pad_to,
                                 PieceSink{&pieces[i], append_piece, piece_done});
        lz_feed(encoder, payload + start[i], start[i + 1] - start[i]);
        lz_end_file(encoder);
    }
    lz_flush(encoder);
}

int fuzz_round_trip(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    uint8_t control = data[size - 1];
    // One encoder per level for the whole process, as the archive writer
    // keeps one for a whole archive; each input starts a new stream.
    static const int levels[3] = {pack_level_fast, pack_level_default, pack_level_best};
    static LzEncoder *encoders[3];
    int choice = control % 3;
    LzEncoder *fresh = lz_encoder_create(levels[choice]);
    if (!fresh || (!encoders[choice] && !(encoders[choice] = lz_encoder_create(levels[choice]))))
        fuzz_fail("no memory for the encoder");
    int files = ((control >> 2) & 3) + 1;
    int later_solid = (control & 0x10) ? 1 : 0;
    // Enciphered pieces go through the decoder's deciphering input, as the
    // packer seals them: padded to 16, the cipher set up afresh per piece.
    bool sealed = control & 0x40;
    uint32_t pad_to = (control & 0x20) || sealed ? 16 : 1;
    const uint8_t *payload = data;
    size_t payload_size = size - 1;

    size_t start[5];
    for (int i = 0; i <= files; ++i)
        start[i] = payload_size * size_t(i) / size_t(files);
    std::string pieces[4], again[4];
    int solid[4], solid_again[4];
    pack_files(encoders[choice], payload, start, files, later_solid, pad_to, pieces, solid);
    pack_files(fresh, payload, start, files, later_solid, pad_to, again, solid_again);
    lz_encoder_free(fresh);
    for (int i = 0; i < files; ++i)
        if (again[i] != pieces[i] || solid_again[i] != solid[i])
            fuzz_fail("the same files packed twice give different bytes");

    static uint8_t *window = static_cast<uint8_t *>(calloc(1, window_size));
    ExtractionContext *ctx = new_context();
    if (!window)
        fuzz_fail("no memory for the window");
    ctx->archive_format = 2;
    ExtractionContext *sealer = sealed ? new_context() : nullptr;
    for (int i = 0; i < files; ++i) {
        if (pieces[i].size() % pad_to != 0 || pieces[i].size() > 0x7FFFFFFF)
            fuzz_fail("packed piece not padded as asked");
        if (sealed) {
            init_cipher(sealer, built_in_password);
            for (size_t at = 0; at < pieces[i].size(); at += 16)
                encrypt_block(sealer, reinterpret_cast<uint8_t *>(&pieces[i][at]));
            init_cipher(ctx, built_in_password);
            ctx->cipher_version = 20;
        }
        std::string output;
        MemoryFile input = {reinterpret_cast<const uint8_t *>(pieces[i].data()), pieces[i].size(),
                            0, 0, 0};
        ctx->input_stream = open_memory(&input, "rb");
        ctx->output_stream = open_capture(&output);
        ctx->packed_left = int32_t(pieces[i].size());
        ctx->unpacked_left = int32_t(start[i + 1] - start[i]);
        ctx->decode_only = 0;
        ctx->file_checksum = 0xFFFFFFFFu;
        unpack_file(ctx, window, solid[i]);
        close_stream(ctx->input_stream);
        close_stream(ctx->output_stream);
        if (output.size() != start[i + 1] - start[i] ||
            memcmp(output.data(), payload + start[i], output.size()) != 0)
            fuzz_fail("a packed file does not decode to its bytes");
        if (~ctx->file_checksum != reference_crc32(payload + start[i], output.size()))
            fuzz_fail("wrong checksum of the decoded bytes");
    }
    free_extraction_context(sealer);
    free_extraction_context(ctx);
    return 0;
}

#ifdef ZQ_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_round_trip(data, size);
}
#endif
