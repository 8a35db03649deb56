// Shared start for the setup front end's tests: a fresh host root with
// drives C: and D:, the host model reset, the setup's global state as at
// program start, and small helpers to make and read files by Windows path.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/support/setup_resources.h"
#include "tests/support/test_paths.h"
#include "tests/winmodel/dialog.h"
#include "tests/winmodel/registry.h"
#include "tests/winmodel/shell.h"
#include "tests/winmodel/system.h"

// Where the setup reads and records an installation.
constexpr char user_key[] = "Software\\ZQNavigrove";
constexpr char machine_key[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char uninstall_key[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ Navigrove";
constexpr char common_link[] = "C:\\ProgramData\\Start Menu\\Programs\\Navigrove\\ZQ Navigrove.lnk";
constexpr char desktop_link[] = "C:\\Users\\User\\Desktop\\ZQ Navigrove.lnk";

class SetupHostTest : public ::testing::Test {
  protected:
    std::string root;

    void SetUp() override {
        root = make_temp_dir("setup");
        ASSERT_FALSE(root.empty());
        host_set_root(root.c_str());
        host_shell_reset();
        load_setup_resources();
        ui_language = ui_language_unset;
        for (LanguageEntry *row = language_table; row->suffix; ++row)
            row->selected = 1;
        strcpy(product_file_base, "ZQNG*.*");
        make_folder("C:\\WINDOWS");
        make_folder("D:\\");
        make_folder("C:\\Users\\User\\Desktop");
        make_folder("C:\\Users\\User\\Start Menu\\Programs");
        make_folder("C:\\ProgramData\\Start Menu\\Programs");
    }

    void TearDown() override {
        host_shell_reset();
        remove_tree(root);
    }

    static void make_folder(const char *windows_path) {
        std::error_code ec;
        std::filesystem::create_directories(host_path(windows_path), ec);
    }
    static void make_file(const char *windows_path, const std::string &data) {
        write_file(host_path(windows_path), data);
    }
    static bool exists(const char *windows_path) {
        std::error_code ec;
        return std::filesystem::exists(host_path(windows_path), ec);
    }
    static std::string registry(HKEY root_key, const char *key, const char *name) {
        std::string value;
        return host_registry_get(root_key, key, name, &value) ? value : "<none>";
    }
    // A REG_DWORD value; -1 when it is absent or not a REG_DWORD of 4 bytes.
    static int64_t registry_dword(HKEY root_key, const char *key, const char *name) {
        DWORD type = 0;
        std::string data;
        if (!host_registry_get_raw(root_key, key, name, &type, &data) || type != REG_DWORD ||
            data.size() != 4)
            return -1;
        uint32_t value = 0;
        memcpy(&value, data.data(), sizeof value);
        return value;
    }
    static void select_languages(int german, int english, int additional) {
        language_table[0].selected = int16_t(german);
        language_table[1].selected = int16_t(english);
        language_table[2].selected = int16_t(additional);
    }
};
