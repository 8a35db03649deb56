// Fuzz target: the header walk over the input as an archive file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/header_reader.h"
#include "archive/stream.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

int fuzz_header_walk(const uint8_t *data, size_t size) {
    ExtractionContext *ctx = new_context();
    MemoryFile file = {data, size, 0, 0, 0};
    ctx->archive_stream = open_memory(&file, "rb");
    // Unbuffered, so that every read the reader asks for is what the file
    // sees, with no read-ahead.
    setvbuf(ctx->archive_stream, nullptr, _IONBF, 0);
    if (locate_archive(ctx) != 0) {
        // The older format has no marker block of its own before the header.
        size_t header_end = size_t(ctx->archive_offset) + (ctx->archive_format == 2 ? 20 : 13);
        if (ctx->archive_offset < 0 || header_end > size_t(ctx->archive_end) ||
            size_t(ctx->archive_end) > size)
            fuzz_fail("archive found where its headers do not fit");
        if (ctx->certificate_table && ctx->certificate_table != ctx->archive_end)
            fuzz_fail("a signed archive does not end at its certificate table");
        file.read_end = 0;
        if (ctx->main_header.head_size > 13)
            seek_stream(ctx->archive_stream, ctx->main_header.head_size - 13, 1);
        int32_t previous_start = -1;
        size_t blocks = 0;
        while (read_next_file_header(ctx, request_file_or_subblock) > 0) {
            // Every header lies within the archive and steps at least 7 on.
            if (ctx->block_start <= previous_start || ctx->next_block <= ctx->block_start)
                fuzz_fail("block walk does not move forward");
            if (++blocks > size / 7 + 1)
                fuzz_fail("more blocks than the bytes can hold");
            if (memchr(ctx->file_name, 0, sizeof ctx->file_name) == nullptr)
                fuzz_fail("file name without its NUL");
            if (ctx->block_header.head_type == head_type_file) {
                const FileHeader &h = ctx->file_header;
                if (strchr(ctx->file_name, '/') || h.name_size > 259)
                    fuzz_fail("file name not normalised");
                // Each entry's data lies behind its own header and name.
                if (!(h.head_flags & flag_has_data) || h.head_size < 32 + h.name_size ||
                    int64_t(ctx->block_start) + h.head_size + h.pack_size != ctx->next_block)
                    fuzz_fail("file data not behind its own header");
                normalize_attributes(ctx);
                if (ctx->file_header.host_os > 3)
                    fuzz_fail("host system not normalised");
            }
            previous_start = ctx->block_start;
            seek_stream(ctx->archive_stream, ctx->next_block, 0);
        }
        if (file.read_end > ctx->archive_end)
            fuzz_fail("the walk read beyond the archive's end");
    }
    close_stream(ctx->archive_stream);
    free_extraction_context(ctx);
    return 0;
}

#ifdef ZQ_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_header_walk(data, size);
}
#endif
