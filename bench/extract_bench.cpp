// How fast does the setup install its files, and in how much memory?
//
// extract_bench CORPUS_DIR [--installer FILE] [--tar FILE] [-l LEVEL] [-r RUNS]
//
// Builds an installer from CORPUS_DIR (unless --installer names one made by
// zqpack --stub): a program image of 96 KiB followed by a RAR 2.0 archive of
// every file, solid, compressed at LEVEL and enciphered with the setup's
// built-in password, as the setup carries it. Then, in the same run and RUNS
// times each, it installs that file into an empty folder with extract_archive
// and unpacks a tar of the same files (--tar FILE, or one made here) with
// `tar -xf` into another empty folder, and prints the best wall times, their
// ratio and the installer's peak resident size.
//
// Every measured step runs in a child process of its own, started from this
// small parent, so the peak resident size is the extraction's alone.
//
// The folders lie in the temporary folder (TMPDIR chooses it). Both sides
// create the same 957 files, and on an ext4 volume without a journal the
// kernel steps over the recently freed inodes of a group (freed within about
// a minute, longer while their table block is not written back) for each
// file it creates: after a busy spell of deletions on the volume, by anyone,
// file creation alone can take several times tar's own work and the ratio
// drifts towards 1. Compare figures from one invocation, and run with TMPDIR
// on a memory file system as well to see the extractor's own cost.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/cipher.h"
#include "archive/crc.h"
#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "pack/lz_encode.h"

namespace fs = std::filesystem;

extern char **environ;

static const char built_in_password[] = "q4!Wm9#z";
static const size_t image_size = 0x18000;

struct ChildRun {
    int status;
    double seconds;     // wall
    double cpu_seconds; // user + system
    long max_rss_kib;
};

static ChildRun run_child(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return {-1, 0, 0, 0};
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {code, seconds, cpu, usage.ru_maxrss};
}

static void put16(std::string &out, uint32_t value) {
    out.push_back(char(value & 0xFF));
    out.push_back(char((value >> 8) & 0xFF));
}

static void put32(std::string &out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

static uint32_t dos_time(time_t when) {
    tm parts;
    gmtime_r(&when, &parts);
    if (parts.tm_year < 80)
        return 0x00210000; // 1980-01-01
    return uint32_t(((parts.tm_year - 80) << 25) | ((parts.tm_mon + 1) << 21) |
                    (parts.tm_mday << 16) | (parts.tm_hour << 11) | (parts.tm_min << 5) |
                    (parts.tm_sec / 2));
}

static void append_piece(void *user, const uint8_t *data, size_t n) {
    static_cast<std::string *>(user)->append(reinterpret_cast<const char *>(data), n);
}

static void piece_done(void *, uint64_t) {}

static std::string read_all(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The child that writes the installer: image, marker, main header, and per
// file its header and enciphered packed data.
static int pack_installer(const char *corpus, const char *out_path, int level) {
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(corpus))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    struct Entry {
        std::string name;
        std::string packed;
        uint32_t size;
        uint32_t crc;
        uint32_t time;
        int solid;
    };
    std::vector<Entry> entries(files.size());
    ExtractionContext *ctx = static_cast<ExtractionContext *>(calloc(1, sizeof *ctx));
    LzEncoder *encoder = lz_encoder_create(level);
    if (!ctx || !encoder)
        return 1;
    build_crc_table(ctx);
    for (size_t i = 0; i < files.size(); ++i) {
        Entry &entry = entries[i];
        std::string data = read_all(files[i]);
        entry.name = fs::relative(files[i], corpus).string();
        std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
        entry.size = uint32_t(data.size());
        entry.crc = ~crc32_update(ctx, 0xFFFFFFFFu, data.data(), data.size());
        struct stat info;
        entry.time = stat(files[i].c_str(), &info) == 0 ? dos_time(info.st_mtime) : 0x00210000;
        entry.solid =
            lz_begin_file(encoder, 1, 16, PieceSink{&entry.packed, append_piece, piece_done});
        lz_feed(encoder, reinterpret_cast<const uint8_t *>(data.data()), data.size());
        lz_end_file(encoder);
    }
    lz_flush(encoder);
    lz_encoder_free(encoder);

    FILE *out = fopen(out_path, "wb");
    if (!out)
        return 1;
    std::string head(image_size, '\0');
    head[0] = 'M';
    head[1] = 'Z';
    head.append("Rar!\x1a\x07\x00", 7);
    std::string main_header;
    put16(main_header, 0);
    main_header.push_back(char(0x73));
    put16(main_header, 0);
    put16(main_header, 13);
    put16(main_header, 0);
    put32(main_header, 0);
    uint32_t crc = ~crc32_update(ctx, 0xFFFFFFFFu, main_header.data() + 2, 11);
    main_header[0] = char(crc & 0xFF);
    main_header[1] = char((crc >> 8) & 0xFF);
    head += main_header;
    fwrite(head.data(), 1, head.size(), out);
    for (Entry &entry : entries) {
        init_cipher(ctx, built_in_password);
        for (size_t at = 0; at < entry.packed.size(); at += 16)
            encrypt_block(ctx, reinterpret_cast<uint8_t *>(&entry.packed[at]));
        std::string header;
        put16(header, 0);
        header.push_back(char(0x74));
        put16(header, 0x8004 | (entry.solid ? 0x0010 : 0));
        put16(header, uint32_t(32 + entry.name.size()));
        put32(header, uint32_t(entry.packed.size()));
        put32(header, entry.size);
        header.push_back(2);
        put32(header, entry.crc);
        put32(header, entry.time);
        header.push_back(20);
        header.push_back(char(0x33));
        put16(header, uint32_t(entry.name.size()));
        put32(header, 0x20);
        header += entry.name;
        crc = ~crc32_update(ctx, 0xFFFFFFFFu, header.data() + 2, header.size() - 2);
        header[0] = char(crc & 0xFF);
        header[1] = char((crc >> 8) & 0xFF);
        fwrite(header.data(), 1, header.size(), out);
        fwrite(entry.packed.data(), 1, entry.packed.size(), out);
        std::string().swap(entry.packed);
    }
    std::string end;
    put16(end, 0);
    end.push_back(char(0x79));
    put16(end, 0x4000);
    put16(end, 7);
    crc = ~crc32_update(ctx, 0xFFFFFFFFu, end.data() + 2, 5);
    end[0] = char(crc & 0xFF);
    end[1] = char((crc >> 8) & 0xFF);
    fwrite(end.data(), 1, end.size(), out);
    free(ctx);
    return fclose(out) == 0 ? 0 : 1;
}

static int extract_child(const char *installer, const char *target) {
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s", target);
    ExtractionResult result = extract_archive(nullptr, installer, folder);
    return result == 0 ? 0 : 10 + int(result);
}

static uint64_t tree_bytes(const std::string &folder, size_t *count) {
    uint64_t bytes = 0;
    *count = 0;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
            ++*count;
        }
    }
    return bytes;
}

int main(int argc, char **argv) {
    if (argc == 5 && strcmp(argv[1], "--pack-child") == 0)
        return pack_installer(argv[2], argv[3], atoi(argv[4]));
    if (argc == 4 && strcmp(argv[1], "--extract-child") == 0)
        return extract_child(argv[2], argv[3]);

    const char *corpus = nullptr;
    std::string installer;
    std::string tar_file;
    int level = pack_level_default;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--installer" && i + 1 < argc)
            installer = argv[++i];
        else if (arg == "--tar" && i + 1 < argc)
            tar_file = argv[++i];
        else if (arg == "-l" && i + 1 < argc)
            level = atoi(argv[++i]);
        else if (arg == "-r" && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
        else if (!corpus && arg[0] != '-')
            corpus = argv[i];
        else {
            fprintf(stderr, "usage: extract_bench CORPUS_DIR [--installer FILE] [--tar FILE] "
                            "[-l LEVEL] [-r RUNS]\n");
            return 2;
        }
    }
    if (!corpus || !fs::is_directory(corpus)) {
        fprintf(stderr, "extract_bench: CORPUS_DIR must be a folder\n");
        return 2;
    }
    std::string self = fs::canonical("/proc/self/exe").string();
    std::string work = (fs::temp_directory_path() / "zq-extract-bench-XXXXXX").string();
    if (!mkdtemp(work.data())) {
        perror("mkdtemp");
        return 1;
    }
    if (installer.empty()) {
        installer = work + "/ZQSETUP.EXE";
        ChildRun made = run_child({self, "--pack-child", corpus, installer, std::to_string(level)});
        if (made.status != 0) {
            fprintf(stderr, "extract_bench: packing failed\n");
            return 1;
        }
        printf("installer: packed here (level %d, solid, encrypted) in %.2f s\n", level,
               made.seconds);
    }
    if (tar_file.empty()) {
        tar_file = work + "/corpus.tar";
        if (run_child({"tar", "-cf", tar_file, "-C", corpus, "."}).status != 0) {
            fprintf(stderr, "extract_bench: tar -cf failed\n");
            return 1;
        }
    }
    printf("installer: %s, %lld bytes\n", installer.c_str(),
           static_cast<long long>(fs::file_size(installer)));
    printf("tar:       %s, %lld bytes\n", tar_file.c_str(),
           static_cast<long long>(fs::file_size(tar_file)));

    double best_ours = 1e30, best_tar = 1e30, best_ours_cpu = 1e30, best_tar_cpu = 1e30;
    long peak_rss = 0;
    size_t our_files = 0, tar_files = 0;
    uint64_t our_bytes = 0, tar_bytes = 0;
    // Every run writes into folders of its own and nothing is deleted until
    // the end: the file system spends much longer allocating inodes near
    // ones it has just freed, which would tax whichever side runs next.
    // The order alternates for the same reason.
    for (int run = 0; run < runs; ++run) {
        std::string ours_dir = work + "/ours" + std::to_string(run);
        std::string tar_dir = work + "/tar" + std::to_string(run);
        fs::create_directory(ours_dir);
        fs::create_directory(tar_dir);
        ChildRun ours = {}, tar = {};
        for (int side = 0; side < 2; ++side) {
            sync(); // no dirty pages of the other side's writing
            if ((side + run) % 2 == 0)
                ours = run_child({self, "--extract-child", installer, ours_dir});
            else
                tar = run_child({"tar", "-xf", tar_file, "-C", tar_dir});
        }
        if (ours.status != 0 || tar.status != 0) {
            fprintf(stderr, "extract_bench: extraction failed (ours %d, tar %d)\n", ours.status,
                    tar.status);
            return 1;
        }
        printf("run %d: extract_archive %.3f s (cpu %.3f s), tar -xf %.3f s (cpu %.3f s), "
               "peak RSS %ld KiB\n",
               run + 1, ours.seconds, ours.cpu_seconds, tar.seconds, tar.cpu_seconds,
               ours.max_rss_kib);
        best_ours = std::min(best_ours, ours.seconds);
        best_tar = std::min(best_tar, tar.seconds);
        best_ours_cpu = std::min(best_ours_cpu, ours.cpu_seconds);
        best_tar_cpu = std::min(best_tar_cpu, tar.cpu_seconds);
        peak_rss = std::max(peak_rss, ours.max_rss_kib);
        our_bytes = tree_bytes(ours_dir, &our_files);
        tar_bytes = tree_bytes(tar_dir, &tar_files);
    }
    printf("\nfiles: ours %zu (%llu bytes), tar %zu (%llu bytes)%s\n", our_files,
           static_cast<unsigned long long>(our_bytes), tar_files,
           static_cast<unsigned long long>(tar_bytes),
           our_files == tar_files && our_bytes == tar_bytes ? "" : "  MISMATCH");
    printf("best of %d: extract_archive %.3f s (%.1f MB/s), tar -xf %.3f s (%.1f MB/s)\n", runs,
           best_ours, double(our_bytes) / best_ours / 1e6, best_tar,
           double(tar_bytes) / best_tar / 1e6);
    printf(
        "ratio extract_archive / tar -xf: %.2f wall (target < 2.5), %.2f cpu (%.3f s / %.3f s)\n",
        best_ours / best_tar, best_ours_cpu / best_tar_cpu, best_ours_cpu, best_tar_cpu);
    printf("peak resident size of the extraction: %.2f MiB (target < 8 MiB)\n",
           double(peak_rss) / 1024.0);
    fs::remove_all(work);
    return 0;
}
