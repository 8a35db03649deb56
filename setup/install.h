// What the setup dialog's OK button does: create the target folder, extract
// the archive behind the program's own executable into it, record the
// installation (registry, shortcuts, INI language) and report success.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/win32_api.h"

// Results of install_product and run_install. Every result but install_done
// leaves the dialog open for another try; an unattended setup ends with it
// as its exit code.
constexpr int32_t install_done = 0;              // installed, success shown
constexpr int32_t install_empty_target = 1;      // nothing done
constexpr int32_t install_extraction_failed = 2; // the driver reported it
constexpr int32_t install_folder_failed = 3;     // "Cannot create path." shown
// The typed folder leaves no room for the longest path built below it;
// refused with a message before anything is created or written.
constexpr int32_t install_target_too_long = 4;

// Room kept below the target folder for the longest entry name (folders
// included) the product archive holds: 8.3 names one folder deep need 25.
// It also covers "UnInst.exe", "ZQNG.EXE" and "ZQNG.INI".
constexpr int longest_entry_name = 32;

// What to install; the languages are those selected in language_table.
struct InstallChoices {
    const char *target; // the folder as typed or given; empty: nothing is done
    bool start_menu;
    bool desktop;
};

// How an installation reports what it does.
struct InstallReport {
    HWND dialog; // the setup dialog, whose boxes and progress line follow the run; or none
    bool silent; // no message box at all
    FILE *log;   // gets every step and message (in English); or none
};

// The installation itself, for the dialog and the unattended setup alike.
int32_t install_product(const InstallChoices &choices, const InstallReport &report);
// OK in the dialog: install_product with the dialog's folder and boxes.
int32_t run_install(HWND dialog);
// HKCU "Software\ZQNavigrove" value "Dir" = folder as typed; silent on failure.
void save_install_dir(const char *folder);
// The machine's Uninstall entry for the installation in folder (ending in a
// backslash) of bytes_written bytes; nothing (and no message) without rights.
void write_uninstall_entry(const char *folder, uint64_t bytes_written);
// The language to start in, in section "ZQ Navigrove" key "Language".
void write_language_setting(const char *ini_path);
