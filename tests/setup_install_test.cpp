#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "setup/install.h"
#include "setup/setup_dialog.h"
#include "setup/setup_ids.h"
#include "setup/setup_main.h"
#include "setup/unattended.h"
#include "tests/setup_fixture.h"
#include "tests/support/archive_builder.h"

namespace {

const char section[] = "ZQ Navigrove";

// A registry string as stored: its text and the NUL that ends it.
std::string with_nul(const char *text) {
    return std::string(text, strlen(text) + 1);
}

// The setup's own file: a program image with the product archive behind it.
// The map is large enough that its data reaches the disk while it is decoded.
std::string installer_bytes(bool with_archive) {
    std::string image = "MZ" + std::string(3000, '\0');
    if (!with_archive)
        return image;
    return image + rar_archive({
                       rar_stored_entry("ZQNG.EXE", "main program"),
                       rar_stored_entry("ZQNG_DE.HLP", "Hilfe"),
                       rar_stored_entry("ZQNG_US.HLP", "help"),
                       rar_stored_entry("ZQNG_FR.HLP", "aide"),
                       rar_stored_entry("NAVGZIP.SET", "settings"),
                       rar_stored_entry("MAPS\\WORLD.MAP", std::string(100000, 'm')),
                   });
}

std::string ini_language(const char *ini) {
    char value[64];
    GetPrivateProfileStringA(section, "Language", "<none>", value, sizeof value, ini);
    return value;
}

// The setup at C:\SETUP.EXE with the product archive, before it starts.
class UnattendedTest : public SetupHostTest {
  protected:
    void SetUp() override {
        SetupHostTest::SetUp();
        host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", "C:\\Program Files");
        make_file("C:\\SETUP.EXE", installer_bytes(true));
        host_set_module_path("C:\\SETUP.EXE");
    }
};

// ... and with its dialog open.
class InstallTest : public UnattendedTest {
  protected:
    HWND dialog = nullptr;

    void SetUp() override {
        UnattendedTest::SetUp();
        dialog = host_dialog_start(IDD_SETUP, setup_dialog_proc, 0);
    }
    // What OK does, with its result visible.
    int32_t press_ok() {
        read_language_boxes(dialog);
        return run_install(dialog);
    }
};

TEST_F(InstallTest, SuccessInstallsRecordsAndCloses) {
    // The progress line is repainted with each entry's name once the entry's
    // file is created and before any of its data is decoded into it.
    std::vector<std::string> repaints;
    host_set_repaint_hook([&](int id, const std::string &text) {
        std::error_code missing;
        uintmax_t size =
            std::filesystem::file_size(host_path(("D:\\Tools\\Viewer\\" + text).c_str()), missing);
        repaints.push_back(std::to_string(id) + " " + text + " " +
                           (missing ? "missing" : std::to_string(size)));
    });
    host_dialog_set_text(IDC_TARGET, "D:\\Tools\\Viewer");
    ASSERT_EQ(host_dialog_click(IDC_OK), 0);
    EXPECT_TRUE(host_dialog_ended());
    EXPECT_EQ(host_dialog_result(), 0);

    for (const char *file : {"ZQNG.EXE", "ZQNG_DE.HLP", "ZQNG_US.HLP", "ZQNG_FR.HLP", "NAVGZIP.SET",
                             "MAPS\\WORLD.MAP"})
        EXPECT_TRUE(exists((std::string("D:\\Tools\\Viewer\\") + file).c_str())) << file;
    EXPECT_EQ(read_file(host_path("D:\\Tools\\Viewer\\ZQNG.EXE")), "main program");
    EXPECT_EQ(repaints, (std::vector<std::string>{"107 ZQNG.EXE 0", "107 ZQNG_DE.HLP 0",
                                                  "107 ZQNG_US.HLP 0", "107 ZQNG_FR.HLP 0",
                                                  "107 NAVGZIP.SET 0", "107 MAPS\\WORLD.MAP 0"}));
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "D:\\Tools\\Viewer");
    // Strings with their NUL, the command line in quotes; numbers as DWORDs.
    const struct {
        const char *name;
        DWORD type;
        std::string data;
    } uninstall_values[] = {
        {"DisplayName", REG_SZ, with_nul("ZQ Navigrove")},
        {"UninstallString", REG_SZ, with_nul("\"D:\\Tools\\Viewer\\UnInst.exe\"")},
        {"QuietUninstallString", REG_SZ, with_nul("\"D:\\Tools\\Viewer\\UnInst.exe\" /S")},
        {"DisplayVersion", REG_SZ, with_nul("3.20")},
        {"DisplayIcon", REG_SZ, with_nul("D:\\Tools\\Viewer\\ZQNG.EXE")},
        {"InstallLocation", REG_SZ, with_nul("D:\\Tools\\Viewer\\")},
        {"EstimatedSize", REG_DWORD, std::string("\x62\0\0\0", 4)}, // 100,033 bytes: 98 KiB
        {"NoModify", REG_DWORD, std::string("\1\0\0\0", 4)},
        {"NoRepair", REG_DWORD, std::string("\1\0\0\0", 4)},
    };
    for (const auto &value : uninstall_values) {
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(
            host_registry_get_raw(HKEY_LOCAL_MACHINE, uninstall_key, value.name, &type, &data))
            << value.name;
        EXPECT_EQ(type, value.type) << value.name;
        EXPECT_EQ(data, value.data) << value.name;
    }
    // Three languages chosen and none stored: no value is created.
    EXPECT_EQ(ini_language("D:\\Tools\\Viewer\\ZQNG.INI"), "<none>");

    HostShellLink link;
    ASSERT_TRUE(host_read_shell_link(common_link, &link));
    EXPECT_EQ(link.target, "D:\\Tools\\Viewer\\ZQNG.EXE");
    EXPECT_EQ(link.working_folder, "D:\\Tools\\Viewer");
    ASSERT_TRUE(host_read_shell_link(desktop_link, &link));
    EXPECT_EQ(link.target, "D:\\Tools\\Viewer\\ZQNG.EXE");
    EXPECT_EQ(link.working_folder, "D:\\Tools\\Viewer");
    EXPECT_EQ(link.description, "ZQ Navigrove");
    EXPECT_EQ(host_ole_initialize_count(), 1);
    EXPECT_EQ(host_ole_uninitialize_count(), 1);

    ASSERT_EQ(host_message_boxes().size(), 1u);
    EXPECT_EQ(host_message_boxes()[0].text, "ZQ Navigrove has been successfully installed.");
    EXPECT_EQ(host_message_boxes()[0].caption, "  Setup ");
    EXPECT_EQ(host_message_boxes()[0].type, UINT(MB_ICONINFORMATION));
    EXPECT_EQ(host_dialog_text(IDC_PROGRESS), "");
    EXPECT_NE(host_current_cursor(), host_wait_cursor());
    EXPECT_EQ(host_error_mode(), UINT(SEM_FAILCRITICALERRORS));
    EXPECT_EQ(host_shell_live_item_lists(), 0);
    EXPECT_EQ(host_shell_live_objects(), 0);
}

// COM is started around the shortcuts whatever the boxes say, and undone only
// when it started.
TEST_F(InstallTest, ShortcutsOnlyForCheckedBoxes) {
    const struct {
        bool start_menu, desktop, com_refused;
    } cases[] = {{true, true, false},
                 {true, false, false},
                 {false, true, false},
                 {false, false, false},
                 {true, true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.start_menu << c.desktop << c.com_refused);
        TearDown();
        SetUp();
        host_set_ole_initialize_fails(c.com_refused);
        host_dialog_set_text(IDC_TARGET, "D:\\Viewer");
        if (!c.start_menu)
            host_dialog_click(IDC_START_MENU);
        if (!c.desktop)
            host_dialog_click(IDC_DESKTOP);
        EXPECT_EQ(press_ok(), install_done);
        EXPECT_EQ(exists(common_link), c.start_menu && !c.com_refused);
        EXPECT_EQ(exists(desktop_link), c.desktop && !c.com_refused);
        EXPECT_EQ(host_ole_initialize_count(), c.com_refused ? 0 : 1);
        EXPECT_EQ(host_ole_uninitialize_count(), c.com_refused ? 0 : 1);
    }
}

TEST_F(InstallTest, GermanChoiceFiltersFilesButSuccessStaysEnglish) {
    host_dialog_click(IDC_ENGLISH);    // German texts
    host_dialog_click(IDC_ADDITIONAL); // German alone
    host_dialog_set_text(IDC_TARGET, "D:\\Viewer\\");
    make_folder("D:\\Viewer");
    make_file("D:\\Viewer\\ZQNG.INI", "[zq navigrove]\r\nlanguage = US\r\n");
    make_file("D:\\Viewer\\ZQNG_US.HLP", "left by an earlier installation");
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_TRUE(exists("D:\\Viewer\\ZQNG_DE.HLP"));
    EXPECT_FALSE(exists("D:\\Viewer\\ZQNG_US.HLP"));
    EXPECT_FALSE(exists("D:\\Viewer\\ZQNG_FR.HLP"));
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "D:\\Viewer\\");
    EXPECT_EQ(ini_language("D:\\Viewer\\ZQNG.INI"), "DE");
    ASSERT_EQ(host_message_boxes().size(), 1u);
    EXPECT_EQ(host_message_boxes()[0].text, "ZQ Navigrove has been successfully installed.");
}

TEST_F(InstallTest, WithoutTheMainProgramOnlyTheDesktopIconIsMade) {
    make_file("C:\\SETUP.EXE",
              installer_bytes(false) +
                  rar_archive({rar_stored_entry("README.TXT", "no program here")}));
    host_dialog_set_text(IDC_TARGET, "D:\\Viewer");
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_TRUE(exists("D:\\Viewer\\README.TXT"));
    EXPECT_FALSE(exists(common_link));
    HostShellLink link;
    ASSERT_TRUE(host_read_shell_link(desktop_link, &link));
    EXPECT_EQ(link.target, "D:\\Viewer\\ZQNG.EXE");
}

TEST_F(InstallTest, WithoutMachineRightsTheUninstallEntryIsSilentlyMissing) {
    host_registry_deny_machine_writes(true);
    host_dialog_set_text(IDC_TARGET, "D:\\Viewer");
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_FALSE(host_registry_key_exists(HKEY_LOCAL_MACHINE, uninstall_key));
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "D:\\Viewer");
    ASSERT_EQ(host_message_boxes().size(), 1u); // the success message only
}

TEST_F(InstallTest, FoldersAreMadeOrReused) {
    host_dialog_set_text(IDC_TARGET, "D:\\Apps\\Tools\\Viewer");
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_TRUE(exists("D:\\Apps\\Tools\\Viewer\\ZQNG.EXE"));
    // Typed with its backslash, below a parent that is missing too.
    host_dialog_set_text(IDC_TARGET, "D:\\New\\Viewer\\");
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_TRUE(exists("D:\\New\\Viewer\\ZQNG.EXE"));
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "D:\\New\\Viewer\\");
    EXPECT_EQ(host_message_boxes().size(), 2u); // two success messages, no error

    make_folder("D:\\Kept");
    make_file("D:\\Kept\\NAVGZIP.SET", "mine");
    make_file("D:\\Kept\\notes.txt", "mine");
    host_dialog_set_text(IDC_TARGET, "D:\\Kept");
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_EQ(read_file(host_path("D:\\Kept\\NAVGZIP.SET")), "mine");
    EXPECT_EQ(read_file(host_path("D:\\Kept\\notes.txt")), "mine");
}

TEST_F(InstallTest, RefusalsLeaveEverythingAsItWas) {
    const std::string long_folder = "D:\\" + std::string(120, 'a') + "\\" + std::string(104, 'b');
    const struct {
        const char *what;
        std::string typed;
        bool german;
        int32_t result;
        const char *message; // nullptr: none
    } cases[] = {
        {"empty", "", false, install_empty_target, nullptr},
        {"missing drive", "Q:\\Apps\\Viewer", false, install_folder_failed, "Cannot create path."},
        {"missing drive, German", "Q:\\Apps\\Viewer", true, install_folder_failed,
         "Kann nicht Verzeichnis erstellen."},
        {"too long", long_folder + "c", false, install_target_too_long,
         "The target folder is too long."},
        {"too long, German", long_folder + "c", true, install_target_too_long,
         "Der Zielpfad ist zu lang."},
        {"far too long", std::string(400, 'x'), false, install_target_too_long,
         "The target folder is too long."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        if (c.german)
            host_dialog_click(IDC_ENGLISH);
        host_dialog_set_text(IDC_TARGET, c.typed.c_str());
        size_t texts_before = host_control_text_log().size();
        EXPECT_EQ(press_ok(), c.result);
        host_dialog_click(IDC_OK); // the dialog stays open after the same refusal
        EXPECT_FALSE(host_dialog_ended());
        if (c.message) {
            ASSERT_EQ(host_message_boxes().size(), 2u);
            EXPECT_EQ(host_message_boxes()[0].text, c.message);
            EXPECT_EQ(host_message_boxes()[0].caption, c.typed.substr(0, MAX_PATH - 1));
            EXPECT_EQ(host_message_boxes()[0].type, UINT(MB_ICONERROR));
        } else {
            EXPECT_TRUE(host_message_boxes().empty());
        }
        EXPECT_FALSE(host_registry_key_exists(HKEY_CURRENT_USER, user_key));
        EXPECT_FALSE(exists("D:\\aaaaaaaaaa"));
        EXPECT_FALSE(exists("Q:\\"));
        EXPECT_TRUE(host_dialog_visible(IDC_START_MENU));
        EXPECT_FALSE(host_dialog_visible(IDC_PROGRESS));
        EXPECT_EQ(host_control_text_log().size(), texts_before);
        EXPECT_NE(host_current_cursor(), host_wait_cursor());
        EXPECT_EQ(host_ole_initialize_count(), 0);
    }
}

// The longest folder that still leaves room for every name built below it.
TEST_F(InstallTest, LongestAcceptedFolder) {
    const size_t longest = MAX_PATH - 1 - 1 - longest_entry_name; // backslash added
    const std::string base = "D:\\" + std::string(120, 'a') + "\\";
    const std::string fits = base + std::string(longest - base.size(), 'b');
    ASSERT_EQ(fits.size(), longest);
    host_dialog_set_text(IDC_TARGET, (fits + "b").c_str());
    EXPECT_EQ(press_ok(), install_target_too_long);
    host_dialog_set_text(IDC_TARGET, (fits + "\\").c_str()); // its own backslash counts once
    EXPECT_EQ(press_ok(), install_done);
    EXPECT_TRUE(exists((fits + "\\MAPS\\WORLD.MAP").c_str()));
    EXPECT_EQ(registry(HKEY_LOCAL_MACHINE, uninstall_key, "UninstallString"),
              "\"" + fits + "\\UnInst.exe\"");
}

TEST_F(InstallTest, FailedExtractionKeepsTheDialogForAnotherTry) {
    make_file("C:\\SETUP.EXE", installer_bytes(false));
    host_dialog_set_text(IDC_TARGET, "D:\\Viewer");
    EXPECT_EQ(press_ok(), install_extraction_failed);
    EXPECT_FALSE(host_dialog_ended());
    EXPECT_FALSE(host_dialog_visible(IDC_START_MENU));
    EXPECT_FALSE(host_dialog_visible(IDC_DESKTOP));
    EXPECT_TRUE(host_dialog_visible(IDC_PROGRESS));
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "D:\\Viewer"); // written before
    EXPECT_FALSE(host_registry_key_exists(HKEY_LOCAL_MACHINE, uninstall_key));
    EXPECT_NE(host_current_cursor(), host_wait_cursor());
    for (const HostMessageBox &box : host_message_boxes())
        EXPECT_NE(box.type, UINT(MB_ICONINFORMATION));
    EXPECT_EQ(host_dialog_click(IDC_START_MENU), -1); // hidden: cannot be clicked

    make_file("C:\\SETUP.EXE", installer_bytes(true));
    host_dialog_click(IDC_OK);
    EXPECT_TRUE(host_dialog_ended());
    EXPECT_TRUE(exists("D:\\Viewer\\ZQNG.EXE"));
    EXPECT_TRUE(exists(common_link)); // the hidden boxes kept their check marks
    EXPECT_TRUE(exists(desktop_link));
}

// section/key read ignoring case, "GR" rewritten, the buffer of 16.
TEST_F(InstallTest, LanguageSettingRules) {
    const struct {
        const char *what;
        const char *stored; // nullptr: no value
        int german, english, additional;
        const char *expected;
    } cases[] = {
        {"old German code", "GR", 1, 1, 0, "DE"},
        {"old German code, nothing else written", "GRX", 1, 1, 1, "DE"},
        {"German alone over US", "US", 1, 0, 0, "DE"},
        {"German and English over US", "US", 1, 1, 0, "US"},
        {"German and additional over US", "US", 1, 0, 1, "US"},
        {"all three, empty", "", 1, 1, 1, ""},
        {"all three, none", nullptr, 1, 1, 1, "<none>"},
        {"all three, FR", "FR", 1, 1, 1, "FR"},
        {"English alone, none", nullptr, 0, 1, 0, "US"},
        {"case counts", "de", 1, 0, 0, "DE"},
        {"the wildcard row's code", "??", 1, 0, 1, "??"},
        {"longer than the buffer", "DEDEDEDEDEDEDEDEDE", 1, 0, 0, "DE"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const char ini[] = "D:\\ZQNG.INI";
        remove_tree(host_path(ini));
        if (c.stored)
            make_file(ini, std::string("; product settings\r\n[Zq NaviGrove]\r\n  LANGUAGE = ") +
                               c.stored + "\r\nOther=1\r\n");
        select_languages(c.german, c.english, c.additional);
        write_language_setting(ini);
        EXPECT_EQ(ini_language(ini), c.expected);
        if (c.stored) {
            char other[8];
            GetPrivateProfileStringA(section, "other", "", other, sizeof other, ini);
            EXPECT_STREQ(other, "1");
        }
    }
}

// The selected field of each language row, as digits ("101": German and
// the further languages).
std::string selected_rows(const int16_t *selected) {
    std::string digits;
    for (int row = 0; language_table[row].suffix; ++row)
        digits += selected[row] ? '1' : '0';
    return digits;
}

TEST_F(UnattendedTest, CommandLineFormsAcceptedAndRefused) {
    const std::string long_log = "/LOG=C:\\" + std::string(MAX_PATH, 'x');
    const struct {
        std::string line;
        int32_t code;
        std::string refused;   // "" when none
        const char *flags;     // silent, help, start menu, desktop: "s", "?", "m", "d"
        const char *languages; // "" when not given
        const char *folder;
        const char *log;
    } cases[] = {
        {"/S", 0, "", "smd", "", "", ""},
        {"/s /nostartmenu /NoDesktop", 0, "", "s", "", "", ""},
        {"\t/S /LANG=de,Other /LOG=C:\\a.log /D=C:\\Tools\\Nav Grove", 0, "", "smd", "101",
         "C:\\Tools\\Nav Grove", "C:\\a.log"},
        {"/d=C:\\a b  /S \t", 0, "", "md", "", "C:\\a b  /S", ""},
        {"/LOG=\"C:\\a b\\x.log\" \"/D=C:\\c d\"", 0, "", "md", "", "C:\\c d", "C:\\a b\\x.log"},
        {"\"/LOG=C:\\a b\\x.log\" /D=\"C:\\c d\"", 0, "", "md", "", "C:\\c d", "C:\\a b\\x.log"},
        {"/LANG=ALL /NODESKTOP /NODESKTOP", 0, "", "m", "111", "", ""},
        {"/LANG=us,,", 0, "", "md", "010", "", ""},
        {"/?", 0, "", "?md", "", "", ""},
        {"/X", setup_bad_arguments, "/X", "md", "", "", ""},
        {"/SILENT", setup_bad_arguments, "/SILENT", "md", "", "", ""},
        {"S /LOG", setup_bad_arguments, "S", "md", "", "", ""},
        {"/X /LOG=C:\\a.log /Y /S", setup_bad_arguments, "/X", "smd", "", "", "C:\\a.log"},
        {"/S /LANG=OTHER", setup_bad_arguments, "/LANG=OTHER", "smd", "", "", ""},
        {"/LANG=FR", setup_bad_arguments, "/LANG=FR", "md", "", "", ""},
        {"/LANG=NONE", setup_bad_arguments, "/LANG=NONE", "md", "", "", ""},
        {"/LANG=", setup_bad_arguments, "/LANG=", "md", "", "", ""},
        {"/LANG=DE /LANG=US", setup_bad_arguments, "/LANG=US", "md", "100", "", ""},
        {"/LOG= /S", setup_bad_arguments, "/LOG=", "smd", "", "", ""},
        {"/LOG=a /LOG=b", setup_bad_arguments, "/LOG=b", "md", "", "", "a"},
        {long_log, setup_bad_arguments, long_log.substr(0, MAX_PATH + 7), "md", "", "", ""},
        {"/LOG=\"C:\\a b", setup_bad_arguments, "/LOG=\"C:\\a b", "md", "", "", ""},
        {"/S /D=", setup_bad_arguments, "/D=", "smd", "", "", ""},
        {"/S /D=\"\"  ", setup_bad_arguments, "/D=\"\"  ", "smd", "", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        SetupArguments arguments;
        EXPECT_EQ(parse_setup_arguments(c.line.c_str(), &arguments), c.code);
        EXPECT_EQ(arguments.refused, c.refused);
        std::string flags = std::string(arguments.silent ? "s" : "") + (arguments.help ? "?" : "") +
                            (arguments.start_menu ? "m" : "") + (arguments.desktop ? "d" : "");
        EXPECT_EQ(flags, c.flags);
        EXPECT_EQ(arguments.languages_given ? selected_rows(arguments.languages) : "", c.languages);
        EXPECT_STREQ(arguments.folder, c.folder);
        EXPECT_STREQ(arguments.log_path, c.log);
        int16_t table[language_rows];
        for (int row = 0; row < language_rows; ++row)
            table[row] = language_table[row].selected;
        EXPECT_EQ(selected_rows(table), "111"); // chosen only when installing
    }
    EXPECT_FALSE(has_arguments(" \t "));
    EXPECT_TRUE(has_arguments(" /S"));
}

// The unattended setup from the entry point: the outcome as the exit code
// and the log, every message the dialog run would show (and, with /S, no
// box and no window at all).
TEST_F(UnattendedTest, Outcomes) {
    const std::string too_long = "D:\\" + std::string(240, 'a');
    RarFileEntry damaged = rar_stored_entry("ZQNG_DE.HLP", "Hilfe");
    damaged.file_crc ^= 1;
    const std::string damaged_installer =
        installer_bytes(false) + rar_archive({rar_stored_entry("ZQNG.EXE", "main program"), damaged,
                                              rar_stored_entry("ZQNG_US.HLP", "help")});
    const char *all = "languages: DE US OTHER";
    const char *both = "shortcuts: Start menu, desktop";
    const struct {
        std::string what, line;
        bool damaged, previous_installation;
        int32_t code;
        std::vector<std::string> log; // after the start line
        const char *box;              // the first message box's text starts so; nullptr: none
    } cases[] = {
        {"success",
         "/S /LANG=DE /NODESKTOP /LOG=C:\\setup.log /D=D:\\Tools\\Nav Grove",
         false,
         false,
         install_done,
         {"folder: D:\\Tools\\Nav Grove", "languages: DE", "shortcuts: Start menu",
          "entry: ZQNG.EXE", "entry: ZQNG_DE.HLP", "entry: ZQNG_US.HLP (not written)",
          "entry: ZQNG_FR.HLP (not written)", "entry: NAVGZIP.SET", "entry: MAPS\\WORLD.MAP",
          "message: ZQ Navigrove has been successfully installed. (  Setup )",
          "result: 0 (installed)"},
         nullptr},
        {"previous installation proposed, English added to its further languages",
         "/S /NOSTARTMENU /LOG=C:\\setup.log",
         false,
         true,
         install_done,
         {"folder: D:\\Navi", "languages: US OTHER", "shortcuts: desktop", "entry: ZQNG.EXE",
          "entry: ZQNG_DE.HLP (not written)", "entry: ZQNG_US.HLP", "entry: ZQNG_FR.HLP",
          "entry: NAVGZIP.SET", "entry: MAPS\\WORLD.MAP",
          "message: ZQ Navigrove has been successfully installed. (  Setup )",
          "result: 0 (installed)"},
         nullptr},
        {"missing drive",
         "/s /log=C:\\setup.log /d=Q:\\Apps\\Viewer",
         false,
         false,
         install_folder_failed,
         {"folder: Q:\\Apps\\Viewer", all, both, "message: Cannot create path. (Q:\\Apps\\Viewer)",
          "result: 3 (target folder not created)"},
         nullptr},
        {"damaged entry",
         "/S /LOG=C:\\setup.log /D=D:\\Viewer",
         true,
         false,
         install_extraction_failed,
         {"folder: D:\\Viewer", all, both, "entry: ZQNG.EXE",
          "message: Cannot install file. (ZQNG_DE.HLP)", "entry: ZQNG_DE.HLP (failed)",
          "result: 2 (extraction failed)"},
         nullptr},
        {"target too long",
         "/S /LOG=C:\\setup.log /D=" + too_long,
         false,
         false,
         install_target_too_long,
         {"folder: " + too_long, all, both,
          "message: The target folder is too long. (" + too_long + ")",
          "result: 4 (target folder too long)"},
         nullptr},
        {"bad argument",
         "/S /LOG=C:\\setup.log /LANG=FR /D=D:\\Viewer",
         false,
         false,
         setup_bad_arguments,
         {"bad argument: /LANG=FR", "result: 87 (bad arguments)"},
         nullptr},
        {"log on a folder", "/S /LOG=C:\\WINDOWS", false, false, setup_bad_arguments, {}, nullptr},
        {"log on a device", "/S /LOG=C:\\COM1.log", false, false, setup_bad_arguments, {}, nullptr},
        {"messages without /S, German alone",
         "/LANG=DE /D=Q:\\Viewer",
         false,
         false,
         install_folder_failed,
         {},
         "Kann nicht Verzeichnis erstellen."},
        {"success without /S",
         "/D=D:\\Viewer",
         false,
         false,
         install_done,
         {},
         "ZQ Navigrove has been successfully installed."},
        {"bad argument without /S",
         "/S/D=x",
         false,
         false,
         setup_bad_arguments,
         {},
         "Cannot use the argument\n/S/D=x\n\nUsage: ZQSETUP.EXE"},
        {"usage", "/?", false, false, 0, {}, "Usage: ZQSETUP.EXE"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        host_window_events().clear();
        make_file("C:\\setup.log", "an earlier run\r\n");
        if (c.damaged)
            make_file("C:\\SETUP.EXE", damaged_installer);
        if (c.previous_installation) {
            make_folder("D:\\Navi");
            make_file("D:\\Navi\\ZQNG_FR.HLP", "aide");
            host_registry_set(HKEY_CURRENT_USER, user_key, "Dir", "D:\\Navi");
        }
        HWND running = host_add_window("ZQ Navigrove", "Map", 1, 0);
        EXPECT_EQ(setup_main(nullptr, c.line.c_str()), c.code);

        std::string text = read_file(host_path("C:\\setup.log"));
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            lines.push_back(text.substr(start, end - start));
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0], "an earlier run"); // appended to
        if (!c.log.empty()) {
            ASSERT_EQ(lines.size(), c.log.size() + 2);
            EXPECT_EQ(lines[1].rfind("ZQ Navigrove 3.20 setup, 20", 0), 0u) << lines[1];
            EXPECT_EQ(lines[1].substr(lines[1].size() - c.line.size() - 13),
                      ", arguments: " + c.line);
            EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), c.log);
        }
        if (c.box) {
            ASSERT_FALSE(host_message_boxes().empty());
            EXPECT_EQ(host_message_boxes()[0].text.rfind(c.box, 0), 0u)
                << host_message_boxes()[0].text;
        } else {
            EXPECT_TRUE(host_message_boxes().empty());
        }
        // Running copies are closed only for an installation; no dialog shows.
        bool installs = c.code != setup_bad_arguments && c.line != "/?";
        EXPECT_EQ(host_window_exists(running), !installs);
        EXPECT_EQ(host_window_events(), installs ? std::vector<std::string>{"destroy ZQ Navigrove"}
                                                 : std::vector<std::string>{});
        if (&c != &cases[0])
            continue;
        // What the successful run left: German files, the Start-menu link
        // alone, "Dir", the INI language; no language for messages was set.
        EXPECT_TRUE(exists("D:\\Tools\\Nav Grove\\ZQNG_DE.HLP"));
        EXPECT_FALSE(exists("D:\\Tools\\Nav Grove\\ZQNG_US.HLP"));
        EXPECT_TRUE(exists(common_link));
        EXPECT_FALSE(exists(desktop_link));
        EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "D:\\Tools\\Nav Grove");
        EXPECT_EQ(ini_language("D:\\Tools\\Nav Grove\\ZQNG.INI"), "DE");
        EXPECT_EQ(ui_language, ui_language_unset);
    }
}

} // namespace
