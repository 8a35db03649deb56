#include "tests/support/extraction_fixture.h"

#include <sys/stat.h>

#include <cstring>

#include "tests/support/test_paths.h"

void ExtractionFixture::SetUp() {
    root = make_temp_dir("extraction");
    ASSERT_FALSE(root.empty());
    host_set_root(root.c_str());
    memcpy(saved_languages, language_table, sizeof saved_languages);
    for (LanguageEntry *row = language_table; row->suffix; ++row)
        row->selected = 1;
    strcpy(product_file_base, "ZQNG");
    ui_language = ui_language_english;
    reset_target();
}

void ExtractionFixture::TearDown() {
    memcpy(language_table, saved_languages, sizeof saved_languages);
    strcpy(product_file_base, "ZQNG*.*");
    ui_language = ui_language_unset;
    remove_tree(root);
}

void ExtractionFixture::reset_target() {
    remove_tree(root + "/D");
    mkdir((root + "/D").c_str(), 0777);
    mkdir((root + "/D/Target").c_str(), 0777);
    host_message_boxes().clear();
    host_control_text_log().clear();
}

std::string ExtractionFixture::setup_path() const {
    return root + "/setup.exe";
}

std::string ExtractionFixture::in_target(const std::string &name) const {
    return root + "/D/Target/" + name;
}

bool ExtractionFixture::exists(const std::string &host) {
    struct stat info;
    return stat(host.c_str(), &info) == 0;
}

std::vector<std::string> ExtractionFixture::target_files() const {
    std::vector<std::string> everything;
    list_files(root, "", &everything);
    for (const std::string &file : everything)
        EXPECT_TRUE(file == "setup.exe" || file.rfind("D/Target/", 0) == 0)
            << "written outside the target: " << file;
    std::vector<std::string> files;
    list_files(root + "/D/Target", "", &files);
    return files;
}

std::vector<std::string> ExtractionFixture::captions() const {
    std::vector<std::string> result;
    for (const HostMessageBox &box : host_message_boxes())
        result.push_back(box.caption);
    return result;
}
