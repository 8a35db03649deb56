// A minimal Windows program image for tests, and the certificate table a
// signer appends to it: enough of the PE layout for the reader to find the
// security directory, and nothing the extractor would take for an archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// `size` bytes (at least 512): a DOS header pointing at "PE\0\0", a file
// header, and a PE32+ (or PE32) optional header with 16 empty data
// directories; zeros behind it.
std::string pe_image(size_t size, bool pe32_plus = true);
// File offset of the security directory entry (index 4) of such an image.
size_t pe_security_entry(const std::string &image);
// Signs `file` (a pe_image with an archive behind it) the way a signer lays
// the signature out: zeros up to a multiple of 8, a table of table_size bytes
// (a multiple of 8, at least 8) that begins with a WIN_CERTIFICATE header,
// the security directory pointing at it. When a block walk that went on at
// the unsigned file's end would land inside the table with room for
// `decoy`, decoy is written there. Returns the table's offset.
size_t pe_append_certificate_table(std::string &file, uint32_t table_size,
                                   const std::string &decoy = "");
