// The archive writer.
//
// Layout: [stub] marker, main header, then per entry a file header and its
// packed data, and a closing end block. A compressed file's header is written
// as a placeholder the moment its piece starts to come out of the compressor
// (pieces come out strictly in file order, possibly some time after the file
// was fed) and filled in when the piece ends, once packed size and checksum
// are known; the output file is therefore written front to back with one seek
// back per entry. Encryption happens on the way out, 16 bytes at a time, with
// the cipher set up afresh for each file. Memory stays bounded by the
// compressor's buffers and one read chunk, whatever the input size.
#include "pack/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <system_error>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"
#include "pack/lz_encode.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

static_assert(method_stored + pack_level_fast == method_fastest &&
                  method_stored + pack_level_default == method_default &&
                  method_stored + pack_level_best == method_best,
              "a compressed entry's method is method_stored + its level");
constexpr size_t read_chunk = 1 << 20;
// Names tried for the temporary file before giving up: OUTPUT.tmpPID-N.
constexpr int temp_names = 100;

int seek_to(FILE *f, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(f, int64_t(offset), SEEK_SET);
#else
    return fseeko(f, off_t(offset), SEEK_SET);
#endif
}

void put16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

struct Writer {
    FILE *out;
    ExtractionContext *ctx; // CRC table and cipher state
    const ArchiveOptions *options;
    bool encrypt;
    bool failed;
    std::string error;
    uint64_t end;  // logical end of the archive written so far
    uint64_t done; // input bytes read
    uint64_t total;
    uint64_t start; // offset of the marker
    uint32_t stored;
};

// One compressed file on its way through the compressor.
struct PieceState {
    Writer *w;
    const ArchiveEntry *entry;
    uint32_t crc;
    int solid;
    bool started;
    uint64_t header_at;
    uint8_t partial[16];
    size_t partial_count;
};

void fail(Writer *w, const std::string &message) {
    if (!w->failed) {
        w->failed = true;
        w->error = message;
    }
}

void write_raw(Writer *w, const void *data, size_t n) {
    if (n == 0 || w->failed)
        return;
    if (w->end + n > max_archive_end) {
        fail(w, "the archive would reach 2 GiB, more than the setup and zqrar can read");
        return;
    }
    if (fwrite(data, 1, n, w->out) != n)
        fail(w, std::string("cannot write the archive: ") + strerror(errno));
    w->end += n;
}

std::vector<uint8_t> file_header(Writer *w, const ArchiveEntry &e, uint16_t flags,
                                 uint32_t pack_size, uint32_t file_crc, uint8_t method) {
    std::vector<uint8_t> h(file_header_size + e.name.size());
    h[2] = head_type_file;
    put16(&h[3], flags | flag_has_data);
    put16(&h[5], uint32_t(h.size()));
    put32(&h[7], pack_size);
    put32(&h[11], e.is_directory ? 0 : uint32_t(e.size));
    h[15] = host_win32;
    put32(&h[16], file_crc);
    put32(&h[20], e.dos_time);
    h[24] = unp_ver_20;
    h[25] = method;
    put16(&h[26], uint32_t(e.name.size()));
    put32(&h[28], e.attributes);
    memcpy(&h[file_header_size], e.name.data(), e.name.size());
    put16(&h[0], ~crc32_update(w->ctx, 0xFFFFFFFF, &h[2], h.size() - 2) & 0xFFFF);
    return h;
}

void patch(Writer *w, uint64_t at, const std::vector<uint8_t> &bytes) {
    if (w->failed)
        return;
    if (seek_to(w->out, at) != 0 || fwrite(bytes.data(), 1, bytes.size(), w->out) != bytes.size() ||
        seek_to(w->out, w->end) != 0)
        fail(w, std::string("cannot write the archive: ") + strerror(errno));
}

// Writes data enciphered when the archive is encrypted; partial keeps the
// bytes of an unfinished 16-byte block between calls.
void write_data(Writer *w, const uint8_t *data, size_t n, uint8_t *partial, size_t *partial_count) {
    if (!w->encrypt) {
        write_raw(w, data, n);
        return;
    }
    while (n > 0) {
        size_t take = std::min(n, 16 - *partial_count);
        memcpy(partial + *partial_count, data, take);
        *partial_count += take;
        data += take;
        n -= take;
        if (*partial_count == 16) {
            encrypt_block(w->ctx, partial);
            write_raw(w, partial, 16);
            *partial_count = 0;
        }
    }
}

void progress(Writer *w) {
    if (w->options->progress)
        w->options->progress(w->options->user, w->done, w->total, w->end - w->start);
}

// The file was examined when it was collected; should it have become
// something else since (a link, a FIFO), it is refused, not followed or
// waited for.
FILE *open_input(Writer *w, const ArchiveEntry &e) {
    std::string error;
    FILE *in = open_regular_file(e.path, false, &error);
    if (!in)
        fail(w, error);
    return in;
}

// The file's data as stored, enciphered and padded when encrypted. Returns
// the packed size; crc gets the file's checksum.
uint32_t write_stored_data(Writer *w, const ArchiveEntry &e, uint32_t *crc, bool count) {
    uint32_t c = 0xFFFFFFFF;
    uint64_t got = 0;
    uint8_t partial[16];
    size_t partial_count = 0;
    if (w->encrypt)
        init_cipher(w->ctx, w->options->password);
    if (e.size > 0) {
        FILE *in = open_input(w, e);
        if (!in)
            return 0;
        std::vector<uint8_t> buffer(read_chunk);
        size_t n;
        while (!w->failed && (n = fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            got += n;
            if (got > e.size)
                break;
            c = crc32_update(w->ctx, c, buffer.data(), n);
            write_data(w, buffer.data(), n, partial, &partial_count);
            if (count) {
                w->done += n;
                progress(w);
            }
        }
        fclose(in);
    }
    if (got != e.size)
        fail(w, e.path + " changed while it was being archived");
    uint64_t packed = got;
    if (partial_count > 0) {
        memset(partial + partial_count, 0, 16 - partial_count);
        packed += 16 - partial_count;
        encrypt_block(w->ctx, partial);
        write_raw(w, partial, 16);
    }
    *crc = ~c;
    return uint32_t(packed);
}

// A stored file's packed size: padded to whole cipher blocks when encrypted.
uint64_t stored_size(const Writer *w, uint64_t size) {
    return w->encrypt ? (size + 15) / 16 * 16 : size;
}

uint16_t data_flags(const Writer *w) {
    return uint16_t(flag_dictionary_1m | (w->encrypt ? flag_encrypted : 0));
}

void write_stored(Writer *w, const ArchiveEntry &e) {
    uint64_t header_at = w->end;
    std::vector<uint8_t> h = file_header(w, e, data_flags(w), 0, 0, method_stored);
    write_raw(w, h.data(), h.size());
    uint32_t crc = 0;
    uint32_t packed = write_stored_data(w, e, &crc, true);
    patch(w, header_at, file_header(w, e, data_flags(w), packed, crc, method_stored));
}

void piece_start(PieceState *ps) {
    Writer *w = ps->w;
    ps->started = true;
    ps->header_at = w->end;
    std::vector<uint8_t> h = file_header(w, *ps->entry, 0, 0, 0, method_stored);
    write_raw(w, h.data(), h.size());
    if (w->encrypt)
        init_cipher(w->ctx, w->options->password);
}

void piece_write(void *user, const uint8_t *data, size_t n) {
    auto *ps = static_cast<PieceState *>(user);
    if (!ps->started)
        piece_start(ps);
    write_data(ps->w, data, n, ps->partial, &ps->partial_count);
}

void piece_end(void *user, uint64_t packed_size) {
    auto *ps = static_cast<PieceState *>(user);
    Writer *w = ps->w;
    if (!ps->started)
        piece_start(ps);
    const ArchiveEntry &e = *ps->entry;
    uint64_t data_at = ps->header_at + file_header_size + e.name.size();
    if (packed_size > max_file_size) {
        fail(w, e.path + ": packed data of 2 GiB or more");
        return;
    }
    if (!w->options->solid && packed_size >= stored_size(w, e.size)) {
        // Compression did not pay: the file goes in as it is (as it also
        // does when both come out the same size, since it is quicker to
        // extract). Nothing depends on the piece in a stream that is not
        // solid.
        w->end = data_at;
        if (seek_to(w->out, data_at) != 0)
            fail(w, std::string("cannot write the archive: ") + strerror(errno));
        uint32_t crc = 0;
        uint32_t packed = write_stored_data(w, e, &crc, false);
        patch(w, ps->header_at, file_header(w, e, data_flags(w), packed, crc, method_stored));
        w->stored++;
        return;
    }
    uint16_t flags = uint16_t(data_flags(w) | (ps->solid ? flag_solid : 0));
    uint8_t method = uint8_t(method_stored + w->options->level);
    patch(w, ps->header_at, file_header(w, e, flags, uint32_t(packed_size), ps->crc, method));
}

void count_bytes(void *user, const uint8_t *, size_t n) {
    *static_cast<uint64_t *>(user) += n;
}

void ignore_end(void *, uint64_t) {}

// The file packed on its own, quickly; 0 when it cannot be read.
uint64_t packed_alone(Writer *w, const ArchiveEntry &e, uint32_t pad_to) {
    LzEncoder *trial = lz_encoder_create(pack_level_fast);
    if (!trial) {
        fail(w, "out of memory");
        return 0;
    }
    uint64_t packed = 0;
    lz_begin_file(trial, 0, pad_to, PieceSink{&packed, count_bytes, ignore_end});
    FILE *in = open_input(w, e);
    if (in) {
        std::vector<uint8_t> buffer(read_chunk);
        size_t n;
        while ((n = fread(buffer.data(), 1, buffer.size(), in)) > 0)
            lz_feed(trial, buffer.data(), n);
        fclose(in);
    }
    lz_end_file(trial);
    lz_flush(trial);
    lz_encoder_free(trial);
    return in ? packed : 0;
}

// Whether a file of a solid stream goes into the stream or is stored, by
// measurement: stored only when packing would not make it smaller. Within a
// stream a file pays for the tables that bring the stream back to the data
// around it as well as for its own. The price of sending its bytes as plain
// literals in a block of their own settles nearly every file; where even
// that saves nothing (data compressed already) the file is packed on its own,
// at the fast level that finds what long matches there are, to see whether
// they pay.
bool worth_compressing(Writer *w, const ArchiveEntry &e) {
    FILE *in = open_input(w, e);
    if (!in)
        return false;
    std::vector<uint8_t> buffer(read_chunk);
    uint32_t count[256] = {};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), in)) > 0)
        for (size_t i = 0; i < n; i++)
            count[buffer[i]]++;
    fclose(in);
    uint32_t pad_to = w->encrypt ? 16 : 1;
    uint64_t stored = stored_size(w, e.size);
    uint64_t tables = 0;
    if (literal_piece_size(count, pad_to, &tables) + tables < stored)
        return true;
    uint64_t packed = packed_alone(w, e, pad_to);
    return packed != 0 && packed + tables < stored;
}

void write_compressed(Writer *w, LzEncoder *enc, std::deque<PieceState> *states,
                      const ArchiveEntry &e) {
    states->push_back(PieceState{w, &e, 0, 0, false, 0, {}, 0});
    PieceState *ps = &states->back();
    ps->solid = lz_begin_file(enc, w->options->solid ? 1 : 0, w->encrypt ? 16 : 1,
                              PieceSink{ps, piece_write, piece_end});
    FILE *in = open_input(w, e);
    if (!in)
        return;
    std::vector<uint8_t> buffer(read_chunk);
    uint32_t c = 0xFFFFFFFF;
    uint64_t got = 0;
    size_t n;
    while (!w->failed && (n = fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        if (got + n > e.size) {
            got += n;
            break;
        }
        got += n;
        c = crc32_update(w->ctx, c, buffer.data(), n);
        lz_feed(enc, buffer.data(), n);
        w->done += n;
        progress(w);
    }
    fclose(in);
    if (got != e.size)
        fail(w, e.path + " changed while it was being archived");
    ps->crc = ~c;
    lz_end_file(enc);
}

void write_directory(Writer *w, const ArchiveEntry &e) {
    std::vector<uint8_t> h = file_header(w, e, flag_directory, 0, 0, method_stored);
    write_raw(w, h.data(), h.size());
}

void write_main_header(Writer *w) {
    write_raw(w, rar_marker, sizeof rar_marker);
    uint8_t h[main_header_size] = {};
    h[2] = head_type_main;
    put16(&h[3], w->options->solid ? main_flag_solid : 0);
    put16(&h[5], sizeof h);
    put16(&h[0], ~crc32_update(w->ctx, 0xFFFFFFFF, &h[2], sizeof h - 2) & 0xFFFF);
    write_raw(w, h, sizeof h);
}

void write_end_block(Writer *w) {
    uint8_t h[block_base_size] = {};
    h[2] = head_type_end;
    put16(&h[3], end_block_flags);
    put16(&h[5], sizeof h);
    put16(&h[0], ~crc32_update(w->ctx, 0xFFFFFFFF, &h[2], sizeof h - 2) & 0xFFFF);
    write_raw(w, h, sizeof h);
}

// Where the setup would take an archive inside the stub, or -1: the marker
// at offset 0 whatever follows it, the marker with a main header's type
// behind it anywhere, and, when the stub carries "RSFX" at offset 28, the
// older marker anywhere. The setup takes the first it meets, so ours behind
// the stub would never be read. Our archive's first bytes (marker and main
// header) neither complete a marker the stub begins nor put "RSFX" at
// offset 28 behind a shorter stub, so the stub alone decides.
int64_t marker_in_stub(const std::vector<uint8_t> &bytes) {
    size_t n = bytes.size();
    constexpr size_t older_size = sizeof older_marker;
    bool sfx = n >= sfx_signature_offset + sizeof sfx_signature &&
               memcmp(&bytes[sfx_signature_offset], sfx_signature, sizeof sfx_signature) == 0;
    for (size_t i = 0; i < n; i++) {
        if (i + marker_size <= n && memcmp(&bytes[i], rar_marker, marker_size) == 0 &&
            (i == 0 || (i + candidate_size <= n &&
                        bytes[i + marker_size + head_type_offset] == head_type_main)))
            return int64_t(i);
        if (sfx && i + older_size <= n && memcmp(&bytes[i], older_marker, older_size) == 0)
            return int64_t(i);
    }
    return -1;
}

int read_stub(const char *stub, std::vector<uint8_t> *bytes, std::string *error) {
    FILE *in = open_regular_file(stub, true, error);
    if (!in)
        return 1;
    bytes->resize(max_stub_size + 1);
    size_t n = fread(bytes->data(), 1, bytes->size(), in);
    fclose(in);
    bytes->resize(n);
    if (n > max_stub_size) {
        *error = std::string(stub) + " is too large for a stub: the setup looks for its archive" +
                 " only within its first " + std::to_string(max_stub_size) + " bytes";
        return 1;
    }
    // The setup reads its first marker_size bytes as a marker and scans only
    // behind them.
    if (n > 0 && n < size_t(marker_size)) {
        *error = std::string(stub) + " is too short for a stub (at least " +
                 std::to_string(marker_size) + " bytes)";
        return 1;
    }
    int64_t at = marker_in_stub(*bytes);
    if (at >= 0) {
        *error = std::string(stub) + " holds the marker of an archive at offset " +
                 std::to_string(at) + "; the setup would take that one for its archive";
        return 1;
    }
    return 0;
}

// The archive's size with every file stored: headers, data, and the
// padding to 16 bytes of encrypted files. Compression can only make a file
// smaller when the archive is not solid (a piece that does not pay is
// stored instead), so this bounds the archive exactly then; a solid stream
// of data that does not compress may come out a little larger, which
// write_raw stops at.
uint64_t stored_size(const std::vector<ArchiveEntry> &entries, bool encrypt) {
    uint64_t size = marker_size + main_header_size + block_base_size;
    for (const ArchiveEntry &e : entries) {
        size += file_header_size + e.name.size();
        if (!e.is_directory)
            size += encrypt ? (e.size + 15) / 16 * 16 : e.size;
    }
    return size;
}

// Creates the temporary file beside output, exclusively: a name that
// exists, a link planted there included, is never opened, only passed over.
FILE *create_temporary(const char *output, std::string *temp, std::string *error) {
    int fd = -1;
    for (int i = 0; i < temp_names && fd < 0; i++) {
        *temp = std::string(output) + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(i);
#ifdef _WIN32
        fd = _open(temp->c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        fd = open(temp->c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0666);
#endif
        if (fd < 0 && errno != EEXIST)
            break;
    }
    FILE *out = fd >= 0 ? fdopen(fd, "w+b") : nullptr;
    if (!out) {
        const char *why = strerror(errno);
        *error = std::string("cannot write ") + output +
                 ": no temporary file can be created beside it (" + why + ")";
        if (fd >= 0) {
            close(fd);
            remove(temp->c_str());
        }
    }
    return out;
}

// Cuts the file to the archive's end (a file that was stored after all
// leaves its compressed attempt behind it) and puts it on the disk before
// it takes output's place.
int finish_temporary(Writer *w) {
    int fd = fileno(w->out);
#ifdef _WIN32
    bool ok = _chsize_s(fd, int64_t(w->end)) == 0 && _commit(fd) == 0;
#else
    bool ok = ftruncate(fd, off_t(w->end)) == 0 && fsync(fd) == 0;
#endif
    return ok ? 0 : -1;
}

} // namespace

int write_archive(const char *output, const std::vector<ArchiveEntry> &entries,
                  const ArchiveOptions &options, ArchiveSummary *summary, std::string *error) {
    ArchiveSummary local{};
    Writer w{};
    w.options = &options;
    w.encrypt = options.password && options.password[0];
    if (w.encrypt && strlen(options.password) > 127) {
        *error = "the password is longer than 127 characters";
        return 1;
    }
    std::error_code ec;
    fs::file_status existing = fs::symlink_status(output, ec);
    if (fs::exists(existing) && !fs::is_regular_file(existing) && !fs::is_symlink(existing)) {
        *error = std::string(output) + " exists and is not a regular file; it is not replaced";
        return 1;
    }
    std::vector<uint8_t> stub;
    if (options.stub && read_stub(options.stub, &stub, error) != 0)
        return 1;
    uint64_t bound = stub.size() + stored_size(entries, w.encrypt);
    if (bound > max_archive_end) {
        *error = "the archive would reach 2 GiB (" + std::to_string(bound) +
                 " bytes with every file stored), more than the setup and zqrar can read";
        return 1;
    }
    for (const ArchiveEntry &e : entries)
        w.total += e.size;
    std::string temp;
    w.out = create_temporary(output, &temp, error);
    if (!w.out)
        return 1;
    w.ctx = new_extraction_context();
    LzEncoder *enc = lz_encoder_create(options.level);
    if (!w.ctx || !enc)
        fail(&w, "out of memory");
    std::deque<PieceState> states;
    write_raw(&w, stub.data(), stub.size());
    w.start = w.end;
    if (!w.failed)
        write_main_header(&w);
    for (const ArchiveEntry &e : entries) {
        if (w.failed)
            break;
        if (e.is_directory) {
            lz_flush(enc);
            write_directory(&w, e);
            local.directories++;
            continue;
        }
        local.files++;
        local.input_bytes += e.size;
        if (e.size == 0 || (options.solid && !worth_compressing(&w, e))) {
            lz_flush(enc);
            write_stored(&w, e);
            w.stored++;
        } else {
            write_compressed(&w, enc, &states, e);
        }
    }
    if (enc && !w.failed)
        lz_flush(enc);
    if (!w.failed)
        write_end_block(&w);
    lz_encoder_free(enc);
    free_extraction_context(w.ctx);
    if (fflush(w.out) != 0 || ferror(w.out) || finish_temporary(&w) != 0)
        fail(&w, std::string("cannot write the archive: ") + strerror(errno));
    if (fclose(w.out) != 0)
        fail(&w, std::string("cannot write the archive: ") + strerror(errno));
    if (!w.failed) {
        fs::rename(temp, output, ec);
        if (ec)
            fail(&w, std::string("cannot write ") + output + ": " + ec.message());
    }
    if (w.failed) {
        fs::remove(temp, ec);
        *error = w.error;
        return 1;
    }
    local.archive_bytes = w.end - w.start;
    local.stored = w.stored;
    if (summary)
        *summary = local;
    return 0;
}
