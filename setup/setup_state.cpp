#include "setup/setup_state.h"

int32_t ui_language = ui_language_unset;

LanguageEntry language_table[4] = {
    {"_DE", 201, 1},
    {"_US", 202, 1},
    {"_??", 203, 1}, // every further language: the suffix doubles as a wildcard
    {nullptr, 0, 0},
};

// Cut at the '*' by the dialog when it opens, so that every use reads "ZQNG".
char product_file_base[8] = "ZQNG*.*";
