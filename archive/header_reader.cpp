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
#include "archive/header_reader.h"

#include <cstdlib>
#include <cstring>

#include "archive/crc.h"
#include "archive/extraction_context.h"
#include "archive/stream.h"

static const uint8_t rar_marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
static const uint8_t older_marker[4] = {0x52, 0x45, 0x7E, 0x5E};
static const uint8_t sfx_signature[4] = {0x52, 0x53, 0x46, 0x58}; // "RSFX"

constexpr int32_t scan_buffer_size = 250000;
constexpr int32_t scan_read_size = 249999;
constexpr int32_t sfx_signature_offset = 28;
constexpr int32_t main_header_bytes = 13;
constexpr int32_t file_header_bytes = 32;
constexpr int32_t max_name_size = path_buffer_size - 1;

static uint16_t get16(const uint8_t *p) {
    return uint16_t(p[0] | (p[1] << 8));
}

static uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool is_path_separator(char c) {
    return c == '\\' || c == '/';
}

int32_t read_fixed_header(ExtractionContext *ctx, uint8_t type) {
    int32_t size = type == head_type_main ? main_header_bytes : file_header_bytes;
    uint8_t bytes[file_header_bytes] = {};
    int32_t count = read_stream(ctx->archive_stream, bytes, size);
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
    ctx->header_crc = crc32_update(ctx, 0xFFFFFFFFu, bytes + 2, size_t(size - 2));
    return count;
}

// Takes the candidate at file offset `offset`: reads the marker (RAR 2.x
// only) and the main header there. A candidate whose main header is cut
// short by the end of the file is not an archive.
static bool take_candidate(ExtractionContext *ctx, int32_t offset, int32_t format) {
    seek_stream(ctx->archive_stream, offset, 0);
    if (format == 2 && read_stream(ctx->archive_stream, ctx->marker, 7) != 7)
        return false;
    if (read_fixed_header(ctx, head_type_main) != main_header_bytes)
        return false;
    ctx->archive_format = format;
    ctx->archive_offset = offset;
    if (format == 2 && (ctx->main_header.head_flags & 0x0001))
        ctx->archive_kind = 2;
    else
        ctx->archive_kind = 3;
    return true;
}

// Scans file offsets 7 to 250,005 for the first acceptable marker. `base` is
// the file offset of scan[0].
static void scan_for_archive(ExtractionContext *ctx, const uint8_t *scan, int32_t got,
                             int32_t base) {
    int32_t sfx_at = sfx_signature_offset - base;
    bool has_sfx = sfx_at >= 0 && sfx_at + 4 <= got && memcmp(scan + sfx_at, sfx_signature, 4) == 0;
    int32_t i = 0;
    while (i < got && ctx->archive_kind == 0) {
        const void *found = memchr(scan + i, 'R', size_t(got - i));
        if (!found)
            break;
        i = int32_t(static_cast<const uint8_t *>(found) - scan);
        if (has_sfx && i + 4 <= got && memcmp(scan + i, older_marker, 4) == 0 &&
            take_candidate(ctx, base + i, 1))
            break;
        if (i + 10 <= got && memcmp(scan + i, rar_marker, 7) == 0 &&
            scan[i + 9] == head_type_main && take_candidate(ctx, base + i, 2))
            break;
        i++;
    }
}

int32_t locate_archive(ExtractionContext *ctx) {
    ctx->archive_kind = 0;
    ctx->archive_offset = 0;
    ctx->main_header_damaged = 0;
    ctx->archive_format = 0;
    if (read_stream(ctx->archive_stream, ctx->marker, 7) != 7)
        return 0;
    if (memcmp(ctx->marker, rar_marker, 7) == 0) {
        if (read_fixed_header(ctx, head_type_main) != main_header_bytes)
            return 0;
        ctx->archive_format = 2;
        ctx->archive_kind = (ctx->main_header.head_flags & 0x0001) ? 2 : 1;
    } else {
        uint8_t *scan = static_cast<uint8_t *>(calloc(scan_buffer_size, 1));
        if (!scan)
            return 0;
        int32_t base = tell_stream(ctx->archive_stream);
        int32_t got = read_stream(ctx->archive_stream, scan, scan_read_size);
        scan_for_archive(ctx, scan, got, base);
        free(scan);
        if (ctx->archive_kind == 0)
            return 0;
    }
    if (((~ctx->header_crc) & 0xFFFF) != ctx->main_header.head_crc)
        ctx->main_header_damaged = 1;
    return ctx->archive_kind;
}

// Position of the block after the one at `start`, or -1 when it would not lie
// beyond `start` within the signed 32-bit file range.
static int32_t block_after(int32_t start, const FileHeader &h) {
    int64_t next = int64_t(start) + h.head_size;
    if (h.head_flags & 0x8000)
        next += h.pack_size;
    if (next <= start || next > INT32_MAX)
        return -1;
    return int32_t(next);
}

int32_t read_next_file_header(ExtractionContext *ctx, int32_t request) {
    ctx->file_header_damaged = 0;
    const FileHeader previous = ctx->file_header;
    const FileHeader &h = ctx->file_header;
    int32_t count = 0;
    for (;;) {
        ctx->block_start = tell_stream(ctx->archive_stream);
        count = read_fixed_header(ctx, head_type_file);
        if (count < file_header_bytes || h.head_size < 7) {
            count = 0;
            break;
        }
        int32_t next = block_after(ctx->block_start, h);
        if (next < 0) {
            count = 0;
            break;
        }
        ctx->next_block = next;
        if (h.head_type == (request & 0xFF) ||
            (h.head_type == head_type_subblock && (request & 0x8000)))
            break;
        seek_stream(ctx->archive_stream, next, 0);
    }

    BlockHeader &b = ctx->block_header;
    b.head_crc = h.head_crc;
    b.head_type = h.head_type;
    b.head_flags = h.head_flags;
    b.head_size = h.head_size;
    b.add_size = (h.head_flags & 0x8000) ? h.pack_size : 0;

    if (count == 0 || h.head_type != head_type_file) {
        ctx->file_header = previous;
        seek_stream(ctx->archive_stream, ctx->block_start, 0);
        return count;
    }

    if (ctx->file_header.name_size > max_name_size)
        ctx->file_header.name_size = max_name_size;
    int32_t name_size = h.name_size;
    // Zero-filled first, so a name cut short by the end of the file is checked
    // and used as read, with nothing left from the previous entry.
    memset(ctx->file_name, 0, sizeof ctx->file_name);
    read_stream(ctx->archive_stream, ctx->file_name, name_size);
    if (ctx->archive_format == 2) {
        uint32_t crc = crc32_update(ctx, ctx->header_crc, ctx->file_name, size_t(name_size));
        if (((~crc) & 0xFFFF) != h.head_crc)
            ctx->file_header_damaged = 1;
    }
    normalize_entry(ctx);
    return count + name_size;
}

// Entries of other systems get just the directory or the archive attribute.
static uint32_t plain_attributes(const FileHeader &h) {
    return (h.head_flags & 0xE0) == 0xE0 ? 0x10 : 0x20;
}

void normalize_entry(ExtractionContext *ctx) {
    FileHeader &h = ctx->file_header;
    if (h.host_os > 3) {
        h.host_os = 0;
        h.attributes = plain_attributes(h);
    }
    for (char *c = ctx->file_name; *c; c++)
        if (is_path_separator(*c))
            *c = '\\';
}

void normalize_attributes(ExtractionContext *ctx) {
    FileHeader &h = ctx->file_header;
    if (h.host_os > 2)
        h.attributes = plain_attributes(h);
}
