// The extraction driver: walks the archive's file entries in order and, for
// each, decides whether it is written (languages the user ticked, a settings
// file already present is kept), creates its folders and output file, copies
// stored data or runs the decoder, compares the checksum and sets the file's
// time and attributes.
//
// Invariants the loop keeps:
// - Every compressed entry is decoded in archive order, written or not, so the
//   solid stream's window and tables stay in step; an entry that is not
//   written is decoded with no output and no checksum.
// - After each entry the archive stands at that entry's next_block, whatever
//   the entry was, so the next header is read where it begins.
// - Nothing is created, overwritten or removed outside the target folder: an
//   entry whose name climbs out of it, or whose path does not fit the
//   260-character buffer, ends the run before its path is used; below the
//   target every file is reached through the platform's calls that never go
//   through a link or junction (platform_probe_below and its kin), and an
//   entry whose path meets one on its way, or a FIFO or device at its end,
//   ends the run the same way, nothing touched.
// - A file that is not complete and correct does not stay behind: a checksum
//   mismatch, a stored entry short of its size or a write that the stream
//   could not finish (disk full) removes the file just written.
// - The first nonzero result ends the run after the entry that caused it;
//   window and archive stream are released on every way out.
//
// It is fast because it does little: one seek to each entry's data, one to
// the next block, a 32 KiB copy buffer for stored data, and the decoder's
// work in the record and the window without further allocation.

#include "archive/extract.h"

#include <cstdlib>
#include <cstring>

#include "archive/cipher.h"
#include "archive/entry_name.h"
#include "archive/extraction_context.h"
#include "archive/header_reader.h"
#include "archive/rar_format.h"
#include "archive/stream.h"
#include "setup/paths.h"
#include "setup/setup_state.h"
#include "unpack/lz_decode.h"
#include "unpack/unpack_io.h"

static const char settings_file_name[] = "NAVGZIP.SET";
static constexpr int progress_control_id = 107;
static constexpr int32_t copy_buffer_size = 32768;
// The archive is read through a stream buffer of this size: the decoder
// refills 8 KiB at a time and every entry seeks to its data and past it, so
// with a buffer of many refills most reads and seeks need no system call.
static constexpr size_t archive_buffer_size = 65536;

// Where a test run sends the decoded bytes so that write_output counts them.
#ifdef _WIN32
static const char null_device[] = "NUL";
#else
static const char null_device[] = "/dev/null";
#endif

static void *allocate_zeroed(size_t size) {
    return calloc(1, size);
}

template <typename T> static void release(T *&holder) {
    if (holder) {
        free(holder);
        holder = nullptr;
    }
}

void report_install_error(HWND window, const char *caption) {
    const char *text = ui_language == ui_language_english  ? "Cannot install file."
                       : ui_language == ui_language_german ? "Kann nicht die Datei installieren."
                                                           : nullptr;
    if (text)
        MessageBoxA(window, text, caption, MB_ICONERROR);
}

// "Cannot install file.": through the caller's hook when it has one.
static void report_error(HWND window, const ExtractionContext *ctx, const char *caption) {
    if (ctx->options && ctx->options->on_error)
        ctx->options->on_error(window, caption, ctx->options->user);
    else
        report_install_error(window, caption);
}

uint16_t name_start(const char *path) {
    uint16_t start = 0;
    for (uint16_t i = 0; path[i]; ++i)
        if (path[i] == '\\' || path[i] == '/')
            start = uint16_t(i + 1);
    return start;
}

// The language filter and the settings-file rule, given what stands at the
// entry's path (path_kind). An unwanted language file that an earlier
// installation left there is removed.
static bool entry_wanted(const ExtractionContext *ctx) {
    const char *name = ctx->file_name;
    if (strcmp(name, settings_file_name) == 0)
        return ctx->path_kind == below_missing;
    // The base is cut at its '*' by the dialog; reading up to the '*' gives
    // the same length for callers that run without the dialog.
    size_t base_len = strcspn(product_file_base, "*");
    size_t dot_pos = base_len + strlen(language_table[0].suffix);
    if (strlen(name) <= dot_pos || name[dot_pos] != '.')
        return true;
    for (const LanguageEntry *row = language_table; row->suffix; ++row) {
        char prefix[16];
        bool wildcard = row->suffix[2] == '?';
        size_t count = wildcard ? base_len + 1 : dot_pos;
        memcpy(prefix, product_file_base, base_len);
        memcpy(prefix + base_len, row->suffix, count - base_len);
        if (!same_ignoring_case(name, prefix, count))
            continue;
        if (row->selected)
            return true;
        platform_remove_below(ctx->target_folder, name, 0);
        return false;
    }
    return true;
}

int32_t copy_stored(ExtractionContext *ctx) {
    uint8_t *buffer = static_cast<uint8_t *>(allocate_zeroed(copy_buffer_size));
    if (!buffer)
        return extraction_no_copy_buffer;
    for (;;) {
        int32_t n = read_packed(ctx, buffer, copy_buffer_size);
        if (n == 0)
            break;
        // unpacked_left goes negative for sizes of 2 GiB and more: write
        // nothing then, rather than a count beyond the buffer.
        int32_t m = n;
        if (ctx->unpacked_left <= n)
            m = ctx->unpacked_left > 0 ? ctx->unpacked_left : 0;
        write_output(ctx, buffer, uint32_t(m));
        if (ctx->unpacked_left >= 0)
            ctx->unpacked_left -= m;
    }
    release(buffer);
    return extraction_done;
}

// The entry's time and attributes go to the regular file at its path, the
// one just written or one that was kept, and to nothing else: a link there
// gets nothing, and neither does what it points to. An invalid DOS time
// leaves the file's time as it was.
static void set_time_and_attributes(const ExtractionContext *ctx) {
    FILETIME local, stamp;
    uint32_t dos = ctx->file_header.file_time;
    bool dated = DosDateTimeToFileTime(WORD(dos >> 16), WORD(dos & 0xFFFF), &local) &&
                 LocalFileTimeToFileTime(&local, &stamp);
    platform_stamp_below(ctx->target_folder, ctx->file_name, dated ? &stamp : nullptr,
                         ctx->file_header.attributes);
}

// Creates the entry's output file. The target folder itself comes into being
// with the first file, as the folders below it do: the setup makes it
// beforehand, a caller of its own may not.
static FILE *create_output(const ExtractionContext *ctx) {
    FILE *output = platform_create_below(ctx->target_folder, ctx->file_name);
    size_t length = strlen(ctx->target_folder);
    if (output || length < 2)
        return output;
    char folder[path_buffer_size];
    memcpy(folder, ctx->target_folder, length - 1);
    folder[length - 1] = '\0';
    if (!path_missing(folder) || create_directory_path(folder) != 0)
        return nullptr;
    return platform_create_below(ctx->target_folder, ctx->file_name);
}

// Output leaves in pieces of many kilobytes (window flushes, stored
// copies): a stream buffer would only copy it once more.
static void unbuffered(FILE *output) {
    setvbuf(output, nullptr, _IONBF, 0);
}

// The cipher's starting state follows from the password alone, and setting
// it up costs as much as deciphering a few hundred kilobytes: it is made once
// per run and copied for every encrypted entry.
struct CipherStart {
    bool ready;
    uint32_t key[4];
    uint8_t subst[256];
};

static void start_cipher(ExtractionContext *ctx, CipherStart *start) {
    if (!start->ready) {
        init_cipher(ctx, ctx->password);
        memcpy(start->key, ctx->cipher_key, sizeof start->key);
        memcpy(start->subst, ctx->subst_table, sizeof start->subst);
        start->ready = true;
        return;
    }
    memcpy(ctx->cipher_key, start->key, sizeof start->key);
    memcpy(ctx->subst_table, start->subst, sizeof start->subst);
}

// One file entry, from its header to its time and attributes; returns the
// run's result after it (nonzero ends the run).
static ExtractionResult process_entry(HWND window, ExtractionContext *ctx, bool *first,
                                      CipherStart *cipher_start, FILE *test_output) {
    const FileHeader &header = ctx->file_header;
    bool test_only = ctx->options && ctx->options->test_only;
    normalize_attributes(ctx);
    if ((header.head_flags & flag_continued_from_previous) && *first)
        return extraction_bad_archive;
    *first = false;
    // The rest of such an entry lies in a volume this run never opens, so it
    // cannot be completed here.
    ctx->volume_continues = header.head_flags & flag_continued_in_next;
    if (ctx->volume_continues)
        return extraction_bad_archive;
    // Data that runs past the archive's end (a cut download) cannot give a
    // complete file: the entry fails before anything is created for it.
    if (ctx->next_block > ctx->archive_end) {
        report_error(window, ctx, ctx->file_name);
        return extraction_bad_file;
    }
    seek_stream(ctx->archive_stream, ctx->next_block - int32_t(header.pack_size), seek_from_start);

    char path[path_buffer_size];
    size_t folder_len = strlen(ctx->target_folder);
    size_t name_len = strlen(ctx->file_name);
    bool fits = folder_len + name_len < size_t(path_buffer_size);
    if (fits) {
        memcpy(path, ctx->target_folder, folder_len);
        memcpy(path + folder_len, ctx->file_name, name_len + 1);
    }
    if (!test_only && !(fits && name_stays_inside(ctx->file_name))) {
        report_error(window, ctx, ctx->file_name);
        return fits ? extraction_unsafe_name : extraction_failed;
    }

    // What stands at the path, seen without following links: a path through
    // a link or junction could lead anywhere, and a FIFO or device would
    // block or act when opened, so either refuses the entry like a name
    // leaving the target.
    ctx->path_kind =
        test_only ? below_missing : platform_probe_below(ctx->target_folder, ctx->file_name);
    if (ctx->path_kind == below_through_link || ctx->path_kind == below_special) {
        report_error(window, ctx, ctx->file_name);
        return extraction_unsafe_name;
    }

    ExtractionResult result = extraction_done;
    bool write = test_only || entry_wanted(ctx);
    if (header.unp_ver < unp_ver_oldest || header.unp_ver > unp_ver_20) {
        write = false;
        result = extraction_failed;
    }
    if (header.attributes & (attribute_volume_label | attribute_directory)) {
        // Folders come into being as parents of files; data such an entry
        // carries anyway is passed over.
        seek_stream(ctx->archive_stream, ctx->next_block, seek_from_start);
        return result;
    }
    FILE *output = nullptr;
    if (write) {
        output = test_only ? test_output : create_output(ctx);
        if (!output) {
            report_error(window, ctx, path);
            result = extraction_failed;
            write = false;
        } else if (!test_only) {
            unbuffered(output);
        }
    }

    ctx->decode_only = write ? 0 : 1;
    ctx->file_checksum = ctx->archive_format == archive_format_older ? 0 : 0xFFFFFFFFu;
    ctx->cipher_version =
        ctx->password[0] && (header.head_flags & flag_encrypted) ? header.unp_ver : 0;
    if (ctx->cipher_version)
        start_cipher(ctx, cipher_start);
    ctx->packed_left = int32_t(header.pack_size);
    ctx->unpacked_left = int32_t(header.unp_size);
    ctx->input_stream = ctx->archive_stream;
    ctx->output_stream = output;

    SetDlgItemTextA(window, progress_control_id, ctx->file_name);
    // Nothing else paints while the run holds the dialog's thread.
    UpdateWindow(GetDlgItem(window, progress_control_id));

    if (header.method == method_stored) {
        // A failure of this entry found before the copy keeps its result.
        int32_t copied = copy_stored(ctx);
        if (result == extraction_done)
            result = copied;
    } else if (header.unp_ver > unp_ver_15) {
        unpack_file(ctx, ctx->window, header.head_flags & flag_solid);
    }
    seek_stream(ctx->archive_stream, ctx->next_block, seek_from_start);

    bool bad = false;
    if (write) {
        uint32_t expected =
            ctx->archive_format == archive_format_older ? header.file_crc : ~header.file_crc;
        // A stored entry whose packed data is shorter than its size is cut,
        // whatever its checksum. The stream may hold the file's last bytes
        // until now; a flush that fails (disk full) leaves a short file
        // behind a matching checksum.
        bool cut = header.method == method_stored && ctx->unpacked_left != 0;
        bad = cut || ctx->file_checksum != expected || fflush(output) != 0 || ferror(output);
    }
    if (!test_only)
        close_stream(output);
    ctx->output_stream = nullptr;
    if (bad) {
        report_error(window, ctx, ctx->file_name);
        // A file that failed its check must not pass for an installed one:
        // when it cannot be removed, it is at least emptied.
        if (!test_only)
            platform_remove_below(ctx->target_folder, ctx->file_name, 1);
        return extraction_bad_file;
    }
    if (!test_only)
        set_time_and_attributes(ctx);
    return result;
}

// The file loop over the open archive stream.
static ExtractionResult walk_entries(HWND window, ExtractionContext *ctx) {
    if (locate_archive(ctx) == archive_kind_none)
        return extraction_bad_archive;
    ctx->window = static_cast<uint8_t *>(allocate_zeroed(window_size));
    if (!ctx->window)
        return extraction_no_window;
    if (ctx->main_header.head_size > main_header_size)
        seek_stream(ctx->archive_stream, ctx->main_header.head_size - main_header_size,
                    seek_from_current);
    ctx->volume_continues = 0;
    bool first = true;
    CipherStart cipher_start = {};
    // A test sends every entry's bytes to the null device, opened once.
    FILE *test_output = nullptr;
    if (ctx->options && ctx->options->test_only) {
        test_output = open_archive_file(null_device, "wb", share_deny_none);
        if (test_output)
            unbuffered(test_output);
    }
    ExtractionResult result = extraction_done;
    while (result == extraction_done) {
        int32_t count = read_next_file_header(ctx, request_file_or_subblock);
        if (count <= 0) {
            // A header cut short or a read that failed is no end of the
            // archive: entries are missing.
            if (count < 0 || ferror(ctx->archive_stream))
                result = extraction_bad_archive;
            break;
        }
        if (ctx->block_header.head_type == head_type_subblock) {
            seek_stream(ctx->archive_stream, ctx->next_block, seek_from_start);
            continue;
        }
        result = process_entry(window, ctx, &first, &cipher_start, test_output);
        if (ctx->options && ctx->options->on_entry)
            ctx->options->on_entry(ctx, result, ctx->options->user);
    }
    close_stream(test_output);
    release(ctx->window);
    return result;
}

ExtractionResult extract_entries(HWND window, ExtractionContext *ctx) {
    ctx->archive_stream = open_archive_file(ctx->archive_path, "rb", share_deny_write);
    if (!ctx->archive_stream)
        return extraction_bad_archive;
    // Without memory for it the stream keeps its own small buffer.
    uint8_t *stream_buffer = static_cast<uint8_t *>(allocate_zeroed(archive_buffer_size));
    if (stream_buffer)
        setvbuf(ctx->archive_stream, reinterpret_cast<char *>(stream_buffer), _IOFBF,
                archive_buffer_size);
    ExtractionResult result = walk_entries(window, ctx);
    close_stream(ctx->archive_stream);
    ctx->archive_stream = nullptr;
    release(stream_buffer);
    return result;
}

ExtractionResult extract_archive_ex(HWND window, const char *archive_path, char *target_folder,
                                    const ExtractOptions *options) {
    ExtractionContext *ctx = new_extraction_context();
    if (!ctx)
        return extraction_failed;
    ctx->archive_path = archive_path;
    ctx->target_folder = target_folder;
    ctx->options = options;
    append_backslash(target_folder);
    const char *password = options && options->password ? options->password : built_in_password;
    size_t length = strnlen(password, sizeof ctx->password - 1);
    memcpy(ctx->password, password, length);
    ExtractionResult result = extract_entries(window, ctx);
    // Every way to extraction_bad_archive (no archive file, no archive in it,
    // a volume, a header cut short) has shown nothing yet, and the person at
    // the dialog must see that the installation failed: named by the setup's
    // own file.
    if (result == extraction_bad_archive)
        report_error(window, ctx, archive_path + name_start(archive_path));
    free_extraction_context(ctx);
    return result;
}

ExtractionResult extract_archive(HWND window, const char *archive_path, char *target_folder) {
    return extract_archive_ex(window, archive_path, target_folder, nullptr);
}
