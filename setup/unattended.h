// The setup started with arguments, for administrators and deployment tools:
// the installation of the dialog's OK button, with the folder and the choices
// taken from the command line, the outcome as the exit code, and a log.
//
//   /S             silent: no window and no message box
//   /LANG=CODES    languages to install: DE, US, OTHER or ALL, separated by
//                  commas; DE or US among them
//   /NOSTARTMENU   no Start-menu entry
//   /NODESKTOP     no desktop icon
//   /LOG=FILE      append what happens to FILE
//   /?             the usage, in a message box
//   /D=FOLDER      the target folder; last, it takes the rest of the line
//
// Switch names and language codes ignore letter case. A value may be quoted
// ("/LOG=C:\a b\x.log" or /LOG="C:\a b\x.log"); quotes are dropped from the
// folder of /D. An empty value, a value switch given twice, an unknown switch
// or an unclosed quote is refused with setup_bad_arguments, as is a log file
// that cannot be opened.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "setup/setup_state.h"

// Exit code for refused arguments (ERROR_INVALID_PARAMETER). The other exit
// codes are install_product's results (setup/install.h).
constexpr int32_t setup_bad_arguments = 87;

constexpr int language_rows = int(sizeof language_table / sizeof language_table[0]);

struct SetupArguments {
    bool silent;
    bool help;
    bool start_menu;
    bool desktop;
    bool languages_given;
    int16_t languages[language_rows]; // the selected field of each language_table row
    char folder[MAX_PATH];            // empty: the folder the dialog would propose
    char log_path[MAX_PATH];          // empty: no log
    char refused[MAX_PATH + 8];       // the first argument refused, as written
};

// Whether the command line (without the program's name) holds an argument.
bool has_arguments(const char *line);
// Reads every argument of the line; 0, or setup_bad_arguments with the first
// one refused in `refused`. /S and /LOG count even then.
int32_t parse_setup_arguments(const char *line, SetupArguments *arguments);
// The whole unattended setup; returns the exit code.
int32_t run_unattended(const char *line);
