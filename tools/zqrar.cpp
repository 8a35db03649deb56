// zqrar: lists, tests and extracts RAR 2.0 archives, also those appended to
// a program (the setup). Argument parsing and messages only: the archive
// work is the library's.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "archive/header_reader.h"
#include "archive/rar_format.h"
#include "archive/stream.h"
#include "setup/setup_state.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_unreadable = 3;
constexpr int exit_no_archive = 4;

const char usage_text[] =
    "Usage: zqrar COMMAND [OPTIONS] ARCHIVE\n"
    "\n"
    "Lists, tests and extracts RAR 2.0 archives, also one appended to a program\n"
    "such as the setup. Options may stand before or after the command and the\n"
    "archive name.\n"
    "\n"
    "Commands:\n"
    "  l                    list the entries: flags, sizes, host, version, method,\n"
    "                       attributes, file checksum, date and name\n"
    "  t                    test: decode every entry and compare its checksum\n"
    "  x                    extract into a folder, as the setup installs\n"
    "\n"
    "Options:\n"
    "  -p PASSWORD, --password PASSWORD\n"
    "                       decipher encrypted entries with PASSWORD (t, x)\n"
    "  --installer          decipher with the setup's built-in password (t, x)\n"
    "  -o DIR, --output DIR extract into DIR, created when missing (x; default:\n"
    "                       the current folder)\n"
    "  --lang LIST          languages to install, as ticked in the setup dialog:\n"
    "                       a comma-separated list of DE, US, OTHER, or ALL or\n"
    "                       NONE (x; default ALL). Files of languages left out\n"
    "                       are not written, and copies already in DIR removed\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Without -p or --installer encrypted entries are not deciphered and fail.\n"
    "As in the setup, an existing NAVGZIP.SET in DIR is kept, and t and x stop\n"
    "at the first entry that fails.\n"
    "\n"
    "Flags column: S solid, E encrypted, D directory, < continued from the\n"
    "previous volume, > continued in the next, ! header checksum damaged.\n"
    "\n"
    "A signed program's archive ends where its certificate table begins. An\n"
    "archive cut short (a block header only partly there) fails like a damaged\n"
    "entry, and so does one reaching 2 GiB. Control characters in names are\n"
    "shown as \\xNN. x writes nothing through a link: an entry whose path goes\n"
    "through a link in DIR, or meets a FIFO or device there, fails.\n"
    "\n"
    "Exit status: 0 success, 1 an entry failed or the archive is cut short or\n"
    "damaged, 2 bad usage, 3 archive file missing or unreadable (or DIR not\n"
    "usable), 4 no archive in the file.\n";

struct Arguments {
    const char *command = nullptr;
    const char *archive = nullptr;
    const char *password = nullptr;
    const char *output = nullptr;
    const char *languages = nullptr;
    bool installer = false;
    bool help = false;
    bool version = false;
};

int usage_error(const char *what, const char *detail) {
    fprintf(stderr, "zqrar: %s%s (try 'zqrar --help')\n", what, detail ? detail : "");
    return exit_usage;
}

// An option with a value: "-p VALUE", "-pVALUE", "--password VALUE" or
// "--password=VALUE". Returns 1 when `arg` is this option (value set, index
// moved past it), 0 when it is not, -1 when the value is missing.
int option_value(int argc, char **argv, int *i, const char *short_name, const char *long_name,
                 const char **value) {
    const char *arg = argv[*i];
    size_t long_len = strlen(long_name);
    const char *inline_value = nullptr;
    if (short_name && strncmp(arg, short_name, 2) == 0)
        inline_value = arg[2] ? arg + 2 : nullptr;
    else if (strcmp(arg, long_name) == 0)
        inline_value = nullptr;
    else if (strncmp(arg, long_name, long_len) == 0 && arg[long_len] == '=')
        inline_value = arg + long_len + 1;
    else
        return 0;
    if (inline_value) {
        *value = inline_value;
        return 1;
    }
    if (*i + 1 >= argc)
        return -1;
    *value = argv[++*i];
    return 1;
}

// Returns 0, or the exit status of a usage error (already reported).
int parse_arguments(int argc, char **argv, Arguments *args) {
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            int found = 0;
            if ((found = option_value(argc, argv, &i, "-p", "--password", &args->password)) ||
                (found = option_value(argc, argv, &i, "-o", "--output", &args->output)) ||
                (found = option_value(argc, argv, &i, nullptr, "--lang", &args->languages))) {
                if (found < 0)
                    return usage_error("missing value for ", arg);
            } else if (strcmp(arg, "--") == 0) {
                options_done = true;
            } else if (strcmp(arg, "--installer") == 0) {
                args->installer = true;
            } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
                args->help = true;
            } else if (strcmp(arg, "-V") == 0 || strcmp(arg, "--version") == 0) {
                args->version = true;
            } else {
                return usage_error("unknown option ", arg);
            }
        } else if (!args->command) {
            args->command = arg;
        } else if (!args->archive) {
            args->archive = arg;
        } else {
            return usage_error("unexpected argument ", arg);
        }
    }
    return 0;
}

const char *host_name(uint8_t host_os) {
    static const char *const names[host_unix + 1] = {"MS-DOS", "OS/2", "Win32", "Unix"};
    return host_os <= host_unix ? names[host_os] : "?";
}

const char *kind_text(int32_t kind) {
    switch (kind) {
    case archive_kind_at_start:
        return "at the start of the file";
    case archive_kind_volume:
        return "volume of a multi-volume set";
    default:
        return "behind other data";
    }
}

// A name as it is shown: bytes below 0x20 and 0x7F as \xNN, so that no name
// can move the cursor, recolour the terminal or forge a line of its own.
std::string shown(const char *name) {
    std::string text;
    for (const char *c = name; *c; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (byte >= 0x20 && byte != 0x7F) {
            text += *c;
            continue;
        }
        char escape[5];
        snprintf(escape, sizeof escape, "\\x%02X", byte);
        text += escape;
    }
    return text;
}

void format_dos_time(uint32_t dos, char *out, size_t size) {
    unsigned date = dos >> 16, time = dos & 0xFFFF;
    snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15,
             date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

// Opens the archive file with a one-line message on failure; 0 or an exit
// status.
int open_archive(ExtractionContext *ctx, const char *path) {
    struct stat info;
    if (stat(path, &info) != 0) {
        fprintf(stderr, "zqrar: cannot open %s: %s\n", path, strerror(errno));
        return exit_unreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        // A FIFO or device could block the open or the reads for ever.
        fprintf(stderr, "zqrar: cannot read %s: %s\n", path,
                S_ISDIR(info.st_mode) ? "it is a folder" : "it is no regular file");
        return exit_unreadable;
    }
    ctx->archive_stream = open_archive_file(path, "rb", share_deny_write);
    if (!ctx->archive_stream) {
        fprintf(stderr, "zqrar: cannot read %s: %s\n", path, strerror(errno));
        return exit_unreadable;
    }
    if (locate_archive(ctx) == archive_kind_none) {
        fprintf(stderr, "zqrar: %s: no RAR archive found\n", path);
        return exit_no_archive;
    }
    return 0;
}

void print_entry(const ExtractionContext *ctx) {
    const FileHeader &h = ctx->file_header;
    constexpr uint16_t continued_both_ways = flag_continued_from_previous | flag_continued_in_next;
    char flags[6] = "-----";
    if (h.head_flags & flag_solid)
        flags[0] = 'S';
    if (h.head_flags & flag_encrypted)
        flags[1] = 'E';
    if ((h.head_flags & flag_directory) == flag_directory)
        flags[2] = 'D';
    if ((h.head_flags & continued_both_ways) == continued_both_ways)
        flags[3] = '=';
    else if (h.head_flags & flag_continued_from_previous)
        flags[3] = '<';
    else if (h.head_flags & flag_continued_in_next)
        flags[3] = '>';
    if (ctx->file_header_damaged)
        flags[4] = '!';
    char date[24];
    format_dos_time(h.file_time, date, sizeof date);
    printf("%s %10u %10u %-6s %u.%u  0x%02x %08x %08x %s %s\n", flags, unsigned(h.unp_size),
           unsigned(h.pack_size), host_name(h.host_os), h.unp_ver / 10u, h.unp_ver % 10u, h.method,
           unsigned(h.attributes), unsigned(h.file_crc), date, shown(ctx->file_name).c_str());
}

// Says why a walk over the archive stopped short, once its block at
// block_start could not be read.
void report_walk_failure(const ExtractionContext *ctx, const char *path, const char *what) {
    fprintf(stderr, "zqrar: %s: %s\n", path, what);
    if (ctx->archive_end > INT32_MAX)
        fprintf(stderr,
                "zqrar: %s: the file is 2 GiB or larger; no block at or beyond 2 GiB is "
                "read\n",
                path);
}

int list_archive(ExtractionContext *ctx, const char *path) {
    int status = open_archive(ctx, path);
    if (status != 0)
        return status;
    printf("Archive: %s\n", path);
    printf("Found %s (kind %d) at offset %d, format %s, main header flags 0x%04x%s\n",
           kind_text(ctx->archive_kind), int(ctx->archive_kind), int(ctx->archive_offset),
           ctx->archive_format == archive_format_rar2 ? "RAR 2.x" : "older",
           ctx->main_header.head_flags,
           ctx->main_header_damaged ? ", main header checksum damaged" : "");
    if (ctx->certificate_table)
        printf("Signed: the archive ends at offset %d, where the certificate table begins\n",
               int(ctx->certificate_table));
    printf("\nFlags       Size     Packed Host   Ver  Meth Attr     CRC32    Date                "
           "Name\n");
    seek_stream(ctx->archive_stream, int32_t(ctx->main_header.head_size) - main_header_size,
                seek_from_current);
    uint64_t total_size = 0, total_packed = 0;
    int entries = 0, damaged = 0, count = 0;
    while ((count = read_next_file_header(ctx, request_file_or_subblock)) > 0) {
        if (ctx->block_header.head_type == head_type_file) {
            normalize_attributes(ctx);
            print_entry(ctx);
            entries++;
            damaged += ctx->file_header_damaged ? 1 : 0;
            total_size += ctx->file_header.unp_size;
            total_packed += ctx->file_header.pack_size;
        }
        seek_stream(ctx->archive_stream, ctx->next_block, seek_from_start);
    }
    printf("\n%d %s, %llu bytes, %llu packed\n", entries, entries == 1 ? "entry" : "entries",
           (unsigned long long)total_size, (unsigned long long)total_packed);
    if (damaged)
        printf("%d %s with a damaged checksum\n", damaged, damaged == 1 ? "header" : "headers");
    if (count < 0) {
        char what[64];
        snprintf(what, sizeof what, "archive cut short or damaged at offset %d",
                 int(ctx->block_start));
        report_walk_failure(ctx, path, what);
        return exit_failed;
    }
    return exit_ok;
}

// What the per-entry report counts.
struct RunReport {
    bool extracting;
    bool deciphering; // a password was given (or the built-in one chosen)
    int ok;
    int failed;
    int skipped;
    int seen;
};

std::string failure_reason(const ExtractionContext *ctx, int32_t result, const RunReport *report) {
    const FileHeader &h = ctx->file_header;
    constexpr uint16_t both_volumes = flag_continued_from_previous | flag_continued_in_next;
    switch (result) {
    case extraction_bad_archive:
        if ((h.head_flags & both_volumes) == both_volumes)
            return "continued from a previous volume and in the next one";
        return (h.head_flags & flag_continued_from_previous) ? "continued from a previous volume"
                                                             : "continued in the next volume";
    case extraction_bad_file:
        if (ctx->next_block > ctx->archive_end)
            return "data cut short by the end of the archive";
        if (h.method == method_stored && ctx->unpacked_left != 0)
            return "stored data shorter than the " + std::to_string(h.unp_size) +
                   " bytes its header gives";
        if ((h.head_flags & flag_encrypted) && !report->deciphering)
            return "encrypted: checksum mismatch (give -p PASSWORD or --installer)";
        if (h.unp_ver <= unp_ver_15 && h.method != method_stored)
            return "checksum mismatch (method of version 1.5 not decoded)";
        return "checksum mismatch";
    case extraction_failed: {
        if (h.unp_ver < unp_ver_oldest || h.unp_ver > unp_ver_20)
            return "needs an unsupported version";
        size_t length = strlen(ctx->target_folder) + strlen(ctx->file_name);
        if (length >= size_t(path_buffer_size))
            return "path too long: the output folder and the name make " + std::to_string(length) +
                   " characters, at most " + std::to_string(path_buffer_size - 1);
        return "cannot create the file (a folder or a read-only file in the way, or no rights)";
    }
    case extraction_unsafe_name:
        if (ctx->path_kind == below_through_link)
            return "its path goes through a link or junction in the output folder";
        if (ctx->path_kind == below_special)
            return "a FIFO, device or socket stands at its path";
        return "name leads outside the target folder";
    case extraction_no_copy_buffer:
    case extraction_no_window:
        return "out of memory";
    default:
        return "cannot extract";
    }
}

void report_entry(const ExtractionContext *ctx, int32_t result, void *user) {
    RunReport *report = static_cast<RunReport *>(user);
    report->seen++;
    std::string text = shown(ctx->file_name);
    const char *name = text.c_str();
    if (result != extraction_done) {
        report->failed++;
        printf("FAILED    %s: %s\n", name, failure_reason(ctx, result, report).c_str());
    } else if (ctx->file_header.attributes & attribute_volume_label) {
        report->skipped++;
        printf("label     %s (volume label, passed over)\n", name);
    } else if (ctx->file_header.attributes & attribute_directory) {
        report->skipped++;
        printf("folder    %s\n", name);
    } else if (!report->extracting) {
        report->ok++;
        printf("OK        %s\n", name);
    } else if (ctx->decode_only) {
        report->skipped++;
        if (strcmp(ctx->file_name, "NAVGZIP.SET") == 0)
            printf("kept      %s (already present)\n", name);
        else
            printf("skipped   %s (language not chosen)\n", name);
    } else {
        report->ok++;
        printf("extracted %s\n", name);
    }
    fflush(stdout);
}

// Counts the archive's file entries (the walk of the listing, silently).
int count_entries(ExtractionContext *ctx) {
    seek_stream(ctx->archive_stream, int32_t(ctx->main_header.head_size) - main_header_size,
                seek_from_current);
    int entries = 0;
    while (read_next_file_header(ctx, request_file_or_subblock) > 0) {
        if (ctx->block_header.head_type == head_type_file)
            entries++;
        seek_stream(ctx->archive_stream, ctx->next_block, seek_from_start);
    }
    return entries;
}

#ifdef _WIN32
constexpr char folder_separators[] = "/\\";
#else
constexpr char folder_separators[] = "/";
#endif

// Makes the output folder with its missing parents, and puts it into target
// as the driver takes it; 0 or an exit status. The folder is a path of this
// system: on Linux "x:y" is a folder name and '\' an ordinary character.
int prepare_folder(const char *folder, char *target) {
    // Room for the '/' put behind it below and the driver's '\'.
    size_t length = strlen(folder);
    if (length > size_t(path_buffer_size) - 3) {
        fprintf(stderr, "zqrar: folder name too long: %s\n", folder);
        return exit_unreadable;
    }
    struct stat info;
    if (stat(folder, &info) == 0 && !S_ISDIR(info.st_mode)) {
        fprintf(stderr, "zqrar: %s is not a folder\n", folder);
        return exit_unreadable;
    }
    strcpy(target, folder);
    for (size_t i = 1; i <= length; i++) {
        if (target[i] != '\0' && !strchr(folder_separators, target[i]))
            continue;
        char kept = target[i];
        target[i] = '\0';
        CreateDirectoryA(target, nullptr);
        target[i] = kept;
    }
    if (stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
        fprintf(stderr, "zqrar: cannot create folder %s\n", folder);
        return exit_unreadable;
    }
#ifndef _WIN32
    // The driver puts '\' behind the folder, a part of the name on Linux: a
    // '/' in front of it keeps the folder the one given.
    if (target[length - 1] != '/')
        strcat(target, "/");
#endif
    return 0;
}

int run_extraction(ExtractionContext *ctx, const Arguments &args) {
    int status = open_archive(ctx, args.archive);
    if (status != 0)
        return status;

    RunReport report = {};
    report.extracting = args.command[0] == 'x';
    report.deciphering = args.password || args.installer;
    char target[path_buffer_size] = "";
    if (report.extracting && args.output) {
        status = prepare_folder(args.output, target);
        if (status != 0)
            return status;
    }
    // ui_language stays 0 (no dialog language chosen), so the driver shows
    // no message box: on Windows a modal box would stall a console run, and
    // every failure is reported on stdout by report_entry instead.
    ExtractOptions options = {};
    // No password: the driver leaves encrypted data as it is, so such an
    // entry fails its checksum instead of being read with a guessed key.
    options.password = args.installer ? nullptr : args.password ? args.password : "";
    options.test_only = report.extracting ? 0 : 1;
    options.on_entry = report_entry;
    options.user = &report;
    ExtractionResult result = extract_archive_ex(nullptr, args.archive, target, &options);
    if (result == extraction_bad_archive && report.failed == 0) {
        report.failed++;
        report_walk_failure(ctx, args.archive, "archive cut short or damaged (result 2)");
    } else if (result != extraction_done && report.failed == 0) {
        report.failed++;
        fprintf(stderr, "zqrar: %s: extraction failed (result %d)\n", args.archive, int(result));
    }
    // A walk that ends as it should has seen every entry; the count of those
    // it did not reach, a second walk over the headers, is only needed when
    // it stopped early.
    int not_reached = 0;
    if (result != extraction_done)
        not_reached = count_entries(ctx) - report.seen;
    close_stream(ctx->archive_stream);
    ctx->archive_stream = nullptr;
    printf("\n%d OK, %d failed, %d skipped, %d not reached\n", report.ok, report.failed,
           report.skipped, not_reached > 0 ? not_reached : 0);
    return result == extraction_done ? exit_ok : exit_failed;
}

} // namespace

int main(int argc, char **argv) {
    Arguments args;
    int status = parse_arguments(argc, argv, &args);
    if (status != 0)
        return status;
    if (args.help) {
        fputs(usage_text, stdout);
        return exit_ok;
    }
    if (args.version) {
        puts("zqrar 3.20");
        return exit_ok;
    }
    if (!args.command)
        return usage_error("no command given", nullptr);
    const char *command = args.command;
    if (strcmp(command, "l") != 0 && strcmp(command, "t") != 0 && strcmp(command, "x") != 0)
        return usage_error("unknown command ", command);
    if (!args.archive)
        return usage_error("no archive given", nullptr);
    bool listing = command[0] == 'l';
    if (listing && (args.password || args.installer))
        return usage_error("-p and --installer are for t and x", nullptr);
    if (command[0] != 'x' && (args.output || args.languages))
        return usage_error("-o and --lang are for x", nullptr);
    if (args.password && args.installer)
        return usage_error("give either -p or --installer", nullptr);
    if (args.password && strlen(args.password) > 127)
        return usage_error("password longer than 127 characters", nullptr);
    if (args.languages && select_language_codes(args.languages) != 0)
        return usage_error("unknown language list ", args.languages);

    ExtractionContext *ctx = new_extraction_context();
    if (!ctx) {
        fputs("zqrar: out of memory\n", stderr);
        return exit_failed;
    }
    status = listing ? list_archive(ctx, args.archive) : run_extraction(ctx, args);
    close_stream(ctx->archive_stream);
    free_extraction_context(ctx);
    return status;
}
