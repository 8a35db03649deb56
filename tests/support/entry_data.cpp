#include "tests/support/entry_data.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "archive/cipher.h"
#include "archive/extraction_context.h"
#include "pack/lz_encode.h"

std::string random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = char(rng());
    return s;
}

std::string pattern_data(size_t size, uint32_t seed, char first, int letters) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = char(first + (seed >> 24) % uint32_t(letters));
    }
    return data;
}

RarFileEntry compressed_entry(const std::string &name, const std::string &data) {
    std::vector<uint8_t> packed;
    EXPECT_EQ(compress_buffer(reinterpret_cast<const uint8_t *>(data.data()), data.size(),
                              pack_level_default, 1, &packed, nullptr),
              0);
    RarFileEntry item;
    item.name = name;
    item.method = 0x33;
    item.packed.assign(packed.begin(), packed.end());
    item.unp_size = int64_t(data.size());
    item.file_crc = rar_crc32(data);
    return item;
}

std::string encipher(const std::string &data, const char *password) {
    ExtractionContext *ctx = new_extraction_context();
    init_cipher(ctx, password);
    std::string sealed = data;
    sealed.resize((data.size() + 15) / 16 * 16, '\0');
    for (size_t at = 0; at < sealed.size(); at += 16)
        encrypt_block(ctx, reinterpret_cast<uint8_t *>(&sealed[at]));
    free_extraction_context(ctx);
    return sealed;
}

RarFileEntry encrypted_entry(const std::string &name, const std::string &data,
                             const char *password) {
    RarFileEntry item = rar_stored_entry(name, data);
    item.flags |= flag_encrypted;
    item.packed = encipher(data, password);
    item.unp_size = int64_t(data.size());
    return item;
}
