// Checksums: CRC-32 (headers, file data, cipher key set-up) and the older
// format's 16-bit rotate checksum. Neither update inverts: callers start
// CRC-32 at 0xFFFFFFFF and compare the inverted result.
#pragma once

#include <cstddef>
#include <cstdint>

struct ExtractionContext;

constexpr int checksum_kind_rotate16 = 1;
constexpr int checksum_kind_crc32 = 2;

void build_crc_table(ExtractionContext *ctx);
uint32_t crc32_update(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                      size_t count);
// The table-driven loop alone, whatever the processor offers: the same result
// as crc32_update, which hands long spans to a carry-less multiply path where
// the processor has one.
uint32_t crc32_update_portable(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                               size_t count);
// What crc32_update runs on this machine, in words, for tests and
// benchmarks to report.
const char *crc32_path();
uint16_t checksum16_update(uint32_t value, const void *bytes, size_t count);
// kind 1: checksum16_update zero-extended; any other kind: crc32_update.
uint32_t update_checksum(const ExtractionContext *ctx, uint32_t value, const void *bytes,
                         size_t count, int kind);
