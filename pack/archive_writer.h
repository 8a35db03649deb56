// The archive writer: files and folders into a RAR 2.0 archive, optionally
// behind a program (the setup), compressed as one solid stream or file by
// file, and encrypted per file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/rar_format.h"

// The setup finds its archive only when the marker starts at most at
// last_marker_offset, so a stub may be at most this long.
constexpr uint64_t max_stub_size = last_marker_offset;
// The header reader keeps at most 259 name characters.
constexpr size_t max_entry_name = 259;

struct ArchiveEntry {
    std::string path; // where the data comes from
    std::string name; // name in the archive, '\' between folders
    bool is_directory;
    uint64_t size;
    uint32_t dos_time;
    uint32_t attributes;
};

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

// Turns command-line inputs into entries: a folder contributes everything
// below it (names relative to it), a file itself under its own name. Entries
// come sorted, folders before their contents. Returns 0, or nonzero with a
// one-line message in error.
int collect_entries(const std::vector<std::string> &inputs, std::vector<ArchiveEntry> *entries,
                    std::string *error);
// Writes the archive to a temporary file beside output and renames it into
// place at the end; on failure nothing is left behind. Returns 0, or nonzero
// with a one-line message in error.
int write_archive(const char *output, const std::vector<ArchiveEntry> &entries,
                  const ArchiveOptions &options, ArchiveSummary *summary, std::string *error);
// DOS date and time (date in the high 16 bits) of a local time.
uint32_t dos_time_of(int64_t unix_time);
