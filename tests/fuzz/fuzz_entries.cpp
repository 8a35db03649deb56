// The fuzz targets' work: each entry function feeds arbitrary bytes to one
// path of the extractor and checks what must hold for every input.
//
// The header walk and the decoder read the bytes through an in-memory stream
// that behaves like a file (seeks anywhere, reads end at its size), so they
// run without touching the disk. The whole extraction writes the bytes to a
// real file under a temporary host root and extracts into D:\T there; after
// each run the root must hold nothing but that file and the target folder,
// and the target is emptied through the host layer so that nothing of one
// input carries over to the next.
#include "tests/fuzz/fuzz_entries.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "archive/header_reader.h"
#include "archive/stream.h"
#include "pack/lz_encode.h"
#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/winmodel/dialog.h"
#include "unpack/lz_decode.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQ_FUZZ_HEAP_HOOKS 1
#include <sanitizer/allocator_interface.h>
#endif
#endif

// A decoded entry may run past its size by the rest of its last match.
constexpr uint64_t longest_match = 260;
constexpr size_t peak_heap_limit = 8u << 20;

[[noreturn]] static void fuzz_fail(const char *what) {
    fprintf(stderr, "fuzz invariant broken: %s\n", what);
    abort();
}

struct MemoryFile {
    const uint8_t *data;
    size_t size;
    int64_t position;
    uint64_t written;
    int64_t read_end; // one past the furthest byte read so far
};

static ssize_t memory_read(void *cookie, char *buffer, size_t count) {
    MemoryFile *file = static_cast<MemoryFile *>(cookie);
    if (file->position >= int64_t(file->size))
        return 0;
    size_t n = file->size - size_t(file->position);
    if (n > count)
        n = count;
    memcpy(buffer, file->data + file->position, n);
    file->position += int64_t(n);
    if (file->position > file->read_end)
        file->read_end = file->position;
    return ssize_t(n);
}

static ssize_t memory_write(void *cookie, const char *, size_t count) {
    static_cast<MemoryFile *>(cookie)->written += count;
    return ssize_t(count);
}

static int memory_seek(void *cookie, off64_t *offset, int whence) {
    MemoryFile *file = static_cast<MemoryFile *>(cookie);
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? file->position
                                        : int64_t(file->size);
    if (base + *offset < 0)
        return -1;
    file->position = base + *offset;
    *offset = file->position;
    return 0;
}

static int memory_close(void *) {
    return 0;
}

// Reads like a file of the given bytes; writes are counted and dropped.
static FILE *open_memory(MemoryFile *file, const char *mode) {
    cookie_io_functions_t io = {memory_read, memory_write, memory_seek, memory_close};
    return fopencookie(file, mode, io);
}

static ExtractionContext *new_context() {
    ExtractionContext *ctx = static_cast<ExtractionContext *>(calloc(1, sizeof *ctx));
    if (!ctx)
        fuzz_fail("no memory for the record");
    for (int i = 0; i < 4; ++i)
        ctx->channel_tables[i] = &ctx->channel_storage[i];
    build_crc_table(ctx);
    return ctx;
}

int fuzz_header_walk(const uint8_t *data, size_t size) {
    ExtractionContext *ctx = new_context();
    MemoryFile file = {data, size, 0, 0, 0};
    ctx->archive_stream = open_memory(&file, "rb");
    // Unbuffered, so that every read the reader asks for is what the file
    // sees, with no read-ahead.
    setvbuf(ctx->archive_stream, nullptr, _IONBF, 0);
    if (locate_archive(ctx) != 0) {
        // The older format has no marker block of its own before the header.
        size_t header_end = size_t(ctx->archive_offset) + (ctx->archive_format == 2 ? 20 : 13);
        if (ctx->archive_offset < 0 || header_end > size_t(ctx->archive_end) ||
            size_t(ctx->archive_end) > size)
            fuzz_fail("archive found where its headers do not fit");
        if (ctx->certificate_table && ctx->certificate_table != ctx->archive_end)
            fuzz_fail("a signed archive does not end at its certificate table");
        file.read_end = 0;
        if (ctx->main_header.head_size > 13)
            seek_stream(ctx->archive_stream, ctx->main_header.head_size - 13, 1);
        int32_t previous_start = -1;
        size_t blocks = 0;
        while (read_next_file_header(ctx, request_file_or_subblock) > 0) {
            // Every header lies within the archive and steps at least 7 on.
            if (ctx->block_start <= previous_start || ctx->next_block <= ctx->block_start)
                fuzz_fail("block walk does not move forward");
            if (++blocks > size / 7 + 1)
                fuzz_fail("more blocks than the bytes can hold");
            if (memchr(ctx->file_name, 0, sizeof ctx->file_name) == nullptr)
                fuzz_fail("file name without its NUL");
            if (ctx->block_header.head_type == head_type_file) {
                if (strchr(ctx->file_name, '/') || ctx->file_header.name_size > 259)
                    fuzz_fail("file name not normalised");
                normalize_attributes(ctx);
                if (ctx->file_header.host_os > 3)
                    fuzz_fail("host system not normalised");
            }
            previous_start = ctx->block_start;
            seek_stream(ctx->archive_stream, ctx->next_block, 0);
        }
        if (file.read_end > ctx->archive_end)
            fuzz_fail("the walk read beyond the archive's end");
    }
    close_stream(ctx->archive_stream);
    free(ctx);
    return 0;
}

static uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The entries of one stream, decoded in order into a shared window; every
// entry's output is counted and must stop at its size plus the rest of its
// last match.
static void unpack_entries(ExtractionContext *ctx, const uint8_t *data, size_t size) {
    if (size < 1)
        return;
    int entries = (data[0] & 3) + 1;
    bool solid_after_first = data[0] & 4;
    bool first_solid = data[0] & 8;
    size_t at = 1;
    uint32_t unp_size[4];
    size_t packed_length[4];
    for (int i = 0; i < entries; ++i) {
        if (at + 6 > size)
            return;
        unp_size[i] = get32(data + at);
        packed_length[i] = size_t(data[at + 4] | (data[at + 5] << 8));
        at += 6;
    }
    // One window for the whole process: allocating 2 MiB per input would cost
    // more than most inputs take to decode. A non-solid first entry clears it;
    // a solid one must not see the previous input's bytes.
    static uint8_t *window = static_cast<uint8_t *>(calloc(1, window_size));
    if (!window)
        fuzz_fail("no memory for the window");
    if (first_solid)
        memset(window, 0, window_size);
    ctx->archive_format = 2;
    for (int i = 0; i < entries; ++i) {
        size_t left = size - at;
        size_t length = i + 1 == entries || packed_length[i] > left ? left : packed_length[i];
        MemoryFile input = {data + at, length, 0, 0, 0};
        MemoryFile output = {nullptr, 0, 0, 0, 0};
        at += length;
        ctx->input_stream = open_memory(&input, "rb");
        ctx->output_stream = open_memory(&output, "wb");
        ctx->packed_left = int32_t(length);
        ctx->unpacked_left = int32_t(unp_size[i]);
        ctx->decode_only = 0;
        ctx->file_checksum = 0xFFFFFFFFu;
        if (ctx->cipher_version)
            init_cipher(ctx, ctx->password);
        unpack_file(ctx, window, i == 0 ? first_solid : solid_after_first);
        fflush(ctx->output_stream);
        if (ctx->window_pos > window_mask || ctx->flush_pos != ctx->window_pos)
            fuzz_fail("window positions out of step after an entry");
        if (ctx->input_pos >= uint32_t(input_buffer_size))
            fuzz_fail("bit input beyond its buffer");
        if (unp_size[i] < 0x80000000u && output.written > uint64_t(unp_size[i]) + longest_match)
            fuzz_fail("decoder wrote beyond the entry's size");
        close_stream(ctx->input_stream);
        close_stream(ctx->output_stream);
        ctx->input_stream = nullptr;
        ctx->output_stream = nullptr;
    }
}

int fuzz_unpack(const uint8_t *data, size_t size) {
    ExtractionContext *ctx = new_context();
    unpack_entries(ctx, data, size);
    free(ctx);
    return 0;
}

int fuzz_cipher_unpack(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    size_t length = data[0] & 15;
    if (1 + length > size)
        return 0;
    ExtractionContext *ctx = new_context();
    memcpy(ctx->password, data + 1, length);
    // A password ends at its first NUL, as the driver's copy does.
    ctx->cipher_version = 20;
    unpack_entries(ctx, data + 1 + length, size - 1 - length);
    free(ctx);
    return 0;
}

// Bit by bit, independent of the product's table-driven code.
static uint32_t reference_crc32(const uint8_t *data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static ssize_t capture_write(void *cookie, const char *buffer, size_t count) {
    static_cast<std::string *>(cookie)->append(buffer, count);
    return ssize_t(count);
}

// A stream whose writes land in text.
static FILE *open_capture(std::string *text) {
    cookie_io_functions_t io = {nullptr, capture_write, nullptr, memory_close};
    return fopencookie(text, "wb", io);
}

static void append_piece(void *user, const uint8_t *data, size_t n) {
    static_cast<std::string *>(user)->append(reinterpret_cast<const char *>(data), n);
}

static void piece_done(void *, uint64_t) {}

static const char round_trip_password[] = "q4!Wm9#z";

int fuzz_round_trip(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    // One encoder per level for the whole process, as the archive writer
    // keeps one for a whole archive: each input begins with a fresh stream.
    static const int levels[3] = {pack_level_fast, pack_level_default, pack_level_best};
    static LzEncoder *encoders[3];
    int choice = data[0] % 3;
    if (!encoders[choice] && !(encoders[choice] = lz_encoder_create(levels[choice])))
        fuzz_fail("no memory for the encoder");
    LzEncoder *encoder = encoders[choice];
    int files = ((data[0] >> 2) & 3) + 1;
    int later_solid = (data[0] & 0x10) ? 1 : 0;
    // Enciphered pieces go through the decoder's deciphering input, as the
    // packer seals them: padded to 16, the cipher set up afresh per piece.
    bool sealed = data[0] & 0x40;
    uint32_t pad_to = (data[0] & 0x20) || sealed ? 16 : 1;
    const uint8_t *payload = data + 1;
    size_t payload_size = size - 1;

    std::string pieces[4];
    int solid[4];
    size_t start[5];
    for (int i = 0; i <= files; ++i)
        start[i] = payload_size * size_t(i) / size_t(files);
    for (int i = 0; i < files; ++i) {
        solid[i] = lz_begin_file(encoder, i == 0 ? 0 : later_solid, pad_to,
                                 PieceSink{&pieces[i], append_piece, piece_done});
        lz_feed(encoder, payload + start[i], start[i + 1] - start[i]);
        lz_end_file(encoder);
    }
    lz_flush(encoder);

    static uint8_t *window = static_cast<uint8_t *>(calloc(1, window_size));
    ExtractionContext *ctx = new_context();
    if (!window)
        fuzz_fail("no memory for the window");
    ctx->archive_format = 2;
    ExtractionContext *sealer = sealed ? new_context() : nullptr;
    for (int i = 0; i < files; ++i) {
        if (pieces[i].size() % pad_to != 0 || pieces[i].size() > 0x7FFFFFFF)
            fuzz_fail("packed piece not padded as asked");
        if (sealed) {
            init_cipher(sealer, round_trip_password);
            for (size_t at = 0; at < pieces[i].size(); at += 16)
                encrypt_block(sealer, reinterpret_cast<uint8_t *>(&pieces[i][at]));
            init_cipher(ctx, round_trip_password);
            ctx->cipher_version = 20;
        }
        std::string output;
        MemoryFile input = {reinterpret_cast<const uint8_t *>(pieces[i].data()), pieces[i].size(),
                            0, 0, 0};
        ctx->input_stream = open_memory(&input, "rb");
        ctx->output_stream = open_capture(&output);
        ctx->packed_left = int32_t(pieces[i].size());
        ctx->unpacked_left = int32_t(start[i + 1] - start[i]);
        ctx->decode_only = 0;
        ctx->file_checksum = 0xFFFFFFFFu;
        unpack_file(ctx, window, solid[i]);
        close_stream(ctx->input_stream);
        close_stream(ctx->output_stream);
        if (output.size() != start[i + 1] - start[i] ||
            memcmp(output.data(), payload + start[i], output.size()) != 0)
            fuzz_fail("a packed file does not decode to its bytes");
        if (~ctx->file_checksum != reference_crc32(payload + start[i], output.size()))
            fuzz_fail("wrong checksum of the decoded bytes");
    }
    free(sealer);
    free(ctx);
    return 0;
}

#ifdef ZQ_FUZZ_HEAP_HOOKS
static bool heap_tracking = false;
static size_t heap_base = 0;
static size_t heap_peak = 0;
static size_t heap_peak_ever = 0;

static void heap_malloc_hook(const volatile void *, size_t) {
    if (!heap_tracking)
        return;
    size_t now = __sanitizer_get_current_allocated_bytes();
    if (now > heap_base && now - heap_base > heap_peak)
        heap_peak = now - heap_base;
}

static void heap_free_hook(const volatile void *) {}

static void heap_start() {
    static bool installed = false;
    if (!installed) {
        __sanitizer_install_malloc_and_free_hooks(heap_malloc_hook, heap_free_hook);
        installed = true;
    }
    heap_base = __sanitizer_get_current_allocated_bytes();
    heap_peak = 0;
    heap_tracking = true;
}

static size_t heap_stop() {
    heap_tracking = false;
    if (heap_peak > heap_peak_ever)
        heap_peak_ever = heap_peak;
    return heap_peak;
}
#else
static void heap_start() {}
static size_t heap_stop() {
    return 0;
}
static size_t heap_peak_ever = 0;
#endif

size_t fuzz_extract_peak_heap() {
    return heap_peak_ever;
}

static std::string fuzz_root;

static void remove_fuzz_root() {
    if (fuzz_root.empty())
        return;
    nftw(
        fuzz_root.c_str(),
        [](const char *path, const struct stat *, int, struct FTW *) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

static const std::string &root_folder() {
    if (fuzz_root.empty()) {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/zq-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            fuzz_fail("no temporary root");
        fuzz_root = pattern;
        atexit(remove_fuzz_root);
    }
    return fuzz_root;
}

// Names in a folder other than "." and "..", up to two, and their count.
static int folder_names(const std::string &folder, std::string *first, std::string *second) {
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (count == 0)
            *first = entry->d_name;
        else if (count == 1)
            *second = entry->d_name;
        ++count;
    }
    closedir(dir);
    return count;
}

// Empties the target through the host layer's own calls, so its record of
// attributes forgets every file and folder that goes.
static size_t target_prefix_length = 0;

static int remove_below_target(const char *path, const struct stat *info, int, struct FTW *level) {
    if (level->level == 0)
        return 0;
    std::string windows = "D:\\T" + std::string(path + target_prefix_length);
    SetFileAttributesA(windows.c_str(), FILE_ATTRIBUTE_NORMAL);
    bool gone =
        S_ISDIR(info->st_mode) ? RemoveDirectoryA(windows.c_str()) : DeleteFileA(windows.c_str());
    if (!gone)
        remove(path);
    return 0;
}

int fuzz_extract(const uint8_t *data, size_t size) {
    const std::string &root = root_folder();
    std::string archive = root + "/setup.exe";
    std::string target_host = root + "/D/T";
    FILE *out = fopen(archive.c_str(), "wb");
    if (!out || fwrite(data, 1, size, out) != size || fclose(out) != 0)
        fuzz_fail("cannot write the archive file");
    mkdir((root + "/D").c_str(), 0777);
    mkdir(target_host.c_str(), 0777);
    host_set_root(root.c_str());
    ui_language = 1;
    // The size picks the ticked languages, so every choice gets its inputs.
    for (int i = 0; i < 3; ++i)
        language_table[i].selected = int16_t((size >> i) & 1);

    // One size in two also runs the command-line tool's test mode, which
    // decodes every entry with a password of its own and writes nothing.
    ExtractOptions test_options = {"password", 1, nullptr, nullptr};
    const ExtractOptions *options = (size >> 3) & 1 ? &test_options : nullptr;

    char target[path_buffer_size] = "D:\\T";
    heap_start();
    ExtractionResult result = extract_archive_ex(nullptr, archive.c_str(), target, options);
    size_t peak = heap_stop();
    if (peak > peak_heap_limit)
        fuzz_fail("extraction used more than 8 MiB of heap");
    if (result != 0 && result != 1 && result != 2 && result != 3 && result != 4 && result != 9 &&
        result != -1)
        fuzz_fail("unknown extraction result");

    std::string first, second;
    int in_root = folder_names(root, &first, &second);
    bool root_clean = in_root == 2 && ((first == "setup.exe" && second == "D") ||
                                       (first == "D" && second == "setup.exe"));
    if (!root_clean || folder_names(root + "/D", &first, &second) != 1 || first != "T")
        fuzz_fail("something was written outside the target folder");
    if (options && folder_names(target_host, &first, &second) != 0)
        fuzz_fail("the test mode wrote into the target folder");

    target_prefix_length = target_host.size();
    nftw(target_host.c_str(), remove_below_target, 16, FTW_DEPTH | FTW_PHYS);
    host_message_boxes().clear();
    host_control_text_log().clear();
    return 0;
}
