#include "tests/support/decoder.h"

#include <cstdlib>

#include "unpack/lz_decode.h"

Decoder new_decoder() {
    Decoder d;
    d.ctx = new_extraction_context();
    d.window = static_cast<uint8_t *>(calloc(1, window_size));
    return d;
}

Decoder decoder_reading(const std::string &packed) {
    Decoder d = new_decoder();
    d.ctx->window = d.window;
    d.ctx->input_stream = stream_of(packed);
    d.ctx->packed_left = int32_t(packed.size());
    return d;
}

void free_decoder(Decoder &d) {
    if (d.ctx->input_stream)
        fclose(d.ctx->input_stream);
    free(d.window);
    free_extraction_context(d.ctx);
}

FILE *stream_of(const std::string &bytes) {
    FILE *f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

std::string contents(FILE *stream) {
    std::string out;
    rewind(stream);
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0)
        out.append(buffer, n);
    return out;
}

std::string decode_entry(Decoder &d, const std::string &packed, int32_t unpacked, int solid,
                         bool write) {
    ExtractionContext *ctx = d.ctx;
    ctx->input_stream = stream_of(packed);
    ctx->packed_left = int32_t(packed.size());
    ctx->unpacked_left = unpacked;
    ctx->output_stream = write ? tmpfile() : nullptr;
    ctx->decode_only = write ? 0 : 1;
    ctx->file_checksum = 0xFFFFFFFF;
    unpack_file(ctx, d.window, solid);
    std::string out = write ? contents(ctx->output_stream) : std::string();
    fclose(ctx->input_stream);
    if (ctx->output_stream)
        fclose(ctx->output_stream);
    ctx->input_stream = nullptr;
    ctx->output_stream = nullptr;
    return out;
}
