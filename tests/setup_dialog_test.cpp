#include <map>
#include <string>
#include <vector>

#include "setup/setup_dialog.h"
#include "setup/setup_ids.h"
#include "setup/setup_main.h"
#include "tests/setup_fixture.h"

namespace {

const int language_text_ids[] = {IDC_TARGET_LABEL, IDC_EXIT,    IDC_LANGUAGE_GROUP,
                                 IDC_START_MENU,   IDC_DESKTOP, IDC_ADDITIONAL};
const char *const english_texts[] = {
    "Install to:",         "Exit", "Language", "Put entry to Start Menu", "Put icon to Desktop",
    "Additional languages"};
const char *const german_texts[] = {
    "Zielpfad:",       "Beenden", "Sprache", "Programmgruppe erstellen", "Desktop-Icon erstellen",
    "Weitere Sprachen"};

class SetupDialogTest : public SetupHostTest {
  protected:
    void SetUp() override {
        SetupHostTest::SetUp();
        host_registry_set(HKEY_LOCAL_MACHINE, machine_key, "ProgramFilesDir", "C:\\Program Files");
    }
    static HWND start() { return host_dialog_start(IDD_SETUP, setup_dialog_proc, 0); }
    static void expect_texts(const char *const *texts) {
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(host_dialog_text(language_text_ids[i]), texts[i])
                << "control " << language_text_ids[i];
    }
    static std::string boxes() {
        std::string s;
        for (int id : {IDC_GERMAN, IDC_ENGLISH, IDC_ADDITIONAL})
            s += host_dialog_checked(id) ? 'x' : '-';
        return s;
    }
};

TEST_F(SetupDialogTest, FirstInstallationStartsWithEverythingChecked) {
    start();
    EXPECT_EQ(boxes(), "xxx");
    EXPECT_TRUE(host_dialog_checked(IDC_START_MENU));
    EXPECT_TRUE(host_dialog_checked(IDC_DESKTOP));
    expect_texts(english_texts);
    EXPECT_EQ(ui_language, ui_language_english);
    EXPECT_EQ(host_dialog_text(IDC_TARGET), "C:\\Program Files\\Navigrove");
    EXPECT_EQ(host_dialog_text(IDC_TITLE), "ZQ Navigrove  V.3.20");
    EXPECT_EQ(host_dialog_caption(), "  Setup ZQ Navigrove");
    EXPECT_EQ(host_dialog_text(IDC_OK), "OK");
    EXPECT_EQ(host_dialog_text(IDC_BROWSE), "...");
    EXPECT_EQ(host_dialog_text(IDC_GERMAN), "Deutsch");
    EXPECT_EQ(host_dialog_text(IDC_ENGLISH), "English");
    EXPECT_STREQ(product_file_base, "ZQNG");
    EXPECT_TRUE(host_dialog_visible(0));
    EXPECT_TRUE(host_dialog_visible(IDC_START_MENU));
    EXPECT_FALSE(host_dialog_visible(IDC_PROGRESS));
    EXPECT_EQ(host_dialog_focus(), IDC_TARGET);
    EXPECT_FALSE(host_dialog_ended());
}

TEST_F(SetupDialogTest, PreviousInstallationPresetsLanguagesAndTexts) {
    const struct {
        const char *what;
        const char *help_file; // nullptr: none; "": folder deleted
        const char *boxes;
        const char *const *texts;
    } cases[] = {
        {"German help only", "ZQNG_DE.HLP", "x-x", german_texts},
        {"English help only", "ZQNG_US.HLP", "-xx", english_texts},
        {"both", "ZQNG_DE.HLP", "xxx", english_texts},
        {"no help file", nullptr, "-x-", english_texts},
        {"folder deleted", "", "xxx", english_texts},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        host_registry_set(HKEY_CURRENT_USER, user_key, "Dir", "D:\\Tools\\Viewer");
        if (!c.help_file || c.help_file[0]) {
            make_folder("D:\\Tools\\Viewer");
            make_file("D:\\Tools\\Viewer\\ZQNG.EXE", "exe");
        }
        if (c.help_file && c.help_file[0])
            make_file((std::string("D:\\Tools\\Viewer\\") + c.help_file).c_str(), "help");
        if (std::string(c.what) == "both")
            make_file("D:\\Tools\\Viewer\\ZQNG_US.HLP", "help");
        start();
        EXPECT_EQ(host_dialog_text(IDC_TARGET), "D:\\Tools\\Viewer");
        EXPECT_EQ(boxes(), c.boxes);
        expect_texts(c.texts);
    }
}

// Each step clicks one box and then reads boxes and texts. Start: all three
// boxes checked, English texts.
TEST_F(SetupDialogTest, LanguageClicksFollowTheLanguageRules) {
    const struct {
        const char *what;
        std::vector<int> clicks;
        const char *boxes;
        const char *const *texts;
    } cases[] = {
        {"uncheck English: German only", {IDC_ENGLISH}, "x-x", german_texts},
        {"and back", {IDC_ENGLISH, IDC_ENGLISH}, "xxx", english_texts},
        {"uncheck Deutsch: English only", {IDC_GERMAN}, "-xx", english_texts},
        {"uncheck both: English again at once", {IDC_GERMAN, IDC_ENGLISH}, "-xx", english_texts},
        {"German only, then uncheck Deutsch", {IDC_ENGLISH, IDC_GERMAN}, "-xx", english_texts},
        {"Deutsch back while English checked", {IDC_GERMAN, IDC_GERMAN}, "xxx", english_texts},
        {"additional languages change nothing", {IDC_ADDITIONAL}, "xx-", english_texts},
        {"German texts survive additional", {IDC_ENGLISH, IDC_ADDITIONAL}, "x--", german_texts},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        start();
        for (int id : c.clicks)
            ASSERT_EQ(host_dialog_click(id), 0);
        EXPECT_EQ(boxes(), c.boxes);
        expect_texts(c.texts);
        EXPECT_EQ(ui_language, c.texts == german_texts ? ui_language_german : ui_language_english);
        EXPECT_TRUE(language_table[0].selected || language_table[1].selected);
    }
}

TEST_F(SetupDialogTest, TextsAreSetOnlyWhenTheLanguageChanges) {
    start();
    size_t after_start = host_control_text_log().size();
    for (int id : {IDC_ADDITIONAL, IDC_START_MENU, IDC_DESKTOP, IDC_GERMAN, IDC_GERMAN})
        host_dialog_click(id);
    EXPECT_EQ(host_control_text_log().size(), after_start); // English throughout
    EXPECT_FALSE(host_dialog_checked(IDC_START_MENU));
    EXPECT_FALSE(host_dialog_checked(IDC_DESKTOP));
    EXPECT_TRUE(host_message_boxes().empty());
    EXPECT_EQ(host_browse_record().calls, 0);
    EXPECT_FALSE(host_dialog_ended());
}

TEST_F(SetupDialogTest, ExitEndsWithZeroAndOkWithEmptyFolderStays) {
    start();
    host_dialog_set_text(IDC_TARGET, "");
    host_dialog_click(IDC_OK);
    EXPECT_FALSE(host_dialog_ended());
    EXPECT_TRUE(host_message_boxes().empty());
    EXPECT_EQ(registry(HKEY_CURRENT_USER, user_key, "Dir"), "<none>");
    host_dialog_click(IDC_EXIT);
    EXPECT_TRUE(host_dialog_ended());
    EXPECT_EQ(host_dialog_result(), 0);
    EXPECT_EQ(host_dialog_click(IDC_OK), -1); // nothing to click any more
}

// Before the dialog (and the proposal in its initialisation) the process
// searches DLLs in System32 only, shows no critical-error boxes and keeps its
// window from being ghosted.
TEST_F(SetupDialogTest, EntryPreparesTheProcessAndHandsTheInstanceToTheDialog) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));
    for (bool old_system : {false, true}) {
        SCOPED_TRACE(old_system ? "without SetDefaultDllDirectories" : "current system");
        TearDown();
        SetUp();
        host_set_old_system(old_system);
        std::string seen_target;
        UINT error_mode = 0;
        bool ghosting_disabled = false;
        DWORD search_flags = 0;
        std::string dll_directory = "<unset>";
        host_set_dialog_driver([&](HWND) {
            seen_target = host_dialog_text(IDC_TARGET);
            error_mode = host_error_mode();
            ghosting_disabled = host_window_ghosting_disabled();
            search_flags = host_default_dll_directories();
            host_dll_directory(&dll_directory);
            host_dialog_click(IDC_EXIT);
        });
        EXPECT_EQ(setup_main(instance, ""), 0);
        EXPECT_EQ(host_dialog_instance(), instance);
        EXPECT_EQ(seen_target, "C:\\Program Files\\Navigrove");
        EXPECT_TRUE(host_dialog_ended());
        EXPECT_EQ(error_mode, UINT(SEM_FAILCRITICALERRORS));
        EXPECT_TRUE(ghosting_disabled);
        EXPECT_EQ(search_flags, old_system ? 0u : DWORD(LOAD_LIBRARY_SEARCH_SYSTEM32));
        EXPECT_EQ(dll_directory, old_system ? "" : "<unset>");
        host_set_dialog_driver(nullptr);
        EXPECT_EQ(setup_main(instance, ""), 0); // a dialog that never ends changes nothing
    }
}

TEST_F(SetupDialogTest, CentredOnTheDesktopWithoutItsOrigin) {
    const struct {
        RECT desktop;
        LONG x, y;
    } cases[] = {
        {{0, 0, 1024, 768}, (1024 - 495) >> 1, (768 - 385) >> 1},
        {{100, 50, 1124, 818}, 264, 191}, // origin not added
        {{0, 0, 400, 300}, -48, -43},     // smaller than the dialog: floored
    };
    for (const auto &c : cases) {
        host_set_desktop_rect(c.desktop);
        start();
        RECT rect = host_dialog_rect();
        EXPECT_EQ(rect.left, c.x);
        EXPECT_EQ(rect.top, c.y);
        EXPECT_EQ(rect.right - rect.left, 495); // SWP_NOSIZE
    }
}

// The title's font and the picture follow the screen's resolution: the
// picture is stretched to its frame (137 x 95 dialog units), and the bitmap
// the control loaded itself is freed at once, the stretched one when the
// dialog ends.
TEST_F(SetupDialogTest, TitleFontAndPictureFollowTheScreenResolution) {
    const struct {
        int dpi;
        LONG picture_width, picture_height;
    } cases[] = {{96, 206, 154}, {120, 274, 190}, {144, 308, 238}, {192, 411, 309}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dpi);
        host_set_screen_dpi(c.dpi);
        start();
        EXPECT_EQ(host_last_font().lfHeight, -24 * c.dpi / 72);
        EXPECT_NE(host_dialog_font(IDC_TITLE), nullptr);
        EXPECT_EQ(host_open_device_contexts(), 0);
        RECT picture = host_image_rect(host_dialog_image(IDC_PICTURE));
        EXPECT_EQ(picture.right, c.picture_width);
        EXPECT_EQ(picture.bottom, c.picture_height);
        EXPECT_EQ(host_live_images(), 1);
        host_dialog_click(IDC_EXIT);
        EXPECT_EQ(host_dialog_image(IDC_PICTURE), nullptr);
        EXPECT_EQ(host_live_images(), 0);
    }
    const LOGFONTA &font = host_last_font();
    EXPECT_EQ(font.lfWidth, 0);
    EXPECT_EQ(font.lfWeight, 400);
    EXPECT_EQ(font.lfItalic | font.lfUnderline | font.lfStrikeOut, 0);
    EXPECT_EQ(font.lfCharSet, 0);
    EXPECT_EQ(font.lfOutPrecision, 1);
    EXPECT_EQ(font.lfClipPrecision, 2);
    EXPECT_EQ(font.lfQuality, 1);
    EXPECT_EQ(font.lfPitchAndFamily, 0x22);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");

    host_set_font_creation_fails(true);
    start();
    EXPECT_EQ(host_dialog_font(IDC_TITLE), nullptr);
    EXPECT_EQ(host_dialog_text(IDC_TITLE), "ZQ Navigrove  V.3.20");
}

// Running copies get WM_DESTROY before the dialog shows; a copy that does not
// go away, or whose thread handles no messages any more, keeps the setup
// waiting no longer than the time bound.
TEST_F(SetupDialogTest, RunningProductWindowsAreClosedWithinBounds) {
    const struct {
        const char *what;
        int vanish_after; // 0: never
        DWORD busy_ms;
        int expected_destroys;
    } cases[] = {
        {"goes away at once", 1, 0, 1},
        {"goes away on the third", 3, 0, 3},
        {"never goes away", 0, 0, close_attempts_max},
        {"never goes away, slow", 0, 1000, 3},
        {"hung", 0, host_window_hung, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        HWND other = host_add_window("Other Program", "ZQ Navigrove", 0, 0);
        HWND product = host_add_window("ZQ Navigrove", "Map", c.vanish_after, c.busy_ms);
        start();
        EXPECT_EQ(host_window_destroy_count(product), c.expected_destroys);
        EXPECT_EQ(host_window_destroy_count(other), 0);
        EXPECT_EQ(host_window_exists(product), c.vanish_after == 0);
        const std::vector<std::string> &events = host_window_events();
        ASSERT_EQ(events.size(), size_t(c.expected_destroys + 1));
        EXPECT_EQ(events.back(), "show dialog");
        EXPECT_LE(GetTickCount(), close_time_max_ms);
        EXPECT_TRUE(host_dialog_visible(0));
        EXPECT_EQ(boxes(), "xxx"); // initialisation went on to the end
    }
}

TEST_F(SetupDialogTest, TwoRunningCopiesAreBothClosed) {
    HWND first = host_add_window("ZQ Navigrove", "one", 1, 0);
    HWND second = host_add_window("zq navigrove", "two", 1, 0);
    start();
    EXPECT_FALSE(host_window_exists(first));
    EXPECT_FALSE(host_window_exists(second));
    EXPECT_EQ(
        host_window_events(),
        (std::vector<std::string>{"destroy ZQ Navigrove", "destroy zq navigrove", "show dialog"}));
}

} // namespace
