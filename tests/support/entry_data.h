// Contents and entries the tests build their archives and streams from:
// reproducible random bytes, letter data that compresses well, and an entry
// packed by the product's own packer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/archive_builder.h"

// n bytes from a Mersenne twister started at seed.
std::string random_bytes(size_t n, uint32_t seed);
// size bytes, each one of the `letters` letters from first on, drawn by a
// linear congruential sequence from seed: the same seed gives the same bytes.
std::string pattern_data(size_t size, uint32_t seed, char first, int letters);
// A method 0x33 entry of data packed at the default level, with its CRC-32;
// a packer failure is a test failure.
RarFileEntry compressed_entry(const std::string &name, const std::string &data);
// data zero-padded to whole blocks and enciphered under password, as the
// packer seals an entry.
std::string encipher(const std::string &data, const char *password);
// A stored entry of data enciphered with the product's cipher under
// password (zero-padded to whole blocks), flagged encrypted.
RarFileEntry encrypted_entry(const std::string &name, const std::string &data,
                             const char *password);
