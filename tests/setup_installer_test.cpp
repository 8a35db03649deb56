// The whole setup on the host: a real installer made by `zqpack --stub` from
// a small product, then the dialog driven as a person would, from the entry
// point to the last message.
#include <cstdlib>
#include <string>
#include <vector>

#include "setup/setup_ids.h"
#include "setup/setup_main.h"
#include "tests/setup_fixture.h"
#include "tests/support/tool_run.h"

namespace {

struct ProductFile {
    const char *name; // '\' between folders
    std::string data;
};

std::string lines(const char *word, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(word) + " " + std::to_string(i * 7919 % 1000) + "\r\n";
    return text;
}

const std::vector<ProductFile> &product() {
    static const std::vector<ProductFile> files = {
        {"ZQNG.EXE", "MZ" + lines("program", 300)}, {"UnInst.exe", "MZ" + lines("uninstall", 20)},
        {"ZQNG_DE.HLP", lines("Hilfe", 400)},       {"ZQNG_US.HLP", lines("help", 400)},
        {"ZQNG_IT.HLP", lines("aiuto", 400)},       {"ZQNG_DE.LNG", lines("Sprache", 50)},
        {"ZQNG_US.LNG", lines("language", 50)},     {"NAVGZIP.SET", "[Settings]\r\nZoom=4\r\n"},
        {"README.TXT", "Start ZQNG.EXE.\r\n"},      {"MAPS\\EUROPE.MAP", lines("tile", 5000)},
    };
    return files;
}

class SetupInstallerTest : public SetupHostTest {
  protected:
    std::string work;

    void SetUp() override {
        SetupHostTest::SetUp();
        work = make_temp_dir("installer");
        std::string payload = work + "/product";
        std::filesystem::create_directories(payload + "/MAPS");
        for (const ProductFile &file : product()) {
            std::string name = file.name;
            for (char &c : name)
                if (c == '\\')
                    c = '/';
            write_file(payload + "/" + name, file.data);
        }
        write_file(work + "/stub.exe", "MZ" + std::string(40000, '\x90'));
        // The product folder as input: every file named relative to it.
        std::string command = shell_quoted(ZQ_BINARY_DIR "/zqpack") + " --stub " +
                              shell_quoted(work + "/stub.exe") + " " +
                              shell_quoted(host_path("C:\\SETUP.EXE")) + " " +
                              shell_quoted(payload) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        host_set_module_path("C:\\SETUP.EXE");
        host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", "C:\\Program Files");
    }
    void TearDown() override {
        host_set_dialog_driver(nullptr);
        remove_tree(work);
        SetupHostTest::TearDown();
    }
    static std::string installed(const std::string &folder, const char *name) {
        return read_file(host_path((folder + "\\" + name).c_str()));
    }
    // What the product files whose names pass the filter add up to, in
    // whole KiB rounded up.
    static int64_t kib_of(bool (*wanted)(const std::string &name)) {
        int64_t bytes = 0;
        for (const ProductFile &file : product())
            if (wanted(file.name))
                bytes += int64_t(file.data.size());
        return (bytes + 1023) / 1024;
    }
};

TEST_F(SetupInstallerTest, FirstInstallationOfEverything) {
    std::string proposal;
    host_set_dialog_driver([&](HWND) {
        proposal = host_dialog_text(IDC_TARGET);
        host_dialog_click(IDC_OK);
    });
    EXPECT_EQ(setup_main(nullptr, ""), 0);
    EXPECT_EQ(proposal, "C:\\Program Files\\Navigrove");
    EXPECT_TRUE(host_dialog_ended());
    for (const ProductFile &file : product())
        EXPECT_TRUE(installed(proposal, file.name) == file.data) << file.name;
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), proposal);
    EXPECT_EQ(registry(HKEY_LOCAL_MACHINE, uninstall_key, "UninstallString"),
              "\"" + proposal + "\\UnInst.exe\"");
    EXPECT_EQ(registry_dword(HKEY_LOCAL_MACHINE, uninstall_key, "EstimatedSize"),
              kib_of([](const std::string &) { return true; }));
    EXPECT_TRUE(exists(common_link));
    EXPECT_TRUE(exists(desktop_link));
    ASSERT_EQ(host_message_boxes().size(), 1u);
    EXPECT_EQ(host_message_boxes()[0].text, "ZQ Navigrove has been successfully installed.");
}

// An update over a German installation: the proposal and languages come
// from it, English files are not installed (and an old one goes), the
// user's settings stay, the old German code is rewritten.
TEST_F(SetupInstallerTest, UpdateOverAGermanInstallation) {
    make_folder("D:\\Navi");
    make_file("D:\\Navi\\ZQNG_DE.HLP", "old help");
    make_file("D:\\Navi\\ZQNG_US.LNG", "old English texts");
    make_file("D:\\Navi\\NAVGZIP.SET", "user's own settings");
    make_file("D:\\Navi\\ZQNG.INI", "[ZQ Navigrove]\r\nLanguage=GR\r\n");
    host_registry_set(HKEY_CURRENT_USER, user_key, "Dir", "D:\\Navi");
    std::string label;
    std::vector<bool> checks;
    host_set_dialog_driver([&](HWND) {
        label = host_dialog_text(IDC_TARGET_LABEL);
        for (int id : {IDC_GERMAN, IDC_ENGLISH, IDC_ADDITIONAL})
            checks.push_back(host_dialog_checked(id));
        host_dialog_click(IDC_DESKTOP); // no desktop icon this time
        host_dialog_click(IDC_OK);
    });
    EXPECT_EQ(setup_main(nullptr, ""), 0);
    EXPECT_EQ(label, "Zielpfad:");
    EXPECT_EQ(checks, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(installed("D:\\Navi", "ZQNG_DE.HLP") == product()[2].data);
    EXPECT_TRUE(installed("D:\\Navi", "ZQNG_IT.HLP") == product()[4].data);
    EXPECT_FALSE(exists("D:\\Navi\\ZQNG_US.HLP"));
    EXPECT_FALSE(exists("D:\\Navi\\ZQNG_US.LNG"));
    EXPECT_EQ(installed("D:\\Navi", "NAVGZIP.SET"), "user's own settings");
    EXPECT_TRUE(installed("D:\\Navi", "MAPS\\EUROPE.MAP") == product().back().data);
    // Only what was written counts: not the English files, not the kept
    // settings file.
    EXPECT_EQ(registry_dword(HKEY_LOCAL_MACHINE, uninstall_key, "EstimatedSize"),
              kib_of([](const std::string &name) {
                  return name.find("_US.") == std::string::npos && name != "NAVGZIP.SET";
              }));
    char language[16];
    GetPrivateProfileStringA("ZQ Navigrove", "Language", "", language, sizeof language,
                             "D:\\Navi\\ZQNG.INI");
    EXPECT_STREQ(language, "DE");
    HostShellLink link;
    ASSERT_TRUE(host_read_shell_link(common_link, &link));
    EXPECT_EQ(link.target, "D:\\Navi\\ZQNG.EXE");
    EXPECT_EQ(link.working_folder, "D:\\Navi");
    EXPECT_FALSE(exists(desktop_link));
    ASSERT_EQ(host_message_boxes().size(), 1u);
    EXPECT_EQ(host_message_boxes()[0].caption, "  Setup ");
}

} // namespace
