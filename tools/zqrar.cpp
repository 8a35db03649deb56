// zqrar: lists, tests and extracts RAR 2.0 archives, also those appended to
// a program (the setup). Argument parsing and messages only: the archive
// work is the library's.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "archive/crc.h"
#include "archive/extraction_context.h"
#include "archive/header_reader.h"
#include "archive/stream.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_usage = 2;
constexpr int exit_unreadable = 3;
constexpr int exit_no_archive = 4;

const char usage_text[] =
    "Usage: zqrar COMMAND [OPTIONS] ARCHIVE\n"
    "\n"
    "Lists RAR 2.0 archives, also one appended to a program such as the setup.\n"
    "Options may stand before or after the command and the archive name.\n"
    "\n"
    "Commands:\n"
    "  l              list the entries: flags, sizes, host, version, method,\n"
    "                 attributes, file checksum, date and name\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Flags column: S solid, E encrypted, D directory, < continued from the\n"
    "previous volume, > continued in the next, ! header checksum damaged.\n"
    "\n"
    "Exit status: 0 success, 2 bad usage, 3 archive file missing or\n"
    "unreadable, 4 no archive in the file.\n";

struct Arguments {
    const char *command = nullptr;
    const char *archive = nullptr;
    bool help = false;
    bool version = false;
};

int usage_error(const char *what, const char *detail) {
    fprintf(stderr, "zqrar: %s%s (try 'zqrar --help')\n", what, detail ? detail : "");
    return exit_usage;
}

// Returns 0, or the exit status of a usage error (already reported).
int parse_arguments(int argc, char **argv, Arguments *args) {
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            if (strcmp(arg, "--") == 0)
                options_done = true;
            else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0)
                args->help = true;
            else if (strcmp(arg, "-V") == 0 || strcmp(arg, "--version") == 0)
                args->version = true;
            else
                return usage_error("unknown option ", arg);
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
    static const char *const names[4] = {"MS-DOS", "OS/2", "Win32", "Unix"};
    return host_os < 4 ? names[host_os] : "?";
}

const char *kind_text(int32_t kind) {
    switch (kind) {
    case 1:
        return "at the start of the file";
    case 2:
        return "volume of a multi-volume set";
    default:
        return "behind other data";
    }
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
    if (S_ISDIR(info.st_mode)) {
        fprintf(stderr, "zqrar: cannot read %s: it is a folder\n", path);
        return exit_unreadable;
    }
    ctx->archive_stream = open_archive_file(path, "rb", 1);
    if (!ctx->archive_stream) {
        fprintf(stderr, "zqrar: cannot read %s: %s\n", path, strerror(errno));
        return exit_unreadable;
    }
    if (locate_archive(ctx) == 0) {
        fprintf(stderr, "zqrar: %s: no RAR archive found\n", path);
        return exit_no_archive;
    }
    return 0;
}

void print_entry(const ExtractionContext *ctx) {
    const FileHeader &h = ctx->file_header;
    char flags[6] = "-----";
    if (h.head_flags & 0x0010)
        flags[0] = 'S';
    if (h.head_flags & 0x0004)
        flags[1] = 'E';
    if ((h.head_flags & 0x00E0) == 0x00E0)
        flags[2] = 'D';
    if ((h.head_flags & 0x0003) == 0x0003)
        flags[3] = '=';
    else if (h.head_flags & 0x0001)
        flags[3] = '<';
    else if (h.head_flags & 0x0002)
        flags[3] = '>';
    if (ctx->file_header_damaged)
        flags[4] = '!';
    char date[24];
    format_dos_time(h.file_time, date, sizeof date);
    printf("%s %10u %10u %-6s %u.%u  0x%02x %08x %08x %s %s\n", flags, unsigned(h.unp_size),
           unsigned(h.pack_size), host_name(h.host_os), h.unp_ver / 10u, h.unp_ver % 10u, h.method,
           unsigned(h.attributes), unsigned(h.file_crc), date, ctx->file_name);
}

int list_archive(ExtractionContext *ctx, const char *path) {
    int status = open_archive(ctx, path);
    if (status != 0)
        return status;
    printf("Archive: %s\n", path);
    printf("Found %s (kind %d) at offset %d, format %s, main header flags 0x%04x%s\n",
           kind_text(ctx->archive_kind), int(ctx->archive_kind), int(ctx->archive_offset),
           ctx->archive_format == 2 ? "RAR 2.x" : "older", ctx->main_header.head_flags,
           ctx->main_header_damaged ? ", main header checksum damaged" : "");
    printf("\nFlags       Size     Packed Host   Ver  Meth Attr     CRC32    Date                "
           "Name\n");
    seek_stream(ctx->archive_stream, int32_t(ctx->main_header.head_size) - 13, 1);
    uint64_t total_size = 0, total_packed = 0;
    int entries = 0, damaged = 0;
    while (read_next_file_header(ctx, request_file_or_subblock) != 0) {
        if (ctx->block_header.head_type == head_type_file) {
            normalize_attributes(ctx);
            print_entry(ctx);
            entries++;
            damaged += ctx->file_header_damaged ? 1 : 0;
            total_size += ctx->file_header.unp_size;
            total_packed += ctx->file_header.pack_size;
        }
        seek_stream(ctx->archive_stream, ctx->next_block, 0);
    }
    printf("\n%d %s, %llu bytes, %llu packed\n", entries, entries == 1 ? "entry" : "entries",
           (unsigned long long)total_size, (unsigned long long)total_packed);
    if (damaged)
        printf("%d %s with a damaged checksum\n", damaged, damaged == 1 ? "header" : "headers");
    return exit_ok;
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
    if (strcmp(args.command, "l") != 0)
        return usage_error("unknown command ", args.command);
    if (!args.archive)
        return usage_error("no archive given", nullptr);

    ExtractionContext *ctx = static_cast<ExtractionContext *>(calloc(1, sizeof(ExtractionContext)));
    if (!ctx) {
        fputs("zqrar: out of memory\n", stderr);
        return exit_unreadable;
    }
    build_crc_table(ctx);
    status = list_archive(ctx, args.archive);
    close_stream(ctx->archive_stream);
    free(ctx);
    return status;
}
