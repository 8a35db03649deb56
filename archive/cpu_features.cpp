#include "archive/cpu_features.h"

#include <cstdlib>
#include <cstring>

static bool switched_off() {
#ifdef _WIN32
    return false;
#else
    const char *value = getenv("ZQ_NO_VECTOR");
    return value && value[0] && strcmp(value, "0") != 0;
#endif
}

static CpuFeatures probe() {
    CpuFeatures found = {};
    found.switched_off = switched_off();
#if defined(__x86_64__)
    if (!found.switched_off) {
        __builtin_cpu_init();
        found.carryless_multiply = __builtin_cpu_supports("pclmul");
        found.wide_carryless_multiply = found.carryless_multiply &&
                                        __builtin_cpu_supports("avx512f") &&
                                        __builtin_cpu_supports("vpclmulqdq");
        found.byte_permutes = __builtin_cpu_supports("avx512f") &&
                              __builtin_cpu_supports("avx512bw") &&
                              __builtin_cpu_supports("avx512vbmi");
    }
#endif
    return found;
}

// Asked before main, which needs no guard as a first-use static would: the
// guard brings the runtime's thread-safe initialisation into the setup's
// image, more than it can afford. A call made before this initialiser ran
// sees all features off and takes a portable path, which gives the same
// result.
const CpuFeatures cpu_features = probe();
