// What several fuzz targets share: the failure report, a stream over bytes in
// memory, a fresh extraction record, and the decoding of the entry layout
// that fuzz_unpack and fuzz_cipher_unpack read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive/extraction_context.h"

[[noreturn]] void fuzz_fail(const char *what);

struct MemoryFile {
    const uint8_t *data;
    size_t size;
    int64_t position;
    uint64_t written;
    int64_t read_end; // one past the furthest byte read so far
};

// Reads like a file of the given bytes (seeks anywhere, reads end at its
// size); writes are counted and dropped.
FILE *open_memory(MemoryFile *file, const char *mode);

// A record made ready as the driver makes it; free_extraction_context() it.
ExtractionContext *new_context();

// The entries of the layout of fuzz_unpack (see fuzz_targets.h), decoded in
// order into a shared window with ctx's cipher settings; every entry's output
// is counted and must stop at its size plus the rest of its last match.
void unpack_entries(ExtractionContext *ctx, const uint8_t *data, size_t size);
