// zqpack: packs files and folders into a RAR 2.0 archive, or behind the setup
// program into the installer. Argument parsing and messages only: the work
// is the packer's (pack/archive_writer).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/rar_format.h"
#include "pack/archive_writer.h"
#include "pack/lz_encode.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

const char usage_text[] =
    "Usage: zqpack [OPTIONS] OUTPUT INPUT...\n"
    "\n"
    "Packs files and folders into a RAR 2.0 archive OUTPUT. A folder given as\n"
    "INPUT contributes everything below it, named relative to it; a file is\n"
    "named by its own name. Folders become entries of their own.\n"
    "\n"
    "Options:\n"
    "  --stub SETUP.EXE     write SETUP.EXE first and the archive behind it: the\n"
    "                       installer. Its entries are encrypted with the\n"
    "                       setup's built-in password unless --password says\n"
    "                       otherwise\n"
    "  --password PASSWORD  encrypt every file with PASSWORD (at most 127\n"
    "                       characters; an empty one means no encryption)\n"
    "  --solid              one compressed stream for all files (default)\n"
    "  --no-solid           each file compressed on its own\n"
    "  --fast               quicker, larger\n"
    "  --best               slower, smaller\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "A file is stored only when packing would not make it smaller; already\n"
    "compressed files (JPEG, PNG, ...) still get what Huffman codes can save.\n"
    "OUTPUT is written to a new temporary file beside it, put on the disk and\n"
    "renamed at the end, so a failed run leaves no partial archive. OUTPUT\n"
    "found among the inputs (an earlier archive) is left out, with a note.\n"
    "\n"
    "Refused before anything is written: inputs other than files and folders\n"
    "(FIFOs, devices, sockets, files of /proc); links below a folder that lead\n"
    "out of it, nowhere, or round in a loop (links inside it are followed);\n"
    "names the setup refuses or Windows would change (CON, AUX.TXT, '...',\n"
    "':', '\\', control characters, <>\"|?*, a trailing dot or space) and names\n"
    "that differ only in case; a stub in which the setup would find another\n"
    "archive; an archive that could reach 2 GiB with every file stored.\n"
    "\n"
    "Exit status: 0 success, 1 failure (an input cannot be read or is refused,\n"
    "a name is longer than 259 characters, a file is 2 GiB or larger, OUTPUT\n"
    "cannot be written), 2 bad usage.\n";

int usage_error(const char *what, const char *detail) {
    fprintf(stderr, "zqpack: %s%s (try 'zqpack --help')\n", what, detail ? detail : "");
    return exit_usage;
}

struct Progress {
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point last;
    bool shown;
};

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void show_progress(void *user, uint64_t done, uint64_t total, uint64_t written) {
    auto *p = static_cast<Progress *>(user);
    auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - p->last).count() < 0.2 && done < total)
        return;
    p->last = now;
    p->shown = true;
    double elapsed = seconds_since(p->start);
    double speed = elapsed > 0 ? double(done) / elapsed / 1e6 : 0;
    fprintf(stderr, "\r%3d%%  %.1f of %.1f MB  ratio %.1f%%  %.1f MB/s   ",
            total ? int(done * 100 / total) : 100, double(done) / 1e6, double(total) / 1e6,
            done ? 100.0 * double(written) / double(done) : 0.0, speed);
    fflush(stderr);
}

} // namespace

int main(int argc, char **argv) {
    const char *stub = nullptr;
    const char *password = nullptr;
    bool solid = true;
    int level = pack_level_default;
    std::vector<std::string> operands;
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            operands.push_back(arg);
        } else if (strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            fputs(usage_text, stdout);
            return exit_ok;
        } else if (strcmp(arg, "-V") == 0 || strcmp(arg, "--version") == 0) {
            puts("zqpack 3.20");
            return exit_ok;
        } else if (strcmp(arg, "--stub") == 0 || strcmp(arg, "--password") == 0) {
            if (i + 1 >= argc)
                return usage_error("missing value after ", arg);
            (strcmp(arg, "--stub") == 0 ? stub : password) = argv[++i];
        } else if (strncmp(arg, "--stub=", 7) == 0) {
            stub = arg + 7;
        } else if (strncmp(arg, "--password=", 11) == 0) {
            password = arg + 11;
        } else if (strcmp(arg, "--solid") == 0) {
            solid = true;
        } else if (strcmp(arg, "--no-solid") == 0) {
            solid = false;
        } else if (strcmp(arg, "--fast") == 0) {
            level = pack_level_fast;
        } else if (strcmp(arg, "--best") == 0) {
            level = pack_level_best;
        } else {
            return usage_error("unknown option ", arg);
        }
    }
    if (operands.size() < 2)
        return usage_error(operands.empty() ? "missing OUTPUT and INPUT" : "missing INPUT",
                           nullptr);
    // An installer opens with the setup's password unless the caller chose
    // another.
    if (stub && !password)
        password = built_in_password;
    if (password && strlen(password) > 127)
        return usage_error("the password is longer than 127 characters", nullptr);

    std::vector<std::string> inputs(operands.begin() + 1, operands.end());
    std::vector<ArchiveEntry> entries;
    std::string error;
    std::vector<std::string> notes;
    int collected = collect_entries(inputs, &entries, &error, operands[0].c_str(), &notes);
    for (const std::string &note : notes)
        fprintf(stderr, "zqpack: note: %s\n", note.c_str());
    if (collected != 0) {
        fprintf(stderr, "zqpack: %s\n", error.c_str());
        return exit_failed;
    }
    Progress progress{std::chrono::steady_clock::now(), {}, false};
    ArchiveOptions options{level, solid, password, stub, nullptr, nullptr};
    if (isatty(fileno(stderr))) {
        options.progress = show_progress;
        options.user = &progress;
    }
    ArchiveSummary summary{};
    int result = write_archive(operands[0].c_str(), entries, options, &summary, &error);
    if (progress.shown)
        fputs("\n", stderr);
    if (result != 0) {
        fprintf(stderr, "zqpack: %s\n", error.c_str());
        return exit_failed;
    }
    double elapsed = seconds_since(progress.start);
    printf("%s: %u files (%u stored), %u folders, %llu bytes -> %llu bytes (%.1f%%) in %.1f s\n",
           operands[0].c_str(), summary.files, summary.stored, summary.directories,
           static_cast<unsigned long long>(summary.input_bytes),
           static_cast<unsigned long long>(summary.archive_bytes),
           summary.input_bytes ? 100.0 * double(summary.archive_bytes) / double(summary.input_bytes)
                               : 0.0,
           elapsed);
    return exit_ok;
}
