#include <string>
#include <vector>

#include "setup/target_folder.h"
#include "tests/setup_fixture.h"

namespace {

struct ProposalCase {
    const char *what;
    const char *dir;                  // "Dir" value, nullptr: none
    std::vector<const char *> made;   // folders (ending '\') and files made first
    const char *program_files;        // nullptr: no ProgramFilesDir
    const char *windows;              // Windows folder
    const char *expected;             // proposal
    bool german, english, additional; // selected afterwards (nonzero)
};

// The dialog cuts the base name before it asks for the proposal.
class TargetFolderTest : public SetupHostTest {
  protected:
    void SetUp() override {
        SetupHostTest::SetUp();
        strcpy(product_file_base, "ZQNG");
    }
};

TEST_F(TargetFolderTest, ProposalFollowsTheOrderOfPreference) {
    const ProposalCase cases[] = {
        {"first installation",
         nullptr,
         {},
         "D:\\Program Files",
         "C:\\WINDOWS",
         "D:\\Program Files\\Navigrove",
         true,
         true,
         true},
        {"previous, German help only",
         "D:\\Tools\\Viewer",
         {"D:\\Tools\\Viewer\\ZQNG_DE.HLP"},
         "D:\\Program Files",
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer",
         true,
         false,
         true},
        {"previous, English help in lower case",
         "D:\\Tools\\Viewer",
         {"D:\\Tools\\Viewer\\zqng_us.hlp"},
         nullptr,
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer",
         false,
         true,
         true},
        {"previous, French help only",
         "D:\\Tools\\Viewer",
         {"D:\\Tools\\Viewer\\ZQNG_FR.HLP"},
         nullptr,
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer",
         false,
         false,
         true},
        {"previous, no help file",
         "D:\\Tools\\Viewer",
         {"D:\\Tools\\Viewer\\"},
         nullptr,
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer",
         false,
         false,
         false},
        {"previous, other files only",
         "D:\\Tools\\Viewer",
         {"D:\\Tools\\Viewer\\ZQNG.EXE", "D:\\Tools\\Viewer\\ZQNG_DEU.HLP"},
         nullptr,
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer",
         false,
         false,
         false},
        {"previous folder deleted",
         "D:\\Tools\\Viewer",
         {},
         nullptr,
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer",
         true,
         true,
         true},
        {"stored with backslash, kept as stored",
         "D:\\Tools\\Viewer\\",
         {},
         nullptr,
         "C:\\WINDOWS",
         "D:\\Tools\\Viewer\\",
         true,
         true,
         true},
        {"empty Dir falls back",
         "",
         {},
         "D:\\Programs",
         "C:\\WINDOWS",
         "D:\\Programs\\Navigrove",
         true,
         true,
         true},
        {"ProgramFilesDir with backslash",
         nullptr,
         {},
         "E:\\Apps\\",
         "C:\\WINDOWS",
         "E:\\Apps\\Navigrove",
         true,
         true,
         true},
        {"German system folder",
         nullptr,
         {"C:\\Programme\\"},
         nullptr,
         "C:\\WINDOWS",
         "C:\\Programme\\Navigrove",
         true,
         true,
         true},
        {"English system folder",
         nullptr,
         {},
         nullptr,
         "C:\\WINDOWS",
         "C:\\Program Files\\Navigrove",
         true,
         true,
         true},
        {"Windows on another drive",
         nullptr,
         {"D:\\Programme\\"},
         nullptr,
         "D:\\WINNT",
         "D:\\Programme\\Navigrove",
         true,
         true,
         true},
    };
    for (const ProposalCase &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        if (c.dir)
            host_registry_set(HKEY_CURRENT_USER, user_key, "Dir", c.dir);
        if (c.program_files)
            host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", c.program_files);
        host_set_windows_directory(c.windows);
        for (const char *made : c.made) {
            std::string path = made;
            if (path.back() == '\\')
                make_folder(made);
            else {
                make_folder(path.substr(0, path.rfind('\\')).c_str());
                make_file(made, "help");
            }
        }
        char proposal[MAX_PATH];
        memset(proposal, 'x', sizeof proposal);
        propose_target_folder(proposal);
        EXPECT_STREQ(proposal, c.expected);
        EXPECT_EQ(language_table[0].selected != 0, c.german);
        EXPECT_EQ(language_table[1].selected != 0, c.english);
        EXPECT_EQ(language_table[2].selected != 0, c.additional);
    }
}

TEST_F(TargetFolderTest, DetectionIncrementsRatherThanSets) {
    make_folder("D:\\Old");
    make_file("D:\\Old\\ZQNG_DE.HLP", "");
    detect_installed_languages("D:\\Old");
    EXPECT_EQ(language_table[0].selected, 2);
    EXPECT_EQ(language_table[1].selected, 0);
    EXPECT_EQ(language_table[2].selected, 2);
}

TEST_F(TargetFolderTest, ProgramFilesDirReadOrEmpty) {
    char buffer[MAX_PATH] = "left over";
    read_program_files_dir(buffer);
    EXPECT_STREQ(buffer, "");
    host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", "C:\\Program Files");
    read_program_files_dir(buffer);
    EXPECT_STREQ(buffer, "C:\\Program Files");
}

// The registry does not promise a terminating NUL, and a value may be longer
// than the buffer: neither may leave the proposal unterminated or overrun it.
TEST_F(TargetFolderTest, OverlongOrUnterminatedDirStaysInsideTheBuffer) {
    host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", "C:\\PF");
    host_registry_set(HKEY_CURRENT_USER, user_key, "Dir", std::string(300, 'a').c_str());
    char proposal[MAX_PATH + 8];
    memset(proposal, 'x', sizeof proposal);
    propose_target_folder(proposal);
    EXPECT_STREQ(proposal, "C:\\PF\\Navigrove"); // the value does not fit: not used

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, user_key, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    std::string raw(MAX_PATH, 'b'); // exactly the buffer, no NUL
    RegSetValueExA(key, "Dir", 0, REG_SZ, reinterpret_cast<const BYTE *>(raw.data()), MAX_PATH);
    RegCloseKey(key);
    memset(proposal, 'x', sizeof proposal);
    propose_target_folder(proposal);
    EXPECT_EQ(strlen(proposal), size_t(MAX_PATH - 1));
    EXPECT_EQ(proposal[MAX_PATH], 'x');
}

TEST_F(TargetFolderTest, LongProgramFilesDirIsNotOverrun) {
    std::string long_folder = "C:\\" + std::string(254, 'p');
    host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", long_folder.c_str());
    char proposal[MAX_PATH + 8];
    memset(proposal, 'x', sizeof proposal);
    propose_target_folder(proposal);
    EXPECT_LT(strlen(proposal), size_t(MAX_PATH));
    EXPECT_EQ(proposal[MAX_PATH], 'x');
}

} // namespace
