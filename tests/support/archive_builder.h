// Procedural writer of archive bytes for tests: marker, main header, file
// headers with their packed data, arbitrary blocks and the final block, each
// appended to a std::string. Every header field can be set, including sizes
// and checksums that disagree with the bytes, so tests can build hostile
// input as easily as well-formed archives.
//
// Sizes and checksums left at -1 are computed from the bytes actually
// written. The CRC-32 here is a plain bitwise one, independent of the
// product's table-driven code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RarMainEntry {
    uint16_t flags = 0;     // 0x0001 volume
    int32_t head_size = -1; // -1: 13 + extra.size()
    std::string extra;      // bytes after the 13 fixed ones
    uint16_t reserved1 = 0;
    uint32_t reserved2 = 0;
    int32_t head_crc = -1; // -1: computed over bytes 2..12
    bool bad_crc = false;  // flip the stored checksum
};

struct RarFileEntry {
    uint16_t flags = 0x8000;
    int64_t pack_size = -1; // -1: packed.size()
    int64_t unp_size = -1;  // -1: packed.size()
    uint8_t host_os = 2;
    uint32_t file_crc = 0;
    uint32_t file_time = 0x58221883; // 2024-01-02 03:04:06
    uint8_t unp_ver = 20;
    uint8_t method = 0x30;
    std::string name;
    int32_t name_size = -1; // -1: name.size()
    uint32_t attributes = 0x20;
    std::string extra;      // header bytes after the name
    int32_t head_size = -1; // -1: 32 + name.size() + extra.size()
    int32_t head_crc = -1;  // -1: computed over bytes 2..31 and the name
    bool bad_crc = false;   // flip the stored checksum
    std::string packed;     // data bytes written after the header
};

struct RarBlockEntry {
    uint8_t type = 0x75;
    uint16_t flags = 0;       // with 0x8000 an add_size field is written
    int64_t add_size = -1;    // -1: data.size()
    std::string header_extra; // header bytes after the base fields
    int32_t head_size = -1;   // -1: the bytes written
    int32_t head_crc = -1;    // -1: computed over the header from byte 2
    std::string data;         // data bytes written after the header
};

// Reflected CRC-32 (0xEDB88320), started at 0xFFFFFFFF and inverted.
uint32_t rar_crc32(const std::string &bytes);
// DOS date and time in one word: date high, time low.
uint32_t rar_dos_time(int year, int month, int day, int hour, int minute, int second);

void rar_put_marker(std::string &out);
void rar_put_main_header(std::string &out, const RarMainEntry &item);
void rar_put_file(std::string &out, const RarFileEntry &item);
void rar_put_block(std::string &out, const RarBlockEntry &item);
// The final 0x79 block: flags 0x4000, head_size bytes (at least 7).
void rar_put_end(std::string &out, int32_t head_size = 7);

// A stored entry (method 0x30) of the given data with its CRC-32.
RarFileEntry rar_stored_entry(const std::string &name, const std::string &data);
// marker + main header + the entries + the final block.
std::string rar_archive(const std::vector<RarFileEntry> &entries, uint16_t main_flags = 0);
