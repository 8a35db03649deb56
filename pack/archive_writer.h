// The archive writer: files and folders into a RAR 2.0 archive, optionally
// behind a program (the setup), compressed as one solid stream or file by
// file, and encrypted per file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/rar_format.h"
#include "pack/input_tree.h"

// The setup finds its archive only when the marker starts at most at
// last_marker_offset, so a stub may be at most this long.
constexpr uint64_t max_stub_size = last_marker_offset;
// The reader takes file offsets as signed 32-bit numbers: the whole output,
// stub included, stays below 2 GiB.
constexpr uint64_t max_archive_end = 0x7FFFFFFF;

struct ArchiveOptions {
    int level; // pack_level_fast, pack_level_default, pack_level_best
    bool solid;
    const char *password; // nullptr or empty: not encrypted
    const char *stub;     // nullptr: no program in front
    // Called now and then with input bytes done, their total and the bytes
    // written so far.
    void (*progress)(void *user, uint64_t done, uint64_t total, uint64_t written);
    void *user;
};

struct ArchiveSummary {
    uint32_t files;
    uint32_t directories;
    uint32_t stored;
    uint64_t input_bytes;
    uint64_t archive_bytes; // the archive alone, without the stub
};

// Writes the archive to a temporary file created beside output, puts it on
// the disk and renames it into place at the end; on failure nothing is left
// behind. Refused before anything is written: a stub in which the setup
// would find another archive first, and an archive that could reach 2 GiB.
// Returns 0, or nonzero with a one-line message in error.
int write_archive(const char *output, const std::vector<ArchiveEntry> &entries,
                  const ArchiveOptions &options, ArchiveSummary *summary, std::string *error);
