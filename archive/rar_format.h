// The RAR 2.0 archive format as this code reads and writes it: markers,
// block types and sizes, flags, methods, host systems, attribute bits, where
// an archive behind a program can begin, the setup's built-in password, and
// the alphabets of the packed stream. The header reader, the driver, the
// decoder, the packer, the tools and the tests take these names; nothing
// else spells the numbers out.
#pragma once

#include <cstdint>

// The 7 bytes in front of the main header: "Rar!" 0x1A 0x07 0x00.
constexpr int32_t marker_size = 7;
inline constexpr uint8_t rar_marker[marker_size] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
// An archive of the older format begins with "RE~^" and is taken only from a
// program that carries "RSFX" at file offset 28.
inline constexpr uint8_t older_marker[4] = {0x52, 0x45, 0x7E, 0x5E};
inline constexpr uint8_t sfx_signature[4] = {0x52, 0x53, 0x46, 0x58};
constexpr int32_t sfx_signature_offset = 28;

// head_type of a block; the reader steps over the types it does not name.
constexpr uint8_t head_type_main = 0x73;
constexpr uint8_t head_type_file = 0x74;
constexpr uint8_t head_type_subblock = 0x77;
constexpr uint8_t head_type_end = 0x7B; // the packer's closing block

// Fixed sizes: every block starts with 7 bytes (head_crc, head_type,
// head_flags, head_size) and, with flag_has_data, 4 more (add_size); the
// reader takes 13 bytes of a main header and 32 of a file header. The
// marker's last byte is followed by the main header, whose head_type is its
// third byte.
constexpr int32_t block_base_size = 7;
constexpr int32_t long_block_base_size = 11;
constexpr int32_t main_header_size = 13;
constexpr int32_t file_header_size = 32;
constexpr int32_t head_type_offset = 2;

// head_flags of a main header.
constexpr uint16_t main_flag_volume = 0x0001;
constexpr uint16_t main_flag_solid = 0x0008;

// head_flags of a file header, and of any block for flag_has_data.
constexpr uint16_t flag_continued_from_previous = 0x0001;
constexpr uint16_t flag_continued_in_next = 0x0002;
constexpr uint16_t flag_encrypted = 0x0004;
constexpr uint16_t flag_solid = 0x0010; // decoding continues the previous entry's stream
// Bits 0x00E0 give the dictionary size; all three set mark a directory.
constexpr uint16_t flag_dictionary_1m = 0x0080;
constexpr uint16_t flag_directory = 0x00E0;
// An add_size field follows the base, and that many data bytes the header.
constexpr uint16_t flag_has_data = 0x8000;
// head_flags of the packer's closing block.
constexpr uint16_t end_block_flags = 0x4000;

// method of a file header: stored, or compressed from fastest to best.
constexpr uint8_t method_stored = 0x30;
constexpr uint8_t method_fastest = 0x31;
constexpr uint8_t method_default = 0x33;
constexpr uint8_t method_best = 0x35;

// unp_ver, the version needed to extract (10 x major + minor): the driver
// takes 13 to 20; up to 15 the data is of the older method, which is not
// decoded here; 20 is the RAR 2.0 method and its cipher.
constexpr uint8_t unp_ver_oldest = 13;
constexpr uint8_t unp_ver_15 = 15;
constexpr uint8_t unp_ver_20 = 20;

// host_os of a file header (1 is OS/2); higher values count as MS-DOS.
constexpr uint8_t host_msdos = 0;
constexpr uint8_t host_win32 = 2;
constexpr uint8_t host_unix = 3;

// attributes of a file header, in the Windows and DOS bit layout.
constexpr uint32_t attribute_read_only = 0x01;
constexpr uint32_t attribute_hidden = 0x02;
constexpr uint32_t attribute_system = 0x04;
constexpr uint32_t attribute_volume_label = 0x08;
constexpr uint32_t attribute_directory = 0x10;
constexpr uint32_t attribute_archive = 0x20;

// Where an archive behind a program can begin. Unless the marker stands at
// offset 0, the reader reads scan_read_size bytes behind the first
// marker_size into a buffer of scan_buffer_size and takes a candidate there
// only when its marker and the main header's head_type lie within what it
// read: the file's first scan_end bytes (250,006).
constexpr int32_t scan_buffer_size = 250000;
constexpr int32_t scan_read_size = scan_buffer_size - 1;
constexpr int32_t scan_end = marker_size + scan_read_size;
constexpr int32_t candidate_size = marker_size + head_type_offset + 1;
// The last offset at which a marker is found, and so the longest program a
// stub may be in front of its archive: 249,996 bytes.
constexpr int32_t last_marker_offset = scan_end - candidate_size;

// The setup enciphers and deciphers the product's files with this password.
inline constexpr char built_in_password[] = "q4!Wm9#z";

// The packed stream's alphabets. An LZ table block sends the lengths of the
// main, distance and repeat-length codes one after the other; a multimedia
// block those of one code of channel_symbols per channel, up to
// max_channels; each is itself sent in the length code.
constexpr int main_symbols = 298;
constexpr int distance_symbols = 48;
constexpr int length_slots = 28;
constexpr int repeat_symbols = length_slots;
constexpr int lz_table_lengths = main_symbols + distance_symbols + repeat_symbols;
constexpr int channel_symbols = 257;
constexpr int max_channels = 4;
constexpr int length_code_symbols = 19;
// The lengths a table block may send and the next one keeps.
constexpr int kept_lengths_size = max_channels * channel_symbols;
static_assert(kept_lengths_size >= lz_table_lengths, "an LZ block fits the kept lengths");
// The largest code any table holds.
constexpr int largest_alphabet = main_symbols;
static_assert(largest_alphabet >= channel_symbols && largest_alphabet >= distance_symbols &&
                  largest_alphabet >= length_code_symbols,
              "every code fits the largest");

// Main symbols: the literals, then matches and the switch to new tables.
constexpr uint32_t literal_symbols = 256;
constexpr uint32_t symbol_repeat_last = 256; // the last match again
constexpr uint32_t symbol_repeat_old = 257;  // 257..260: one of the four last distances
constexpr uint32_t symbol_short_match = 261; // 261..268: length 2 within 256 bytes
constexpr uint32_t symbol_new_tables = 269;  // a table block follows
constexpr uint32_t symbol_long_match = 270;  // 270..297: length slot, then a distance
// In a multimedia channel: a table block follows.
constexpr uint32_t symbol_channel_new_tables = 256;
static_assert(symbol_long_match + length_slots == uint32_t(main_symbols),
              "one long-match symbol per length slot");
