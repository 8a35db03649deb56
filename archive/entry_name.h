// The rule for entry names: which names the extractor writes below its
// target folder. The driver applies it to every entry it reads, and the
// packer to every name it writes, so that the packer never builds an archive
// the setup would stop at.
#pragma once

#include <cstddef>

// True when the entry's name (folders separated by '\' or '/') stays below
// the target folder and names no device.
bool name_stays_inside(const char *name);
// Compares at most count characters, ASCII letters without regard to case;
// a shorter text compares up to its end.
bool same_ignoring_case(const char *a, const char *b, size_t count);
