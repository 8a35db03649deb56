// The extraction driver: installs the archive behind an executable into a
// folder, entry by entry, with the setup's language and settings-file rules.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

struct ExtractionContext;

typedef int32_t ExtractionResult;

// Appends '\' to target_folder (the caller's 260-character buffer).
ExtractionResult extract_archive(HWND window, const char *archive_path, char *target_folder);
ExtractionResult extract_entries(HWND window, ExtractionContext *ctx);
int32_t copy_stored(ExtractionContext *ctx);
void report_install_error(HWND window, const char *caption);
uint16_t name_start(const char *path);
