// The OK button's work, in an order the user can rely on: nothing is created
// or written before the typed folder is accepted (not empty, and short enough
// for every path built below it); "Dir" is recorded before the extraction, so
// a failed run still proposes the same folder next time; the shortcut,
// registry and INI steps after a good extraction never fail the installation.
#include "setup/install.h"

#include <cstdio>
#include <cstring>

#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"
#include "setup/paths.h"
#include "setup/product.h"
#include "setup/setup_ids.h"
#include "setup/setup_state.h"
#include "setup/shell_links.h"

static const char install_dir_key[] = "Software\\ZQNavigrove";
static const char uninstall_key_base[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const char uninstaller_name[] = "UnInst.exe";
static const char language_key[] = "Language";

// A message in the setup's language; none while the language is unset.
static void show_error(HWND dialog, const char *english, const char *german, const char *caption) {
    if (ui_language == ui_language_english || ui_language == ui_language_german)
        MessageBoxA(dialog, ui_language == ui_language_english ? english : german, caption,
                    MB_ICONERROR);
}

// Whether every path built below folder fits the 260-character buffers: the
// folder, a backslash if it lacks one, and the longest name put into it.
static bool target_fits(const char *folder) {
    size_t length = strlen(folder);
    size_t separator = length && folder[length - 1] == '\\' ? 0 : 1;
    return length + separator + size_t(longest_entry_name) < MAX_PATH;
}

// create_directory_path for a folder as typed. A trailing backslash is left
// out: with it, the folder itself would count as its own missing parent, be
// made one level down, and the final step would then fail on it.
static int32_t create_folder(const char *typed) {
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s", typed);
    size_t length = strlen(folder);
    while (length > 3 && folder[length - 1] == '\\')
        folder[--length] = 0;
    return create_directory_path(folder);
}

// folder + name into a 260-character buffer, cut if it would not fit.
static void join_path(char *out, const char *folder, const char *name) {
    size_t length = strlen(folder);
    size_t added = strlen(name);
    if (length >= MAX_PATH)
        length = MAX_PATH - 1;
    if (length + added >= MAX_PATH)
        added = MAX_PATH - 1 - length;
    memcpy(out, folder, length);
    memcpy(out + length, name, added);
    out[length + added] = 0;
}

static void set_string_value(HKEY key, const char *name, const char *text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   DWORD(strlen(text) + 1));
}

static void set_number_value(HKEY key, const char *name, DWORD number) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number);
}

void save_install_dir(const char *folder) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, install_dir_key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    set_string_value(key, "Dir", folder);
    RegCloseKey(key);
}

void write_uninstall_entry(const char *folder, uint64_t bytes_written) {
    char key_name[512];
    snprintf(key_name, sizeof key_name, "%s%s", uninstall_key_base, product_name);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    // The system runs the command line as it stands: unquoted, a folder with
    // a blank in it (C:\Program Files\...) would start C:\Program.exe if
    // there is one.
    char uninstaller[MAX_PATH];
    char command[MAX_PATH + 2];
    char main_program[MAX_PATH];
    join_path(uninstaller, folder, uninstaller_name);
    snprintf(command, sizeof command, "\"%s\"", uninstaller);
    join_path(main_program, folder, main_program_name);
    uint64_t kib = (bytes_written + 1023) / 1024;
    set_string_value(key, "DisplayName", product_name);
    set_string_value(key, "UninstallString", command);
    set_string_value(key, "DisplayVersion", product_version);
    set_string_value(key, "DisplayIcon", main_program);
    set_string_value(key, "InstallLocation", folder);
    set_number_value(key, "EstimatedSize", kib < 0xFFFFFFFFu ? DWORD(kib) : 0xFFFFFFFFu);
    // The product offers neither a change nor a repair of an installation.
    set_number_value(key, "NoModify", 1);
    set_number_value(key, "NoRepair", 1);
    RegCloseKey(key);
}

void write_language_setting(const char *ini_path) {
    char stored[16];
    GetPrivateProfileStringA(product_name, language_key, "", stored, sizeof stored, ini_path);
    if (stored[0] == 'G' && stored[1] == 'R') {
        // The older form of the German code.
        strcpy(stored, "DE");
        WritePrivateProfileStringA(product_name, language_key, stored, ini_path);
    }
    int selected = 0;
    const LanguageEntry *last = nullptr;
    for (const LanguageEntry *row = language_table; row->suffix; ++row) {
        if (!row->selected)
            continue;
        ++selected;
        last = row;
        if (strcmp(stored, row->suffix + 1) == 0)
            return; // the stored language is being installed
    }
    if (selected <= 1 && last)
        WritePrivateProfileStringA(product_name, language_key, last->suffix + 1, ini_path);
}

// Adds up the bytes of the files the extraction wrote: entries that ended
// well and were neither folders nor passed over (a language not chosen, the
// kept settings file).
static void count_written_bytes(const ExtractionContext *ctx, int32_t result, void *user) {
    const FileHeader &header = ctx->file_header;
    if (result == extraction_done && !ctx->decode_only &&
        !(header.attributes & (attribute_volume_label | attribute_directory)))
        *static_cast<uint64_t *>(user) += header.unp_size;
}

int32_t run_install(HWND dialog) {
    char target[MAX_PATH];
    GetDlgItemTextA(dialog, IDC_TARGET, target, MAX_PATH);
    if (!target[0])
        return install_empty_target;
    if (!target_fits(target)) {
        show_error(dialog, "The target folder is too long.", "Der Zielpfad ist zu lang.", target);
        return install_target_too_long;
    }

    HCURSOR previous_cursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    // No system dialog for a drive without a medium while we work with files.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    if (path_missing(target) && create_folder(target) != 0) {
        SetCursor(previous_cursor);
        show_error(dialog, "Cannot create path.", "Kann nicht Verzeichnis erstellen.", target);
        return install_folder_failed;
    }

    // The program's own file, which carries the archive: the module of the
    // process, whose instance is the one the entry point was given.
    char own_path[MAX_PATH];
    GetModuleFileNameA(nullptr, own_path, MAX_PATH);
    own_path[MAX_PATH - 1] = 0;
    save_install_dir(target);

    ShowWindow(GetDlgItem(dialog, IDC_START_MENU), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_DESKTOP), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_SHOW);
    uint64_t bytes_written = 0;
    ExtractOptions counting = {};
    counting.on_entry = count_written_bytes;
    counting.user = &bytes_written;
    if (extract_archive_ex(dialog, own_path, target, &counting) != 0) {
        SetCursor(previous_cursor);
        return install_extraction_failed;
    }
    append_backslash(target);
    SetDlgItemTextA(dialog, IDC_PROGRESS, "");
    SetCursor(previous_cursor);

    // target_fits() made room for each of these names.
    char main_program[MAX_PATH];
    char ini_name[16];
    char ini_path[MAX_PATH];
    snprintf(ini_name, sizeof ini_name, "%.7s.INI", product_file_base);
    join_path(main_program, target, main_program_name);
    join_path(ini_path, target, ini_name);

    // Only a successful initialisation is to be undone.
    HRESULT ole = OleInitialize(nullptr);
    if (IsDlgButtonChecked(dialog, IDC_START_MENU) == BST_CHECKED)
        create_start_menu_group(dialog, target);
    if (IsDlgButtonChecked(dialog, IDC_DESKTOP) == BST_CHECKED)
        create_desktop_icon(dialog, main_program);
    if (SUCCEEDED(ole))
        OleUninitialize();

    write_uninstall_entry(target, bytes_written);
    write_language_setting(ini_path);

    char message[64];
    snprintf(message, sizeof message, "%s has been successfully installed.", product_name);
    MessageBoxA(dialog, message, caption_prefix, MB_ICONINFORMATION);
    return install_done;
}
