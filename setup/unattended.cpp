// The unattended setup does what the dialog does when OK is pressed, with
// what the dialog would have proposed wherever the command line says
// nothing: the proposed folder and the languages of a previous installation,
// both shortcuts. Running copies of the product are closed first, as before
// the dialog shows. Without /S the same messages appear as in the dialog
// run; with it none at all, and ui_language stays unset, which keeps even
// the driver's own message boxes away.
#include "setup/unattended.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "archive/entry_name.h"
#include "setup/install.h"
#include "setup/product.h"
#include "setup/setup_dialog.h"
#include "setup/setup_ids.h"
#include "setup/setup_log.h"
#include "setup/target_folder.h"

// Short lines: a message box wraps long ones where it likes.
static const char usage[] = "Usage: ZQSETUP.EXE [options] [/D=FOLDER]\n"
                            "\n"
                            "/S - silent: no dialog, no messages\n"
                            "/LANG=DE,US,OTHER - languages to install\n"
                            "    (or ALL); DE or US among them\n"
                            "/NOSTARTMENU - no Start-menu entry\n"
                            "/NODESKTOP - no desktop icon\n"
                            "/LOG=FILE - append a record to FILE\n"
                            "/D=FOLDER - target folder, last on the line\n"
                            "/? - this text\n"
                            "\n"
                            "Exit code: 0 installed, 2 extraction failed,\n"
                            "3 folder not created, 4 folder too long,\n"
                            "87 bad arguments.";

static bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool has_arguments(const char *line) {
    while (is_blank(*line))
        ++line;
    return *line != 0;
}

// The text after "NAME=" when token is that switch; nullptr otherwise.
static const char *value_of(const char *token, const char *name) {
    size_t length = strlen(name);
    return same_ignoring_case(token, name, length) ? token + length : nullptr;
}

static bool copy_value(char *out, const char *value) {
    if (!value[0] || out[0] || strlen(value) >= MAX_PATH)
        return false; // empty, given twice, or too long for a path
    memcpy(out, value, strlen(value) + 1);
    return true;
}

// Reads the codes as zqrar's --lang does, into the arguments; the table
// itself is set only when the setup installs, after the proposal has preset
// it, so it is put back here.
static bool choose_languages(const char *codes, SetupArguments *arguments) {
    if (arguments->languages_given)
        return false;
    int16_t kept[language_rows];
    for (int row = 0; row < language_rows; ++row)
        kept[row] = language_table[row].selected;
    // select_main_language changes nothing when German or English is chosen.
    bool good = select_language_codes(codes) == 0 && !select_main_language();
    for (int row = 0; row < language_rows; ++row) {
        arguments->languages[row] = language_table[row].selected;
        language_table[row].selected = kept[row];
    }
    arguments->languages_given = good;
    return good;
}

static bool apply_switch(const char *token, SetupArguments *arguments) {
    const char *value = nullptr;
    if (same_ignoring_case(token, "/S", 3))
        arguments->silent = true;
    else if (same_ignoring_case(token, "/?", 3))
        arguments->help = true;
    else if (same_ignoring_case(token, "/NOSTARTMENU", 13))
        arguments->start_menu = false;
    else if (same_ignoring_case(token, "/NODESKTOP", 11))
        arguments->desktop = false;
    else if ((value = value_of(token, "/LOG=")))
        return copy_value(arguments->log_path, value);
    else if ((value = value_of(token, "/LANG=")))
        return choose_languages(value, arguments);
    else
        return false;
    return true;
}

// /D= takes the rest of the line, blanks included; a folder holds no quotes,
// so those a tool put around it are dropped, and trailing blanks too.
static bool take_folder(const char *rest, SetupArguments *arguments) {
    size_t length = 0;
    for (; *rest; ++rest)
        if (*rest != '"' && length < MAX_PATH - 1)
            arguments->folder[length++] = *rest;
    while (length > 0 && is_blank(arguments->folder[length - 1]))
        --length;
    arguments->folder[length] = 0;
    return length > 0;
}

int32_t parse_setup_arguments(const char *line, SetupArguments *arguments) {
    memset(arguments, 0, sizeof *arguments);
    arguments->start_menu = true;
    arguments->desktop = true;
    const char *p = line;
    for (;;) {
        while (is_blank(*p))
            ++p;
        if (!*p)
            break;
        const char *start = p;
        bool good = false;
        if (same_ignoring_case(p + (*p == '"'), "/D=", 3)) {
            good = take_folder(p + (*p == '"') + 3, arguments);
            p += strlen(p);
        } else {
            // One argument up to a blank outside quotes, the quotes dropped.
            char token[2 * MAX_PATH];
            size_t length = 0;
            bool quoted = false;
            for (; *p && (quoted || !is_blank(*p)); ++p) {
                if (*p == '"')
                    quoted = !quoted;
                else if (length < sizeof token - 1)
                    token[length++] = *p;
            }
            token[length] = 0;
            good = !quoted && apply_switch(token, arguments);
        }
        if (!good && !arguments->refused[0])
            snprintf(arguments->refused, sizeof arguments->refused, "%.*s", int(p - start), start);
    }
    return arguments->refused[0] ? setup_bad_arguments : 0;
}

static bool chosen(int control_id) {
    for (const LanguageEntry *row = language_table; row->suffix; ++row)
        if (row->control_id == control_id)
            return row->selected != 0;
    return false;
}

static const char *result_meaning(int32_t result) {
    switch (result) {
    case install_done:
        return "installed";
    case install_empty_target:
        return "no target folder";
    case install_extraction_failed:
        return "extraction failed";
    case install_folder_failed:
        return "target folder not created";
    case install_target_too_long:
        return "target folder too long";
    default:
        return "bad arguments";
    }
}

static int32_t finish(FILE *log, int32_t result) {
    log_line(log, "result: %d (%s)", int(result), result_meaning(result));
    if (log)
        fclose(log);
    return result;
}

static void log_choices(FILE *log, const char *folder, const SetupArguments &arguments) {
    char languages[32] = "";
    for (const LanguageEntry *row = language_table; row->suffix; ++row)
        if (row->selected)
            snprintf(languages + strlen(languages), sizeof languages - strlen(languages), "%s%s",
                     languages[0] ? " " : "", row->suffix[1] == '?' ? "OTHER" : row->suffix + 1);
    log_line(log, "folder: %s", folder);
    log_line(log, "languages: %s", languages);
    log_line(log, "shortcuts: %s",
             arguments.start_menu && arguments.desktop ? "Start menu, desktop"
             : arguments.start_menu                    ? "Start menu"
             : arguments.desktop                       ? "desktop"
                                                       : "none");
}

int32_t run_unattended(const char *line) {
    SetupArguments arguments;
    int32_t parsed = parse_setup_arguments(line, &arguments);
    FILE *log = arguments.log_path[0] ? open_setup_log(arguments.log_path) : nullptr;
    if (arguments.log_path[0] && !log && parsed == 0) {
        snprintf(arguments.refused, sizeof arguments.refused, "/LOG=%s", arguments.log_path);
        parsed = setup_bad_arguments;
    }
    char stamp[32] = "";
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);
    if (local)
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    log_line(log, "%s %s setup, %s, arguments: %s", product_name, product_version, stamp, line);

    char caption[64];
    snprintf(caption, sizeof caption, "%s%s", caption_prefix, product_name);
    if (parsed != 0) {
        log_line(log, "bad argument: %s", arguments.refused);
        if (!arguments.silent) {
            char text[sizeof usage + sizeof arguments.refused + 32];
            snprintf(text, sizeof text, "Cannot use the argument\n%s\n\n%s", arguments.refused,
                     usage);
            MessageBoxA(nullptr, text, caption, MB_ICONERROR);
        }
        return finish(log, setup_bad_arguments);
    }
    if (arguments.help) {
        if (!arguments.silent)
            MessageBoxA(nullptr, usage, caption, MB_ICONINFORMATION);
        log_line(log, "usage shown");
        if (log)
            fclose(log);
        return 0;
    }

    cut_product_file_base();
    char folder[MAX_PATH];
    propose_target_folder(folder);
    if (arguments.folder[0])
        memcpy(folder, arguments.folder, sizeof folder);
    if (arguments.languages_given)
        for (int row = 0; row < language_rows; ++row)
            language_table[row].selected = arguments.languages[row];
    else
        select_main_language();
    // The dialog's rule for its texts: German when German is chosen and
    // English is not.
    if (!arguments.silent)
        ui_language =
            chosen(IDC_GERMAN) && !chosen(IDC_ENGLISH) ? ui_language_german : ui_language_english;
    log_choices(log, folder, arguments);

    close_running_product_windows();
    InstallChoices choices = {folder, arguments.start_menu, arguments.desktop};
    InstallReport report = {nullptr, arguments.silent, log};
    return finish(log, install_product(choices, report));
}
