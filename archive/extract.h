// The extraction driver: installs the archive behind an executable into a
// folder, entry by entry, with the setup's language and settings-file rules.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

struct ExtractionContext;

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
