#include "tests/support/archive_builder.h"

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
    out.append("Rar!\x1a\x07\x00", 7);
}

void rar_put_main_header(std::string &out, const RarMainSpec &spec) {
    size_t start = out.size();
    put16(out, 0);
    out.push_back(char(0x73));
    put16(out, spec.flags);
    put16(out, uint32_t(spec.head_size >= 0 ? spec.head_size : int32_t(13 + spec.extra.size())));
    put16(out, spec.reserved1);
    put32(out, spec.reserved2);
    finish_crc(out, start, 11, spec.head_crc, spec.bad_crc);
    out += spec.extra;
}

void rar_put_file(std::string &out, const RarFileSpec &spec) {
    size_t start = out.size();
    uint32_t name_size =
        spec.name_size >= 0 ? uint32_t(spec.name_size) : uint32_t(spec.name.size());
    int32_t head_size =
        spec.head_size >= 0 ? spec.head_size : int32_t(32 + spec.name.size() + spec.extra.size());
    put16(out, 0);
    out.push_back(char(0x74));
    put16(out, spec.flags);
    put16(out, uint32_t(head_size));
    put32(out, uint32_t(spec.pack_size >= 0 ? spec.pack_size : int64_t(spec.packed.size())));
    put32(out, uint32_t(spec.unp_size >= 0 ? spec.unp_size : int64_t(spec.packed.size())));
    out.push_back(char(spec.host_os));
    put32(out, spec.file_crc);
    put32(out, spec.file_time);
    out.push_back(char(spec.unp_ver));
    out.push_back(char(spec.method));
    put16(out, name_size);
    put32(out, spec.attributes);
    out += spec.name;
    finish_crc(out, start, 30 + spec.name.size(), spec.head_crc, spec.bad_crc);
    out += spec.extra;
    out += spec.packed;
}

void rar_put_block(std::string &out, const RarBlockSpec &spec) {
    size_t start = out.size();
    bool has_add = (spec.flags & 0x8000) != 0;
    size_t written = 7 + (has_add ? 4 : 0) + spec.header_extra.size();
    put16(out, 0);
    out.push_back(char(spec.type));
    put16(out, spec.flags);
    put16(out, uint32_t(spec.head_size >= 0 ? spec.head_size : int32_t(written)));
    if (has_add)
        put32(out, uint32_t(spec.add_size >= 0 ? spec.add_size : int64_t(spec.data.size())));
    out += spec.header_extra;
    finish_crc(out, start, written - 2, spec.head_crc, false);
    out += spec.data;
}

void rar_put_end(std::string &out, int32_t head_size) {
    RarBlockSpec end;
    end.type = 0x79;
    end.flags = 0x4000;
    if (head_size > 7)
        end.header_extra.assign(size_t(head_size - 7), '\0');
    rar_put_block(out, end);
}

RarFileSpec rar_stored_entry(const std::string &name, const std::string &data) {
    RarFileSpec spec;
    spec.name = name;
    spec.method = 0x30;
    spec.packed = data;
    spec.file_crc = rar_crc32(data);
    return spec;
}

std::string rar_archive(const std::vector<RarFileSpec> &entries, uint16_t main_flags) {
    std::string out;
    rar_put_marker(out);
    RarMainSpec main;
    main.flags = main_flags;
    rar_put_main_header(out, main);
    for (const RarFileSpec &entry : entries)
        rar_put_file(out, entry);
    rar_put_end(out);
    return out;
}
