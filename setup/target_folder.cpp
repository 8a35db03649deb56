#include "setup/target_folder.h"

#include <cstdio>
#include <cstring>

#include "platform/win32_api.h"
#include "setup/paths.h"
#include "setup/setup_state.h"

// Reads a string value into a 260-character buffer, always ending it: the
// registry does not promise a terminating NUL. Returns 0 on success.
static LONG read_string_value(HKEY root, const char *key_name, const char *value_name,
                              char *buffer) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, key_name, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = MAX_PATH;
    result = RegQueryValueExA(key, value_name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                              &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        buffer[0] = 0;
        return result;
    }
    buffer[size < MAX_PATH ? size : MAX_PATH - 1] = 0;
    return ERROR_SUCCESS;
}

// Appends text when the result fits the 260-character buffer; a proposal
// that would not fit stays as it is (the install refuses long folders).
static void append_text(char *path, const char *text) {
    size_t length = strlen(path);
    if (length + strlen(text) < MAX_PATH)
        memcpy(path + length, text, strlen(text) + 1);
}

void read_program_files_dir(char *buffer) {
    buffer[0] = 0;
    read_string_value(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                      "ProgramFilesDir", buffer);
}

void detect_installed_languages(const char *folder) {
    if (path_missing(folder))
        return;
    char base[MAX_PATH];
    snprintf(base, sizeof base, "%s", folder);
    append_backslash(base);
    for (LanguageEntry *row = language_table; row->suffix; ++row) {
        char pattern[MAX_PATH];
        int length =
            snprintf(pattern, sizeof pattern, "%s%s%s.HLP", base, product_file_base, row->suffix);
        WIN32_FIND_DATAA found;
        // A name that does not fit could only match the wrong files.
        HANDLE search = length < MAX_PATH ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
        if (search == INVALID_HANDLE_VALUE) {
            row->selected = 0;
        } else {
            ++row->selected;
            FindClose(search);
        }
    }
}

void propose_target_folder(char *buffer) {
    buffer[0] = 0;
    if (read_string_value(HKEY_CURRENT_USER, "Software\\ZQNavigrove", "Dir", buffer) ==
            ERROR_SUCCESS &&
        buffer[0]) {
        detect_installed_languages(buffer);
        return;
    }
    read_program_files_dir(buffer);
    if (!buffer[0]) {
        UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            buffer[0] = 0;
        strip_last_component(buffer);
        append_backslash(buffer);
        size_t start = strlen(buffer);
        append_text(buffer, "Programme");
        // Which of the two exists decides, not the setup's language.
        if (path_missing(buffer))
            snprintf(buffer + start, MAX_PATH - start, "%s", "Program Files");
    }
    append_backslash(buffer);
    append_text(buffer, "Navigrove");
}
