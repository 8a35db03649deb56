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
extern char product_file_base[8]; // "ZQNG*.*" until the dialog cuts it to "ZQNG"
