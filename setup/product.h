// The product's own texts, shared by the dialog, the install procedure and
// the shortcuts.
#pragma once

constexpr const char product_name[] = "ZQ Navigrove";
constexpr const char version_prefix[] = "  V.";
constexpr const char product_version[] = "3.20";
constexpr const char caption_prefix[] = "  Setup ";
constexpr const char main_program_name[] = "ZQNG.EXE";
