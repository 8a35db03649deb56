// How fast does the setup install its files, and in how much memory?
//
// extract_bench CORPUS_DIR [--installer FILE] [--tar FILE] [--peer FILE]
//               [-l LEVEL] [-r RUNS]
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
// --peer FILE names that tar compressed by zstd (with --long=20, the same
// 1 MiB window). The same runs then also time the peer's way of installing
// the files, `zstd -dc --long=20 FILE | tar -xf -`, once with both programs
// on one CPU (the setup runs on one) and once free to use two: what a fast
// general-purpose decoder plus tar's own writing cost against tar -xf alone.
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
    std::string peer_file;
    int level = pack_level_default;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--installer" && i + 1 < argc)
            installer = argv[++i];
        else if (arg == "--tar" && i + 1 < argc)
            tar_file = argv[++i];
        else if (arg == "--peer" && i + 1 < argc)
            peer_file = argv[++i];
        else if (arg == "-l" && i + 1 < argc)
            level = atoi(argv[++i]);
        else if (arg == "-r" && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
        else if (!corpus && arg[0] != '-')
            corpus = argv[i];
        else {
            fprintf(stderr, "usage: extract_bench CORPUS_DIR [--installer FILE] [--tar FILE] "
                            "[--peer FILE] [-l LEVEL] [-r RUNS]\n");
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

    // The ways of installing the files that each run times, in turn.
    enum Side { side_ours, side_tar, side_peer_one_cpu, side_peer_two_cpus, side_count };
    const char *const side_names[side_count] = {"ours", "tar", "peer1", "peer2"};
    const char *const peer_pipe = "zstd -dc --long=20 \"$0\" | tar -xf - -C \"$1\"";
    int sides = peer_file.empty() ? side_peer_one_cpu : side_count;
    double best[side_count], best_cpu[side_count];
    std::fill(best, best + side_count, 1e30);
    std::fill(best_cpu, best_cpu + side_count, 1e30);
    long peak_rss = 0;
    size_t files[side_count] = {};
    uint64_t bytes[side_count] = {};
    // Every run writes into folders of its own and nothing is deleted until
    // the end: the file system spends much longer allocating inodes near
    // ones it has just freed, which would tax whichever side runs next.
    // The order rotates for the same reason.
    for (int run = 0; run < runs; ++run) {
        ChildRun done[side_count] = {};
        std::string dirs[side_count];
        for (int k = 0; k < sides; ++k) {
            int side = (k + run) % sides;
            std::string &dir = dirs[side];
            dir = work + "/" + side_names[side] + std::to_string(run);
            fs::create_directory(dir);
            sync(); // no dirty pages of another side's writing
            if (side == side_ours)
                done[side] = run_child({self, "--extract-child", installer, dir});
            else if (side == side_tar)
                done[side] = run_child({"tar", "-xf", tar_file, "-C", dir});
            else if (side == side_peer_one_cpu)
                done[side] =
                    run_child({"taskset", "-c", "0", "sh", "-c", peer_pipe, peer_file, dir});
            else
                done[side] = run_child({"sh", "-c", peer_pipe, peer_file, dir});
        }
        for (int side = 0; side < sides; ++side) {
            if (done[side].status != 0) {
                fprintf(stderr, "extract_bench: %s failed (status %d)\n", side_names[side],
                        done[side].status);
                return 1;
            }
            best[side] = std::min(best[side], done[side].seconds);
            best_cpu[side] = std::min(best_cpu[side], done[side].cpu_seconds);
            bytes[side] = tree_bytes(dirs[side], &files[side]);
        }
        printf("run %d: extract_archive %.3f s (cpu %.3f s), tar -xf %.3f s (cpu %.3f s), "
               "peak RSS %ld KiB\n",
               run + 1, done[side_ours].seconds, done[side_ours].cpu_seconds,
               done[side_tar].seconds, done[side_tar].cpu_seconds, done[side_ours].max_rss_kib);
        if (sides == side_count)
            printf("       zstd -dc | tar -xf - %.3f s on one CPU, %.3f s on two\n",
                   done[side_peer_one_cpu].seconds, done[side_peer_two_cpus].seconds);
        peak_rss = std::max(peak_rss, done[side_ours].max_rss_kib);
    }
    bool same = true;
    for (int side = 1; side < sides; ++side)
        same = same && files[side] == files[side_ours] && bytes[side] == bytes[side_ours];
    printf("\nfiles: ours %zu (%llu bytes), tar %zu (%llu bytes)%s\n", files[side_ours],
           static_cast<unsigned long long>(bytes[side_ours]), files[side_tar],
           static_cast<unsigned long long>(bytes[side_tar]), same ? "" : "  MISMATCH");
    printf("best of %d: extract_archive %.3f s (%.1f MB/s), tar -xf %.3f s (%.1f MB/s)\n", runs,
           best[side_ours], double(bytes[side_ours]) / best[side_ours] / 1e6, best[side_tar],
           double(bytes[side_tar]) / best[side_tar] / 1e6);
    printf(
        "ratio extract_archive / tar -xf: %.2f wall (target < 1.6), %.2f cpu (%.3f s / %.3f s)\n",
        best[side_ours] / best[side_tar], best_cpu[side_ours] / best_cpu[side_tar],
        best_cpu[side_ours], best_cpu[side_tar]);
    if (sides == side_count)
        printf("ratio zstd -dc | tar -xf - / tar -xf: %.2f wall on one CPU (%.3f s), %.2f wall "
               "on two CPUs (%.3f s)\n",
               best[side_peer_one_cpu] / best[side_tar], best[side_peer_one_cpu],
               best[side_peer_two_cpus] / best[side_tar], best[side_peer_two_cpus]);
    printf("peak resident size of the extraction: %.2f MiB (target < 8 MiB)\n",
           double(peak_rss) / 1024.0);
    fs::remove_all(work);
    return 0;
}
