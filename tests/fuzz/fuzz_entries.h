// Entry functions of the fuzz targets, shared by the libFuzzer programs and
// by the unit test that replays the regression inputs in the normal builds.
// Each takes arbitrary bytes, runs one path of the extractor over them and
// aborts with a message on stderr when an invariant of that path breaks;
// crashes and sanitizer reports speak for themselves. Each returns 0.
#pragma once

#include <cstddef>
#include <cstdint>

// locate_archive, then read_next_file_header block by block over the bytes as
// an archive file (a signed program's among them: the PE header is part of
// the bytes); no read of the walk may go beyond the archive's end.
int fuzz_header_walk(const uint8_t *data, size_t size);

// unpack_file over arbitrary packed data, as a sequence of up to four entries
// of one stream. Layout: byte 0 = (entries - 1) | 0x04 solid after the first |
// 0x08 the first solid too; per entry 4 bytes unp_size and 2 bytes packed
// length (little-endian; the last entry takes what is left); then the packed
// bytes of the entries one after the other.
int fuzz_unpack(const uint8_t *data, size_t size);

// The same behind the cipher: byte 0 = password length (mod 16), the
// password, then the layout of fuzz_unpack; every entry is deciphered.
int fuzz_cipher_unpack(const uint8_t *data, size_t size);

// Our packer against our decoder: the bytes after byte 0 are cut into up to
// four files, packed as one stream (byte 0: level by its value mod 3,
// (files - 1) in bits 2-3, 0x10 later files solid, 0x20 pieces padded to 16,
// 0x40 pieces enciphered) and decoded again; every file must come back
// exactly, with the right CRC-32.
int fuzz_round_trip(const uint8_t *data, size_t size);

// The whole extract_archive (or, for one size in two, the test mode of
// extract_archive_ex) of the bytes as a setup file into a temporary
// host root; checks that nothing appears outside the target folder.
int fuzz_extract(const uint8_t *data, size_t size);

// Largest heap in use during one extraction so far, above what was in use
// before it; 0 where the build cannot measure it (no sanitizer allocator).
size_t fuzz_extract_peak_heap();
