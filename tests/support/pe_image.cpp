#include "tests/support/pe_image.h"

static const size_t pe_header_at = 0x80;

static void set16(std::string &out, size_t at, uint32_t value) {
    out[at] = char(value & 0xFF);
    out[at + 1] = char((value >> 8) & 0xFF);
}

static void set32(std::string &out, size_t at, uint32_t value) {
    set16(out, at, value & 0xFFFF);
    set16(out, at + 2, value >> 16);
}

static uint32_t get16(const std::string &in, size_t at) {
    return uint32_t(uint8_t(in[at])) | (uint32_t(uint8_t(in[at + 1])) << 8);
}

std::string pe_image(size_t size, bool pe32_plus) {
    std::string image(size < 512 ? 512 : size, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    set32(image, 0x3C, pe_header_at);
    image.replace(pe_header_at, 4, std::string("PE\0\0", 4));
    size_t file_header = pe_header_at + 4;
    set16(image, file_header, pe32_plus ? 0x8664 : 0x14C); // machine
    set16(image, file_header + 16, pe32_plus ? 112 + 128 : 96 + 128);
    set16(image, file_header + 18, 0x0022); // executable, large addresses
    size_t optional = file_header + 20;
    set16(image, optional, pe32_plus ? 0x20B : 0x10B);
    set32(image, optional + (pe32_plus ? 108 : 92), 16); // data directories
    return image;
}

size_t pe_security_entry(const std::string &image) {
    size_t optional = pe_header_at + 24;
    return optional + (get16(image, optional) == 0x20B ? 112 : 96) + 4 * 8;
}

size_t pe_append_certificate_table(std::string &file, uint32_t table_size,
                                   const std::string &decoy) {
    size_t archive_end = file.size();
    file.resize((archive_end + 7) / 8 * 8, '\0');
    size_t table = file.size();
    file.resize(table + table_size, '\0');
    set32(file, table, table_size);
    set16(file, table + 4, 0x0200); // revision 2
    set16(file, table + 6, 0x0002); // PKCS#7 signed data
    size_t entry = pe_security_entry(file);
    set32(file, entry, uint32_t(table));
    set32(file, entry + 4, table_size);
    if (decoy.empty() || archive_end + 11 > file.size())
        return table;
    // Where the block base at archive_end says the next block begins.
    size_t landing = archive_end + get16(file, archive_end + 5);
    if (get16(file, archive_end + 3) & 0x8000)
        landing += get16(file, archive_end + 7) | (get16(file, archive_end + 9) << 16);
    if (landing >= table + 8 && landing + decoy.size() <= file.size())
        file.replace(landing, decoy.size(), decoy);
    return table;
}
