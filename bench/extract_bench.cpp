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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/rar_format.h"
#include "pack/archive_writer.h"
#include "pack/lz_encode.h"

namespace fs = std::filesystem;

extern char **environ;

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

// The child that writes the installer the way zqpack --stub does: a program
// image, then the archive of every file below the corpus, solid and
// enciphered with the setup's password.
static int pack_installer(const char *corpus, const char *out_path, int level) {
    std::string stub_path = std::string(out_path) + ".stub";
    std::string image(image_size, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    std::ofstream(stub_path, std::ios::binary).write(image.data(), std::streamsize(image.size()));

    std::vector<ArchiveEntry> entries;
    std::string error;
    ArchiveOptions options{level, true, built_in_password, stub_path.c_str(), nullptr, nullptr};
    ArchiveSummary summary;
    int result = collect_entries({corpus}, &entries, &error);
    if (result == 0)
        result = write_archive(out_path, entries, options, &summary, &error);
    remove(stub_path.c_str());
    if (result != 0)
        fprintf(stderr, "extract_bench: %s\n", error.c_str());
    return result == 0 ? 0 : 1;
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
        "ratio extract_archive / tar -xf: %.2f wall (target < 1.6), %.2f cpu (%.3f s / %.3f s)\n",
        best_ours / best_tar, best_ours_cpu / best_tar_cpu, best_ours_cpu, best_tar_cpu);
    printf("peak resident size of the extraction: %.2f MiB (target < 8 MiB)\n",
           double(peak_rss) / 1024.0);
    fs::remove_all(work);
    return 0;
}
