// How fast is the CRC-32 of extracted data?
//
// crc_bench [-m MIB] [-r RUNS]
//
// Checksums MIB (default 64) MiB of pseudo-random bytes, in calls of 1 MiB,
// 128 KiB, 4 KiB and 256 bytes, once with crc32_update_portable (the table
// loop) and once with crc32_update (the carry-less multiply path where the
// processor has one and ZQ_NO_VECTOR does not turn it off). Each figure is
// the best of RUNS (default 5) runs, in MB/s (10^6 bytes) per second of CPU
// time. Both paths must give the same value, or the program fails.
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "archive/crc.h"
#include "archive/extraction_context.h"
#include "bench/bench_options.h"

using CrcFunction = uint32_t (*)(const ExtractionContext *, uint32_t, const void *, size_t);

static double run_best(CrcFunction crc, const ExtractionContext *ctx,
                       const std::vector<uint8_t> &data, size_t chunk, int runs, uint32_t *result) {
    double best = 1e30;
    for (int run = 0; run < runs; run++) {
        std::clock_t start = std::clock();
        uint32_t value = 0xFFFFFFFFu;
        for (size_t done = 0; done < data.size(); done += chunk) {
            size_t n = data.size() - done < chunk ? data.size() - done : chunk;
            value = crc(ctx, value, data.data() + done, n);
        }
        double seconds = cpu_seconds_since(start);
        if (seconds < best)
            best = seconds;
        *result = value;
    }
    return rate_mb_per_s(data.size(), best);
}

int main(int argc, char **argv) {
    size_t mib = 64;
    int runs = 5;
    if (!read_size_and_runs(argc, argv, "crc_bench", &mib, &runs))
        return 2;
    ExtractionContext *ctx = new_extraction_context();
    if (!ctx)
        return 1;
    std::vector<uint8_t> data(mib << 20);
    std::mt19937 rng(1);
    for (auto &b : data)
        b = uint8_t(rng());

    std::printf("CRC-32 of %zu MiB, best of %d, MB/s of CPU time; crc32_update uses: %s\n", mib,
                runs, crc32_path());
    std::printf("%10s %12s %12s %8s\n", "call size", "portable", "crc32_update", "ratio");
    const size_t chunks[] = {size_t(1) << 20, size_t(128) << 10, size_t(4) << 10, 256};
    for (size_t chunk : chunks) {
        uint32_t portable_value = 0, fast_value = 0;
        double portable = run_best(crc32_update_portable, ctx, data, chunk, runs, &portable_value);
        double fast_rate = run_best(crc32_update, ctx, data, chunk, runs, &fast_value);
        if (portable_value != fast_value) {
            std::fprintf(stderr, "paths disagree at call size %zu: %08x vs %08x\n", chunk,
                         unsigned(portable_value), unsigned(fast_value));
            return 1;
        }
        std::printf("%10zu %12.0f %12.0f %7.1fx\n", chunk, portable, fast_rate,
                    fast_rate / portable);
    }
    free_extraction_context(ctx);
    return 0;
}
