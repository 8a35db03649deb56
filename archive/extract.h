// The extraction driver: installs the archive behind an executable into a
// folder, entry by entry, with the setup's language and settings-file rules.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

struct ExtractionContext;

// The result of a run: extraction_done, or the failure that ended it.
typedef int32_t ExtractionResult;
// Every entry processed up to the end of the archive.
constexpr ExtractionResult extraction_done = 0;
// No memory for the record, an entry needs a version outside
// unp_ver_oldest..unp_ver_20, an output file cannot be created (a folder or
// a read-only file in the way), or an entry's path (target folder + name)
// exceeds 259 characters.
constexpr ExtractionResult extraction_failed = 1;
// The archive file cannot be opened or read, holds no archive, a block
// header is cut short by the archive's end or points beyond it or to 2 GiB
// and more, a file header has no data or its data would begin inside it,
// its first entry is continued from a previous volume, or an entry continues
// in a next volume (shown as "Cannot install file." captioned with the
// archive's file name).
constexpr ExtractionResult extraction_bad_archive = 2;
// An extracted file fails its checksum or cannot be written completely (it
// is removed, or emptied when it cannot be), a stored entry's data is
// shorter than its size, or an entry's data runs past the archive's end.
constexpr ExtractionResult extraction_bad_file = 3;
// An entry's name leads out of the target folder ('..', a leading '\' or
// '/', a drive or any ':', a device name), its path goes through a link or
// junction below the target, or a FIFO, device or socket stands at it:
// nothing is touched.
constexpr ExtractionResult extraction_unsafe_name = 4;
constexpr ExtractionResult extraction_no_window = 9;       // no memory for the window
constexpr ExtractionResult extraction_no_copy_buffer = -1; // no memory to copy a stored entry

// What the command-line tool asks beyond the setup's own run.
struct ExtractOptions {
    const char *password; // nullptr: the setup's built-in password
    int test_only;        // decode and verify every entry, write nothing
    // Called after each file entry with the run's result so far (tools print it).
    void (*on_entry)(const ExtractionContext *ctx, int32_t result, void *user);
    void *user;
    // Called in place of report_install_error, so that a caller without a
    // dialog can keep or show the message its own way.
    void (*on_error)(HWND window, const char *caption, void *user);
};

// extract_archive with options; extract_archive itself is this with none.
ExtractionResult extract_archive_ex(HWND window, const char *archive_path, char *target_folder,
                                    const ExtractOptions *options);

// Appends '\' to target_folder (the caller's 260-character buffer).
ExtractionResult extract_archive(HWND window, const char *archive_path, char *target_folder);
ExtractionResult extract_entries(HWND window, ExtractionContext *ctx);
int32_t copy_stored(ExtractionContext *ctx);
void report_install_error(HWND window, const char *caption);
uint16_t name_start(const char *path);
