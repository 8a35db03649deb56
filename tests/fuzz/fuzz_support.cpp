// What several fuzz targets share. The header walk and the decoder read their
// bytes through an in-memory stream that behaves like a file, so they run
// without touching the disk.
#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>
#include <cstring>

#include "archive/cipher.h"
#include "archive/stream.h"
#include "unpack/decoder_limits.h"
#include "unpack/lz_decode.h"

// A decoded entry may run past its size by the rest of its last match.

void fuzz_fail(const char *what) {
    fprintf(stderr, "fuzz invariant broken: %s\n", what);
    abort();
}

static ssize_t memory_read(void *cookie, char *buffer, size_t count) {
    MemoryFile *file = static_cast<MemoryFile *>(cookie);
    if (file->position >= int64_t(file->size))
        return 0;
    size_t n = file->size - size_t(file->position);
    if (n > count)
        n = count;
    memcpy(buffer, file->data + file->position, n);
    file->position += int64_t(n);
    if (file->position > file->read_end)
        file->read_end = file->position;
    return ssize_t(n);
}

static ssize_t memory_write(void *cookie, const char *, size_t count) {
    static_cast<MemoryFile *>(cookie)->written += count;
    return ssize_t(count);
}

static int memory_seek(void *cookie, off64_t *offset, int whence) {
    MemoryFile *file = static_cast<MemoryFile *>(cookie);
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? file->position
                                        : int64_t(file->size);
    if (base + *offset < 0)
        return -1;
    file->position = base + *offset;
    *offset = file->position;
    return 0;
}

FILE *open_memory(MemoryFile *file, const char *mode) {
    cookie_io_functions_t io = {memory_read, memory_write, memory_seek, nullptr};
    return fopencookie(file, mode, io);
}

ExtractionContext *new_context() {
    ExtractionContext *ctx = new_extraction_context();
    if (!ctx)
        fuzz_fail("no memory for the record");
    return ctx;
}

static uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void unpack_entries(ExtractionContext *ctx, const uint8_t *data, size_t size) {
    if (size < 1)
        return;
    uint8_t control = data[size - 1];
    int entries = (control & 3) + 1;
    bool solid_after_first = control & 4;
    bool first_solid = control & 8;
    size_t records = 6 * size_t(entries);
    if (records + 1 > size)
        return;
    size_t packed_size = size - 1 - records;
    uint32_t unp_size[4];
    size_t packed_length[4];
    for (int i = 0; i < entries; ++i) {
        const uint8_t *record = data + packed_size + 6 * size_t(i);
        unp_size[i] = get32(record);
        packed_length[i] = size_t(record[4] | (record[5] << 8));
    }
    // One window for the whole process: allocating 2 MiB per input would cost
    // more than most inputs take to decode. A non-solid first entry clears it;
    // a solid one must not see the previous input's bytes.
    static uint8_t *window = static_cast<uint8_t *>(calloc(1, window_size));
    if (!window)
        fuzz_fail("no memory for the window");
    if (first_solid)
        memset(window, 0, window_size);
    ctx->archive_format = 2;
    size_t at = 0;
    for (int i = 0; i < entries; ++i) {
        size_t left = packed_size - at;
        size_t length = i + 1 == entries || packed_length[i] > left ? left : packed_length[i];
        MemoryFile input = {data + at, length, 0, 0, 0};
        MemoryFile output = {nullptr, 0, 0, 0, 0};
        at += length;
        ctx->input_stream = open_memory(&input, "rb");
        ctx->output_stream = open_memory(&output, "wb");
        ctx->packed_left = int32_t(length);
        ctx->unpacked_left = int32_t(unp_size[i]);
        ctx->decode_only = 0;
        ctx->file_checksum = 0xFFFFFFFFu;
        if (ctx->cipher_version)
            init_cipher(ctx, ctx->password);
        unpack_file(ctx, window, i == 0 ? first_solid : solid_after_first);
        fflush(ctx->output_stream);
        if (ctx->window_pos > window_mask || ctx->flush_pos != ctx->window_pos)
            fuzz_fail("window positions out of step after an entry");
        if (ctx->input_pos >= uint32_t(input_buffer_size))
            fuzz_fail("bit input beyond its buffer");
        if (unp_size[i] < 0x80000000u && output.written > uint64_t(unp_size[i]) + max_match_length)
            fuzz_fail("decoder wrote beyond the entry's size");
        close_stream(ctx->input_stream);
        close_stream(ctx->output_stream);
        ctx->input_stream = nullptr;
        ctx->output_stream = nullptr;
    }
}
