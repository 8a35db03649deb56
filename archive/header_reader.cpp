// Header reader: finds the archive inside a file and walks its blocks.
//
// locate_archive either sees the marker at offset 0 or scans one buffer of
// the file's first quarter megabyte for it in memory, so finding an archive
// behind a program image costs a single read. read_next_file_header then
// steps from block to block by head_size (+ add_size), seeking over every
// block it does not want; block positions strictly increase, so a hostile
// archive cannot make it loop, and every byte it decodes comes from a
// zero-filled local buffer of the full header width, so a short read never
// exposes bytes outside what was read.
//
// The archive ends at archive_end: the file's end, or the certificate table
// a signer appends behind the archive (named by the security directory of
// the image's own PE header). A walk that reaches it exactly, or only the
// signer's zero padding before the table, has found the end; a block of
// which only a part lies before it (a cut download) is a damaged archive,
// never taken for the end, so that no entry can silently go missing. Block
// positions are signed 32-bit: a block that would begin at 2 GiB or beyond
// fails the walk, also when the file goes on there.
//
// A file header's data follows its header and name (flag_has_data,
// head_size at least 32 + name_size); one without data, or whose data
// would begin inside the header, is damaged: otherwise any number of small
// headers could point back at one stream of packed data.
#include "archive/header_reader.h"

#include <cstdlib>
#include <cstring>

#include "archive/crc.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"
#include "archive/stream.h"

constexpr int32_t max_name_size = path_buffer_size - 1;
// The signer pads the file with zeros to a multiple of 8 before its table.
constexpr int32_t max_signature_padding = 7;
constexpr uint16_t pe32_magic = 0x10B;
constexpr uint16_t pe32_plus_magic = 0x20B;
constexpr uint32_t security_directory = 4;

static uint16_t get16(const uint8_t *p) {
    return uint16_t(p[0] | (p[1] << 8));
}

static uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool is_path_separator(char c) {
    return c == '\\' || c == '/';
}

int32_t read_fixed_header(ExtractionContext *ctx, uint8_t type, int32_t limit) {
    int32_t size = type == head_type_main ? main_header_size : file_header_size;
    uint8_t bytes[file_header_size] = {};
    int32_t count = read_stream(ctx->archive_stream, bytes, limit < size ? limit : size);
    if (type == head_type_main) {
        MainHeader &h = ctx->main_header;
        h.head_crc = get16(bytes);
        h.head_type = bytes[2];
        h.head_flags = get16(bytes + 3);
        h.head_size = get16(bytes + 5);
        h.reserved1 = get16(bytes + 7);
        h.reserved2 = get32(bytes + 9);
    } else {
        FileHeader &h = ctx->file_header;
        h.head_crc = get16(bytes);
        h.head_type = bytes[2];
        h.head_flags = get16(bytes + 3);
        h.head_size = get16(bytes + 5);
        h.pack_size = get32(bytes + 7);
        h.unp_size = get32(bytes + 11);
        h.host_os = bytes[15];
        h.file_crc = get32(bytes + 16);
        h.file_time = get32(bytes + 20);
        h.unp_ver = bytes[24];
        h.method = bytes[25];
        h.name_size = get16(bytes + 26);
        h.attributes = get32(bytes + 28);
    }
    ctx->header_crc =
        crc32_update(ctx, 0xFFFFFFFFu, bytes + head_type_offset, size_t(size - head_type_offset));
    return count;
}

// Takes the candidate at file offset `offset`: reads the marker (RAR 2.x
// only) and the main header there. A candidate whose main header is cut
// short by the end of the file is not an archive.
static bool take_candidate(ExtractionContext *ctx, int32_t offset, int32_t format) {
    seek_stream(ctx->archive_stream, offset, seek_from_start);
    if (format == archive_format_rar2 &&
        read_stream(ctx->archive_stream, ctx->marker, marker_size) != marker_size)
        return false;
    if (read_fixed_header(ctx, head_type_main, main_header_size) != main_header_size)
        return false;
    ctx->archive_format = format;
    ctx->archive_offset = offset;
    if (format == archive_format_rar2 && (ctx->main_header.head_flags & main_flag_volume))
        ctx->archive_kind = archive_kind_volume;
    else
        ctx->archive_kind = archive_kind_behind_data;
    return true;
}

// Scans file offsets marker_size to scan_end - 1 for the first acceptable
// marker. `base` is the file offset of scan[0].
static void scan_for_archive(ExtractionContext *ctx, const uint8_t *scan, int32_t got,
                             int32_t base) {
    constexpr int32_t signature_size = int32_t(sizeof sfx_signature);
    constexpr int32_t older_size = int32_t(sizeof older_marker);
    int32_t sfx_at = sfx_signature_offset - base;
    bool has_sfx = sfx_at >= 0 && sfx_at + signature_size <= got &&
                   memcmp(scan + sfx_at, sfx_signature, signature_size) == 0;
    int32_t i = 0;
    // Both markers begin with the same byte, which the search looks for.
    static_assert(rar_marker[0] == older_marker[0], "one byte starts every candidate");
    while (i < got && ctx->archive_kind == archive_kind_none) {
        const void *found = memchr(scan + i, rar_marker[0], size_t(got - i));
        if (!found)
            break;
        i = int32_t(static_cast<const uint8_t *>(found) - scan);
        if (has_sfx && i + older_size <= got && memcmp(scan + i, older_marker, older_size) == 0 &&
            take_candidate(ctx, base + i, archive_format_older))
            break;
        if (i + candidate_size <= got && memcmp(scan + i, rar_marker, marker_size) == 0 &&
            scan[i + marker_size + head_type_offset] == head_type_main &&
            take_candidate(ctx, base + i, archive_format_rar2))
            break;
        i++;
    }
}

// Reads count bytes at offset when they all lie within the file's first
// `size` bytes.
static bool read_at(FILE *stream, int64_t offset, uint8_t *bytes, int32_t count, int32_t size) {
    return offset >= 0 && offset + count <= size &&
           seek_stream(stream, int32_t(offset), seek_from_start) == 0 &&
           read_stream(stream, bytes, count) == count;
}

// File offset of the certificate table that the security directory of the
// file's PE header names (PE32 or PE32+), or -1 when the file is no such
// image or the directory does not describe a table within the file. Every
// field is read from within the file.
static int64_t certificate_table_at(FILE *stream, int32_t size) {
    uint8_t dos[64];
    if (!read_at(stream, 0, dos, sizeof dos, size) || dos[0] != 'M' || dos[1] != 'Z')
        return -1;
    int64_t pe = get32(dos + 0x3C);
    // "PE\0\0", the file header, and the optional header's magic.
    uint8_t head[26];
    if (!read_at(stream, pe, head, sizeof head, size) || memcmp(head, "PE\0\0", 4) != 0)
        return -1;
    int64_t optional = pe + 24;
    uint16_t optional_size = get16(head + 20);
    uint16_t magic = get16(head + 24);
    int64_t directories = magic == pe32_magic ? 96 : magic == pe32_plus_magic ? 112 : -1;
    int64_t entry_at = directories + 8 * security_directory;
    uint8_t count[4], entry[8];
    if (directories < 0 || entry_at + 8 > optional_size ||
        !read_at(stream, optional + directories - 4, count, 4, size) ||
        get32(count) <= security_directory || !read_at(stream, optional + entry_at, entry, 8, size))
        return -1;
    int64_t table = get32(entry), length = get32(entry + 4);
    if (table == 0 || length == 0 || table + length > size)
        return -1;
    return table;
}

// Sets archive_end: the certificate table when it begins behind the
// archive's start, else the file's end (a table anywhere else is no
// signature of this archive). False when that end cuts the main header, or
// the file's size cannot be told. Leaves the stream where it was.
static bool find_archive_end(ExtractionContext *ctx) {
    int32_t header_end = tell_stream(ctx->archive_stream);
    int64_t size = stream_size(ctx->archive_stream);
    if (size < 0)
        return false;
    // A table that reaches beyond 2 GiB is none of this archive's: the
    // search stays where positions are 32-bit.
    int64_t table =
        certificate_table_at(ctx->archive_stream, int32_t(size < INT32_MAX ? size : INT32_MAX));
    ctx->archive_end = size;
    if (table > ctx->archive_offset) {
        ctx->archive_end = table;
        ctx->certificate_table = int32_t(table);
    }
    seek_stream(ctx->archive_stream, header_end, seek_from_start);
    return header_end <= ctx->archive_end;
}

int32_t locate_archive(ExtractionContext *ctx) {
    ctx->archive_kind = archive_kind_none;
    ctx->archive_offset = 0;
    ctx->main_header_damaged = 0;
    ctx->archive_format = archive_format_none;
    ctx->archive_end = 0;
    ctx->certificate_table = 0;
    if (read_stream(ctx->archive_stream, ctx->marker, marker_size) != marker_size)
        return archive_kind_none;
    if (memcmp(ctx->marker, rar_marker, marker_size) == 0) {
        if (read_fixed_header(ctx, head_type_main, main_header_size) != main_header_size)
            return archive_kind_none;
        ctx->archive_format = archive_format_rar2;
        ctx->archive_kind = (ctx->main_header.head_flags & main_flag_volume)
                                ? archive_kind_volume
                                : archive_kind_at_start;
    } else {
        uint8_t *scan = static_cast<uint8_t *>(calloc(scan_buffer_size, 1));
        if (!scan)
            return archive_kind_none;
        int32_t base = tell_stream(ctx->archive_stream);
        int32_t got = read_stream(ctx->archive_stream, scan, scan_read_size);
        scan_for_archive(ctx, scan, got, base);
        free(scan);
        if (ctx->archive_kind == archive_kind_none)
            return archive_kind_none;
    }
    if (!find_archive_end(ctx)) {
        ctx->archive_kind = archive_kind_none;
        return archive_kind_none;
    }
    if (((~ctx->header_crc) & 0xFFFF) != ctx->main_header.head_crc)
        ctx->main_header_damaged = 1;
    return ctx->archive_kind;
}

// True when the `room` bytes left before the certificate table are the
// signer's zero padding; otherwise the stream is left where it was.
static bool signature_padding(ExtractionContext *ctx, int32_t start, int64_t room) {
    if (!ctx->certificate_table || room > max_signature_padding)
        return false;
    uint8_t bytes[max_signature_padding] = {};
    bool zeros = read_stream(ctx->archive_stream, bytes, int32_t(room)) == room;
    for (int64_t i = 0; i < room; i++)
        zeros = zeros && bytes[i] == 0;
    if (!zeros)
        seek_stream(ctx->archive_stream, start, seek_from_start);
    return zeros;
}

// The header of the block at the stream's position (block_start) and where
// the next block begins (next_block). Returns the count read, 0 at the end
// of the archive, -1 when the block is only partly there or its size points
// beyond the archive: a damaged or cut archive. A file header whose data
// alone runs past the end is returned; its entry cannot be complete.
static int32_t read_block(ExtractionContext *ctx, bool *wanted, int32_t request) {
    const FileHeader &h = ctx->file_header;
    int32_t start = tell_stream(ctx->archive_stream);
    ctx->block_start = start;
    int64_t room = int64_t(ctx->archive_end) - start;
    if (start < 0 || room < 0)
        return -1;
    if (room == 0 || signature_padding(ctx, start, room))
        return 0;
    if (start > INT32_MAX - block_base_size)
        return -1;
    // Blocks shorter than a file header may end the archive: only what is
    // left of it is read, and the rest decodes as zeros.
    int32_t limit = room < file_header_size ? int32_t(room) : file_header_size;
    int32_t count = read_fixed_header(ctx, head_type_file, limit);
    if (count < limit || count < block_base_size)
        return -1;
    if (h.head_size < block_base_size)
        return 0;
    bool has_data = (h.head_flags & flag_has_data) != 0;
    *wanted = h.head_type == (request & 0xFF) ||
              (h.head_type == head_type_subblock && (request & request_subblocks));
    if (*wanted && h.head_type == head_type_file &&
        (!has_data || h.head_size < file_header_size + h.name_size))
        return -1;
    int64_t needed = h.head_size;
    if (has_data && needed < long_block_base_size)
        needed = long_block_base_size;
    int64_t next = int64_t(start) + h.head_size + (has_data ? h.pack_size : 0);
    if (needed > room || next > INT32_MAX ||
        (next > ctx->archive_end && !(*wanted && h.head_type == head_type_file)))
        return -1;
    ctx->next_block = int32_t(next);
    return count;
}

int32_t read_next_file_header(ExtractionContext *ctx, int32_t request) {
    ctx->file_header_damaged = 0;
    const FileHeader previous = ctx->file_header;
    const FileHeader &h = ctx->file_header;
    int32_t count = 0;
    for (;;) {
        bool wanted = false;
        count = read_block(ctx, &wanted, request);
        if (count <= 0 || wanted)
            break;
        seek_stream(ctx->archive_stream, ctx->next_block, seek_from_start);
    }

    BlockHeader &b = ctx->block_header;
    b.head_crc = h.head_crc;
    b.head_type = h.head_type;
    b.head_flags = h.head_flags;
    b.head_size = h.head_size;
    b.add_size = (h.head_flags & flag_has_data) ? h.pack_size : 0;

    if (count <= 0 || h.head_type != head_type_file) {
        ctx->file_header = previous;
        seek_stream(ctx->archive_stream, ctx->block_start, seek_from_start);
        return count;
    }

    if (ctx->file_header.name_size > max_name_size)
        ctx->file_header.name_size = max_name_size;
    int32_t name_size = h.name_size;
    // Zero-filled first, so nothing of the previous entry's name is left.
    memset(ctx->file_name, 0, sizeof ctx->file_name);
    // The name lies before archive_end (read_block made sure); a short read
    // here is a failing or changing file.
    if (read_stream(ctx->archive_stream, ctx->file_name, name_size) != name_size)
        return -1;
    if (ctx->archive_format == archive_format_rar2) {
        uint32_t crc = crc32_update(ctx, ctx->header_crc, ctx->file_name, size_t(name_size));
        if (((~crc) & 0xFFFF) != h.head_crc)
            ctx->file_header_damaged = 1;
    }
    normalize_entry(ctx);
    return count + name_size;
}

// Entries of other systems get just the directory or the archive attribute.
static uint32_t plain_attributes(const FileHeader &h) {
    return (h.head_flags & flag_directory) == flag_directory ? attribute_directory
                                                             : attribute_archive;
}

void normalize_entry(ExtractionContext *ctx) {
    FileHeader &h = ctx->file_header;
    if (h.host_os > host_unix) {
        h.host_os = host_msdos;
        h.attributes = plain_attributes(h);
    }
    for (char *c = ctx->file_name; *c; c++)
        if (is_path_separator(*c))
            *c = '\\';
}

void normalize_attributes(ExtractionContext *ctx) {
    FileHeader &h = ctx->file_header;
    if (h.host_os > host_win32)
        h.attributes = plain_attributes(h);
}
