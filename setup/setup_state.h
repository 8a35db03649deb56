// State shared by the setup dialog, the install procedure and the extraction
// driver. Global for the life of the process; touched only by the GUI thread.
#pragma once

#include <cstdint>

struct LanguageEntry {
    const char *suffix; // nullptr ends the table
    int16_t control_id;
    int16_t selected; // nonzero: install this language
};

// ui_language: the language of the setup's texts and messages; unset, the
// setup shows no error message.
constexpr int32_t ui_language_unset = 0;
constexpr int32_t ui_language_english = 1;
constexpr int32_t ui_language_german = 2;

extern int32_t ui_language;
extern LanguageEntry language_table[4];
extern char product_file_base[8]; // "ZQNG*.*" until cut_product_file_base

// Cuts product_file_base at its '*', so that every use reads "ZQNG". The
// setup does it once before it proposes a folder or installs.
void cut_product_file_base();

// Selects the languages to install as the dialog's boxes would, from a
// comma-separated list of codes: DE, US, OTHER (every further language), or
// ALL or NONE; letter case does not count. 0 when done; 1 for an unknown code
// or a list without one, which leaves language_table as it was.
int32_t select_language_codes(const char *codes);
