#include <string>

#include "setup/setup_dialog.h"
#include "setup/setup_ids.h"
#include "setup/shell_links.h"
#include "tests/setup_fixture.h"

namespace {

const char common_group[] = "C:\\ProgramData\\Start Menu\\Programs\\Navigrove";
const char user_link[] = "C:\\Users\\User\\Start Menu\\Programs\\Navigrove\\ZQ Navigrove.lnk";

class ShellLinksTest : public SetupHostTest {
  protected:
    void SetUp() override {
        SetupHostTest::SetUp();
        OleInitialize(nullptr);
    }
    void TearDown() override {
        // Whatever a test did, the shell got back every item list and reference.
        EXPECT_EQ(host_shell_live_item_lists(), 0);
        EXPECT_EQ(host_shell_live_objects(), 0);
        SetupHostTest::TearDown();
    }
    static HostShellLink link_at(const char *path) {
        HostShellLink link;
        EXPECT_TRUE(host_read_shell_link(path, &link)) << path;
        return link;
    }
};

TEST_F(ShellLinksTest, TrimToParentFolder) {
    const struct {
        const char *path;
        const char *expected;
    } cases[] = {
        {"D:\\Tools\\Viewer\\ZQNG.EXE", "D:\\Tools\\Viewer"},
        {"D:\\Tools\\Viewer\\", "D:\\Tools\\Viewer"},
        {"D:\\ZQNG.EXE", "D:\\"},
        {"D:\\", "D:\\"},
        {"D:/Tools/Viewer", "D:/Tools"},
        {"D:/ZQNG.EXE", "D:/"},
        {"D:\\Tools/Viewer", "D:\\Tools"},
        {"ab\\c", "ab"}, // third character, but no drive colon
        {"\\Tools", ""},
        {"Tools", ""},
        {"", ""},
    };
    for (const auto &c : cases) {
        char path[MAX_PATH];
        strcpy(path, c.path);
        trim_to_parent_folder(path);
        EXPECT_STREQ(path, c.expected) << c.path;
    }
}

TEST_F(ShellLinksTest, SpecialFolderPathOrUntouched) {
    char path[MAX_PATH] = "";
    get_special_folder_path(CSIDL_DESKTOP, path);
    EXPECT_STREQ(path, "C:\\Users\\User\\Desktop");
    host_set_special_folder(CSIDL_COMMON_PROGRAMS, nullptr);
    strcpy(path, "untouched");
    get_special_folder_path(CSIDL_COMMON_PROGRAMS, path);
    EXPECT_STREQ(path, "untouched");
}

TEST_F(ShellLinksTest, ShellLinkRecordAndFailures) {
    make_folder("D:\\Links");
    EXPECT_EQ(create_shell_link("D:\\App\\ZQNG.EXE", "D:\\App", "D:\\Links\\a.lnk", "desc"), S_OK);
    HostShellLink link = link_at("D:\\Links\\a.lnk");
    EXPECT_EQ(link.target, "D:\\App\\ZQNG.EXE");
    EXPECT_EQ(link.working_folder, "D:\\App");
    EXPECT_EQ(link.description, "desc");

    EXPECT_TRUE(FAILED(create_shell_link("D:\\App\\ZQNG.EXE", "D:\\App", "D:\\None\\a.lnk", "d")));
    host_set_shell_link_unavailable(true);
    EXPECT_EQ(create_shell_link("D:\\App\\ZQNG.EXE", "D:\\App", "D:\\Links\\b.lnk", "d"),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(exists("D:\\Links\\b.lnk"));
}

TEST_F(ShellLinksTest, StartMenuGroupPlacesAndConditions) {
    const struct {
        const char *what;
        bool common, user, program_present, group_parent_present;
        const char *expected_link; // nullptr: no Start-menu shortcut anywhere
    } cases[] = {
        {"all users", true, true, true, true, common_link},
        {"user's folder when all users have none", false, true, true, true, user_link},
        {"neither programs folder", false, false, true, true, nullptr},
        {"program file missing", true, true, false, true, nullptr},
        {"group folder cannot be made", true, true, true, false, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        if (!c.common)
            host_set_special_folder(CSIDL_COMMON_PROGRAMS, nullptr);
        if (!c.user)
            host_set_special_folder(CSIDL_PROGRAMS, nullptr);
        if (!c.group_parent_present)
            host_set_special_folder(CSIDL_COMMON_PROGRAMS, "C:\\Gone\\Programs");
        make_folder("D:\\Viewer");
        if (c.program_present)
            make_file("D:\\Viewer\\ZQNG.EXE", "exe");
        create_start_menu_group(nullptr, "D:\\Viewer\\");
        for (const char *candidate : {common_link, user_link})
            EXPECT_EQ(exists(candidate), c.expected_link == candidate) << candidate;
        if (c.expected_link) {
            HostShellLink link = link_at(c.expected_link);
            EXPECT_EQ(link.target, "D:\\Viewer\\ZQNG.EXE");
            EXPECT_EQ(link.working_folder, "D:\\Viewer");
            EXPECT_EQ(link.description, "ZQ Navigrove");
        }
    }
}

TEST_F(ShellLinksTest, ExistingGroupAndLinkAreReused) {
    make_folder(common_group);
    make_file(common_link, "old");
    make_file("D:\\ZQNG.EXE", "exe");
    create_start_menu_group(nullptr, "D:\\");
    HostShellLink link = link_at(common_link);
    EXPECT_EQ(link.target, "D:\\ZQNG.EXE");
    EXPECT_EQ(link.working_folder, "D:\\"); // a drive root keeps its backslash
}

TEST_F(ShellLinksTest, DesktopIconEvenWithoutTheProgram) {
    create_desktop_icon(nullptr, "D:\\Tools\\Viewer\\ZQNG.EXE");
    HostShellLink link = link_at(desktop_link);
    EXPECT_EQ(link.target, "D:\\Tools\\Viewer\\ZQNG.EXE");
    EXPECT_EQ(link.working_folder, "D:\\Tools\\Viewer");
    EXPECT_EQ(link.description, "ZQ Navigrove");

    remove_tree(host_path(desktop_link));
    host_set_special_folder(CSIDL_DESKTOP, nullptr);
    create_desktop_icon(nullptr, "D:\\Tools\\Viewer\\ZQNG.EXE");
    EXPECT_FALSE(exists(desktop_link));
}

// A special folder whose path leaves no room for the group and link names
// gets no shortcut rather than an overrun buffer.
TEST_F(ShellLinksTest, LongSpecialFolderGetsNoShortcut) {
    std::string deep = "C:\\" + std::string(240, 'd');
    make_folder(deep.c_str());
    host_set_special_folder(CSIDL_COMMON_PROGRAMS, deep.c_str());
    host_set_special_folder(CSIDL_DESKTOP, deep.c_str());
    make_file("D:\\ZQNG.EXE", "exe");
    create_start_menu_group(nullptr, "D:\\");
    create_desktop_icon(nullptr, "D:\\ZQNG.EXE");
    EXPECT_TRUE(exists((deep + "\\Navigrove").c_str())); // 253 characters still fit
    EXPECT_FALSE(exists((deep + "\\Navigrove\\ZQ Navigrove.lnk").c_str()));
    EXPECT_FALSE(exists((deep + "\\ZQ Navigrove.lnk").c_str()));
}

TEST_F(ShellLinksTest, ProgramShortcutNeedsNameAndFile) {
    make_folder("D:\\Links");
    make_folder("D:\\App");
    make_file("D:\\App\\ZQNG.EXE", "exe");
    create_program_shortcut("", "ZQNG.EXE", "D:\\Links\\", "D:\\App\\");
    create_program_shortcut("Name", nullptr, "D:\\Links\\", "D:\\App\\");
    EXPECT_FALSE(exists("D:\\Links\\.lnk"));
    EXPECT_FALSE(exists("D:\\Links\\Name.lnk"));
    create_program_shortcut("Name", "ZQNG.EXE", "D:\\Links\\", "D:\\App\\");
    EXPECT_EQ(link_at("D:\\Links\\Name.lnk").description, "Name");
}

// The "..." button, pressed in the running dialog.
TEST_F(ShellLinksTest, BrowseButtonPreselectsAndWritesTheChoice) {
    OleUninitialize(); // the dialog's thread has no COM of its own
    make_folder("D:\\Existing");
    const struct {
        const char *what;
        const char *typed;
        const char *choice; // nullptr: the user cancels
        bool callback;
        const char *preselected;
        const char *edit_after;
        bool com_refused; // OleInitialize fails
    } cases[] = {
        {"existing folder", "D:\\Existing", "D:\\Chosen", true, "D:\\Existing", "D:\\Chosen",
         false},
        {"folder not made yet", "D:\\Existing\\Navigrove", "D:\\", true, "D:\\Existing", "D:\\",
         false},
        {"nothing usable", "Q:\\Nowhere\\Navigrove", "D:\\Chosen", false, "", "D:\\Chosen", false},
        {"empty edit box", "", "D:\\Chosen", false, "", "D:\\Chosen", false},
        {"cancelled", "D:\\Existing\\Navigrove", nullptr, true, "D:\\Existing",
         "D:\\Existing\\Navigrove", false},
        {"COM refused", "D:\\Existing", "D:\\Chosen", true, "D:\\Existing", "D:\\Chosen", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HWND dialog = host_dialog_start(IDD_SETUP, setup_dialog_proc, 0);
        host_dialog_set_text(IDC_TARGET, c.typed);
        host_set_browse_choice(c.choice);
        host_set_ole_initialize_fails(c.com_refused);
        int initialised = host_ole_initialize_count();
        ASSERT_EQ(host_dialog_click(IDC_BROWSE), 0);
        const HostBrowseRecord &record = host_browse_record();
        EXPECT_EQ(record.owner, dialog);
        EXPECT_EQ(record.flags, UINT(BIF_RETURNONLYFSDIRS));
        EXPECT_FALSE(record.had_root);
        EXPECT_EQ(record.had_callback, c.callback);
        EXPECT_EQ(record.preselected, c.preselected);
        EXPECT_EQ(host_dialog_text(IDC_TARGET), c.edit_after);
        // COM is on for the browser, and each successful start undone.
        EXPECT_EQ(record.com_ready, !c.com_refused);
        EXPECT_EQ(host_ole_initialize_count(), initialised + (c.com_refused ? 0 : 1));
        EXPECT_EQ(host_ole_uninitialize_count(), host_ole_initialize_count());
        EXPECT_FALSE(host_dialog_ended());
        EXPECT_EQ(host_shell_live_item_lists(), 0);
        EXPECT_EQ(host_shell_live_objects(), 0);
    }
}

} // namespace
