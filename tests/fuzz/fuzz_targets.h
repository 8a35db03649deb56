// Entry functions of the fuzz targets, one per file (tests/fuzz/fuzz_NAME.cpp,
// which also holds the libFuzzer program of the target). The unit test that
// replays tests/fuzz/regressions/NAME/ in the normal builds calls them too.
// Each takes arbitrary bytes, runs one path of the extractor over them and
// aborts with a message on stderr when an invariant of that path breaks;
// crashes and sanitizer reports speak for themselves. Each returns 0.
//
// A target's parameters (counts, sizes, flags, a password) sit at the END of
// its input, behind the payload, so that the mutations that insert or drop
// bytes in the payload leave them as they were. All numbers are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

// locate_archive, then read_next_file_header block by block over the bytes as
// an archive file (a signed program's among them: the PE header is part of
// the bytes); no read of the walk may go beyond the archive's end. No
// parameters: the whole input is the file.
int fuzz_header_walk(const uint8_t *data, size_t size);

// unpack_file over arbitrary packed data, as a sequence of up to four entries
// of one stream. Layout:
//   packed bytes of the entries, one after the other
//   per entry: 4 bytes unp_size, 2 bytes packed length (the last entry takes
//              what is left of the packed bytes)
//   1 byte: (entries - 1) | 0x04 solid after the first | 0x08 the first solid too
int fuzz_unpack(const uint8_t *data, size_t size);

// The same behind the cipher; every entry is deciphered. Layout:
//   the input of fuzz_unpack
//   the password (it ends at its first NUL, as the driver's copy does)
//   1 byte: password length (mod 16)
int fuzz_cipher_unpack(const uint8_t *data, size_t size);

// Our packer against our decoder: the payload is cut into up to four files,
// packed as one stream twice, by two encoders of the same history (both must
// give the same bytes), and decoded again; every file must come back
// exactly, with the right CRC-32.
// Layout:
//   payload
//   1 byte: level by its value mod 3, (files - 1) in bits 2-3, 0x10 later
//           files solid, 0x20 pieces padded to 16, 0x40 pieces enciphered
int fuzz_round_trip(const uint8_t *data, size_t size);

// The whole extract_archive (or the test mode of extract_archive_ex) of a
// setup file into a temporary host root; checks that nothing appears
// outside the target folder. Layout:
//   the setup file
//   1 byte: bits 0-2 which of the three languages are ticked, 0x08 test mode
int fuzz_extract(const uint8_t *data, size_t size);
