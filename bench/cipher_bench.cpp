// How fast are encrypted entries deciphered?
//
// cipher_bench [-m MIB] [-r RUNS]
//
// Deciphers MIB (default 24) MiB of pseudo-random bytes with the setup's
// password, in calls of refill_size bytes (what the decoder's refills ask
// for) and of 64 bytes (the last blocks of small entries), once with
// decrypt_blocks_portable and once with decrypt_blocks (sixteen blocks per
// vector register where the processor has the byte permutes and ZQ_NO_VECTOR
// does not turn them off). Each figure is the best of RUNS (default 5) runs,
// in MB/s (10^6 bytes) per second of CPU time. Both paths must give the same
// bytes and key, or the program fails.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numeric>
#include <random>
#include <vector>

#include "archive/cipher.h"
#include "archive/extraction_context.h"
#include "bench/bench_options.h"

using DecryptFunction = void (*)(ExtractionContext *, uint8_t *, size_t);

static double run_best(DecryptFunction decrypt, ExtractionContext *ctx,
                       const std::vector<uint8_t> &sealed, size_t chunk, int runs,
                       std::vector<uint8_t> *plain) {
    double best = 1e30;
    for (int run = 0; run < runs; run++) {
        *plain = sealed;
        init_cipher(ctx, built_in_password);
        std::clock_t start = std::clock();
        for (size_t done = 0; done < plain->size(); done += chunk)
            decrypt(ctx, plain->data() + done, chunk / 16);
        double seconds = cpu_seconds_since(start);
        if (seconds < best)
            best = seconds;
    }
    return rate_mb_per_s(sealed.size(), best);
}

int main(int argc, char **argv) {
    size_t mib = 24;
    int runs = 5;
    if (!read_size_and_runs(argc, argv, "cipher_bench", &mib, &runs))
        return 2;
    ExtractionContext *ctx = new_extraction_context();
    if (!ctx)
        return 1;
    const size_t chunks[] = {refill_size, 64};
    // A whole number of calls of either size.
    constexpr size_t whole = std::lcm(size_t(refill_size), size_t(64));
    std::vector<uint8_t> sealed(mib * 1000000 / whole * whole);
    std::mt19937 rng(1);
    for (auto &b : sealed)
        b = uint8_t(rng());

    std::printf("deciphering %zu bytes, best of %d, MB/s of CPU time; decrypt_blocks uses: %s\n",
                sealed.size(), runs, decrypt_blocks_path());
    std::printf("%10s %12s %15s %8s\n", "call size", "portable", "decrypt_blocks", "ratio");
    for (size_t chunk : chunks) {
        std::vector<uint8_t> portable_plain, fast_plain;
        double portable =
            run_best(decrypt_blocks_portable, ctx, sealed, chunk, runs, &portable_plain);
        uint32_t portable_key[4];
        std::memcpy(portable_key, ctx->cipher_key, sizeof portable_key);
        double fast_rate = run_best(decrypt_blocks, ctx, sealed, chunk, runs, &fast_plain);
        if (portable_plain != fast_plain ||
            std::memcmp(portable_key, ctx->cipher_key, sizeof portable_key) != 0) {
            std::fprintf(stderr, "paths disagree at call size %zu\n", chunk);
            return 1;
        }
        std::printf("%10zu %12.0f %15.0f %7.1fx\n", chunk, portable, fast_rate,
                    fast_rate / portable);
    }
    free_extraction_context(ctx);
    return 0;
}
