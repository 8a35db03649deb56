// How fast does the decoder turn packed data into output?
//
// unpack_bench PATH [-l LEVEL] [-r RUNS]
//
// PATH is a file (for example corpus.tar) or a folder, whose files are read
// in name order and joined into one buffer. The buffer is packed once with
// our packer into one RAR 2.0 stream and once with zlib at level 9; then, in
// the same run and from memory, it is decoded by unpack_file (output to a
// memory stream; once without and once with the CRC-32 of the output),
// inflated by zlib, and copied by memcpy. Each figure is the best of RUNS
// runs, in MB/s (10^6 bytes) of output per second of CPU time. Both decoded outputs are compared
// with the original.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/crc.h"
#include "pack/lz_encode.h"
#include "unpack/lz_decode.h"

namespace fs = std::filesystem;

static std::vector<uint8_t> read_all(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

static std::vector<uint8_t> load(const char *path) {
    if (!fs::is_directory(path))
        return read_all(path);
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(path)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> all;
    for (const fs::path &file : files) {
        std::vector<uint8_t> data = read_all(file);
        all.insert(all.end(), data.begin(), data.end());
    }
    return all;
}

// Thread CPU time: on a shared machine it leaves out the time others run.
static double now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

static double mb_per_s(size_t bytes, double seconds) {
    return double(bytes) / seconds / 1e6;
}

// Decodes packed into out (out.size() bytes expected); returns the seconds.
static double run_decoder(ExtractionContext *ctx, uint8_t *window, std::vector<uint8_t> &packed,
                          std::vector<uint8_t> &out, bool checksum) {
    FILE *in = fmemopen(packed.data(), packed.size(), "rb");
    // One byte of room for the terminator a memory stream may add.
    FILE *sink = fmemopen(out.data(), out.size() + 1, "wb");
    setvbuf(sink, nullptr, _IONBF, 0);
    ctx->input_stream = in;
    ctx->output_stream = sink;
    ctx->packed_left = int32_t(packed.size());
    ctx->unpacked_left = int32_t(out.size() - 1);
    ctx->decode_only = checksum ? 0 : 1;
    ctx->archive_format = archive_format_rar2;
    ctx->file_checksum = 0xFFFFFFFF;
    ctx->cipher_version = 0;
    double start = now();
    unpack_file(ctx, window, 0);
    double seconds = now() - start;
    fclose(in);
    fclose(sink);
    return seconds;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: unpack_bench PATH [-l LEVEL] [-r RUNS]\n");
        return 2;
    }
    int level = pack_level_best;
    int runs = 5;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "-l"))
            level = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "-r"))
            runs = atoi(argv[i + 1]);
    }
    std::vector<uint8_t> data = load(argv[1]);
    if (data.empty() || data.size() > 0x7FFFFF00u) {
        fprintf(stderr, "unpack_bench: %s: no data or too much\n", argv[1]);
        return 1;
    }
    size_t n = data.size();

    double start = now();
    std::vector<uint8_t> packed;
    if (compress_buffer(data.data(), n, level, 1, &packed, nullptr) != 0) {
        fprintf(stderr, "unpack_bench: out of memory\n");
        return 1;
    }
    double pack_seconds = now() - start;
    uLongf zsize = compressBound(uLong(n));
    std::vector<uint8_t> zpacked(zsize);
    start = now();
    compress2(zpacked.data(), &zsize, data.data(), uLong(n), 9);
    double zpack_seconds = now() - start;
    zpacked.resize(zsize);

    ExtractionContext *ctx = new_extraction_context();
    uint8_t *window = static_cast<uint8_t *>(calloc(1, window_size));
    std::vector<uint8_t> ours(n + 1, 1);
    std::vector<uint8_t> theirs(n, 1);
    std::vector<uint8_t> copy(n, 1);

    double best_ours = 1e30, best_crc = 1e30, best_zlib = 1e30, best_copy = 1e30;
    bool crc_ok = true;
    for (int run = 0; run < runs; run++) {
        best_ours = std::min(best_ours, run_decoder(ctx, window, packed, ours, false));
        best_crc = std::min(best_crc, run_decoder(ctx, window, packed, ours, true));
        crc_ok = crc_ok && ~ctx->file_checksum == ~crc32_update(ctx, 0xFFFFFFFF, data.data(), n);

        uLongf out_size = uLongf(n);
        start = now();
        uncompress(theirs.data(), &out_size, zpacked.data(), uLong(zpacked.size()));
        best_zlib = std::min(best_zlib, now() - start);

        start = now();
        memcpy(copy.data(), data.data(), n);
        best_copy = std::min(best_copy, now() - start);
    }
    bool ours_same = memcmp(ours.data(), data.data(), n) == 0;
    bool zlib_same = memcmp(theirs.data(), data.data(), n) == 0;

    printf("input            %s: %zu bytes\n", argv[1], n);
    printf("packed (ours)    level %d: %zu bytes (%.2f%%), %.1f s\n", level, packed.size(),
           100.0 * double(packed.size()) / double(n), pack_seconds);
    printf("packed (zlib 9)  %zu bytes (%.2f%%), %.1f s\n", zpacked.size(),
           100.0 * double(zpacked.size()) / double(n), zpack_seconds);
    printf("unpack_file      %8.1f MB/s  output %s\n", mb_per_s(n, best_ours),
           ours_same ? "identical" : "DIFFERENT");
    printf("unpack_file+crc  %8.1f MB/s  checksum %s\n", mb_per_s(n, best_crc),
           crc_ok ? "matches" : "DIFFERS");
    printf("zlib inflate     %8.1f MB/s  output %s\n", mb_per_s(n, best_zlib),
           zlib_same ? "identical" : "DIFFERENT");
    printf("memcpy           %8.1f MB/s\n", mb_per_s(n, best_copy));
    printf("ratio unpack_file / inflate: %.2f (with crc: %.2f), best of %d runs\n",
           best_zlib / best_ours, best_zlib / best_crc, runs);
    free(window);
    free_extraction_context(ctx);
    return ours_same && zlib_same && crc_ok ? 0 : 1;
}
