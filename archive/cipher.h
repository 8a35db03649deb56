// The 16-byte block cipher of encrypted entries: a 32-round Feistel network
// over four little-endian words, with a substitution table and a 128-bit
// running key both derived from the password. After every block the key is
// mixed with the block's enciphered bytes, in either direction, so an
// encryptor and a decryptor that start from the same key stay in step.
#pragma once

#include <cstddef>
#include <cstdint>

struct ExtractionContext;

extern const uint8_t initial_subst_table[256];

// Sets cipher_key and subst_table from the password (at most 127 characters).
// Needs crc_table.
void init_cipher(ExtractionContext *ctx, const char *password);
void encrypt_block(ExtractionContext *ctx, uint8_t *block);
void decrypt_block(ExtractionContext *ctx, uint8_t *block);
// count consecutive blocks, the same as decrypt_block on each in turn.
// Runs sixteen blocks at a time in vector registers where the processor can.
void decrypt_blocks(ExtractionContext *ctx, uint8_t *data, size_t count);
// decrypt_blocks without the vector path, for comparing the two.
void decrypt_blocks_portable(ExtractionContext *ctx, uint8_t *data, size_t count);
// What decrypt_blocks runs on this machine, in words, for tests and
// benchmarks to report.
const char *decrypt_blocks_path();
// Key update from 16 enciphered bytes.
void mix_key(ExtractionContext *ctx, const uint8_t *block);
