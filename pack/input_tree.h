// The packer's inputs: command-line files and folders turned into the entries
// of an archive, with the names, sizes, times and attributes they get there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The header reader keeps at most 259 name characters.
constexpr size_t max_entry_name = 259;
// An entry's sizes are signed 32-bit numbers to the reader.
constexpr uint64_t max_file_size = 0x7FFFFFFF;

struct ArchiveEntry {
    std::string path; // where the data comes from, links resolved
    std::string name; // name in the archive, '\' between folders
    bool is_directory;
    uint64_t size;
    uint32_t dos_time;
    uint32_t attributes;
};

// Turns command-line inputs into entries: a folder contributes everything
// below it (names relative to it), a file itself under its own name. Entries
// come sorted, folders before their contents. A link below a folder is
// followed when it leads to a file or folder inside that folder, and refused
// otherwise (a loop too); anything but files and folders is refused without
// being opened. Every name must be one the setup writes as it stands, and
// no two may differ only in case. The file output names (the same file, also
// when reached by another path) is left out, with a line in notes. Returns 0,
// or nonzero with a one-line message in error.
int collect_entries(const std::vector<std::string> &inputs, std::vector<ArchiveEntry> *entries,
                    std::string *error, const char *output = nullptr,
                    std::vector<std::string> *notes = nullptr);
// Opens path for reading when it is a regular file, and opens nothing else
// (a FIFO, a device): follow_link false refuses a link at its last part.
// Returns nullptr with a one-line message in error.
FILE *open_regular_file(const std::string &path, bool follow_link, std::string *error);
// DOS date and time (date in the high 16 bits) of a local time.
uint32_t dos_time_of(int64_t unix_time);
