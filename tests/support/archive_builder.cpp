#include "tests/support/archive_builder.h"

#include "archive/rar_format.h"

static void put16(std::string &out, uint32_t value) {
    out.push_back(char(value & 0xFF));
    out.push_back(char((value >> 8) & 0xFF));
}

static void put32(std::string &out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

static void set16(std::string &out, size_t at, uint32_t value) {
    out[at] = char(value & 0xFF);
    out[at + 1] = char((value >> 8) & 0xFF);
}

uint32_t rar_crc32(const std::string &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t rar_dos_time(int year, int month, int day, int hour, int minute, int second) {
    uint32_t date = uint32_t(((year - 1980) << 9) | (month << 5) | day);
    uint32_t time = uint32_t((hour << 11) | (minute << 5) | (second / 2));
    return (date << 16) | time;
}

// Stores the header checksum at `start`: the given one, or the low 16 bits of
// the CRC-32 over `covered` bytes from start + 2, optionally flipped.
static void finish_crc(std::string &out, size_t start, size_t covered, int32_t given, bool flip) {
    uint32_t crc =
        given >= 0 ? uint32_t(given) : rar_crc32(out.substr(start + 2, covered)) & 0xFFFF;
    if (flip)
        crc ^= 0xFFFF;
    set16(out, start, crc);
}

void rar_put_marker(std::string &out) {
    out.append(reinterpret_cast<const char *>(rar_marker), sizeof rar_marker);
}

void rar_put_main_header(std::string &out, const RarMainEntry &item) {
    size_t start = out.size();
    put16(out, 0);
    out.push_back(char(0x73));
    put16(out, item.flags);
    put16(out, uint32_t(item.head_size >= 0 ? item.head_size : int32_t(13 + item.extra.size())));
    put16(out, item.reserved1);
    put32(out, item.reserved2);
    finish_crc(out, start, 11, item.head_crc, item.bad_crc);
    out += item.extra;
}

void rar_put_file(std::string &out, const RarFileEntry &item) {
    size_t start = out.size();
    uint32_t name_size =
        item.name_size >= 0 ? uint32_t(item.name_size) : uint32_t(item.name.size());
    int32_t head_size =
        item.head_size >= 0 ? item.head_size : int32_t(32 + item.name.size() + item.extra.size());
    put16(out, 0);
    out.push_back(char(0x74));
    put16(out, item.flags);
    put16(out, uint32_t(head_size));
    put32(out, uint32_t(item.pack_size >= 0 ? item.pack_size : int64_t(item.packed.size())));
    put32(out, uint32_t(item.unp_size >= 0 ? item.unp_size : int64_t(item.packed.size())));
    out.push_back(char(item.host_os));
    put32(out, item.file_crc);
    put32(out, item.file_time);
    out.push_back(char(item.unp_ver));
    out.push_back(char(item.method));
    put16(out, name_size);
    put32(out, item.attributes);
    out += item.name;
    finish_crc(out, start, 30 + item.name.size(), item.head_crc, item.bad_crc);
    out += item.extra;
    out += item.packed;
}

void rar_put_block(std::string &out, const RarBlockEntry &item) {
    size_t start = out.size();
    bool has_add = (item.flags & 0x8000) != 0;
    size_t written = 7 + (has_add ? 4 : 0) + item.header_extra.size();
    put16(out, 0);
    out.push_back(char(item.type));
    put16(out, item.flags);
    put16(out, uint32_t(item.head_size >= 0 ? item.head_size : int32_t(written)));
    if (has_add)
        put32(out, uint32_t(item.add_size >= 0 ? item.add_size : int64_t(item.data.size())));
    out += item.header_extra;
    finish_crc(out, start, written - 2, item.head_crc, false);
    out += item.data;
}

void rar_put_end(std::string &out, int32_t head_size) {
    RarBlockEntry end;
    end.type = 0x79;
    end.flags = 0x4000;
    if (head_size > 7)
        end.header_extra.assign(size_t(head_size - 7), '\0');
    rar_put_block(out, end);
}

RarFileEntry rar_stored_entry(const std::string &name, const std::string &data) {
    RarFileEntry item;
    item.name = name;
    item.method = 0x30;
    item.packed = data;
    item.file_crc = rar_crc32(data);
    return item;
}

std::string rar_archive(const std::vector<RarFileEntry> &entries, uint16_t main_flags) {
    std::string out;
    rar_put_marker(out);
    RarMainEntry main;
    main.flags = main_flags;
    rar_put_main_header(out, main);
    for (const RarFileEntry &entry : entries)
        rar_put_file(out, entry);
    rar_put_end(out);
    return out;
}
