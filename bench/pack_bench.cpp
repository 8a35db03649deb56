// Compression benchmark: our three levels against gzip -9, xz -6 and (when
// installed) zstd -19 --long=20 on the same file, normally the corpus tar of
// bench/make-corpus.sh, packed as one solid stream.
//
//   pack_bench [FILE] [--ours-only] [--level N]...
//   (default FILE: build/corpus-build/corpus.tar; --level 1, 3 or 5 limits
//   our runs to those levels)
//
// Prints compressed size, ratio, size relative to gzip -9, compression speed
// in MB/s (10^6 bytes of input per second, by the wall clock and by CPU time,
// which a busy machine disturbs less) and our peak memory.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack/lz_encode.h"

namespace {

struct Result {
    std::string name;
    uint64_t bytes;
    double seconds;
    double cpu_seconds; // of this process (ours) or of the child (peers)
};

void count_write(void *user, const uint8_t *, size_t n) {
    *static_cast<uint64_t *>(user) += n;
}
void ignore_end(void *, uint64_t) {}

double cpu_now(int who) {
    struct rusage u;
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int run_ours(const char *path, int level, Result *r, size_t *memory) {
    FILE *in = fopen(path, "rb");
    if (!in)
        return -1;
    LzEncoder *e = lz_encoder_create(level);
    if (!e) {
        fclose(in);
        return -1;
    }
    uint64_t packed = 0;
    std::vector<uint8_t> chunk(1 << 20);
    double start = now();
    double cpu_start = cpu_now(RUSAGE_SELF);
    lz_begin_file(e, 0, 1, PieceSink{&packed, count_write, ignore_end});
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), in)) > 0)
        lz_feed(e, chunk.data(), n);
    lz_end_file(e);
    lz_flush(e);
    r->seconds = now() - start;
    r->cpu_seconds = cpu_now(RUSAGE_SELF) - cpu_start;
    r->bytes = packed;
    *memory = lz_memory(e);
    lz_encoder_free(e);
    fclose(in);
    return 0;
}

int run_peer(const char *name, const std::string &command, Result *r) {
    double start = now();
    double cpu_start = cpu_now(RUSAGE_CHILDREN);
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    std::vector<char> buffer(1 << 16);
    uint64_t total = 0;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0)
        total += n;
    int status = pclose(p);
    r->seconds = now() - start;
    r->cpu_seconds = cpu_now(RUSAGE_CHILDREN) - cpu_start;
    r->name = name;
    r->bytes = total;
    return status == 0 && total > 0 ? 0 : -1;
}

} // namespace

int main(int argc, char **argv) {
    const char *path = "build/corpus-build/corpus.tar";
    bool ours_only = false;
    std::vector<int> levels;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--ours-only") == 0)
            ours_only = true;
        else if (strcmp(argv[i], "--level") == 0 && i + 1 < argc)
            levels.push_back(atoi(argv[++i]));
        else
            path = argv[i];
    }
    FILE *probe = fopen(path, "rb");
    if (!probe) {
        fprintf(stderr, "pack_bench: cannot read %s (build it with bench/make-corpus.sh)\n", path);
        return 1;
    }
    fseek(probe, 0, SEEK_END);
    double input = double(ftell(probe));
    fclose(probe);

    std::vector<Result> results;
    size_t memory = 0;
    const struct {
        const char *name;
        int level;
    } ours[] = {{"zqpack --fast", pack_level_fast},
                {"zqpack", pack_level_default},
                {"zqpack --best", pack_level_best}};
    for (const auto &o : ours) {
        if (!levels.empty() && std::find(levels.begin(), levels.end(), o.level) == levels.end())
            continue;
        Result r{o.name, 0, 0, 0};
        if (run_ours(path, o.level, &r, &memory) != 0) {
            fprintf(stderr, "pack_bench: %s failed\n", o.name);
            return 1;
        }
        results.push_back(r);
    }
    if (!ours_only) {
        std::string quoted = std::string("'") + path + "'";
        const struct {
            const char *name;
            std::string command;
        } peers[] = {
            {"gzip -9", "gzip -9 -n -c " + quoted},
            {"xz -6", "xz -6 -T1 -c " + quoted},
            {"zstd -19 --long=20", "zstd -19 --long=20 -T1 -q -c " + quoted + " 2>/dev/null"},
        };
        for (const auto &p : peers) {
            Result r;
            if (run_peer(p.name, p.command, &r) == 0)
                results.push_back(r);
            else
                printf("(%s not available)\n", p.name);
        }
    }
    double gzip = 0;
    for (const Result &r : results)
        if (r.name == "gzip -9")
            gzip = double(r.bytes);
    printf("input: %s, %.0f bytes\n", path, input);
    printf("%-20s %14s %8s %10s %9s %9s\n", "compressor", "bytes", "ratio", "x gzip -9", "MB/s",
           "MB/s cpu");
    for (const Result &r : results) {
        char relative[32] = "-";
        if (gzip > 0)
            snprintf(relative, sizeof relative, "%.3f", double(r.bytes) / gzip);
        printf("%-20s %14llu %8.3f %10s %9.2f %9.2f\n", r.name.c_str(),
               static_cast<unsigned long long>(r.bytes), input / double(r.bytes), relative,
               input / r.seconds / 1e6, input / r.cpu_seconds / 1e6);
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("our encoder's memory: %.1f MiB; peak resident set of this process: %.1f MiB\n",
           double(memory) / 1048576.0, double(usage.ru_maxrss) / 1024.0);
    return 0;
}
