// The extraction driver: installs the archive behind an executable into a
// folder, entry by entry, with the setup's language and settings-file rules.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

struct ExtractionContext;

// 0 every entry processed up to the end of the archive; 1 no memory for the
// record, an entry needs a version outside 13..20, an output file cannot be
// created, or an entry's path (target folder + name) exceeds 259 characters;
// 2 the archive file cannot be opened or read, holds no archive, a block
// header is cut short by the archive's end or points beyond it, its first
// entry is continued from a previous volume, or an entry continues in a next
// volume (shown as "Cannot install file." captioned with the archive's file
// name); 3 an extracted file fails its checksum or cannot be written
// completely (it is removed, or emptied when it cannot be), or an entry's
// data runs past the archive's end; 4 an entry's name
// leads out of the target folder ('..', a leading '\' or '/', a drive or any
// ':', a device name): nothing is touched; 9 no memory for the window; -1 no
// copy buffer for a stored entry.
typedef int32_t ExtractionResult;

// What the command-line tool asks beyond the setup's own run.
struct ExtractOptions {
    const char *password; // nullptr: the setup's built-in password
    int test_only;        // decode and verify every entry, write nothing
    // Called after each file entry with the run's result so far (tools print it).
    void (*on_entry)(const ExtractionContext *ctx, int32_t result, void *user);
    void *user;
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
