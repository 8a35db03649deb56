// The processor's vector units that the checksums and the cipher can use,
// asked once at start-up.
//
// ZQ_NO_VECTOR, set to anything but "" or "0", turns every vector path off in
// the Linux builds: the tests, tools and benchmarks then run the portable
// paths on a processor that has the units. The Windows programs, the setup
// above all, read no environment.
#pragma once

struct CpuFeatures {
    bool carryless_multiply;      // the CRC-32's folding path
    bool wide_carryless_multiply; // the CRC-32's 512-bit folding path (AVX-512 F, VPCLMULQDQ)
    bool byte_permutes;           // the cipher's sixteen-block path (AVX-512 F, BW and VBMI)
    bool switched_off;            // ZQ_NO_VECTOR asked for the portable paths
};

extern const CpuFeatures cpu_features;
