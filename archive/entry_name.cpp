// The rule for entry names, shared by the extraction driver and the packer.
#include "archive/entry_name.h"

#include <cctype>
#include <cstring>

#include "archive/header_reader.h"

bool same_ignoring_case(const char *a, const char *b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
        if (a[i] == '\0')
            return true;
    }
    return true;
}

// Windows opens a device for these names in any folder ("SUB\CON.TXT" is the
// console; the ports are numbered 0 to 9 and also with the superscript digits
// 0xB9, 0xB2, 0xB3), so they would write outside the target folder.
static bool device_name(const char *part, size_t length) {
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t base = 0;
    while (base < length && part[base] != '.')
        ++base;
    while (base > 0 && part[base - 1] == ' ')
        --base;
    for (const char *device : devices)
        if (base == strlen(device) && same_ignoring_case(part, device, base))
            return true;
    if (base != 4 || !(same_ignoring_case(part, "COM", 3) || same_ignoring_case(part, "LPT", 3)))
        return false;
    unsigned char digit = static_cast<unsigned char>(part[3]);
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// The name must be relative (no leading separator, no drive; ':' is refused
// anywhere, which also keeps out alternate data streams) and none of its
// components may climb out or name a device. Components made only of dots
// and spaces are refused, since Windows reads "...", ". ." and the like as
// the folder itself or its parent.
bool name_stays_inside(const char *name) {
    if (name[0] == '\0' || is_path_separator(name[0]) || strchr(name, ':'))
        return false;
    const char *part = name;
    for (;;) {
        const char *end = part;
        bool dots_and_spaces = true;
        for (; *end && !is_path_separator(*end); ++end)
            if (*end != '.' && *end != ' ')
                dots_and_spaces = false;
        if (end > part && (dots_and_spaces || device_name(part, size_t(end - part))))
            return false;
        if (*end == '\0')
            return true;
        part = end + 1;
    }
}
