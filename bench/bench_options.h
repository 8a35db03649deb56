// What the single-unit benchmarks (crc_bench, cipher_bench) share: their
// options and how they turn CPU time into a rate.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// Reads -m MIB and -r RUNS over the defaults given; false after printing
// the usage line for anything else or a value below 1.
inline bool read_size_and_runs(int argc, char **argv, const char *program, size_t *mib, int *runs) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 < argc && std::strcmp(argv[i], "-m") == 0)
            *mib = size_t(std::atoi(argv[i + 1]));
        else if (i + 1 < argc && std::strcmp(argv[i], "-r") == 0)
            *runs = std::atoi(argv[i + 1]);
        else
            *mib = 0;
    }
    if (*mib == 0 || *runs <= 0) {
        std::fprintf(stderr, "usage: %s [-m MIB] [-r RUNS]\n", program);
        return false;
    }
    return true;
}

inline double cpu_seconds_since(std::clock_t start) {
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

// MB/s (10^6 bytes per second) for bytes done in the best of the runs.
inline double rate_mb_per_s(size_t bytes, double best_seconds) {
    return double(bytes) / 1e6 / (best_seconds > 0 ? best_seconds : 1e-9);
}
