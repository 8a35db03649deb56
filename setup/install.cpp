// The installation, behind the dialog's OK button and the unattended setup
// alike, in an order the user can rely on: nothing is created or written
// before the folder is accepted (not empty, and short enough for every path
// built below it); "Dir" is recorded before the extraction, so a failed run
// still proposes the same folder next time; the shortcut, registry and INI
// steps after a good extraction never fail the installation. Only the dialog
// and the messages depend on who asked; the steps are the same.
#include "setup/install.h"

#include <cstdio>
#include <cstring>

#include "archive/extract.h"
#include "archive/extraction_context.h"
#include "archive/rar_format.h"
#include "setup/paths.h"
#include "setup/product.h"
#include "setup/setup_ids.h"
#include "setup/setup_log.h"
#include "setup/setup_state.h"
#include "setup/shell_links.h"

static const char install_dir_key[] = "Software\\ZQNavigrove";
static const char uninstall_key_base[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const char uninstaller_name[] = "UnInst.exe";
static const char language_key[] = "Language";

// A message for the person at the screen, kept in the log in English. An
// error (with its German text) is shown in the setup's language, and not
// while that is unset; the success message is English only.
static void report_message(const InstallReport &report, UINT icon, const char *english,
                           const char *german, const char *caption) {
    log_line(report.log, "message: %s (%s)", english, caption);
    if (report.silent)
        return;
    if (!german)
        MessageBoxA(report.dialog, english, caption, icon);
    else if (ui_language == ui_language_english || ui_language == ui_language_german)
        MessageBoxA(report.dialog, ui_language == ui_language_english ? english : german, caption,
                    icon);
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
    char quiet_command[MAX_PATH + 5];
    char main_program[MAX_PATH];
    join_path(uninstaller, folder, uninstaller_name);
    snprintf(command, sizeof command, "\"%s\"", uninstaller);
    // The uninstaller's own switch for a removal without questions, which
    // deployment tools run.
    snprintf(quiet_command, sizeof quiet_command, "%s /S", command);
    join_path(main_program, folder, main_program_name);
    uint64_t kib = (bytes_written + 1023) / 1024;
    set_string_value(key, "DisplayName", product_name);
    set_string_value(key, "UninstallString", command);
    set_string_value(key, "QuietUninstallString", quiet_command);
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

// One installation's own state, for the driver's hooks.
struct InstallRun {
    const InstallReport *report;
    uint64_t bytes_written;
};

// After each entry: adds up the bytes of the files the extraction wrote
// (entries that ended well and were neither folders nor passed over: a
// language not chosen, the kept settings file), and logs the entry.
static void note_entry(const ExtractionContext *ctx, int32_t result, void *user) {
    InstallRun *run = static_cast<InstallRun *>(user);
    const FileHeader &header = ctx->file_header;
    if (header.attributes & (attribute_volume_label | attribute_directory))
        return;
    const char *outcome = result != extraction_done ? " (failed)"
                          : ctx->decode_only        ? " (not written)"
                                                    : "";
    log_line(run->report->log, "entry: %s%s", ctx->file_name, outcome);
    if (result == extraction_done && !ctx->decode_only)
        run->bytes_written += header.unp_size;
}

// The driver's "Cannot install file.", logged and shown as the report asks.
static void note_entry_error(HWND window, const char *caption, void *user) {
    const InstallReport *report = static_cast<InstallRun *>(user)->report;
    log_line(report->log, "message: Cannot install file. (%s)", caption);
    if (!report->silent)
        report_install_error(window, caption);
}

int32_t install_product(const InstallChoices &choices, const InstallReport &report) {
    HWND dialog = report.dialog;
    char target[MAX_PATH];
    snprintf(target, sizeof target, "%s", choices.target);
    if (!target[0])
        return install_empty_target;
    if (!target_fits(target)) {
        report_message(report, MB_ICONERROR, "The target folder is too long.",
                       "Der Zielpfad ist zu lang.", target);
        return install_target_too_long;
    }

    HCURSOR previous_cursor = dialog ? SetCursor(LoadCursorA(nullptr, IDC_WAIT)) : nullptr;
    // No system dialog for a drive without a medium while we work with files.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    if (path_missing(target) && create_folder(target) != 0) {
        if (dialog)
            SetCursor(previous_cursor);
        report_message(report, MB_ICONERROR, "Cannot create path.",
                       "Kann nicht Verzeichnis erstellen.", target);
        return install_folder_failed;
    }

    // The program's own file, which carries the archive: the module of the
    // process, whose instance is the one the entry point was given.
    char own_path[MAX_PATH];
    GetModuleFileNameA(nullptr, own_path, MAX_PATH);
    own_path[MAX_PATH - 1] = 0;
    save_install_dir(target);

    if (dialog) {
        ShowWindow(GetDlgItem(dialog, IDC_START_MENU), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_DESKTOP), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_SHOW);
    }
    InstallRun run = {&report, 0};
    ExtractOptions hooks = {};
    hooks.on_entry = note_entry;
    hooks.on_error = note_entry_error;
    hooks.user = &run;
    if (extract_archive_ex(dialog, own_path, target, &hooks) != 0) {
        if (dialog)
            SetCursor(previous_cursor);
        return install_extraction_failed;
    }
    append_backslash(target);
    if (dialog) {
        SetDlgItemTextA(dialog, IDC_PROGRESS, "");
        SetCursor(previous_cursor);
    }

    // target_fits() made room for each of these names.
    char main_program[MAX_PATH];
    char ini_name[16];
    char ini_path[MAX_PATH];
    snprintf(ini_name, sizeof ini_name, "%.7s.INI", product_file_base);
    join_path(main_program, target, main_program_name);
    join_path(ini_path, target, ini_name);

    // Only a successful initialisation is to be undone.
    HRESULT ole = OleInitialize(nullptr);
    if (choices.start_menu)
        create_start_menu_group(dialog, target);
    if (choices.desktop)
        create_desktop_icon(dialog, main_program);
    if (SUCCEEDED(ole))
        OleUninitialize();

    write_uninstall_entry(target, run.bytes_written);
    write_language_setting(ini_path);

    char message[64];
    snprintf(message, sizeof message, "%s has been successfully installed.", product_name);
    report_message(report, MB_ICONINFORMATION, message, nullptr, caption_prefix);
    return install_done;
}

int32_t run_install(HWND dialog) {
    char target[MAX_PATH];
    GetDlgItemTextA(dialog, IDC_TARGET, target, MAX_PATH);
    // The boxes keep their check marks while the progress line hides them.
    InstallChoices choices = {target, IsDlgButtonChecked(dialog, IDC_START_MENU) == BST_CHECKED,
                              IsDlgButtonChecked(dialog, IDC_DESKTOP) == BST_CHECKED};
    InstallReport report = {dialog, false, nullptr};
    return install_product(choices, report);
}
