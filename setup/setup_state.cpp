#include "setup/setup_state.h"

#include <cstring>

int32_t ui_language = ui_language_unset;

LanguageEntry language_table[4] = {
    {"_DE", 201, 1},
    {"_US", 202, 1},
    {"_??", 203, 1}, // every further language: the suffix doubles as a wildcard
    {nullptr, 0, 0},
};

char product_file_base[8] = "ZQNG*.*";

void cut_product_file_base() {
    char *wildcard = strchr(product_file_base, '*');
    if (wildcard)
        *wildcard = 0;
}

// Whether the length characters at text spell code (in capitals), ignoring
// the case of ASCII letters.
static bool is_code(const char *text, size_t length, const char *code) {
    if (strlen(code) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 'a' + 'A') : text[i];
        if (c != code[i])
            return false;
    }
    return true;
}

int32_t select_language_codes(const char *codes) {
    constexpr int rows = int(sizeof language_table / sizeof language_table[0]);
    int16_t chosen[rows] = {};
    bool all = false;
    bool any = false;
    for (const char *code = codes;; ++code) {
        size_t length = strcspn(code, ",");
        if (length > 0) {
            any = true;
            bool known = is_code(code, length, "NONE");
            if (is_code(code, length, "ALL"))
                all = known = true;
            for (int row = 0; language_table[row].suffix; ++row) {
                const char *suffix = language_table[row].suffix;
                // The wildcard row stands for every further language.
                if (is_code(code, length, suffix[1] == '?' ? "OTHER" : suffix + 1)) {
                    chosen[row] = 1;
                    known = true;
                }
            }
            if (!known)
                return 1;
        }
        code += length;
        if (!*code)
            break;
    }
    if (!any)
        return 1;
    for (int row = 0; language_table[row].suffix; ++row)
        language_table[row].selected = int16_t(all || chosen[row]);
    return 0;
}
